// The trim window driven as a user drives it: keys, clicks and the answers a
// user would give to its dialogs, on the offscreen platform.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "app/Settings.hpp"
#include "bwf/BWFReconstructor.hpp"
#include "tests/WavWriter.hpp"
#include "window/TrimWindow.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

// Answers the window's questions from lists instead of dialogs.
class ScriptedWindow : public TrimWindow {
public:
    QStringList inputAnswers;
    QStringList outputAnswers;
    int outputQuestions = 0;
    QStringList problems;  // summary and detail of each message box
    bool stopAnswer = true;
    int stopQuestions = 0;

protected:
    QString chooseInputFile() override { return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst(); }
    QString chooseOutputFile() override {
        ++outputQuestions;
        return outputAnswers.isEmpty() ? QString() : outputAnswers.takeFirst();
    }
    void showProblem(const QString& summary, const QString& detail) override {
        problems << summary + "\n" + detail;
    }
    bool confirmStopCopy() override {
        ++stopQuestions;
        return stopAnswer;
    }
};

const std::int64_t tenOClock = 1'728'000'000;  // samples since midnight at 48 kHz
const std::size_t bytesPerSecond = 48000 * 6;  // stereo, 24 bits

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TrimWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScriptedWindow> window;

    QString path(const QString& name) const { return dir->filePath(name); }
    template <class Control>
    Control* control(const char* name) const {
        auto* found = window->findChild<Control*>(name);
        if (!found) qFatal("the window has no control named %s", name);
        return found;
    }
    QLineEdit* edit(const char* name) const { return control<QLineEdit>(name); }
    QString shown(const char* name) const { return edit(name)->text(); }
    QPushButton* saveButton() const { return control<QPushButton>("saveButton"); }
    QProgressBar* progressBar() const { return control<QProgressBar>("progressBar"); }
    QString status() const { return control<QLabel>("statusText")->text(); }

    // A take of `seconds` starting at 10:00:00: real audio bytes, or sparse zeros.
    QString take(const QString& name, double seconds, bool sparse = false) const {
        const auto length = static_cast<std::size_t>(seconds * bytesPerSecond);
        WavWriter writer;
        writer.bext(tenOClock).ixml(ixmlText(std::to_string(tenOClock), {})).fmt();
        if (sparse)
            writer.sparseData(static_cast<std::int64_t>(length));
        else
            writer.data(audioPattern(length));
        writer.write(QFile::encodeName(path(name)).toStdString());
        return path(name);
    }
    void open(const QString& file) {
        window->inputAnswers << file;
        window->filePickerPressed();
    }
    // Types text into a field as a user does: select all, type, Enter.
    void type(const char* name, const QString& text) {
        QLineEdit* field = edit(name);
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("KeeptimeTest");
        QCoreApplication::setApplicationName("TrimWindowTest");
    }
    void init() {
        QSettings().clear();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        window = std::make_unique<ScriptedWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void cleanup() {
        window.reset();
        dir.reset();
    }

    void opensAFileAndShowsItsTimes() {
        QCOMPARE(window->windowTitle(), QString("Keeptime"));
        open(take("take.wav", 60, true));
        QCOMPARE(window->windowTitle(), QString("take.wav — Keeptime"));
        QCOMPARE(shown("fileTextField"), path("take.wav"));
        QCOMPARE(shown("fileStartText"), QString("10:00:00"));
        QCOMPARE(shown("fileEndText"), QString("10:01:00"));
        QCOMPARE(shown("fileLengthText"), QString("1:00"));
        QCOMPARE(shown("startTCText"), QString("10:00:00"));
        QCOMPARE(shown("endFromEndText"), QString("0:00"));
        QCOMPARE(shown("durationText"), QString("1:00"));
        // The whole file: both handles at their ends, the start slider's drawn
        // from the right so that its handle sits at the left.
        auto* startSlider = control<QSlider>("startSlider");
        QVERIFY(startSlider->invertedAppearance());
        QCOMPARE(startSlider->value(), startSlider->maximum());
        QCOMPARE(control<QSlider>("endSlider")->value(), control<QSlider>("endSlider")->maximum());
    }

    void otherWaysToOpen() {
        const QString file = take("dropped.wav", 2, true);
        QMimeData two;
        two.setUrls({QUrl::fromLocalFile(file), QUrl::fromLocalFile(file)});
        QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &refused);
        QVERIFY(!refused.isAccepted());  // one file at a time

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(file)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        QTRY_COMPARE(shown("fileTextField"), file);

        // A path relative to the working folder, as given on a command line.
        take("relative.wav", 2, true);
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir->path());
        QVERIFY(window->openFile("relative.wav"));
        QDir::setCurrent(previous);
        QCOMPARE(shown("fileTextField"), path("relative.wav"));

        // Ctrl+O asks for a file; Ctrl+S asks where to save.
        window->inputAnswers << take("second.wav", 3, true);
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(shown("fileLengthText"), QString("0:03"));
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(window->outputQuestions, 1);
    }

    void typedPointsInEachNotation_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");  // "field=text"
        QTest::newRow("in point, time of day") << "startTCText" << "10:00:10"
            << QStringList{"startFileText=0:10", "startFromEndText=0:50", "durationText=0:50"};
        QTest::newRow("in point before the file") << "startTCText" << "9:59:00"
            << QStringList{"startTCText=10:00:00", "startFileText=0:00"};
        QTest::newRow("in point in seconds, past the end") << "startFileText" << "90"
            << QStringList{"startFileText=1:30", "startFromEndText=-0:30", "durationText=-0:30"};
        QTest::newRow("in point before the end") << "startFromEndText" << "0:20"
            << QStringList{"startFileText=0:40", "startTCText=10:00:40", "durationText=0:20"};
        QTest::newRow("out point, time of day") << "endTCText" << "10:00:30"
            << QStringList{"endFileText=0:30", "endFromEndText=0:30", "durationText=0:30"};
        QTest::newRow("out point after the file") << "endTCText" << "10:05:00"
            << QStringList{"endTCText=10:01:00", "endFromEndText=0:00"};
        QTest::newRow("out point from the start, H:MM:SS") << "endFileText" << "0:00:45"
            << QStringList{"endTCText=10:00:45", "endFromEndText=0:15"};
        QTest::newRow("out point before the end") << "endFromEndText" << "5"
            << QStringList{"endFileText=0:55", "endTCText=10:00:55"};
        QTest::newRow("emptied field reads as 0") << "startFromEndText" << ""
            << QStringList{"startFileText=1:00", "durationText=0:00"};
        QTest::newRow("unreadable text is put back") << "startFileText" << "1.5"
            << QStringList{"startFileText=0:00", "durationText=1:00"};
    }
    void typedPointsInEachNotation() {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        open(take("take.wav", 60, true));
        type(field.toLatin1().constData(), typed);
        for (const QString& pair : expected) {
            const QStringList parts = pair.split('=');
            QCOMPARE(shown(parts[0].toLatin1().constData()), parts[1]);
        }
    }

    void anEditCommitsWhenTheFieldIsLeft() {
        open(take("take.wav", 60, true));
        // One step of the start slider: a point between whole seconds.
        QTest::keyClick(control<QSlider>("startSlider"), Qt::Key_Right);
        QCOMPARE(*window->controller().newStart, 0.6);
        // Passing through a field without typing keeps it.
        edit("startFileText")->setFocus();
        QTest::keyClick(edit("startFileText"), Qt::Key_Tab);
        QCOMPARE(*window->controller().newStart, 0.6);
        // Typing and leaving applies it.
        QCOMPARE(QApplication::focusWidget(), edit("startFromEndText"));
        edit("startFromEndText")->selectAll();
        QTest::keyClicks(edit("startFromEndText"), "0:50");
        QTest::keyClick(edit("startFromEndText"), Qt::Key_Tab);
        QCOMPARE(*window->controller().newStart, 10.0);
        QCOMPARE(shown("startTCText"), QString("10:00:10"));
    }

    void tabGoesThroughTheTimeFieldsInOrder() {
        open(take("take.wav", 60, true));
        edit("startTCText")->setFocus();
        QStringList order{"startTCText"};
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order, (QStringList{"startTCText", "startFileText", "startFromEndText", "endTCText",
                                     "endFileText", "endFromEndText"}));
    }

    void slidersMoveFromLeftToRight_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<double>("newStart");
        QTest::addColumn<double>("newEnd");
        QTest::addColumn<QString>("duration");
        QTest::newRow("in point one step right")
            << "startSlider" << QList<int>{Qt::Key_Right} << 0.6 << 60.0 << "0:59";
        QTest::newRow("in point to the right end pushes the out point")
            << "startSlider" << QList<int>{Qt::Key_End} << 60.0 << 60.0 << "0:00";
        QTest::newRow("in point back to the left end")
            << "startSlider" << QList<int>{Qt::Key_PageDown, Qt::Key_Home} << 0.0 << 60.0 << "1:00";
        QTest::newRow("out point one step left") << "endSlider" << QList<int>{Qt::Key_Left} << 0.0 << 59.4 << "0:59";
        QTest::newRow("out point to the left end") << "endSlider" << QList<int>{Qt::Key_Home} << 0.0 << 0.0 << "0:00";
    }
    void slidersMoveFromLeftToRight() {
        QFETCH(QString, slider);
        QFETCH(QList<int>, keys);
        QFETCH(double, newStart);
        QFETCH(double, newEnd);
        QFETCH(QString, duration);
        open(take("take.wav", 60, true));
        for (int key : keys) QTest::keyClick(control<QSlider>(slider.toLatin1().constData()), Qt::Key(key));
        QCOMPARE(*window->controller().newStart, newStart);
        QCOMPARE(*window->controller().newEnd, newEnd);
        QCOMPARE(shown("durationText"), duration);
    }

    void weirdTCRereadsTheFile() {
        open(take("take.wav", 60, true));
        type("startFileText", "0:10");
        auto* box = control<QCheckBox>("weirdTCCheckBox");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QVERIFY(Settings().weirdTC());
        // 1728000000 samples at 48048 a second: 35964.036 s.
        QCOMPARE(shown("fileStartText"), QString("09:59:24"));
        QCOMPARE(shown("endTCText"), QString("10:00:24"));
        QCOMPARE(shown("startFileText"), QString("0:00"));  // the range is the whole file again
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!Settings().weirdTC());
        QCOMPARE(shown("fileStartText"), QString("10:00:00"));
    }

    void theStoredModeAppliesWhenAFileIsOpened() {
        Settings().setWeirdTC(true);
        ScriptedWindow fresh;
        auto* box = fresh.findChild<QCheckBox*>("weirdTCCheckBox");
        QVERIFY(!box->isChecked());
        QVERIFY(!fresh.controller().weirdTC);
        fresh.inputAnswers << take("take.wav", 2, true);
        fresh.filePickerPressed();
        QVERIFY(box->isChecked());
        QCOMPARE(fresh.findChild<QLineEdit*>("fileStartText")->text(), QString("09:59:24"));
    }

    void settingsLastAcrossRuns() {
        {
            Settings settings;
            QVERIFY(!settings.weirdTC());  // never written
            settings.setWeirdTC(true);
            settings.setWindowGeometry("geometry");
        }
        Settings again;
        QVERIFY(again.weirdTC());
        QCOMPARE(again.windowGeometry(), QByteArray("geometry"));
        QCOMPARE(QSettings().value("tc_48048").toBool(), true);

        // Closing remembers the window's size.
        const QSize chosen = window->minimumSizeHint() + QSize(30, 20);
        window->resize(chosen);
        QVERIFY(window->close());
        ScriptedWindow reopened;
        QCOMPARE(reopened.size(), chosen);
    }

    void aRefusedFileKeepsTheLoadedOne_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // empty: no such file
        QTest::newRow("not a WAV file") << "notes.wav" << QByteArray("these are not samples");
        QTest::newRow("missing") << "gone.wav" << QByteArray();
    }
    void aRefusedFileKeepsTheLoadedOne() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString good = take("good.wav", 60, true);
        open(good);
        type("startFileText", "0:10");
        Settings().setWeirdTC(true);  // would apply to the next file opened
        if (!bytes.isEmpty()) {
            QFile bad(path(name));
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write(bytes);
        }
        open(path(name));
        QCOMPARE(window->problems.size(), 1);
        QVERIFY2(window->problems[0].contains(path(name)), qPrintable(window->problems[0]));
        QCOMPARE(shown("fileTextField"), good);
        QCOMPARE(window->windowTitle(), QString("good.wav — Keeptime"));
        QCOMPARE(shown("startFileText"), QString("0:10"));
        QCOMPARE(shown("fileStartText"), QString("10:00:00"));
        QVERIFY(!control<QCheckBox>("weirdTCCheckBox")->isChecked());
        QVERIFY(!window->controller().weirdTC);
        if (!bytes.isEmpty()) QCOMPARE(contents(path(name)), bytes);
    }

    void saveBeforeOpeningAsksNothing() {
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QCOMPARE(window->outputQuestions, 0);
    }

    void aCopyRunsToCompletion() {
        const QString input = take("take.wav", 6);
        open(input);
        type("startTCText", "10:00:01");
        type("endFromEndText", "0:02");
        QSignalSpy ended(window.get(), &TrimWindow::copyEnded);
        window->outputAnswers << path("scene.wav");
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended[0][1].toBool(), true);
        QCOMPARE(progressBar()->value(), 100);
        QCOMPARE(saveButton()->text(), QString("Save"));
        QVERIFY2(status().contains(path("scene.wav")), qPrintable(status()));

        // The same range, written by the copy writer itself.
        std::ostringstream quiet;
        BWFReconstructor reference(input.toStdString(), path("reference.wav").toStdString(), 1.0, 4.0, quiet);
        QVERIFY(reference.process().completed());
        const QByteArray copy = contents(path("scene.wav"));
        QCOMPARE(copy.size(), qsizetype(contents(path("reference.wav")).size()));
        QVERIFY(copy == contents(path("reference.wav")));
        QVERIFY(copy.size() > qsizetype(3 * bytesPerSecond));
    }

    void aCancelledCopyLeavesNothing_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::addColumn<bool>("outputExisted");
        QTest::newRow("Cancel button, new file") << false << false;
        QTest::newRow("Escape, existing file kept") << true << true;
    }
    void aCancelledCopyLeavesNothing() {
        QFETCH(bool, byEscape);
        QFETCH(bool, outputExisted);
        const QString output = path("scene.wav");
        if (outputExisted) {
            QFile old(output);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an earlier copy");
        }
        open(take("long.wav", 2000, true));  // 576 MB, far longer than the cancel takes
        QSignalSpy ended(window.get(), &TrimWindow::copyEnded);
        window->outputAnswers << output;
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QCOMPARE(saveButton()->text(), QString("Cancel"));
        if (byEscape)
            QTest::keyClick(window.get(), Qt::Key_Escape);
        else
            QTest::mouseClick(saveButton(), Qt::LeftButton);
        QCOMPARE(saveButton()->text(), QString("Save"));
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended[0][1].toBool(), false);
        QCOMPARE(progressBar()->value(), 0);
        QCOMPARE(saveButton()->text(), QString("Save"));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden),
                 outputExisted ? QStringList({"long.wav", "scene.wav"}) : QStringList({"long.wav"}));
        if (outputExisted) QCOMPARE(contents(output), QByteArray("an earlier copy"));
        QVERIFY(window->problems.isEmpty());
    }

    void aNewCopyRightAfterACancel() {
        open(take("long.wav", 2000, true));
        QSignalSpy ended(window.get(), &TrimWindow::copyEnded);
        window->outputAnswers << path("cancelled.wav") << path("kept.wav");
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QTest::mouseClick(saveButton(), Qt::LeftButton);  // Cancel
        type("endFileText", "0:03");
        QTest::mouseClick(saveButton(), Qt::LeftButton);  // Save again at once
        QCOMPARE(saveButton()->text(), QString("Cancel"));  // the newest copy runs
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, 60000);
        // The two may end in either order.
        QMap<QString, bool> completed;
        for (const auto& arguments : ended) completed[arguments[0].toString()] = arguments[1].toBool();
        QCOMPARE(completed, (QMap<QString, bool>{{path("cancelled.wav"), false}, {path("kept.wav"), true}}));
        QCOMPARE(progressBar()->value(), 100);
        QCOMPARE(saveButton()->text(), QString("Save"));
        QVERIFY(!QFile::exists(path("cancelled.wav")));
        QVERIFY(QFile::exists(path("kept.wav")));
    }

    void aFailedCopyIsReported() {
        open(take("take.wav", 2));
        progressBar()->setValue(40);
        QSignalSpy ended(window.get(), &TrimWindow::copyEnded);
        const QString output = path("no such folder/scene.wav");
        window->outputAnswers << output;
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QVERIFY(ended.wait(60000));
        QCOMPARE(window->problems.size(), 1);
        QVERIFY2(window->problems[0].contains(output), qPrintable(window->problems[0]));
        QCOMPARE(progressBar()->value(), 0);
        QCOMPARE(saveButton()->text(), QString("Save"));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({"take.wav"}));
    }

    void theInputIsNeverTheOutput_data() {
        QTest::addColumn<QString>("link");  // "", "symbolic" or "hard"
        QTest::newRow("the input itself") << "";
        QTest::newRow("a symbolic link to it") << "symbolic";
        QTest::newRow("a hard link to it") << "hard";
    }
    void theInputIsNeverTheOutput() {
        QFETCH(QString, link);
        const QString input = take("take.wav", 2);
        const QByteArray before = contents(input);
        QString output = input;
        if (!link.isEmpty()) {
            output = path("alias.wav");
            const auto from = input.toStdString(), to = output.toStdString();
            if (link == "hard")
                std::filesystem::create_hard_link(from, to);
            else
                std::filesystem::create_symlink(from, to);
        }
        open(input);
        type("startFileText", "1");
        QSignalSpy ended(window.get(), &TrimWindow::copyEnded);
        window->outputAnswers << output;
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QCOMPARE(window->problems.size(), 1);
        QVERIFY(window->problems[0].contains(output));
        QCOMPARE(saveButton()->text(), QString("Save"));
        QCoreApplication::processEvents();
        QCOMPARE(ended.size(), 0);
        QCOMPARE(contents(input), before);
    }

    void closingDuringACopyAsksFirst() {
        open(take("long.wav", 2000, true));
        window->outputAnswers << path("scene.wav");
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        window->stopAnswer = false;
        QVERIFY(!window->close());
        QCOMPARE(window->stopQuestions, 1);
        QVERIFY(window->isVisible());
        window->stopAnswer = true;
        QVERIFY(window->close());
        QCOMPARE(window->stopQuestions, 2);
        // Stopped and cleaned up before close() returned.
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList({"long.wav"}));
        QVERIFY(!window->copyInProgress());
    }
};

QTEST_MAIN(TrimWindowTest)
#include "TrimWindowTest.moc"
