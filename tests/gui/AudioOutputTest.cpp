// The audio output: without a device it refuses clearly; through a PulseAudio null sink
// (tests/gui/with-pulseaudio.sh) what it plays from an in point is recorded and must be the file's audio.
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstring>

#include "bwf/BWFParser.hpp"
#include "gui/AudioOutput.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

class AudioOutputTest : public QObject {
    Q_OBJECT
    TempDir dir;
    Bytes audio = audioPattern(48000 * 3 * 4);  // 3 s of 16-bit stereo noise at 48 kHz

    std::shared_ptr<Playback> playback(std::int64_t from, std::int64_t until) {
        const auto path = dir / "take.wav";
        WavWriter().fmt(2, 48000, 16).data(audio).write(path);
        auto file = std::make_shared<const FileHandle>(FileHandle::openForReading(path));
        return std::make_shared<Playback>(std::make_shared<const PcmReader>(file, BWFParser(path)), from, until);
    }
    float sample(std::int64_t frame, int channel) const {
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

    void playsTheFilesAudioFromTheInPoint() {
        const QString monitor = qEnvironmentVariable("KEEPTIME_PULSE_MONITOR");
        if (monitor.isEmpty()) QSKIP("needs a PulseAudio null sink: run through tests/gui/with-pulseaudio.sh");
        AudioOutput output;
        QVERIFY2(output.deviceAvailable(), "PulseAudio runs, yet Qt finds no audio output");
        QProcess recorder;
        recorder.start("parec", {"--device=" + monitor, "--raw", "--format=float32le", "--rate=48000",
                                 "--channels=2", "--latency-msec=20"});
        QVERIFY(recorder.waitForStarted(5000));
        QTest::qWait(300);
        const std::int64_t in = 30011, out = in + 24000;
        QSignalSpy stopped(&output, &AudioOutput::stopped);
        QVERIFY2(output.play(playback(in, out), 48000), qPrintable(output.lastError()));
        QVERIFY(output.playing());
        QVERIFY(stopped.wait(5000));
        QCOMPARE(output.lastError(), QString());
        QCOMPARE(output.playheadFrame(), out);
        QTest::qWait(300);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(5000));
        const QByteArray raw = recorder.readAllStandardOutput();
        std::vector<float> heard(std::size_t(raw.size()) / 4);
        std::memcpy(heard.data(), raw.data(), heard.size() * 4);

        // The recording misses the first few milliseconds while the sink wakes up, so it may
        // begin a little after the in point; from there on it must be the file's frames up to out.
        const auto matches = [&](std::size_t at, std::int64_t frame) {
            return heard[2 * at] == sample(frame, 0) && heard[2 * at + 1] == sample(frame, 1);
        };
        std::size_t start = 0;
        while (start < heard.size() / 2 && heard[2 * start] == 0 && heard[2 * start + 1] == 0) ++start;
        std::int64_t first = in;
        while (first < in + 4800 && !(start < heard.size() / 2 && matches(start, first))) ++first;
        // A loaded machine may leave the device short for a moment: it then plays silence,
        // never a frame out of order or twice, and no frame is lost.
        std::int64_t frame = first;
        int gaps = 0;
        for (std::size_t at = start; frame < out && at < heard.size() / 2; ++at) {
            if (matches(at, frame)) ++frame;
            else if (heard[2 * at] == 0 && heard[2 * at + 1] == 0) ++gaps;
            else break;
        }
        QVERIFY2(frame == out, qPrintable(QString("the recording holds the file's frames %1 to %2 in order, not up to %3")
                                              .arg(first).arg(frame).arg(out)));
        if (gaps > 0) qInfo("%d frames of silence while the device waited", gaps);
        qInfo("the recording begins %d frames after the in point", int(first - in));
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
