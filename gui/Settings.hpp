// What Keeptime remembers between runs: weird-TC mode, the timecode rate for
// recordings that name none, and the window's place.
// Kept in the user's QSettings store under the application's names; a key that
// was never written reads as off / no geometry.
#pragma once

#include <QByteArray>
#include <QSettings>

namespace keeptime {

class Settings {
public:
    // Whether time code counts 48048 samples a second (the 0.1 % pull-down).
    bool weirdTC() const;
    void setWeirdTC(bool on);

    // The timecode rate for recordings that name none, by its name ("25", "29.97 DF"); empty: seconds.
    QString timecodeRate() const;
    void setTimecodeRate(const QString& name);

    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry);

    static constexpr const char* weirdTCKey = "tc_48048";
    static constexpr const char* geometryKey = "window/geometry";
    static constexpr const char* rateKey = "timecode/rate";

private:
    QSettings store_;
};

}  // namespace keeptime
