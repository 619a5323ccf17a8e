// What Keeptime remembers between runs: weird-TC mode, the timecode rate for
// recordings that name none, the window's place, and the folders last opened
// from and saved to.
// Kept in the user's QSettings store under the application's names; a key that
// was never written reads as off / no geometry.
#pragma once

#include <QByteArray>
#include <QSettings>
#include <QStringList>

namespace keeptime {

class Settings {
public:
    // Whether time code counts 48048 samples a second (the 0.1 % pull-down).
    bool weirdTC() const;
    void setWeirdTC(bool on);

    // The timecode rate for recordings that name none, by its name ("25", "29.97 DF"); empty: seconds.
    QString timecodeRate() const;
    void setTimecodeRate(const QString& name);

    // Where the open and save dialogs start when no recording's folder is at hand; empty: never used.
    QString openFolder() const;
    void setOpenFolder(const QString& folder);
    QString saveFolder() const;
    void setSaveFolder(const QString& folder);

    // Whether points set by the mouse and keys land on the first frame of a timecode label (on unless turned off).
    bool snapToLabels() const;
    void setSnapToLabels(bool on);

    // Whether Save writes every file of a take that has several.
    bool wholeTake() const;
    void setWholeTake(bool on);

    // The files opened last, newest first, at most kRecentFiles.
    QStringList recentFiles() const;
    void addRecentFile(const QString& path);
    static constexpr int kRecentFiles = 10;

    // A recording's segment list, as its sidecar text, where its folder could not take the sidecar; empty: none.
    QString segmentList(const QString& recording) const;
    void setSegmentList(const QString& recording, const QString& text);

    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

    static constexpr const char* weirdTCKey = "tc_48048";
    static constexpr const char* geometryKey = "window/geometry";
    static constexpr const char* rateKey = "timecode/rate";
    static constexpr const char* openFolderKey = "folders/open";
    static constexpr const char* saveFolderKey = "folders/save";
    static constexpr const char* wholeTakeKey = "take/whole";
    static constexpr const char* snapKey = "timecode/snap";
    static constexpr const char* recentKey = "files/recent";
    static constexpr const char* segmentsKey = "segments/";  // followed by a hash of the recording's path

private:
    QSettings store_;
};

}  // namespace keeptime
