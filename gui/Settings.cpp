#include "gui/Settings.hpp"

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

QByteArray Settings::windowGeometry() const { return store_.value(geometryKey).toByteArray(); }

void Settings::setWindowGeometry(const QByteArray& geometry) { store_.setValue(geometryKey, geometry); }

}  // namespace keeptime
