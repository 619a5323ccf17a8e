#include "gui/Settings.hpp"

#include <QCryptographicHash>

namespace keeptime {

bool Settings::weirdTC() const { return store_.value(weirdTCKey, false).toBool(); }

void Settings::setWeirdTC(bool on) { store_.setValue(weirdTCKey, on); }

QString Settings::timecodeRate() const { return store_.value(rateKey).toString(); }

void Settings::setTimecodeRate(const QString& name) { store_.setValue(rateKey, name); }

QString Settings::openFolder() const { return store_.value(openFolderKey).toString(); }

void Settings::setOpenFolder(const QString& folder) { store_.setValue(openFolderKey, folder); }

QString Settings::saveFolder() const { return store_.value(saveFolderKey).toString(); }

void Settings::setSaveFolder(const QString& folder) { store_.setValue(saveFolderKey, folder); }

bool Settings::snapToLabels() const { return store_.value(snapKey, true).toBool(); }

void Settings::setSnapToLabels(bool on) { store_.setValue(snapKey, on); }

bool Settings::wholeTake() const { return store_.value(wholeTakeKey, false).toBool(); }

void Settings::setWholeTake(bool on) { store_.setValue(wholeTakeKey, on); }

QStringList Settings::recentFiles() const { return store_.value(recentKey).toStringList().mid(0, kRecentFiles); }

void Settings::addRecentFile(const QString& path) {
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    store_.setValue(recentKey, files.mid(0, kRecentFiles));
}

namespace {
// A path holds characters QSettings keys cannot; its hash can be a key.
QString segmentsKeyOf(const QString& recording) {
    return QString::fromLatin1(Settings::segmentsKey) +
           QString::fromLatin1(QCryptographicHash::hash(recording.toUtf8(), QCryptographicHash::Sha1).toHex());
}
}  // namespace

QString Settings::segmentList(const QString& recording) const { return store_.value(segmentsKeyOf(recording)).toString(); }

void Settings::setSegmentList(const QString& recording, const QString& text) {
    if (text.isEmpty()) store_.remove(segmentsKeyOf(recording));
    else store_.setValue(segmentsKeyOf(recording), text);
}

QByteArray Settings::windowGeometry() const { return store_.value(geometryKey).toByteArray(); }

void Settings::setWindowGeometry(const QByteArray& geometry) { store_.setValue(geometryKey, geometry); }

}  // namespace keeptime
