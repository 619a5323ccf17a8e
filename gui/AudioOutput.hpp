// Plays a Playback on the default audio output through Qt Multimedia. The
// device pulls frames from the playback's ring on its own schedule; decoding
// stays on the playback's thread, so the window never waits for the disk.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "trim/Playback.hpp"

class QAudioSink;

namespace keeptime {

class PlaybackDevice;

class AudioOutput : public QObject {
    Q_OBJECT
public:
    explicit AudioOutput(QObject* parent = nullptr);
    ~AudioOutput() override;

    bool deviceAvailable() const;
    // The device's buffer from the next play() on; the default outlasts a loaded machine's stalls.
    void setDeviceBuffer(qint64 microseconds) { bufferUs_ = microseconds; }
    // Starts the playback on the default output (stopping any before); false,
    // with the reason in lastError(), when there is no output that plays
    // sampleRate stereo.
    bool play(std::shared_ptr<Playback> playback, int sampleRate);
    // Stops at once; emits stopped() when something was playing.
    void stop();
    // Until the stretch's end has been heard (stopped() is then emitted), though the device
    // may still be playing out the silence after it.
    bool playing() const { return sink_ != nullptr && !ended_; }
    // The frame of the file being heard now: from plus the frames the device has
    // played, up to until. After the end or a stop, where it stood then.
    std::int64_t playheadFrame() const;
    // Frames of the file handed to the device so far, of what plays now.
    std::int64_t framesHandedOut() const { return playback_ ? playback_->framesPulled() : 0; }
    // Why play() failed or the playback ended early (a read error, a failed device).
    QString lastError() const { return lastError_; }

signals:
    void stopped();  // reached the end, stopped, or failed

private:
    void finish(const QString& error);  // ends what plays, telling the window
    void release();                     // ends what plays, quietly
    void checkEnd();
    std::int64_t framesPlayed() const;

    std::shared_ptr<Playback> playback_;
    QAudioSink* sink_ = nullptr;        // owns the device that feeds it
    // The stretch has been reported played; the sink still plays out what it holds.
    bool ended_ = false;
    PlaybackDevice* device_ = nullptr;
    int sampleRate_ = 0;
    std::int64_t lastPlayhead_ = 0;
    qint64 bufferUs_;
    QTimer endCheck_;
    QString lastError_;
};

}  // namespace keeptime
