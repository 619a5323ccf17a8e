// How soon playback starts in the window: from Space to the first frame handed to the
// audio sink (leaving Keeptime), to the playhead's first move on screen, and to the
// first frame recorded from the sink's monitor (the sink's and the recorder's own
// latency on top). The window runs offscreen with a ten-minute recording open, its
// waveform still being read, as right after opening a file. Run under
// tests/gui/with-pulseaudio.sh; prints one line a run.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <cstdio>
#include <cstring>

#include "gui/AudioOutput.hpp"
#include "gui/TimelinePanel.hpp"
#include "gui/TrimWindow.hpp"
#include "gui/WaveformView.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);  // the user's settings stay as they are
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.size() > 1 ? args[1].toInt() : 10;
    const qint64 bufferMs = args.size() > 2 ? args[2].toLongLong() : 0;  // 0: the window's own
    const QString monitor = qEnvironmentVariable("KEEPTIME_PULSE_MONITOR");
    if (monitor.isEmpty()) return std::fprintf(stderr, "run under tests/gui/with-pulseaudio.sh\n"), 2;
    testing::TempDir dir;
    const auto path = dir / "take.wav";
    // Noise throughout: any frame recorded that is not silence is the file's.
    const Bytes second = testing::audioPattern(48000 * 6);
    testing::WavWriter writer;
    Bytes audio;
    for (int s = 0; s < 600; ++s) audio.insert(audio.end(), second.begin(), second.end());
    writer.bext(1'728'000'000).fmt(2, 48000, 24).data(std::move(audio)).write(path);

    QProcess recorder;
    recorder.start("parec", {"--device=" + monitor, "--raw", "--format=float32le", "--rate=48000", "--channels=2",
                             "--latency-msec=5"});
    if (!recorder.waitForStarted(5000) || !recorder.waitForReadyRead(10000)) return std::fprintf(stderr, "no parec\n"), 1;
    std::printf("run space_to_first_frame_ms space_to_playhead_move_ms space_to_recorded_ms\n");
    for (int run = 0; run < runs; ++run) {
        TrimWindow window;
        window.show();
        if (!window.openFile(QString::fromStdString(path.string()))) return 1;
        auto* output = window.timeline()->findChild<AudioOutput*>();
        if (bufferMs > 0) output->setDeviceBuffer(bufferMs * 1000);
        WaveformView* view = window.timeline()->view();
        for (QElapsedTimer settle; !settle.isValid() || settle.elapsed() < 200;) {  // peaks are being read meanwhile
            if (!settle.isValid()) settle.start();
            app.processEvents(QEventLoop::AllEvents, 10);
        }
        recorder.readAllStandardOutput();  // what came before is silence
        const std::int64_t start = view->playhead();
        QElapsedTimer clock;
        clock.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(view, &press);
        QApplication::sendEvent(view, &release);
        if (!window.timeline()->playing()) return std::fprintf(stderr, "Space did not play\n"), 1;
        qint64 handed = -1, moved = -1, recorded = -1;
        while (clock.elapsed() < 3000 && (handed < 0 || moved < 0 || recorded < 0)) {
            app.processEvents(QEventLoop::AllEvents, 1);
            if (handed < 0 && output->framesHandedOut() > 0) handed = clock.elapsed();
            if (moved < 0 && view->playhead() != start) moved = clock.elapsed();
            const QByteArray raw = recorder.readAllStandardOutput();
            for (qsizetype at = 0; recorded < 0 && at + 4 <= raw.size(); at += 4) {
                float value;
                std::memcpy(&value, raw.constData() + at, 4);
                if (value != 0.0f) recorded = clock.elapsed();
            }
            QThread::usleep(500);
        }
        window.timeline()->stop();
        std::printf("%d %lld %lld %lld\n", run + 1, static_cast<long long>(handed), static_cast<long long>(moved),
                    static_cast<long long>(recorded));
        std::fflush(stdout);
        for (QElapsedTimer pause; !pause.isValid() || pause.elapsed() < 400;) {
            if (!pause.isValid()) pause.start();
            app.processEvents(QEventLoop::AllEvents, 20);
            recorder.readAllStandardOutput();
        }
    }
    recorder.terminate();
    recorder.waitForFinished(3000);
    return 0;
}
