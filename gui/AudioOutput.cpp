#include "gui/AudioOutput.hpp"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace keeptime {

// What the audio sink reads: the playback's frames, converted to the sink's
// sample format, and silence while the decoder is behind or after the end.
// The silence is counted so that the playhead stays on the file's frames.
class PlaybackDevice : public QIODevice {
public:
    PlaybackDevice(std::shared_ptr<Playback> playback, QAudioFormat::SampleFormat format, QObject* parent)
        : QIODevice(parent), playback_(std::move(playback)), int16_(format == QAudioFormat::Int16) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

    // Device frames handed out before the first frame of the file, and between frames of it.
    std::int64_t silenceBefore() const { return silence_.load(std::memory_order_acquire); }
    // Device frames handed out up to the last frame of the file, once it was handed out.
    std::int64_t endsAt() const { return endsAt_.load(std::memory_order_acquire); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const int frameBytes = int16_ ? 4 : 8;
        const std::int64_t frames = maxSize / frameBytes;
        std::int64_t done = 0;
        while (done < frames) {
            const std::int64_t got = playback_->pull(chunk_.data(), std::min<std::int64_t>(frames - done, chunkFrames));
            if (got == 0) break;
            char* at = data + done * frameBytes;
            if (int16_) {
                for (std::int64_t i = 0; i < 2 * got; ++i) {
                    // The inverse of the decoder's division by 32768, so 16-bit audio plays bit for bit.
                    const auto value = static_cast<std::int16_t>(
                        std::clamp(std::lrint(chunk_[i] * 32768.0f), -32768L, 32767L));
                    std::memcpy(at + 2 * i, &value, 2);
                }
            } else {
                std::memcpy(at, chunk_.data(), static_cast<std::size_t>(got) * 8);
            }
            done += got;
        }
        handed_ += done;
        if (playback_->finished() && endsAt_.load(std::memory_order_relaxed) < 0)
            endsAt_.store(handed_, std::memory_order_release);
        if (done < frames) {
            // Silence rather than nothing: a sink that gets nothing goes idle and may not come back.
            std::memset(data + done * frameBytes, 0, static_cast<std::size_t>((frames - done) * frameBytes));
            if (endsAt_.load(std::memory_order_relaxed) < 0)
                silence_.fetch_add(frames - done, std::memory_order_release);
            handed_ += frames - done;
        }
        return frames * frameBytes;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    static constexpr std::int64_t chunkFrames = 4096;
    const std::shared_ptr<Playback> playback_;
    const bool int16_;
    std::vector<float> chunk_ = std::vector<float>(2 * chunkFrames);
    std::int64_t handed_ = 0;
    std::atomic<std::int64_t> silence_{0};
    std::atomic<std::int64_t> endsAt_{-1};
};

namespace {

// The device's buffer. The sink is fed from the window's thread, which a loaded machine can
// hold up for more than 100 ms; the buffer must outlast that, or the device runs dry and a
// gap of silence is heard. Starting and stopping stay prompt: the server starts a stream as
// soon as it holds enough, and drops what it holds on a stop.
constexpr qint64 kDefaultBufferUs = 250'000;

QString sinkFailure(QAudio::Error error) {
    switch (error) {
    case QAudio::OpenError: return QObject::tr("The audio output could not be opened.");
    case QAudio::IOError: return QObject::tr("The audio output failed while playing.");
    case QAudio::FatalError: return QObject::tr("The audio output is no longer available.");
    default: return {};
    }
}

}  // namespace

AudioOutput::AudioOutput(QObject* parent) : QObject(parent), bufferUs_(kDefaultBufferUs) {
    endCheck_.setInterval(20);
    connect(&endCheck_, &QTimer::timeout, this, &AudioOutput::checkEnd);
}

AudioOutput::~AudioOutput() {
    if (sink_) release();
}

bool AudioOutput::deviceAvailable() const { return !QMediaDevices::defaultAudioOutput().isNull(); }

bool AudioOutput::play(std::shared_ptr<Playback> playback, int sampleRate) {
    stop();
    lastError_.clear();
    lastPlayhead_ = playback->frameAfter(0);
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull()) {
        lastError_ = tr("No audio output was found, so the recording cannot be played.");
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Float);
    if (!output.isFormatSupported(format)) format.setSampleFormat(QAudioFormat::Int16);
    if (!output.isFormatSupported(format)) {
        lastError_ = tr("The audio output “%1” cannot play %2 Hz audio (it plays %3 to %4 Hz).")
                         .arg(output.description())
                         .arg(sampleRate)
                         .arg(output.minimumSampleRate())
                         .arg(output.maximumSampleRate());
        return false;
    }
    playback_ = std::move(playback);
    sampleRate_ = sampleRate;
    // Without a parent: Qt gives the sink's backend the sink's parent, and the PulseAudio backend
    // handles pending events while it is destroyed. Destroyed with this object, it would meet
    // the sink's deferred deletion there, and be deleted twice.
    sink_ = new QAudioSink(output, format);
    sink_->setBufferSize(format.bytesForDuration(bufferUs_));
    ended_ = false;
    device_ = new PlaybackDevice(playback_, format.sampleFormat(), sink_);
    playback_->start();
    sink_->start(device_);
    if (sink_->state() == QAudio::StoppedState) {
        lastError_ = sinkFailure(sink_->error());
        if (lastError_.isEmpty()) lastError_ = tr("The audio output could not be started.");
        release();
        return false;
    }
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && sink_ && sink_->error() != QAudio::NoError)
            finish(sinkFailure(sink_->error()));
    });
    endCheck_.start();
    return true;
}

void AudioOutput::stop() { finish({}); }

std::int64_t AudioOutput::framesPlayed() const {
    return sink_->processedUSecs() * sampleRate_ / 1'000'000;
}

std::int64_t AudioOutput::playheadFrame() const {
    if (!playing()) return lastPlayhead_;
    const std::int64_t heard = std::clamp<std::int64_t>(framesPlayed() - device_->silenceBefore(), 0,
                                                        playback_->framesPulled());
    return playback_->frameAfter(heard);
}

void AudioOutput::checkEnd() {
    if (!sink_) return;
    const std::int64_t endsAt = device_->endsAt();
    if (endsAt < 0 || framesPlayed() < endsAt) return;
    if (!ended_) {
        lastPlayhead_ = playheadFrame();
        if (playback_->error()) lastError_ = QString::fromStdString(*playback_->error());
        ended_ = true;
        emit stopped();
        if (!ended_) return;  // a slot has stopped it, or started the next stretch
    }
    // After the device ran dry, the count of frames played runs ahead of what it plays while it
    // fills up again, and closing the sink drops what it holds: the last frames would go unheard.
    // It is closed only once a buffer's length of the silence after them has been counted too.
    if (framesPlayed() >= endsAt + sink_->format().framesForDuration(bufferUs_)) release();
}

void AudioOutput::finish(const QString& error) {
    if (!sink_) return;
    const bool wasPlaying = !ended_;
    if (wasPlaying) lastPlayhead_ = playheadFrame();
    if (!error.isEmpty() && wasPlaying) lastError_ = error;
    release();
    if (wasPlaying) emit stopped();
}

void AudioOutput::release() {
    endCheck_.stop();
    QAudioSink* sink = std::exchange(sink_, nullptr);
    device_ = nullptr;
    ended_ = false;
    sink->stop();  // may emit stateChanged, which now finds no sink
    sink->deleteLater();  // this may run inside one of its signals
    playback_->stop();
}

}  // namespace keeptime
