#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "bwf/BWFError.hpp"
#include "tests/WavWriter.hpp"
#include "trim/ViewController.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

struct FakeView : TrimView {
    void setText(Element e, const std::string& t) override { texts[e] = t; }
    std::string text(Element e) const override { return texts.count(e) ? texts.at(e) : ""; }
    void setSliderValue(Element e, double v) override { sliders[e] = v; }
    double sliderValue(Element e) const override { return sliders.at(e); }
    std::map<Element, std::string> texts;
    std::map<Element, double> sliders;
};

using E = Element;
using Action = void (ViewController::*)();

class ViewControllerTest : public ::testing::Test {
protected:
    // A 48 kHz stereo 24-bit take of `seconds` plus `extraBytes`, stamped 10:00:00 by default.
    void load(double seconds, std::int64_t stamp = 1728000000, std::int64_t extraBytes = 0) {
        WavWriter().ixml(ixmlText(std::to_string(stamp), {})).fmt().sparseData(std::int64_t(seconds * 48000) * 6 + extraBytes)
            .write(dir / "take.wav");
        controller.loadFile(dir / "take.wav"), controller.updateDisplay();
    }
    void type(E field, const std::string& text, Action action) { view.texts[field] = text, (controller.*action)(); }
    TempDir dir;
    FakeView view;
    std::ostringstream log;
    ViewController controller{view, &log};
};

TEST_F(ViewControllerTest, AFreshLoadShowsTheWholeFile) {
    load(600, 1728000000, 5);  // the 5 bytes of a partial frame do not count
    EXPECT_EQ(controller.fileEnd, 600.0);
    const std::map<E, std::string> expected = {
        {E::fileTextField, (dir / "take.wav").string()}, {E::fileStartText, "10:00:00"}, {E::fileEndText, "10:10:00"},
        {E::fileLengthText, "10:00"}, {E::endFileText, "10:00"}, {E::durationText, "10:00"},
        {E::startFromEndText, "10:00"}, {E::startFileText, "0:00"}, {E::endFromEndText, "0:00"},
        {E::startTCText, "10:00:00"}, {E::endTCText, "10:10:00"}};
    for (const auto& [element, text] : expected) EXPECT_EQ(view.texts[element], text);
    EXPECT_EQ(std::pair(view.sliders[E::startSlider], view.sliders[E::endSlider]), std::pair(100.0, 100.0));
    EXPECT_EQ(log.str(), "Done\n");
}

TEST_F(ViewControllerTest, TypedPointsInEachNotationAndTheClamps) {
    const std::tuple<const char*, E, Action, std::string, double, double> cases[] = {
        {"after midnight is taken literally", E::startTCText, &ViewController::startTCFilled, "00:00:10", 0, 600},
        {"time of day after the file is lowered", E::endTCText, &ViewController::endTCFilled, "11:00:00", 0, 600},
        {"an out point before the file stays", E::endTCText, &ViewController::endTCFilled, "09:59:50", 0, -10},
        {"from the start, past the end", E::startFileText, &ViewController::startFileFilled, "20:00", 1200, 600},
        {"out from the start", E::endFileText, &ViewController::endFileFilled, "5:00", 0, 300},
        {"before the end", E::startFromEndText, &ViewController::startFromEndFilled, "1:00", 540, 600},
        {"out before the end", E::endFromEndText, &ViewController::endFromEndFilled, "1:00", 0, 540},
        {"empty reads 0", E::startFromEndText, &ViewController::startFromEndFilled, "", 600, 600},
        {"unreadable keeps the point", E::endFileText, &ViewController::endFileFilled, "1.5", 0, 600},
    };
    for (const auto& [name, field, action, text, start, end] : cases) {
        load(600);
        type(field, text, action);
        EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(start, end)) << name;
    }
}

TEST_F(ViewControllerTest, EveryFieldShowsThePointInItsOwnNotation) {
    load(600, 1728024000);  // 10:00:00.5
    type(E::startTCText, "10:00:10", &ViewController::startTCFilled);
    EXPECT_EQ(controller.newStart, 9.5);
    EXPECT_EQ(view.texts[E::startTCText] + " " + view.texts[E::startFileText], "10:00:10 0:09");
    type(E::endFileText, "1.5", &ViewController::endFileFilled);  // unreadable: the point is put back
    type(E::endTCText, "10:00:05", &ViewController::endTCFilled);
    EXPECT_EQ(view.texts[E::endFileText] + " " + view.texts[E::durationText], "0:04 -0:05");
    // A clamped point is drawn clamped in every field, not as typed.
    type(E::startTCText, "09:00:00", &ViewController::startTCFilled);
    EXPECT_EQ(view.texts[E::startTCText] + " " + view.texts[E::startFileText] + " " + view.texts[E::startFromEndText],
              "10:00:00 0:00 10:00");
    type(E::endFromEndText, "-1:00", &ViewController::endFromEndFilled);
    EXPECT_EQ(view.texts[E::endTCText] + " " + view.texts[E::endFileText] + " " + view.texts[E::endFromEndText],
              "10:10:00 10:00 0:00");
}

TEST_F(ViewControllerTest, SlidersPushTheOtherPoint) {
    load(600);
    type(E::endFileText, "5:00", &ViewController::endFileFilled);
    view.sliders[E::startSlider] = 0, controller.startSliderMoved();  // the file's end: the out point is pushed along
    EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(600.0, 600.0));
    view.sliders[E::endSlider] = 25, controller.endSliderMoved();  // the in point is pushed back
    EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(150.0, 150.0));
    EXPECT_EQ(view.sliders[E::startSlider], 75);
}

TEST_F(ViewControllerTest, NothingHappensWithoutAFile) {
    controller.startTCFilled(), controller.endSliderMoved(), controller.weirdTCChanged(true);
    EXPECT_TRUE(view.texts.empty());
    EXPECT_THROW(controller.startCopy("out.wav"), BWFError);
}

// A copy takes the range as it stood; the controller knows which copy is newest and
// which still run, and cancels each, also before its job is built.
TEST_F(ViewControllerTest, CopiesAreTrackedAndCancelled) {
    load(3);
    type(E::startFileText, "1", &ViewController::startFileFilled);
    auto copy = controller.startCopy(dir / "out.wav");
    type(E::startFileText, "2", &ViewController::startFileFilled);  // after the copy was started
    EXPECT_TRUE(controller.newestRunning());
    std::vector<std::int64_t> reports;
    EXPECT_TRUE(controller.runCopy(*copy, [&](std::int64_t p) { reports.push_back(p); }).completed());
    EXPECT_EQ(std::pair(copy->request.startFrame, reports), std::pair(std::int64_t(48000), std::vector<std::int64_t>{0, 100}));
    EXPECT_FALSE(controller.newestRunning() || controller.cancelRunningCopy());
    controller.copyEnded(copy);

    auto early = controller.startCopy(dir / "early.wav");  // cancelled before its job exists
    EXPECT_TRUE(controller.cancelRunningCopy());
    EXPECT_EQ(controller.runCopy(*early, {}).status, CopyOutcome::Status::Cancelled);

    load(10000);  // 2.9 GB of sparse audio: the copy runs long enough to be cancelled
    auto running = controller.startCopy(dir / "long.wav");
    std::atomic<bool> started = false;
    CopyOutcome outcome;
    std::thread worker([&] {
        outcome = controller.runCopy(*running, [&](std::int64_t) { started = true; });
        started = true;
    });
    while (!started) std::this_thread::yield();
    EXPECT_TRUE(controller.anyRunning());
    EXPECT_TRUE(controller.cancelRunningCopy());
    worker.join();
    EXPECT_EQ(outcome.status, CopyOutcome::Status::Cancelled);
    EXPECT_FALSE(controller.anyRunning() || std::filesystem::exists(dir / "long.wav"));
}

}  // namespace
