#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "base/BWFError.hpp"
#include "tests/WavWriter.hpp"
#include "timecode/TimeString.hpp"
#include "trim/Details.hpp"
#include "trim/ViewController.hpp"

using namespace keeptime;
using namespace keeptime::testing;

namespace {

struct FakeView : TrimView {
    void setText(Element e, const std::string& t) override { texts[e] = t; }
    std::string text(Element e) const override { return texts.count(e) ? texts.at(e) : ""; }
    void setSliderValue(Element e, double v) override { sliders[e] = v; }
    double sliderValue(Element e) const override { return sliders.at(e); }
    void showStatus(const std::string& message) override { status = message; }
    std::string status;
    std::map<Element, std::string> texts;
    std::map<Element, double> sliders;
};

using E = Element;
using Action = void (ViewController::*)();
using VC = ViewController;
using I = std::int64_t;

class ViewControllerTest : public ::testing::Test {
protected:
    // A 48 kHz stereo 24-bit take of `seconds` plus `extraBytes`, stamped 10:00:00 by default; `xml` adds to its iXML.
    void load(double seconds, I stamp = 1728000000, I extraBytes = 0, const std::string& xml = "") {
        WavWriter().ixml(ixmlText(std::to_string(stamp), {}, xml)).fmt()
            .sparseData(std::int64_t(seconds * 48000) * 6 + extraBytes).write(dir / "take.wav");
        controller.loadFile(dir / "take.wav"), controller.updateDisplay();
    }
    void type(E field, const std::string& text, Action action) { view.texts[field] = text, (controller.*action)(); }
    std::string texts(std::initializer_list<E> fields) {
        std::string joined;
        for (E field : fields) joined += (joined.empty() ? "" : " ") + view.texts[field];
        return joined;
    }
    TempDir dir;
    FakeView view;
    std::ostringstream log;
    ViewController controller{view, &log};
};

const std::string ntsc = "</NOTE><TIMECODE_RATE>30000/1001</TIMECODE_RATE><TIMECODE_FLAG>DF</TIMECODE_FLAG><NOTE>";

TEST_F(ViewControllerTest, AFreshLoadShowsTheWholeFile) {
    load(600, 1728000000, 5);  // the 5 bytes of a partial frame do not count
    EXPECT_EQ(controller.newEnd, 600 * 48000);
    EXPECT_EQ(texts({E::fileTextField}), (dir / "take.wav").string());
    EXPECT_EQ(texts({E::fileStartText, E::fileEndText, E::fileLengthText, E::durationText}),
              "10:00:00 10:10:00 10:00 10:00");
    EXPECT_EQ(texts({E::startTCText, E::startFileText, E::startFromEndText}), "10:00:00 0:00 10:00");
    EXPECT_EQ(texts({E::endTCText, E::endFileText, E::endFromEndText}), "10:10:00 10:00 0:00");
    EXPECT_EQ(std::pair(view.sliders[E::startSlider], view.sliders[E::endSlider]), std::pair(600.0, 600.0));  // seconds
    EXPECT_EQ(log.str(), "Done\n");
    load(600, 1728000000, 0, ntsc);  // the file names its rate: labels with frames
    EXPECT_EQ(texts({E::fileStartText, E::fileEndText, E::fileLengthText}), "10:00:00;01 10:10:00;01 0:10:00;00");
}

// A drag across the waveform sets both points, in either direction: each on the first
// frame of its label, as the handles place them, or where it was let go without snapping.
TEST_F(ViewControllerTest, ADragSelectsARangeSnappedToLabels) {
    const std::string pal = "</NOTE><TIMECODE_RATE>25</TIMECODE_RATE><NOTE>";  // labels of 1920 frames
    const std::tuple<const char*, bool, I, I, I, I> cases[] = {
        {"left to right", true, 2000, 9000, 1920, 7680},
        {"right to left", true, 9000, 2000, 1920, 7680},
        {"on labels", true, 3840, 5760, 3840, 5760},
        {"inside one label: empty", true, 2000, 2100, 1920, 1920},
        {"without snapping", false, 2000, 9000, 2000, 9000},
        {"past the end", true, 2000, 99'999'999, 1920, 10 * 48000},
    };
    for (const auto& [name, snap, from, to, in, out] : cases) {
        load(10, 1728000000, 0, pal);
        controller.snapChanged(snap);
        controller.rangeAt(from, to);
        EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(in, out)) << name;
    }
}

TEST_F(ViewControllerTest, TypedPointsLandOnTheFirstFrameOfTheirTime) {
    const std::tuple<const char*, E, Action, std::string, std::int64_t, std::int64_t> cases[] = {
        {"a time of day", E::startTCText, &VC::startTCFilled, "10:00:10.5", 504000, 28800000},
        {"out from the start", E::endFileText, &VC::endFileFilled, "5:00.00001", 0, 14400001},
        {"before the end", E::startFromEndText, &VC::startFromEndFilled, "1:00", 25920000, 28800000},
    };
    for (const auto& [name, field, action, text, start, end] : cases) {
        load(600);
        type(field, text, action);
        EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(start, end)) << name;
    }
    // Text that names no point of the recording is refused, saying why; the range keeps its last good value
    // and the fields show it again; a good entry clears the refusal.
    const std::tuple<E, Action, const char*, const char*> refused[] = {
        {E::startTCText, &VC::startTCFilled, "09:00:00", "\"09:00:00\" lies outside the recording (10:00:00–10:10:00)"},
        {E::endTCText, &VC::endTCFilled, "11:00:00", "\"11:00:00\" lies outside the recording (10:00:00–10:10:00)"},
        {E::startFileText, &VC::startFileFilled, "20:00", "\"20:00\" lies outside the recording (0:00–10:00)"},
        {E::endFileText, &VC::endFileFilled, "0:01:00:12", "\"0:01:00:12\": not a time (H:MM:SS, M:SS or S, with a fraction if you like)"},
        {E::endFromEndText, &VC::endFromEndFilled, "", "empty: type a time"},
        {E::endFileText, &VC::endFileFilled, "0:30", "the out point 10:00:30 would lie before the in point 10:09:00"},
    };
    load(600);
    type(E::startFromEndText, "1:00", &VC::startFromEndFilled);
    for (const auto& [field, action, text, why] : refused) {
        type(field, text, action);
        EXPECT_EQ(std::tuple(*controller.newStart, *controller.newEnd, view.status), std::tuple(I(25920000), I(28800000), why));
    }
    EXPECT_EQ(texts({E::endFileText, E::durationText}), "10:00 1:00") << "refused text is redrawn";
    type(E::endFileText, "9:30", &VC::endFileFilled);
    EXPECT_EQ(std::pair(*controller.newEnd, view.status), std::pair(I(27360000), std::string()));
    load(600.5);  // an out point in the last whole second takes every frame
    type(E::endFileText, "10:00", &VC::endFileFilled);
    EXPECT_EQ(controller.newEnd, 28824000);
}

// With a rate, points set by keys and drags land on the first frame of a label, and every field shows a
// whole label; without snapping a point may lie between labels, and its texts say how far past, so that
// retyping any field gives it back. In seconds every field names its frame exactly.
TEST_F(ViewControllerTest, EveryFieldRoundTrips) {
    const std::pair<E, Action> fields[] = {
        {E::startTCText, &VC::startTCFilled}, {E::startFileText, &VC::startFileFilled},
        {E::startFromEndText, &VC::startFromEndFilled}};
    const std::string rates[] = {"", "</NOTE><TIMECODE_RATE>24000/1001</TIMECODE_RATE><NOTE>", ntsc};
    for (const std::string& rate : rates)
        for (bool snap : {true, false})
            for (bool weird : {false, true})
                for (std::int64_t frame : {0, 1, 1601, 2002, 47999, 1234567}) {
                    load(60, 2190940753, 0, rate);  // from between two labels
                    controller.weirdTCChanged(weird), controller.snapChanged(snap);
                    controller.inPointAt(frame);
                    const I point = *controller.newStart;
                    EXPECT_TRUE(rate.empty() || !snap || point == 0 || controller.clock().onLabel(point)) << frame;
                    EXPECT_TRUE(snap || point == frame) << frame;
                    for (const auto& [field, action] : fields) {
                        const std::string shown = view.texts[field];
                        type(field, shown, action);
                        EXPECT_EQ(*controller.newStart, point) << shown << (weird ? " weird" : "");
                    }
                }
    controller.snapChanged(false), controller.weirdTCChanged(false);
    load(60, 2190940753, 0, rates[1]);
    controller.inPointAt(480481);
    EXPECT_EQ(texts({E::startTCText, E::startFileText}), "12:40:09:00+2 0:00:10:00+2");
}

// A clamped point is drawn clamped in every field; a take from 23:59:00 wraps at midnight and a typed time of
// day is its occurrence within the take; the mode and the rate change only the texts; sliders push the other
// point and step in labels.
TEST_F(ViewControllerTest, ClampsMidnightModesAndSliders) {
    load(180, 86340LL * 48000);
    EXPECT_EQ(texts({E::fileStartText, E::fileEndText}), "23:59:00 00:02:00");
    type(E::endTCText, "00:01:00", &VC::endTCFilled);
    type(E::startTCText, "23:59:30", &VC::startTCFilled);
    EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(I(30 * 48000), I(120 * 48000)));

    load(600);
    type(E::startFileText, "1:00", &VC::startFileFilled);
    controller.weirdTCChanged(true);  // 1728000000 samples at 48048 a second
    EXPECT_EQ(texts({E::fileStartText, E::startFileText}), "09:59:24.03596 1:00");
    controller.rateChosen(parseRateOption("25"));
    EXPECT_EQ(texts({E::fileStartText, E::startTCText}), "09:59:24:00 10:00:24:00");
    EXPECT_EQ(controller.newStart, 60 * 48000);

    load(600);  // sliders step in labels of the chosen 25 fps from 09:59:24:00 and a bit: 15001 steps
    type(E::endFileText, "0:05:00:00", &VC::endFileFilled);
    view.sliders[E::startSlider] = 0, controller.startSliderMoved();  // the file's end: the out point is pushed along
    EXPECT_EQ(std::pair(*controller.newStart, *controller.newEnd), std::pair(I(28800000), I(28800000)));
    view.sliders[E::endSlider] = 3751, controller.endSliderMoved();  // the in point is pushed back
    EXPECT_EQ(std::tuple(*controller.newStart, *controller.newEnd, view.sliders[E::startSlider]),
              std::tuple(I(7200194), I(7200194), 11250.0));
    EXPECT_EQ(texts({E::startTCText, E::startFileText}), "10:01:54:01 0:02:30:01");
}

// Nothing happens without a file, nor for an empty range. A copy takes the range as it stood; the controller
// knows which copy is newest and which still run, and cancels each, also before its job is built.
TEST_F(ViewControllerTest, CopiesAreTrackedAndCancelled) {
    controller.startTCFilled(), controller.endSliderMoved(), controller.weirdTCChanged(true);
    EXPECT_TRUE(view.texts.empty());
    EXPECT_THROW(controller.startCopy("out.wav"), BWFError);
    load(3);
    type(E::startFileText, "3", &VC::startFileFilled);
    EXPECT_THROW(controller.startCopy(dir / "out.wav"), BWFError) << "in = out";
    type(E::startFileText, "1", &VC::startFileFilled);
    auto copy = controller.startCopy(dir / "out.wav");
    type(E::startFileText, "2", &VC::startFileFilled);  // after the copy was started
    EXPECT_TRUE(controller.newestRunning());
    std::vector<std::int64_t> reports;
    EXPECT_TRUE(controller.runCopy(*copy, [&](std::int64_t p) { reports.push_back(p); }).completed());
    EXPECT_EQ(std::pair(copy->request.startFrame, reports), std::pair(I(48000), std::vector<I>{0, 100}));
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

// The window's take line: a loaded file's take is found also when its recorder writes the iXML after the audio.
TEST_F(ViewControllerTest, TheLoadedFilesTakeIsFoundWhereverItsIXMLStands) {
    for (const std::string index : {"1", "2", "3", "4", "5"})
        WavWriter().bext(1728000000).fmt().data(audioPattern(6000)).ixml(takeIXML("MC-1", "5", index, 1728000000))
            .write(dir / ("T1_" + index + ".wav"));
    controller.loadFile(dir / "T1_3.wav");
    EXPECT_EQ(controller.take.members.size(), 5u);
    EXPECT_FALSE(controller.take.missing());
}

// A cancel that comes once the copies are in place is refused, for a take as for a file: the save is complete
// and stays. Copies already in a folder are named before a take is saved there, and replaced only when asked.
TEST_F(ViewControllerTest, ALateCancelIsRefusedAndATakeReplacesOnlyWhenAsked) {
    std::filesystem::create_directory(dir / "out");
    for (const auto& [name, index] : {std::pair{"T1_1", "1"}, {"T1_2", "2"}})
        WavWriter().ixml(takeIXML("UID-1", "2", index, 1728000000)).fmt().sparseData(48000 * 6).write(dir / (std::string(name) + ".wav"));
    controller.loadFile(dir / "T1_1.wav"), controller.updateDisplay();
    const std::vector<std::filesystem::path> copies{dir / "out/T1_1.wav", dir / "out/T1_2.wav"};
    for (const bool whole : {false, true}) {
        auto copy = whole ? controller.startTakeCopy(dir / "out") : controller.startCopy(dir / "one.wav");
        bool refused = false;
        const CopyOutcome outcome = controller.runCopy(*copy, [&](std::int64_t p) { if (p == 100) refused = !copy->cancel(); });
        EXPECT_TRUE(refused && outcome.completed() && !copy->cancelled()) << whole;
        controller.copyEnded(copy);
        EXPECT_TRUE(std::filesystem::exists(whole ? copies[1] : dir / "one.wav")) << whole;
    }
    EXPECT_EQ(controller.takeCopiesIn(dir / "out"), copies);
    EXPECT_THROW(controller.startTakeCopy(dir / "out"), BWFError);
    EXPECT_THROW(controller.takeCopiesIn(dir.path()), BWFError) << "the take's own folder";
    auto again = controller.startTakeCopy(dir / "out", true);
    EXPECT_TRUE(controller.runCopy(*again, {}).completed());
}

// The details line up the format and the recorder's notes, skipping what a file does not say;
// the iXML is read as text a person reads, and only a track's own NAME is a track name.
TEST(DetailsTest, TheRecordingInAFewLines) {
    TempDir dir;
    const std::string full = "<BWFXML><SCENE>12A</SCENE><TAKE>3</TAKE><TAPE>0417</TAPE><NOTE> Boom &amp; lav\nclose </NOTE>"
                             "<TIMECODE_RATE>30000/1001</TIMECODE_RATE><TIMECODE_FLAG>DF</TIMECODE_FLAG><TRACK_LIST>"
                             "<TRACK><NAME>Boom</NAME></TRACK><TRACK><CHANNEL_INDEX>2</CHANNEL_INDEX></TRACK>"
                             "<TRACK><NAME>Lav 1</NAME></TRACK></TRACK_LIST></BWFXML>";
    const std::string odd = "<BWFXML><NAME>Mix</NAME><SCENE> </SCENE><TAKE>4<TIMECODE_RATE>25/1</TIMECODE_RATE>"
                            "<TRACK_LIST><TRACK><NAME>Boom</TRACK></BWFXML>";
    const std::tuple<const char*, WavWriter, std::string> cases[] = {
        {"everything", WavWriter().bext(0).fmt(2, 48000, 24).ixml(full).sparseData(600),
         "48 kHz · 24-bit · 2 channels · 29.97 fps drop-frame\nScene 12A · Take 3 · Tape 0417\nTracks: Boom, Lav 1\n"
         "Note: Boom & lav close"},
        {"no iXML", WavWriter().bext(0).fmt(1, 44100, 16).sparseData(600), "44.1 kHz · 16-bit · 1 channel"},
        {"unclosed and empty tags, after the audio, no stamp", WavWriter().fmt(2, 96000, 24).data(audioPattern(600)).ixml(odd),
         "96 kHz · 24-bit · 2 channels · 25 fps\nNo time stamp (taken as 00:00:00)"},
    };
    for (const auto& [name, wav, expected] : cases) {
        wav.write(dir / "take.wav");
        EXPECT_EQ(detailsText(BWFParser(dir / "take.wav")), expected) << name;
    }
}

TEST(DetailsTest, ACopyIsOfferedUnderItsInPointsLabel) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"25", "10:00:05:12", "scene.12_10000512.wav"},
        {"29.97df", "10:00:05;12", "scene.12_10000512.wav"},
        {"23.976", "10:00:03:23", "scene.12_10000323.wav"},
        {"seconds", "10:00:05.5", "scene.12_trim.wav"},
    };
    for (const auto& [rate, label, expected] : cases) {
        const Clock file{600 * 48000, 48000, 1728000000 - 48000, {48000, 1}, parseRateOption(rate)};
        const auto frame = file.read(Notation::TimeOfDay, label, false).frame;
        ASSERT_TRUE(frame) << label;
        EXPECT_EQ(copyName("/takes/scene.12.WAV", *frame, file), expected) << label;
    }
}

}  // namespace
