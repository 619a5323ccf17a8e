// The trim window driven as a user drives it, on the offscreen platform: each kind
// of wiring once, as ViewControllerTest covers the arithmetic behind it.
#include <QtTest>
#include <QtWidgets>

#include "bwf/BWFReconstructor.hpp"
#include "gui/Settings.hpp"
#include "gui/TrimWindow.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

// Answers the window's questions from lists instead of dialogs.
struct ScriptedWindow : TrimWindow {
    QStringList inputs, outputs, problems;  // problems: summary and detail of each message
    bool stopAnswer = false;  // to "Stop the copy?"
    int stopQuestions = 0;
    QString chooseInputFile() override { return inputs.isEmpty() ? QString() : inputs.takeFirst(); }
    QString chooseOutputFile() override { return outputs.isEmpty() ? QString() : outputs.takeFirst(); }
    void showProblem(const QString& summary, const QString& detail) override { problems << summary + "\n" + detail; }
    bool confirmStopCopy() override { return ++stopQuestions, stopAnswer; }
};
static QByteArray contents(const QString& p) { QFile f(p); return f.open(QFile::ReadOnly) ? f.readAll() : ""; }

class TrimWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScriptedWindow> w;
    std::unique_ptr<QSignalSpy> ended;  // copyEnded(output, completed, message)

    QString path(const QString& name) const { return dir->filePath(name); }
    QStringList files() const { return QDir(dir->path()).entryList(QDir::Files | QDir::Hidden); }
    template <class C = QLineEdit> C* ctl(const char* name, QWidget* in = nullptr) const {
        auto* found = (in ? in : w.get())->findChild<C*>(name);
        return found ? found : (qFatal("no control named %s", name), nullptr);
    }
    QString text(const char* name) const { return ctl(name)->text(); }
    QPushButton* saveButton() const { return ctl<QPushButton>("saveButton"); }
    int bar() const { return ctl<QProgressBar>("progressBar")->value(); }
    std::int64_t in() const { return *w->controller().newStart; }
    bool reportedOnce(const QString& what) const { return w->problems.size() == 1 && w->problems[0].contains(what); }
    // A stereo 24-bit 48 kHz take starting at 10:00:00: real audio, or sparse zeros.
    QString take(const QString& name, double seconds, bool sparse = true) const {
        const auto length = static_cast<std::size_t>(seconds * 48000 * 6);
        auto writer = WavWriter().bext(1'728'000'000).fmt();
        sparse ? writer.sparseData(std::int64_t(length)) : writer.data(audioPattern(length));
        writer.write(QFile::encodeName(path(name)).toStdString());
        return path(name);
    }
    void open(ScriptedWindow& window, const QString& file) { window.inputs << file, window.filePickerPressed(); }
    void type(const char* name, const QString& typed, Qt::Key last = Qt::Key_Return) {
        ctl(name)->selectAll(), QTest::keyClicks(ctl(name), typed), QTest::keyClick(ctl(name), last);
    }
    void save(const QString& output) { w->outputs << output, QTest::mouseClick(saveButton(), Qt::LeftButton); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true), QCoreApplication::setOrganizationName("Keeptime"); }
    void init() {
        QSettings().clear(), dir = std::make_unique<QTemporaryDir>(), w = std::make_unique<ScriptedWindow>();
        ended = std::make_unique<QSignalSpy>(w.get(), &TrimWindow::copyEnded), w->show();
        QVERIFY(dir->isValid() && QTest::qWaitForWindowActive(w.get()));
    }
    void cleanup() { ended.reset(), w.reset(), dir.reset(); }

    void fieldsAndSlidersMoveThePoints() {
        open(*w, take("take.wav", 60));
        QTest::keyClick(ctl<QSlider>("startSlider"), Qt::Key_Right);  // drawn inverted: one second right
        QCOMPARE(in(), 48000);
        ctl<QComboBox>("rateBox")->setCurrentText("25 fps");  // then one frame at a time, a second a page
        QTest::keyClick(ctl<QSlider>("startSlider"), Qt::Key_Right), QTest::keyClick(ctl<QSlider>("startSlider"), Qt::Key_PageUp);
        QCOMPARE(in(), 48000 + 1920 + 48000);
        // Tabbing through a field keeps that point; typing and leaving applies the text.
        ctl("startFileText")->setFocus(), QTest::keyClick(ctl("startFileText"), Qt::Key_Tab);
        QCOMPARE(in(), 97920);
        ctl<QComboBox>("rateBox")->setCurrentText("Seconds");
        type("startFromEndText", "0:50", Qt::Key_Tab);  // before the end
        QCOMPARE(text("startTCText"), QString("10:00:10"));
        type("startTCText", "10:00:20");  // time of day
        QCOMPARE(text("startFileText"), QString("0:20"));
        type("endFromEndText", "0:20");
        QCOMPARE(text("endTCText"), QString("10:00:40"));
        type("startFileText", "5");  // from the start, in seconds
        QCOMPARE(text("durationText"), QString("0:35"));
        QTest::keyClick(ctl<QSlider>("endSlider"), Qt::Key_Home);  // pushes the in point
        QCOMPARE(std::pair(*w->controller().newEnd, in()), std::pair(std::int64_t(0), std::int64_t(0)));
    }
    void modeAndRateKeepThePointsAndAreRemembered() {
        QVERIFY(!Settings().weirdTC());  // never written
        open(*w, take("take.wav", 60));
        type("startFileText", "0:10");
        QTest::mouseClick(ctl<QCheckBox>("weirdTCCheckBox"), Qt::LeftButton);
        QCOMPARE(text("fileStartText") + " " + text("startFileText"), QString("09:59:24.03596 0:10"));
        ctl<QComboBox>("rateBox")->setCurrentText("25 fps");
        QCOMPARE(text("startFileText"), QString("0:00:10:00"));
        QVERIFY(QSettings().value("tc_48048").toBool() && QSettings().value("timecode/rate") == "25");
        ScriptedWindow fresh;  // both show and apply from the start
        QVERIFY(ctl<QCheckBox>("weirdTCCheckBox", &fresh)->isChecked());
        QCOMPARE(ctl<QComboBox>("rateBox", &fresh)->currentText(), QString("25 fps"));
        open(fresh, path("take.wav"));
        QCOMPARE(ctl("fileStartText", &fresh)->text(), QString("09:59:24:00"));
    }
    void anOpenedFileStaysWhenTheNextIsRefused() {
        open(*w, take("good.wav", 60));
        QVERIFY(w->windowTitle() == "good.wav — Keeptime" && text("fileEndText") == "10:01:00");
        type("startFileText", "0:10");
        std::ofstream(path("notes.wav").toStdString()) << "not samples";
        open(*w, path("notes.wav"));
        QVERIFY2(reportedOnce(path("notes.wav")), qPrintable(w->problems.join('|')));
        QVERIFY(w->windowTitle() == "good.wav — Keeptime" && text("startFileText") == "0:10");
    }
    void aCopyRunsToCompletion() {
        open(*w, take("take.wav", 6, false));
        type("startTCText", "10:00:01");
        type("endFromEndText", "0:02");
        save(path("scene.wav"));
        QVERIFY(ended->wait(60000) && ended->at(0)[1].toBool());
        QVERIFY(bar() == 100 && saveButton()->text() == "Save");
        QVERIFY(ctl<QLabel>("statusText")->text().contains(path("scene.wav")));
        BWFReconstructor reference({path("take.wav").toStdString(), path("ref.wav").toStdString(), 48000, 192000});
        QVERIFY(reference.process().completed() && contents(path("scene.wav")) == contents(path("ref.wav")));
    }
    void aCopyIsStoppedByEscapeOrByClosing() {
        std::ofstream(path("scene.wav").toStdString()) << "an earlier copy";
        open(*w, take("long.wav", 10000));  // 2.9 GB: far longer than these steps take
        save(path("scene.wav"));
        QCOMPARE(saveButton()->text(), QString("Cancel"));
        QTRY_VERIFY_WITH_TIMEOUT(bar() > 0, 60000);  // under way
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(saveButton()->text(), QString("Save"));
        QVERIFY(ended->wait(60000) && !ended->at(0)[1].toBool() && bar() == 0);
        QCOMPARE(files(), QStringList({"long.wav", "scene.wav"}));
        QCOMPARE(contents(path("scene.wav")), QByteArray("an earlier copy"));
        save(path("new.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(bar() > 0, 60000);  // writing
        QVERIFY(!w->close() && w->isVisible() && w->copyInProgress());
        w->stopAnswer = true;
        QVERIFY(w->close() && w->stopQuestions == 2);
        QCOMPARE(files(), QStringList({"long.wav", "scene.wav"}));  // removed before close() returned
    }
    void badOutputsAreReported() {
        const QByteArray before = contents(take("take.wav", 2, false));
        std::filesystem::create_hard_link(path("take.wav").toStdString(), path("alias.wav").toStdString());
        open(*w, path("take.wav"));
        save(path("alias.wav"));  // the input under another name: refused, nothing starts
        QVERIFY2(reportedOnce(path("alias.wav")), qPrintable(w->problems.join('|')));
        QCoreApplication::processEvents();
        QVERIFY(ended->isEmpty() && contents(path("take.wav")) == before);
        w->problems.clear(), ctl<QProgressBar>("progressBar")->setValue(40);
        save(path("no such folder/scene.wav"));  // fails once started
        QVERIFY(ended->wait(60000));
        QVERIFY2(reportedOnce(path("no such folder/scene.wav")), qPrintable(w->problems.join('|')));
        QVERIFY(bar() == 0 && saveButton()->text() == "Save");
    }
};

QTEST_MAIN(TrimWindowTest)
#include "TrimWindowTest.moc"
