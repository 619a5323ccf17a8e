// The trim window driven as a user drives it, on the offscreen platform: each kind
// of wiring once, as ViewControllerTest covers the arithmetic behind it.
#include <QtTest>
#include <QtWidgets>

#include "recording/BWFParser.hpp"
#include "copy/BWFReconstructor.hpp"
#include "gui/ConformDialog.hpp"
#include "gui/SegmentsPanel.hpp"
#include "gui/Settings.hpp"
#include "gui/TimelinePanel.hpp"
#include "gui/TrimWindow.hpp"
#include "gui/WaveformView.hpp"
#include "tests/WavWriter.hpp"

using namespace keeptime;
using namespace keeptime::testing;

// Answers the window's questions from lists instead of dialogs.
struct ScriptedWindow : TrimWindow {
    QStringList inputs, outputs, folders, problems;  // problems: summary, path and reason of each message
    QStringList offered;  // the folder or name each dialog started with
    QList<QUrl> opened;
    bool opens = true;  // a file manager can be opened
    QStringList replaceQuestions;  // folder and names of each "Replace N files?"
    bool replaceAnswer = false;
    bool stopAnswer = false;  // to "Stop the copy?"
    bool realQuestion = false;  // ask it with the window's own box
    int stopQuestions = 0;
    QString answer(QStringList& answers, const QString& start) {
        return offered << start, answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString chooseInputFile(const QString& folder) override { return answer(inputs, folder); }
    QString chooseOutputFile(const QString& suggested) override { return answer(outputs, suggested); }
    QString chooseOutputFolder(const QString& start) override { return answer(folders, start); }
    void showProblem(const QString& summary, const QString& path, const QString& reason) override {
        problems << summary + "\n" + path + "\n" + reason;
    }
    bool confirmStopCopy() override { return ++stopQuestions, realQuestion ? TrimWindow::confirmStopCopy() : stopAnswer; }
    bool openExternally(const QUrl& url) override { return opened << url, opens; }
    bool confirmReplace(const QString& folder, const QStringList& names) override {
        return replaceQuestions << folder + ": " + names.join(", "), replaceAnswer;
    }
    QStringList segmentNames;  // folder and names of each "Write N files?"
    QList<std::size_t> restoreOffers;
    bool confirmSegmentNames(const QString& folder, const QStringList& names) override {
        return segmentNames << folder + ": " + names.join(", "), true;
    }
    bool confirmRestoreSegments(const QString&, std::size_t count) override { return restoreOffers << count, true; }
    using TrimWindow::problemBox;
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
    QString text(const char* name) const { return ctl<QWidget>(name)->property("text").toString(); }
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
    void theWaveformHandlesAndKeysMoveThePoints() {
        open(*w, take("take.wav", 60));
        ctl<QComboBox>("rateBox")->setCurrentText("25 fps");
        WaveformView* view = w->timeline()->view();
        const Timeline& shown = view->timeline();
        auto key = [&](int k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(w.get(), Qt::Key(k), m); };
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() / 4, 60));  // a click moves the playhead
        const std::int64_t clicked = shown.frameAt(view->width() / 4);
        QCOMPARE(view->playhead(), clicked);
        key(Qt::Key_I);  // on the first frame of the label the playhead is in
        QCOMPARE(in(), w->controller().clock().snap(clicked));
        QTest::keyClick(view, Qt::Key_Right), QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
        key(Qt::Key_O);  // a frame and a second later, on the frame's boundary
        QCOMPARE(*w->controller().newEnd, (clicked / 1920 + 1 + 25) * 1920);
        key(Qt::Key_BracketLeft);
        QCOMPARE(view->playhead(), in());
        // A typed point moves its handle: dragging from where the field put it lands where it is dropped.
        type("startTCText", "10:00:05:00");
        const int from = qRound(shown.xAt(in())), to = from + 40;
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(from, 80));
        QTest::mouseMove(view, QPoint(to, 80));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(to, 80));
        const Clock clock = w->controller().clock();
        QCOMPARE(in(), clock.snap(shown.frameAt(to)));
        QCOMPARE(text("startTCText").toStdString(), clock.text(Notation::TimeOfDay, in()));
        // Zooming in keeps the playhead where it stands, down to single frames.
        const double before = shown.xAt(view->playhead());
        for (int i = 0; i < 30; ++i) key(Qt::Key_Plus, Qt::ControlModifier);
        QVERIFY(std::abs(shown.xAt(view->playhead()) - before) < 1 && shown.framesPerPixel() < 1);
        const std::int64_t paged = view->playhead();
        QTest::keyClick(view, Qt::Key_PageDown);  // a page is the view's width
        QCOMPARE(view->playhead(), paged + shown.visibleFrames());
        key(Qt::Key_0, Qt::ControlModifier);
        QVERIFY(shown.wholeInView());
        // Without a sound device the window says so, once, and goes on working.
        key(Qt::Key_Space);
        QVERIFY2(text("statusText").contains("No audio output"), qPrintable(text("statusText")));
        ctl<QLabel>("statusText")->clear(), key(Qt::Key_Space), key(Qt::Key_BracketRight);
        QVERIFY(text("statusText").isEmpty() && view->playhead() == *w->controller().newEnd);
    }
    // An editor's moves: a drag selects, Ctrl+Z takes the whole drag back and Ctrl+Shift+Z
    // brings it again, a Shift+click moves the nearer point, the readouts follow the
    // playhead and the pointer, and zoomed to single samples the ruler still reads.
    void aDragSelectsAndUndoRestores() {
        open(*w, take("take.wav", 60));
        ctl<QComboBox>("rateBox")->setCurrentText("25 fps");
        WaveformView* view = w->timeline()->view();
        const Timeline& shown = view->timeline();
        const Clock clock = w->controller().clock();
        const auto range = [&] { return std::pair(in(), *w->controller().newEnd); };
        const auto whole = range();
        const int from = view->width() / 5, to = view->width() / 2, y = view->height() / 2;
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(from, y));
        for (int x = from + 10; x < to; x += 10) QTest::mouseMove(view, QPoint(x, y));
        QTest::mouseMove(view, QPoint(to, y));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(to, y));
        const auto selected = std::pair(clock.snap(shown.frameAt(from)), clock.snap(shown.frameAt(to), true));
        QCOMPARE(range(), selected);
        QCOMPARE(text("startTCText").toStdString(), clock.text(Notation::TimeOfDay, selected.first));
        QCOMPARE(text("playheadReadout").toStdString(), clock.text(Notation::TimeOfDay, shown.frameAt(from)));
        QTest::mouseMove(view, QPoint(to + 50, y));
        QCOMPARE(text("pointerReadout").toStdString(), clock.text(Notation::TimeOfDay, shown.frameAt(to + 50)));
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);  // the whole drag, in one step
        QCOMPARE(range(), whole);
        QCOMPARE(text("endTCText").toStdString(), clock.text(Notation::TimeOfDay, whole.second));
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(range(), selected);
        QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(to + 100, y));  // nearer the out point
        QCOMPARE(range(), std::pair(selected.first, clock.snap(shown.frameAt(to + 100), true)));
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(range(), selected);
        // The rate chosen is a step too; undoing it puts back the box and the texts.
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier), QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ctl<QComboBox>("rateBox")->currentText() + " " + text("startTCText"), QString("Seconds 10:00:00"));
        QVERIFY(!w->findChild<QAction*>("undoAction")->isEnabled());
        // At sample zoom the ruler counts samples past the label.
        ctl<QComboBox>("rateBox")->setCurrentText("25 fps");
        for (int i = 0; i < 40; ++i) QTest::keyClick(w.get(), Qt::Key_Plus, Qt::ControlModifier);
        QStringList labels;
        for (const auto& mark : shown.marks(*view->times(), 100)) if (!mark.label.empty()) labels << QString::fromStdString(mark.label);
        QVERIFY2(labels.size() >= 2 && labels[1].contains("+"), qPrintable(labels.join(' ')));
        const Clock labelled = w->controller().clock();
        QCOMPARE(text("playheadReadout").toStdString(), labelled.text(Notation::TimeOfDay, view->playhead(), true));
    }
    // In take mode every file's channels are lanes under the opened file's ruler, named by
    // their tracks, the take list names them short with the file's name behind, and the
    // Hear menu offers each lane. Unticked, the opened file stands alone again.
    void aTakeOfNineFilesHasALaneForEachTrack() {
        QString lav;
        for (int i = 1; i <= 9; ++i) {
            std::string xml = takeIXML("UID-9", "9", std::to_string(i), 1'728'000'000 + 480 * i);
            xml.insert(xml.find("</BWFXML>"), "<TRACK_LIST><TRACK><NAME>Lav " + std::to_string(i) + "</NAME></TRACK></TRACK_LIST>");
            const QString file = path(QString("S12T3_%1.wav").arg(i));
            WavWriter().ixml(xml).fmt(1).data(audioPattern(48000 * 3)).write(QFile::encodeName(file).toStdString());
            if (i == 4) lav = file;
        }
        QSettings().setValue("take/whole", true), ended.reset(), w = std::make_unique<ScriptedWindow>(), w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        open(*w, lav);
        WaveformView* view = w->timeline()->view();
        QStringList lanes = view->laneNames();
        QCOMPARE(lanes.size(), 9);
        QCOMPARE(lanes.mid(0, 3), QStringList({"Lav 4", "Lav 1", "Lav 2"}));
        QVERIFY2(text("takeList").contains("<a href=\"S12T3_9.wav\" style=\"text-decoration:none\">Lav 9</a>"), qPrintable(text("takeList")));
        QList<QAction*> heard;
        for (QToolButton* button : w->timeline()->findChildren<QToolButton*>())
            if (button->menu()) heard = button->menu()->actions();
        QCOMPARE(heard.size(), 9);  // each of the nine lanes (the opened file has but one channel)
        QCOMPARE(heard.first()->text() + " " + heard.last()->text(), QString("Channel 1 (Lav 4) Channel 9 (Lav 9)"));
        ctl<QCheckBox>("wholeTakeCheckBox")->click();
        QCOMPARE(view->laneNames(), QStringList({"Lav 4"}));
        QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);  // the take box is a step to undo
        QCOMPARE(view->laneNames().size(), 9);
    }
    // Open Recent holds the files opened, newest first and ten at most, and opens them. The
    // first window takes most of the screen; the next one where the last was closed.
    void openRecentOpensTheFilesOpenedLast() {
        const QSize screen = w->screen()->availableGeometry().size();
        QVERIFY2(std::abs(w->width() - screen.width() * 0.8) <= 1 || w->width() == w->minimumSizeHint().width(),
                 qPrintable(QString("%1 of %2").arg(w->width()).arg(screen.width())));
        w->resize(w->size() - QSize(40, 30));
        const QSize closed = w->size();
        QVERIFY(w->close());
        ScriptedWindow next;
        QCOMPARE(next.size(), closed);
        for (int i = 0; i < 12; ++i) open(*w, take(QString("t%1.wav").arg(i), 1));
        auto* recent = ctl<QMenu>("recentMenu");
        emit recent->aboutToShow();
        const QList<QAction*> items = recent->actions();
        QCOMPARE(items.size(), 10);
        QCOMPARE(items[0]->text() + " " + items[9]->text(), QString("&1 t11.wav &0 t2.wav"));
        items[3]->trigger();
        QCOMPARE(QString::fromStdString(w->controller().selectedFile->string()), path("t8.wav"));
        emit recent->aboutToShow();
        QCOMPARE(recent->actions()[0]->text(), QString("&1 t8.wav"));
    }
    void aWholeTakeIsSavedTogetherOrNotAtAll() {
        const QString card = path("card"), out = path("out"), stopped = path("stopped");
        for (const QString& folder : {card, out, stopped}) QDir().mkpath(folder);
        auto writeTake = [&](double seconds) {  // three members whose stamps differ by a few samples
            for (const auto& [name, index, delta] : {std::tuple{"T7_Tr1", "1", 0}, {"T7_Tr2", "2", 3}, {"T7_Mix", "3", -2}})
                WavWriter().ixml(takeIXML("UID-7", "3", index, 1'728'000'000 + delta)).fmt()
                    .sparseData(std::int64_t(seconds * 48000) * 6).write((card + "/" + name + ".wav").toStdString());
        };
        writeTake(60);
        open(*w, card + "/T7_Tr2.wav");
        QVERIFY2(text("detailsText").endsWith("Take: 3 files"), qPrintable(text("detailsText")));
        QVERIFY2(text("takeList").contains(">T7_Tr1</a> · <a href=\"T7_Tr2.wav\" style=\"text-decoration:none\">T7_Tr2</a> · "),
                 qPrintable(text("takeList")));
        ctl<QCheckBox>("wholeTakeCheckBox")->click();
        QVERIFY(QSettings().value("take/whole").toBool());
        type("startFileText", "0:10"), type("endFileText", "0:20");
        w->folders << card << out;
        w->convertPressed();  // the recordings' own folder: refused before anything starts
        QVERIFY2(reportedOnce("T7_"), qPrintable(w->problems.join('|')));
        w->convertPressed();
        QVERIFY(ended->wait(60000) && ended->at(0)[1].toBool());
        QVERIFY2(text("statusText") == "Saved 3 files to " + out, qPrintable(text("statusText")));
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList({"T7_Mix.wav", "T7_Tr1.wav", "T7_Tr2.wav"}));
        auto stampsIn = [&](const QString& folder) {
            QList<std::int64_t> stamps;
            for (const QString& name : QDir(folder).entryList(QDir::Files))
                stamps << BWFParser((folder + "/" + name).toStdString()).samplesSinceMidnight();
            return stamps;
        };
        const std::int64_t at10 = 1'728'000'000 + 10 * 48000 + 3;  // cut at the same sample of the day
        QCOMPARE(stampsIn(out), QList<std::int64_t>({at10, at10, at10}));
        type("startFileText", "0:15");
        for (const bool yes : {false, true}) {  // the same folder again: replaced only when the user says so
            w->replaceAnswer = yes, w->folders << out, w->convertPressed();
            QCOMPARE(w->replaceQuestions.size(), yes ? 2 : 1);
        }
        QCOMPARE(w->replaceQuestions[0], out + ": T7_Tr1.wav, T7_Tr2.wav, T7_Mix.wav");
        QVERIFY(ended->wait(60000) && ended->size() == 2 && ended->at(1)[1].toBool());
        QCOMPARE(stampsIn(out), QList<std::int64_t>({at10 + 5 * 48000, at10 + 5 * 48000, at10 + 5 * 48000}));
        writeTake(10000);  // long enough to stop: nothing of the save is left
        open(*w, card + "/T7_Tr1.wav");
        w->folders << stopped, w->convertPressed();
        QTRY_VERIFY_WITH_TIMEOUT(bar() > 0, 60000);
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(ended->wait(60000) && !ended->at(2)[1].toBool());
        QCOMPARE(QDir(stopped).entryList(QDir::Files | QDir::Hidden), QStringList());
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
        QCOMPARE(ctl<QLabel>("detailsText")->text(), QString("48 kHz · 24-bit · 2 channels"));
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
        QTest::mouseClick(ctl<QPushButton>("showInFolderButton"), Qt::LeftButton);
        QCOMPARE(w->opened, QList<QUrl>{QUrl::fromLocalFile(dir->path())});
        w->opens = false, QTest::mouseClick(ctl<QPushButton>("showInFolderButton"), Qt::LeftButton);
        QCOMPARE(text("statusText"), "No file manager could be opened to show " + dir->path() + ".");
        open(*w, path("ref.wav"));  // another file: nothing said of the last one's copy
        QVERIFY(bar() == 0 && text("statusText").isEmpty() && !ctl<QPushButton>("showInFolderButton")->isVisible());
    }
    void saveFollowsTheRangeAsItIsTyped() {
        const char* fileControls[] = {"startTCText", "startFileText", "startFromEndText", "endTCText", "endFileText",
                                      "endFromEndText", "startSlider", "endSlider", "rateBox"};
        auto state = [&] { return std::pair(saveButton()->isEnabled(), text("saveReasonText")); };
        for (const char* name : fileControls) QVERIFY2(!ctl<QWidget>(name)->isEnabled(), name);
        QCOMPARE(state(), std::pair(false, QString("Open a recording first.")));
        open(*w, take("take.wav", 60));
        for (const char* name : fileControls) QVERIFY2(ctl<QWidget>(name)->isEnabled(), name);
        const QString same = "In and out are the same: the copy would be empty.";
        // A point typed past the other is refused on Enter, and the range keeps its last good value.
        const std::tuple<const char*, const char*, bool, QString> steps[] = {
            {"endFileText", "0:00", false, same}, {"endFileText", "0:30", true, ""},
            {"startFileText", "0:40", true, ""}, {"startFileText", "0:10", true, ""},
            {"endFromEndText", "0:50", false, same}, {"endFromEndText", "0:55", false, same}};
        for (const auto& [field, typed, enabled, reason] : steps) {
            ctl(field)->selectAll(), QTest::keyClicks(ctl(field), typed);  // still typing
            QVERIFY2(state() == std::pair(enabled, reason), typed);
            QTest::keyClick(ctl(field), Qt::Key_Return);
            QVERIFY2(state() == std::pair(enabled, reason), typed);
        }
        QCOMPARE(text("statusText"), QString("the out point 10:00:05 would lie before the in point 10:00:10"));
        QTest::mouseClick(saveButton(), Qt::LeftButton), QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY(w->offered.size() == 1 && w->problems.isEmpty());  // only the open dialog
    }
    void dialogsStartBesideTheRecordingAndOfferAName() {
        open(*w, take("take.wav", 60));  // nothing remembered yet
        w->filePickerPressed();
        ctl<QComboBox>("rateBox")->setCurrentText("29.97 DF fps");
        type("startTCText", "10:00:05;12");
        save("");
        ctl<QComboBox>("rateBox")->setCurrentText("Seconds");
        save("");
        QCOMPARE(w->offered, QStringList({"", dir->path(), path("take_10000512.wav"), path("take_trim.wav")}));
        ScriptedWindow fresh;  // no recording open: where the last was opened from
        fresh.filePickerPressed();
        QCOMPARE(fresh.offered, QStringList{dir->path()});
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
    void theQuitQuestionClosesItselfWhenTheCopyEnds() {
        open(*w, take("long.wav", 10000));
        save(path("scene.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(bar() > 0, 60000);
        w->realQuestion = true;
        // While the question is open the copy ends (cancelled from elsewhere). A box still open later says "Keep Saving".
        QTimer::singleShot(200, w.get(), [this] { w->convertPressed(); });
        QTimer::singleShot(20000, w.get(), [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
        });
        QVERIFY(w->close() && !w->isVisible() && w->stopQuestions == 1);
    }
    void whileACopyRunsItsFileAndPointsStay() {
        const char* locked[] = {"openButton", "wholeTakeCheckBox", "weirdTCCheckBox", "startTCText", "startFileText",
                                "startFromEndText", "endTCText", "endFileText", "endFromEndText", "startSlider", "endSlider"};
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(take("other.wav", 60))});
        auto dropTaken = [&] {
            QDragEnterEvent drag(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
            return QApplication::sendEvent(w.get(), &drag), drag.isAccepted();
        };
        open(*w, take("long.wav", 10000));  // 2.9 GB: far longer than these steps take
        ctl<QComboBox>("rateBox")->setCurrentText("25 fps");
        type("startTCText", "10:00:05:00"), type("endTCText", "12:30:00:00");
        save(path("scene.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(bar() > 0, 60000);
        const QString saving = "Saving 10:00:05:00–12:30:00:00 of long.wav to scene.wav…";
        QCOMPARE(text("statusText"), saving);
        for (const char* name : locked) QVERIFY2(!ctl<QWidget>(name)->isEnabled(), name);
        QVERIFY(!w->findChild<QAction*>("openAction")->isEnabled() && !dropTaken() && !w->openFile(path("other.wav")));
        // Neither the keys nor the handles move a point; a message stands under the line, which stays.
        WaveformView* view = w->timeline()->view();
        const auto range = std::pair(in(), *w->controller().newEnd);
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() / 2, 60));
        for (Qt::Key key : {Qt::Key_I, Qt::Key_O, Qt::Key_Space}) QTest::keyClick(w.get(), key);
        const int handle = qRound(view->timeline().xAt(in()));
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(handle, 80));
        QTest::mouseMove(view, QPoint(handle + 60, 80)), QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(handle + 60, 80));
        QCOMPARE(std::pair(in(), *w->controller().newEnd), range);
        QVERIFY2(text("statusText").startsWith(saving + "\nNo audio output"), qPrintable(text("statusText")));
        QTest::keyClick(w.get(), Qt::Key_Escape);  // cancelled: the window is the user's again
        for (const char* name : locked) QVERIFY2(ctl<QWidget>(name)->isEnabled(), name);
        QVERIFY(dropTaken() && ended->wait(60000) && !ended->at(0)[1].toBool());
    }
    void keepSavingClosesTheWindowOnceSaved() {
        open(*w, take("long.wav", 10000));
        save(path("scene.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(bar() > 0, 60000);
        QVERIFY(!w->close() && w->stopQuestions == 1);  // "Keep Saving"
        QVERIFY(w->isVisible() && w->copyInProgress() && text("statusText").endsWith("Keeptime closes once it is saved."));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 120000);
        QVERIFY(ended->size() == 1 && ended->at(0)[1].toBool() && files().contains("scene.wav"));
    }
    void longPathsAreElidedInTheMiddle() {
        const QString longPath = "/" + QString("recordings of the day/").repeated(12) + "take 7.wav";
        for (const QString& given : {longPath, QString("/short/take.wav")}) {
            auto box = w->problemBox("The copy was not saved.", given, "no room left on the device");
            box->show();
            const QString shown = box->informativeText().section('\n', 0, 0);
            auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel");
            QVERIFY(label && label->fontMetrics().horizontalAdvance(shown) <= label->width());  // on one line
            QVERIFY(!shown.contains(' ') && shown.endsWith(given.section('/', -1).replace(' ', QChar(QChar::Nbsp))));
            QCOMPARE(shown.contains("…"), given == longPath);
            QCOMPARE(box->detailedText().contains(given), given == longPath);  // the whole path, when cut
        }
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
    void conformDialogReadsTheListAndSavesTheCopies() {
        take("A001.wav", 10, false);  // 10:00:00 on, naming no rate: read at 25 fps
        QFile list(path("cut.edl"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("FCM: NON-DROP FRAME\n001  X  A  C  10:00:02:00 10:00:03:00 01:00:00:00 01:00:01:00\n"
                   "* FROM CLIP NAME: A001.WAV\n002  NOPE  A  C  10:00:02:00 10:00:03:00 01:00:01:00 01:00:02:00\n");
        list.close();
        w->findChild<QAction*>("conformAction")->trigger();
        auto* dialog = w->findChild<ConformDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        dialog->setEditList(path("cut.edl"));
        dialog->addMediaFolder(dir->path());  // the table is filled as soon as both are known
        QTableWidget* events = dialog->eventsTable();
        QCOMPARE(events->rowCount(), 2);
        QCOMPARE(QStringList({events->item(0, 5)->text(), events->item(0, 6)->text(), events->item(1, 5)->text()}),
                 QStringList({"found", "A001.wav", "missing"}));
        QVERIFY(dialog->statusText().contains("1 cannot be conformed"));
        QVERIFY(!dialog->saveCopiesTo(dir->path()));  // a media folder is refused: a later read would take the copies
        QVERIFY(QDir().mkdir(path("out")));
        QSignalSpy saved(dialog, &ConformDialog::saveEnded);
        QVERIFY(dialog->saveCopiesTo(path("out")));
        QVERIFY(saved.wait(60000));
        QVERIFY2(saved[0][0].toBool(), qPrintable(dialog->statusText()));
        QCOMPARE(events->item(0, 5)->text(), QString("copied"));
        // Two seconds of handles each side, clamped at the file's start: its first 5 s.
        QCOMPARE(QDir(path("out")).entryList(QDir::Files), QStringList{"A001_10000000.wav"});
        const BWFParser copy(path("out/A001_10000000.wav").toStdString());
        QCOMPARE(copy.frames(), std::int64_t(5 * 48000));
        QCOMPARE(copy.samplesSinceMidnight(), std::int64_t(1'728'000'000));
    }
    void segmentsAreAddedEditedUndoneSavedAndRestored() {
        open(*w, take("take.wav", 60));
        SegmentsPanel* panel = w->segmentsPanel();
        auto* table = ctl<QTableWidget>("segmentsTable");
        const auto spans = [&] {
            QStringList rows;
            for (const Segment& s : panel->segments()) rows << QString("%1-%2").arg(s.first / 48000).arg(s.end / 48000);
            return rows.join(" ");
        };
        type("startTCText", "10:00:05"), type("endTCText", "10:00:10");
        QTest::keyClick(w.get(), Qt::Key_A);  // A adds the range
        type("endTCText", "10:00:30"), type("startTCText", "10:00:20");
        QTest::keyClick(w->timeline()->view(), Qt::Key_Return);  // and so does Enter in the waveform
        QCOMPARE(spans(), QString("5-10 20-30"));
        QCOMPARE(table->item(1, 3)->text(), QString("0:10"));
        // Typed cells go through the time language; a refused one goes back and says why.
        table->item(0, 2)->setText("10:00:08");
        table->item(1, 1)->setText("10:00:40");
        QCOMPARE(spans(), QString("5-8 20-30"));
        QCOMPARE(table->item(1, 1)->text(), QString("10:00:20"));
        QVERIFY2(panel->statusText().startsWith("Segment 2:"), qPrintable(panel->statusText()));
        table->selectRow(0);  // its range goes under the handles
        QCOMPARE(std::pair(in(), *w->controller().newEnd), std::pair(std::int64_t(5 * 48000), std::int64_t(8 * 48000)));
        type("endTCText", "10:00:09");  // and moving them edits it
        QCOMPARE(spans(), QString("5-9 20-30"));
        table->selectRow(1), table->setFocus(), QTest::keyClick(table, Qt::Key_Delete);
        QCOMPARE(spans(), QString("5-9"));
        auto* undo = w->findChild<QAction*>("undoAction");
        undo->trigger();  // the delete, in one step
        QCOMPARE(spans(), QString("5-9 20-30"));
        undo->trigger(), undo->trigger();  // the selection, then the out point with the row that followed it
        QCOMPARE(std::pair(spans(), *w->controller().newEnd), std::pair(QString("5-8 20-30"), std::int64_t(8 * 48000)));
        for (int i = 0; i < 2; ++i) w->findChild<QAction*>("redoAction")->trigger();
        QCOMPARE(spans(), QString("5-9 20-30"));
        // All or none, named before anything is written.
        QVERIFY(QDir().mkdir(path("out")));
        QSignalSpy saved(panel, &SegmentsPanel::saveEnded);
        w->folders << path("out"), QTest::mouseClick(ctl<QPushButton>("saveSegmentsButton"), Qt::LeftButton);
        QCOMPARE(w->segmentNames, QStringList{path("out") + ": take_1.wav, take_2.wav"});
        QVERIFY(saved.wait(60000) && saved[0][0].toBool());
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList({"take_1.wav", "take_2.wav"}));
        for (const auto& [name, first, seconds] : {std::tuple("take_1.wav", 5, 4), std::tuple("take_2.wav", 20, 10)}) {
            const BWFParser copy(path(QString("out/") + name).toStdString());
            QCOMPARE(copy.frames(), std::int64_t(seconds * 48000));
            QCOMPARE(copy.samplesSinceMidnight(), std::int64_t(1'728'000'000 + first * 48000));
        }
        // A second save would replace them: refused, naming the file, nothing started.
        w->folders << path("out"), QTest::mouseClick(ctl<QPushButton>("saveSegmentsButton"), Qt::LeftButton);
        QVERIFY(reportedOnce("take_1.wav") && !panel->saving());
        // The list was kept beside the recording, which is untouched, and is offered when it opens again.
        QVERIFY(QFile::exists(path("take.keeptime.json")));
        const QByteArray recording = contents(path("take.wav"));
        ScriptedWindow again;
        open(again, path("take.wav"));
        QCOMPARE(again.restoreOffers, QList<std::size_t>{2});
        QCOMPARE(again.segmentsPanel()->segments(), panel->segments());
        QCOMPARE(contents(path("take.wav")), recording);
    }
    void segmentsOfAWholeTakeAreCutFromEveryFile() {
        QDir().mkpath(path("card")), QDir().mkpath(path("seg"));
        for (const auto& [name, index, delta] : {std::tuple{"T7_Tr1", "1", 0}, {"T7_Tr2", "2", 3}})
            WavWriter().ixml(takeIXML("UID-7", "3", index, 1'728'000'000 + delta)).fmt()
                .sparseData(20 * 48000 * 6).write(path(QString("card/") + name + ".wav").toStdString());
        open(*w, path("card/T7_Tr1.wav"));
        ctl<QCheckBox>("wholeTakeCheckBox")->click();
        ctl("everyText")->setText("5"), ctl<QPushButton>("everyButton")->click();  // seconds: four pieces
        QCOMPARE(w->segmentsPanel()->segments().size(), std::size_t(4));
        QSignalSpy saved(w->segmentsPanel(), &SegmentsPanel::saveEnded);
        QVERIFY(w->segmentsPanel()->saveAllTo(path("seg")));
        QVERIFY(saved.wait(60000) && saved[0][0].toBool());
        QCOMPARE(QDir(path("seg")).entryList(QDir::Files).size(), 8);
        // Each member's piece starts at the same time of day as the opened file's.
        QCOMPARE(BWFParser(path("seg/T7_Tr2_2.wav").toStdString()).samplesSinceMidnight(),
                 BWFParser(path("seg/T7_Tr1_2.wav").toStdString()).samplesSinceMidnight());
    }
};

QTEST_MAIN(TrimWindowTest)
#include "TrimWindowTest.moc"
