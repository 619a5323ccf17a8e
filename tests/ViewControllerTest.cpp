#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "bwf/BWFError.hpp"
#include "tests/TempDir.hpp"
#include "tests/WavWriter.hpp"
#include "window/ViewController.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

class FakeView : public TrimView {
public:
    void setText(Element e, const std::string& t) override { texts[e] = t; }
    std::string text(Element e) const override { return texts.count(e) ? texts.at(e) : ""; }
    void setSliderValue(Element e, double v) override { sliders[e] = v; }
    double sliderValue(Element e) const override { return sliders.at(e); }

    std::map<Element, std::string> texts;
    std::map<Element, double> sliders;
};

class ViewControllerTest : public ::testing::Test {
protected:
    // A 48 kHz stereo 24-bit file of `seconds`, plus `extraBytes` of a partial frame.
    void load(double seconds, std::int64_t stamp = 1728000000, std::size_t extraBytes = 0) {
        const auto bytes = static_cast<std::size_t>(seconds * 48000) * 6 + extraBytes;
        WavWriter().ixml(ixmlText(std::to_string(stamp), {})).fmt().sparseData(static_cast<std::int64_t>(bytes))
            .write(dir / "take.wav");
        controller.loadFile(dir / "take.wav");
        controller.updateDisplay();
    }
    void type(Element field, const std::string& text, void (ViewController::*action)()) {
        view.texts[field] = text;
        (controller.*action)();
    }
    std::string shown(Element e) { return view.texts[e]; }

    TempDir dir;
    FakeView view;
    std::ostringstream log;
    ViewController controller{view, log};
};

TEST_F(ViewControllerTest, AFreshLoadShowsTheWholeFile) {
    load(600);
    EXPECT_EQ(shown(Element::fileTextField), (dir / "take.wav").string());
    EXPECT_EQ(shown(Element::fileStartText), "10:00:00");
    EXPECT_EQ(shown(Element::fileEndText), "10:10:00");
    for (auto e : {Element::fileLengthText, Element::endFileText, Element::durationText, Element::startFromEndText})
        EXPECT_EQ(shown(e), "10:00");
    for (auto e : {Element::startFileText, Element::endFromEndText}) EXPECT_EQ(shown(e), "0:00");
    EXPECT_EQ(view.sliders[Element::startSlider], 100);
    EXPECT_EQ(view.sliders[Element::endSlider], 100);
    EXPECT_EQ(log.str(), "Done\n");
}

TEST_F(ViewControllerTest, APartialFrameDoesNotCount) {
    load(600, 0, 5);
    EXPECT_EQ(controller.fileEnd, 600.0);
}

TEST_F(ViewControllerTest, WeirdTCCountsTheStampAt48048) {
    load(600);
    controller.weirdTCChanged(true);
    EXPECT_DOUBLE_EQ(*controller.timecodeStart, 1728000000 / 48048.0);
    EXPECT_EQ(shown(Element::fileStartText), "09:59:24");
    EXPECT_EQ(shown(Element::fileEndText), "10:09:24");
}

TEST_F(ViewControllerTest, TypedPointsInEachNotation) {
    struct Case {
        const char* name;
        Element field;
        void (ViewController::*action)();
        std::string text;
        double expectedStart, expectedEnd;
    };
    const Case cases[] = {
        {"time of day in", Element::startTCText, &ViewController::startTCFilled, "10:00:10", 10, 600},
        {"time of day before the file", Element::startTCText, &ViewController::startTCFilled, "09:00:00", 0, 600},
        {"time of day after the file", Element::endTCText, &ViewController::endTCFilled, "11:00:00", 0, 600},
        {"out before the file stays negative", Element::endTCText, &ViewController::endTCFilled, "09:59:50", 0, -10},
        {"after midnight is taken literally", Element::startTCText, &ViewController::startTCFilled, "00:00:10", 0, 600},
        {"from start", Element::startFileText, &ViewController::startFileFilled, "1:30", 90, 600},
        {"from start beyond the end", Element::startFileText, &ViewController::startFileFilled, "20:00", 1200, 600},
        {"out from start", Element::endFileText, &ViewController::endFileFilled, "5:00", 0, 300},
        {"from end", Element::startFromEndText, &ViewController::startFromEndFilled, "1:00", 540, 600},
        {"out from end", Element::endFromEndText, &ViewController::endFromEndFilled, "1:00", 0, 540},
        {"empty from start reads 0", Element::startFileText, &ViewController::startFileFilled, "", 0, 600},
        {"empty from end reads 0", Element::startFromEndText, &ViewController::startFromEndFilled, "", 600, 600},
        {"empty time of day is raised", Element::startTCText, &ViewController::startTCFilled, "", 0, 600},
        {"unreadable keeps the point", Element::endFileText, &ViewController::endFileFilled, "1.5", 0, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        load(600);
        type(c.field, c.text, c.action);
        EXPECT_EQ(controller.newStart, c.expectedStart);
        EXPECT_EQ(controller.newEnd, c.expectedEnd);
    }
}

TEST_F(ViewControllerTest, RedrawShowsEachPointInEveryNotation) {
    load(600, 1728024000);  // 10:00:00.5
    type(Element::startTCText, "10:00:10", &ViewController::startTCFilled);
    EXPECT_EQ(controller.newStart, 9.5);
    EXPECT_EQ(shown(Element::startTCText), "10:00:10");
    EXPECT_EQ(shown(Element::startFileText), "0:09");
    EXPECT_EQ(shown(Element::startFromEndText), "9:50");
    type(Element::endFileText, "1.5", &ViewController::endFileFilled);
    EXPECT_EQ(shown(Element::endFileText), "10:00") << "unreadable text is replaced by the old value";
    // Negative spans after an in point beyond the out point.
    type(Element::endTCText, "10:00:05", &ViewController::endTCFilled);
    EXPECT_EQ(shown(Element::durationText), "-0:05");
}

TEST_F(ViewControllerTest, SlidersPushTheOtherPoint) {
    load(600);
    type(Element::endFileText, "5:00", &ViewController::endFileFilled);
    view.sliders[Element::startSlider] = 0;  // the file's end
    controller.startSliderMoved();
    EXPECT_EQ(controller.newStart, 600);
    EXPECT_EQ(controller.newEnd, 600);
    EXPECT_EQ(shown(Element::durationText), "0:00");
    view.sliders[Element::endSlider] = 0;
    controller.endSliderMoved();
    EXPECT_EQ(controller.newStart, 0);
    EXPECT_EQ(controller.newEnd, 0);
    view.sliders[Element::endSlider] = 25;
    controller.endSliderMoved();
    EXPECT_EQ(controller.newEnd, 150);
    EXPECT_EQ(view.sliders[Element::endSlider], 25);
    EXPECT_EQ(view.sliders[Element::startSlider], 100);
}

TEST_F(ViewControllerTest, NothingHappensBeforeAFileIsLoaded) {
    controller.startTCFilled();
    controller.endSliderMoved();
    controller.updateDisplay();
    controller.weirdTCChanged(true);
    EXPECT_TRUE(view.texts.empty());
    EXPECT_FALSE(controller.conversionRequest("out.wav"));
    EXPECT_TRUE(controller.weirdTC);
}

TEST_F(ViewControllerTest, ARefusedFileKeepsTheLoadedOne) {
    load(600);
    type(Element::startFileText, "1:00", &ViewController::startFileFilled);
    writeFile(dir / "bad.wav", Bytes{'R', 'I', 'F', 'F'});
    EXPECT_THROW(controller.loadFile(dir / "bad.wav"), BWFError);
    EXPECT_EQ(controller.selectedFile, dir / "take.wav");
    EXPECT_EQ(controller.newStart, 60);
    EXPECT_EQ(shown(Element::fileTextField), (dir / "take.wav").string());
}

TEST_F(ViewControllerTest, AZeroLengthFileShowsSaneSliders) {
    load(0);
    EXPECT_EQ(shown(Element::fileLengthText), "0:00");
    EXPECT_EQ(view.sliders[Element::startSlider], 100);
    EXPECT_EQ(view.sliders[Element::endSlider], 100);
}

TEST_F(ViewControllerTest, AConversionTakesTheRangeAsItStood) {
    load(3);
    type(Element::startFileText, "1", &ViewController::startFileFilled);
    auto request = controller.conversionRequest(dir / "out.wav");
    type(Element::startFileText, "2", &ViewController::startFileFilled);  // after the job was taken
    std::vector<std::int64_t> reports;
    auto outcome = controller.runConversion(*request, [&](std::int64_t p) { reports.push_back(p); });
    EXPECT_TRUE(outcome.completed()) << outcome.message;
    EXPECT_EQ(controller.reconstructor.load()->startFrame(), 48000);
    EXPECT_EQ(reports, (std::vector<std::int64_t>{0, 100}));
    EXPECT_FALSE(controller.copyRunning());
    EXPECT_FALSE(controller.cancelRunningCopy());
}

}  // namespace
