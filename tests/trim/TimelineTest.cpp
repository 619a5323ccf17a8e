#include <gtest/gtest.h>

#include "trim/Timeline.hpp"

namespace keeptime {
namespace {

// An hour at 48 kHz stamped 10:00:00 of the clock (09:59:24:00 at 23.976).
Clock hourAt(const char* rate) {
    return {3600LL * 48000, 48000, 10LL * 3600 * 48000, {48000, 1}, parseRateOption(rate)};
}

// Every label lands on the first frame of its time of day, labels read in order,
// and the finest step still leaves room for them.
TEST(Timeline, RulerLabelsRoundTimesOfDay) {
    const struct { const char* rate; double zoom; const char *first, *second; } cases[] = {
        {"25", 1, "10:00:00:00", "10:10:00:00"},          // the whole hour on 1000 pixels
        {"25", 4000, "10:00:00:00", "10:00:00:05"},       // a second and a half: five-frame steps
        {"29.97df", 40, "10:00:10;00", "10:00:20;00"},   // the file starts at 10:00:00;01
        {"29.97df", 3, "10:02:00;02", "10:04:00;02"},    // labels the count skips: the next one
        {"23.976", 1, "10:00:00:00", "10:10:00:00"},
        {"", 3000, "10:00:00.0", "10:00:00.2"},           // seconds with decimals
    };
    for (const auto& c : cases) {
        Timeline view;
        view.setWidth(1000);
        view.setFrames(3600LL * 48000);
        view.zoom(c.zoom, 0);
        const Clock file = hourAt(c.rate);
        std::vector<Timeline::Mark> labels;
        for (const auto& mark : view.marks(file, 90)) if (!mark.label.empty()) labels.push_back(mark);
        ASSERT_GE(labels.size(), 2u) << c.rate << " " << c.zoom;
        EXPECT_EQ(labels[0].label, c.first) << c.rate << " " << c.zoom;
        EXPECT_EQ(labels[1].label, c.second) << c.rate << " " << c.zoom;
        EXPECT_GE(labels[1].x - labels[0].x, 90) << c.rate << " " << c.zoom;
        const std::int64_t frame = view.frameAt(labels[0].x);
        EXPECT_EQ(file.read(Notation::TimeOfDay, c.first, false).frame, frame) << c.rate << " " << c.zoom;
    }
}

// Zoomed in until a label spans more than the view, the ruler counts samples past each
// label: round counts, the label alone on its first frame, and each mark where its frame is.
TEST(Timeline, RulerAtSampleZoomCountsSamplesPastTheLabel) {
    const struct { const char* rate; double firstFrame; const char *first, *second; } cases[] = {
        {"25", 1920.0 * 250 + 100, "10:00:10:00+100", "10:00:10:00+110"},  // from inside a label
        {"25", 1920.0 * 250 - 30, "10:00:09:24+1890", "10:00:09:24+1900"}, // across a label's start
        {"29.97df", 48000.0 * 60, "10:00:59;29+450", "10:00:59;29+460"},
        {"", 48000.0 * 10 + 7, "10:00:10.0002", "10:00:10.0004"},  // seconds: as many decimals as name the frame
    };
    for (const auto& c : cases) {
        Timeline view;
        view.setWidth(1000);
        view.setFrames(3600LL * 48000);
        view.zoom(1e12, 0);
        view.scrollTo(c.firstFrame);
        const Clock file = hourAt(c.rate);
        std::vector<Timeline::Mark> labels;
        for (const auto& mark : view.marks(file, 90)) if (!mark.label.empty()) labels.push_back(mark);
        ASSERT_GE(labels.size(), 3u) << c.rate;
        EXPECT_EQ(labels[0].label, c.first) << c.rate;
        EXPECT_EQ(labels[1].label, c.second) << c.rate;
        EXPECT_GE(labels[1].x - labels[0].x, 90) << c.rate;
        for (const auto& mark : labels)
            EXPECT_EQ(file.text(Notation::TimeOfDay, view.frameAt(mark.x), true), mark.label) << c.rate;
    }
}

TEST(Timeline, ZoomKeepsTheAnchorAndStaysInTheFile) {
    Timeline view;
    view.setWidth(800);
    view.setFrames(48000 * 60);
    const std::int64_t anchored = view.frameAt(600);
    view.zoom(100, 600);
    EXPECT_EQ(view.frameAt(600), anchored);
    EXPECT_FALSE(view.wholeInView());
    view.zoom(1e12, 0);  // no closer than single samples
    EXPECT_DOUBLE_EQ(view.framesPerPixel(), 1 / Timeline::kMaxPixelsPerFrame);
    view.scrollBy(1e12);
    EXPECT_EQ(view.frameAt(800), 48000 * 60);
    view.zoom(1e-12, 0);  // no further out than the whole take
    EXPECT_TRUE(view.wholeInView());
    view.setWidth(1600);  // a whole view stays whole when the window grows
    EXPECT_TRUE(view.wholeInView());
}

TEST(Timeline, FollowPagesToAPlayheadOutOfView) {
    Timeline view;
    view.setWidth(1000);
    view.setFrames(48000 * 600);
    view.zoom(100, 0);  // 4.8 frames a pixel: 4800 frames in view
    view.follow(3000);
    EXPECT_EQ(view.first(), 0);  // in view: nothing moves
    view.follow(6000);
    EXPECT_GE(view.xAt(6000), 0);
    EXPECT_LT(view.xAt(6000), 100);
}

}  // namespace
}  // namespace keeptime
