// The audio output: without a device it refuses clearly; through a PulseAudio null sink
// (tests/gui/with-pulseaudio.sh) what it plays from an in point is recorded and must be the file's audio.
#include <QProcess>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <set>

#include "recording/BWFParser.hpp"
#include "gui/AudioOutput.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

class AudioOutputTest : public QObject {
    Q_OBJECT
    TempDir dir;
    Bytes audio = audioPattern(48000 * 3 * 4);  // 3 s of 16-bit stereo noise at 48 kHz

    std::shared_ptr<Playback> playback(std::int64_t from, std::int64_t until, bool loop = false) {
        const auto path = dir / "take.wav";
        WavWriter().fmt(2, 48000, 16).data(audio).write(path);
        auto file = std::make_shared<const FileHandle>(FileHandle::openForReading(path));
        return std::make_shared<Playback>(std::make_shared<const PcmReader>(file, BWFParser(path)), from, until, -1, loop);
    }
    // Frame -1 is silence.
    float sample(std::int64_t frame, int channel) const {
        if (frame < 0) return 0.0f;
        return float(*readLE<std::int16_t>(audio, std::size_t(frame * 4 + channel * 2))) / 32768.0f;
    }

private slots:
    void withoutADeviceRefusesWithAReason() {
        AudioOutput output;
        if (output.deviceAvailable()) QSKIP("an audio output is present here");
        QSignalSpy stopped(&output, &AudioOutput::stopped);
        QVERIFY(!output.play(playback(1000, 2000), 48000));
        QVERIFY2(output.lastError().contains("No audio output"), qPrintable(output.lastError()));
        QVERIFY(!output.playing());
        QCOMPARE(output.playheadFrame(), 1000);
        QCOMPARE(stopped.count(), 0);
    }

    void playsTheFilesAudioFromTheInPoint_data() {
        QTest::addColumn<int>("stallAt");  // frames pulled from the playback when this thread stalls; -1: never
        QTest::newRow("as it comes") << -1;
        // The sink is fed from this thread: held up for longer than the device's buffer (a slow
        // redraw, a loaded machine), the device runs dry. Early on, and as the last frames go out.
        QTest::newRow("held up early") << 4800;
        QTest::newRow("held up at the end") << 24000;
    }
    void playsTheFilesAudioFromTheInPoint() {
        QFETCH(int, stallAt);
        const QString monitor = qEnvironmentVariable("KEEPTIME_PULSE_MONITOR");
        if (monitor.isEmpty()) QSKIP("needs a PulseAudio null sink: run through tests/gui/with-pulseaudio.sh");
        AudioOutput output;
        QVERIFY2(output.deviceAvailable(), "PulseAudio runs, yet Qt finds no audio output");
        QProcess recorder;
        recorder.start("parec", {"--device=" + monitor, "--raw", "--format=float32le", "--rate=48000",
                                 "--channels=2", "--latency-msec=20"});
        QVERIFY(recorder.waitForStarted(5000));
        // A null sink nobody asked for a short latency renders up to 2 s ahead, and plays what
        // comes next only after that. Its first bytes to the recorder say that it keeps pace.
        QVERIFY(recorder.waitForReadyRead(10000));
        QByteArray raw = recorder.readAllStandardOutput();
        const std::int64_t in = 30011, out = in + 24000;
        QSignalSpy stopped(&output, &AudioOutput::stopped);
        const auto played = playback(in, out);
        QVERIFY2(output.play(played, 48000), qPrintable(output.lastError()));
        QVERIFY(output.playing());
        QTimer stall;
        connect(&stall, &QTimer::timeout, [&] {
            if (stallAt < 0 || played->framesPulled() < stallAt) return;
            stall.stop();
            QThread::msleep(600);
        });
        stall.start(1);
        QVERIFY(stopped.wait(10000));
        QCOMPARE(output.lastError(), QString());
        QCOMPARE(output.playheadFrame(), out);

        // What the sink played reaches the recorder late on a loaded machine: read until the
        // stretch's last frame is there, or for at most 10 s. The events are handled meanwhile,
        // as in the window: the sink is fed on this thread until it is closed.
        const auto matches = [&](std::size_t at, std::int64_t frame) {
            float heard[2];
            std::memcpy(heard, raw.constData() + at * 8, 8);
            return heard[0] == sample(frame, 0) && heard[1] == sample(frame, 1);
        };
        const auto holdsTheEnd = [&] {
            for (std::size_t at = std::size_t(raw.size()) / 8; at-- > 0;)
                if (matches(at, out - 1)) return true;
            return false;
        };
        QDeadlineTimer deadline(10000);
        while (!holdsTheEnd() && !deadline.hasExpired()) QTest::qWait(20), raw += recorder.readAllStandardOutput();
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(5000));

        // Silence before the in point and wherever the device ran dry; between them the file's
        // frames from the in point to the out point, each once and in order.
        const std::size_t frames = std::size_t(raw.size()) / 8;
        const auto silent = [&](std::size_t at) { return matches(at, -1); };
        std::int64_t frame = in;
        std::size_t gaps = 0, at = 0;
        while (at < frames && silent(at)) ++at;
        for (; frame < out && at < frames; ++at) {
            if (matches(at, frame)) ++frame;
            else if (silent(at) && frame > in) ++gaps;
            else break;
        }
        QVERIFY2(frame == out, qPrintable(QString("the recording holds the file's frames %1 to %2 in order, not up to %3")
                                              .arg(in).arg(frame).arg(out)));
        if (gaps > 0) qInfo("%zu frames of silence while the device ran dry", gaps);
    }

    // The kept part looped, as Ctrl+Space with Loop on plays it: after its last frame its
    // first follows at once, across two seams and more, and the playhead wraps with it.
    void loopsTheKeptPartWithoutAGap() {
        const QString monitor = qEnvironmentVariable("KEEPTIME_PULSE_MONITOR");
        if (monitor.isEmpty()) QSKIP("needs a PulseAudio null sink: run through tests/gui/with-pulseaudio.sh");
        AudioOutput output;
        QProcess recorder;
        recorder.start("parec", {"--device=" + monitor, "--raw", "--format=float32le", "--rate=48000",
                                 "--channels=2", "--latency-msec=20"});
        QVERIFY(recorder.waitForStarted(5000) && recorder.waitForReadyRead(10000));
        QByteArray raw = recorder.readAllStandardOutput();
        const std::int64_t in = 20011, out = in + 9600;  // 200 ms
        const auto played = output.play(playback(in, out, true), 48000);
        QVERIFY2(played, qPrintable(output.lastError()));
        // Three passes handed out and then some: the playhead has wrapped at least twice.
        std::set<std::int64_t> playheads;
        QDeadlineTimer deadline(10000);
        while (output.framesHandedOut() < 3 * (out - in) + 4800 && !deadline.hasExpired())
            QTest::qWait(5), playheads.insert(output.playheadFrame());
        QVERIFY(output.playing());
        QVERIFY(*playheads.begin() >= in && *playheads.rbegin() < out);
        // Read until two seams have been recorded, then stop.
        const auto matches = [&](std::size_t at, std::int64_t frame) {
            float heard[2];
            std::memcpy(heard, raw.constData() + at * 8, 8);
            return heard[0] == sample(frame, 0) && heard[1] == sample(frame, 1);
        };
        std::size_t at = 0, seams = 0, gaps = 0, gapsAtSeams = 0;
        std::int64_t frame = in;
        bool started = false;
        while (seams < 2 && !deadline.hasExpired()) {
            QTest::qWait(20), raw += recorder.readAllStandardOutput();
            for (; at < std::size_t(raw.size()) / 8; ++at) {
                if (matches(at, frame)) {
                    started = true;
                    if (++frame == out) frame = in, ++seams;
                } else if (matches(at, -1)) {
                    gaps += started;  // the device ran dry: the machine, not the loop
                    gapsAtSeams += started && frame == in;
                } else {
                    QFAIL(qPrintable(QString("recorded frame %1 is not the file's frame %2").arg(at).arg(frame)));
                }
            }
        }
        output.stop();
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(5000));
        QVERIFY2(seams >= 2, qPrintable(QString("%1 seams recorded").arg(seams)));
        QCOMPARE(gapsAtSeams, std::size_t(0));
        if (gaps > 0) qInfo("%zu frames of silence while the device ran dry", gaps);
    }

    // As when the window closes while it plays, or just after a stop, before the events that
    // follow the stop are handled: nothing may be deleted twice.
    void closesWhilePlaying() {
        if (qEnvironmentVariable("KEEPTIME_PULSE_MONITOR").isEmpty()) QSKIP("needs a PulseAudio null sink");
        for (const bool stoppedFirst : {false, true}) {
            auto output = std::make_unique<AudioOutput>();
            QSignalSpy stopped(output.get(), &AudioOutput::stopped);
            QVERIFY(output->play(playback(1000, 100000), 48000));
            if (stoppedFirst) {
                QTimer::singleShot(100, output.get(), &AudioOutput::stop);
                QVERIFY(stopped.wait(5000));
            }
            output.reset();
            QTest::qWait(50);
        }
    }
};

QTEST_GUILESS_MAIN(AudioOutputTest)
#include "AudioOutputTest.moc"
