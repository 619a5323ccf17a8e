#include "gui/TimelinePanel.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "gui/AudioOutput.hpp"
#include "gui/WaveformView.hpp"
#include "trim/Playback.hpp"
#include "trim/Selection.hpp"

namespace keeptime {

namespace {
// The overview's size: 4 Mi values (8 MB) whatever the take's length.
constexpr std::int64_t kOverviewValues = std::int64_t{1} << 22;
constexpr int kPreviewSeconds = 2;
// A scrub grain: long enough to hear a consonant, short enough to follow the hand.
constexpr int kGrainMs = 70;
}  // namespace

TimelinePanel::TimelinePanel(QWidget* parent)
    : QWidget(parent),
      view_(new WaveformView(this)),
      scrollBar_(new QScrollBar(Qt::Horizontal, this)),
      playButton_(new QToolButton(this)),
      channelButton_(new QToolButton(this)),
      channelMenu_(new QMenu(this)),
      playheadReadout_(new QLabel(this)),
      pointerReadout_(new QLabel(this)),
      audio_(new AudioOutput(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    // The readouts: large, in the figures' own width, so that a running playhead does not jitter.
    auto* readouts = new QHBoxLayout;
    QFont large = font();
    large.setPointSizeF(font().pointSizeF() * 1.8);
    large.setStyleHint(QFont::Monospace);
    large.setFamily(QStringLiteral("monospace"));
    for (auto [label, name, tip] : {std::tuple{playheadReadout_, "playheadReadout", tr("The playhead")},
                                    std::tuple{pointerReadout_, "pointerReadout", tr("The time under the pointer")}}) {
        label->setObjectName(name);
        label->setFont(large);
        label->setToolTip(tip);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* playheadName = new QLabel(tr("Playhead"), this);
    auto* pointerName = new QLabel(tr("Pointer"), this);
    readouts->addWidget(playheadName);
    readouts->addWidget(playheadReadout_);
    readouts->addSpacing(24);
    readouts->addWidget(pointerName);
    readouts->addWidget(pointerReadout_);
    readouts->addStretch(1);
    layout->addLayout(readouts);
    layout->addWidget(view_, 1);
    layout->addWidget(scrollBar_);
    auto* buttons = new QHBoxLayout;
    layout->addLayout(buttons);
    view_->attachScrollBar(scrollBar_);

    QAction* playAction = addKey(tr("Play"), Qt::Key_Space, &TimelinePanel::playOrStop);
    markInKey_ = addKey(tr("Set In at the Playhead"), Qt::Key_I, &TimelinePanel::markIn);
    markOutKey_ = addKey(tr("Set Out at the Playhead"), Qt::Key_O, &TimelinePanel::markOut);
    addKey(tr("Play up to the In Point"), Qt::SHIFT | Qt::Key_I, &TimelinePanel::previewIn);
    addKey(tr("Play from the Out Point"), Qt::SHIFT | Qt::Key_O, &TimelinePanel::previewOut);
    addKey(tr("Playhead to In"), Qt::Key_BracketLeft, &TimelinePanel::toIn);
    addKey(tr("Playhead to Out"), Qt::Key_BracketRight, &TimelinePanel::toOut);
    QAction* zoomIn = addKey(tr("Zoom In"), QKeySequence::ZoomIn, nullptr);
    zoomIn->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(zoomIn, &QAction::triggered, view_, &WaveformView::zoomIn);
    QAction* zoomOut = addKey(tr("Zoom Out"), QKeySequence::ZoomOut, nullptr);
    connect(zoomOut, &QAction::triggered, view_, &WaveformView::zoomOut);
    QAction* whole = addKey(tr("Whole Take"), Qt::CTRL | Qt::Key_0, nullptr);
    connect(whole, &QAction::triggered, view_, &WaveformView::showWholeTake);
    QAction* levelUp = addKey(tr("Taller Waveform"), Qt::CTRL | Qt::Key_Up, nullptr);
    connect(levelUp, &QAction::triggered, view_, &WaveformView::levelUp);
    QAction* levelDown = addKey(tr("Shorter Waveform"), Qt::CTRL | Qt::Key_Down, nullptr);
    connect(levelDown, &QAction::triggered, view_, &WaveformView::levelDown);
    QAction* levelReset = addKey(tr("Full Scale"), Qt::CTRL | Qt::SHIFT | Qt::Key_Down, nullptr);
    connect(levelReset, &QAction::triggered, view_, &WaveformView::levelReset);
    viewKeys_ = {zoomIn, zoomOut, whole, levelUp, levelDown, levelReset};
    addKey(tr("Play the Kept Part"), Qt::CTRL | Qt::Key_Space, &TimelinePanel::playKeptPart);
    // L is the shuttle's, as in every editor: Loop takes Ctrl+L.
    loopKey_ = addKey(tr("Loop the Kept Part"), Qt::CTRL | Qt::Key_L, nullptr);
    loopKey_->setCheckable(true);
    connect(loopKey_, &QAction::toggled, this, &TimelinePanel::setLoop);
    addKey(tr("Shuttle Back"), Qt::Key_J, &TimelinePanel::shuttleBack);
    addKey(tr("Shuttle Stop"), Qt::Key_K, &TimelinePanel::shuttleStop);
    addKey(tr("Shuttle Forward"), Qt::Key_L, &TimelinePanel::shuttleForward);
    addKey(tr("Previous Marker"), Qt::Key_Comma, &TimelinePanel::toPreviousMarker);
    addKey(tr("Next Marker"), Qt::Key_Period, &TimelinePanel::toNextMarker);

    playButton_->setDefaultAction(playAction);
    playButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    buttons->addWidget(playButton_);
    channelButton_->setMenu(channelMenu_);
    channelButton_->setPopupMode(QToolButton::InstantPopup);
    channelButton_->setToolTip(tr("What you hear of a file with more than two channels"));
    buttons->addWidget(channelButton_);
    buttons->addStretch(1);
    for (QAction* action : {zoomOut, zoomIn, whole}) {
        auto* button = new QToolButton(this);
        button->setDefaultAction(action);
        buttons->addWidget(button);
    }
    for (QAction* action : keys_) action->setEnabled(false);

    connect(view_, &WaveformView::inDragged, this, &TimelinePanel::inWanted);
    connect(view_, &WaveformView::outDragged, this, &TimelinePanel::outWanted);
    connect(view_, &WaveformView::inDragged, this, &TimelinePanel::scrub);
    connect(view_, &WaveformView::outDragged, this, &TimelinePanel::scrub);
    connect(view_, &WaveformView::rangeDragged, this, &TimelinePanel::rangeWanted);
    connect(view_, &WaveformView::gestureStarted, this, &TimelinePanel::gestureStarted);
    connect(view_, &WaveformView::gestureEnded, this, &TimelinePanel::gestureEnded);
    connect(view_, &WaveformView::extendWanted, this, [this](std::int64_t frame) {
        if (pointsLocked_) return;
        if (nearerPoint(in_, out_, frame) == Point::In) emit inWanted(frame);
        else emit outWanted(frame);
    });
    connect(view_, &WaveformView::stretchWanted, this, [this](std::int64_t frame) {
        if (pointsLocked_) return;
        const auto [from, to] = stretchAround(markerBounds_, view_->timeline().frames(), frame);
        emit rangeWanted(from, to);
    });
    connect(view_, &WaveformView::playheadChanged, this, &TimelinePanel::showPlayhead);
    connect(view_, &WaveformView::pointerMoved, this, &TimelinePanel::showPointer);
    shuttleTimer_.setInterval(30);
    connect(&shuttleTimer_, &QTimer::timeout, this, &TimelinePanel::moveShuttle);
    connect(view_, &WaveformView::playheadMoved, this, [this](std::int64_t frame) {
        view_->setPlayhead(frame);
        if (playing()) play(frame);  // a click while playing plays from there
    });
    // Finer peaks once the view has settled, not on every wheel step.
    detailTimer_.setSingleShot(true);
    detailTimer_.setInterval(120);
    connect(&detailTimer_, &QTimer::timeout, this, &TimelinePanel::readDetail);
    connect(view_, &WaveformView::viewChanged, &detailTimer_, qOverload<>(&QTimer::start));

    playTimer_.setInterval(30);
    connect(&playTimer_, &QTimer::timeout, this, &TimelinePanel::followPlayhead);
    connect(audio_, &AudioOutput::stopped, this, [this] {
        followPlayhead();
        playTimer_.stop();
        if (returnTo_) view_->setPlayhead(*returnTo_, true);
        returnTo_.reset();
        view_->setMetering(false);
        if (!shuttleTimer_.isActive()) transport_.playing(false);
        playButton_->defaultAction()->setText(tr("Play"));
    });
    peakThreads_.setMaxThreadCount(2);
    channelButton_->setEnabled(false);
    channelButton_->setText(tr("Channels"));
}

TimelinePanel::~TimelinePanel() {
    audio_->stop();
    for (const auto& job : {overviewJob_, detailJob_})
        if (job) job->cancel();
    peakThreads_.waitForDone();
}

QAction* TimelinePanel::addKey(const QString& text, const QKeySequence& key, void (TimelinePanel::*slot)()) {
    auto* action = new QAction(text, this);
    action->setShortcut(key);
    // Keys reach the timeline from anywhere in the window, except while a field is being typed into.
    action->setShortcutContext(Qt::WindowShortcut);
    if (slot) connect(action, &QAction::triggered, this, slot);
    keys_.append(action);
    return action;
}

void TimelinePanel::load(std::shared_ptr<const FileHandle> input, const BWFParser& parser, const Clock& times) {
    stop();
    ++generation_;
    for (const auto& job : {overviewJob_, detailJob_})
        if (job) job->cancel();
    overviewJob_.reset();
    detailJob_.reset();
    try {
        reader_ = std::make_shared<const PcmReader>(input, parser);
    } catch (const BWFError& error) {
        reader_.reset();  // a layout the decoder does not read: the rest of the window still works
        emit message(QString::fromStdString(error.what()));
    }
    const int channels = reader_ ? reader_->format().channels : 1;
    const std::vector<std::string>& names = parser.takeNotes().trackNames;
    view_->setFile(times, channels, names);
    std::vector<Marker> markers = markersOf(*input, parser);
    markerBounds_ = keeptime::markerBounds(markers);
    view_->setMarkers(std::move(markers));
    showPlayhead(0);
    showPointer(std::nullopt);
    in_ = 0;
    out_ = times.frames;
    loaded_ = true;
    for (QAction* action : keys_) action->setEnabled(true);
    setPointsLocked(pointsLocked_);
    // The channels one can listen to: the first two, or any one.
    channelMenu_->clear();
    channel_ = -1;
    chooseChannel(-1);
    if (reader_ && channels > 2) {
        channelMenu_->addAction(tr("Channels 1 and 2"), this, [this] { chooseChannel(-1); });
        for (int c = 0; c < channels; ++c) {
            const bool named = names.size() == static_cast<std::size_t>(channels);
            channelMenu_->addAction(named ? tr("Channel %1 (%2)").arg(c + 1).arg(QString::fromStdString(names[static_cast<std::size_t>(c)]))
                                          : tr("Channel %1").arg(c + 1),
                                    this, [this, c] { chooseChannel(c); });
        }
    }
    channelButton_->setEnabled(reader_ && channels > 2);
    channelButton_->setVisible(reader_ && channels > 2);
    readOverview();
}

void TimelinePanel::setPointsLocked(bool locked) {
    pointsLocked_ = locked;
    view_->setHandlesLocked(locked);
    for (QAction* key : {markInKey_, markOutKey_}) key->setEnabled(!locked && loaded_);
}

void TimelinePanel::chooseChannel(int channel) {
    channel_ = channel;
    channelButton_->setText(channel < 0 ? tr("Hear: 1+2") : tr("Hear: %1").arg(channel + 1));
}

void TimelinePanel::setTimes(const Clock& times) {
    view_->setTimes(times);
    showPlayhead(view_->playhead());
}

void TimelinePanel::setRange(std::int64_t in, std::int64_t out) {
    in_ = in;
    out_ = out;
    view_->setRange(in, out);
}

// While playing, the frame being heard now, not the one last drawn.
std::int64_t TimelinePanel::playhead() const { return playing() ? audio_->playheadFrame() : view_->playhead(); }
bool TimelinePanel::playing() const { return audio_->playing(); }

void TimelinePanel::readOverview() {
    if (!reader_) return;
    const std::int64_t perBucket = framesPerBucketFor(reader_->frames(), reader_->format().channels, kOverviewValues);
    auto job = std::make_shared<PeakReader>(*reader_, perBucket);
    overviewJob_ = job;
    const int generation = generation_;
    auto reader = reader_;  // kept open while the job reads
    peakThreads_.start([this, job, reader, generation] {
        auto show = [this, generation](const Peaks& peaks) {
            auto copy = std::make_shared<const Peaks>(peaks);
            QMetaObject::invokeMethod(this, [this, copy, generation] {
                if (generation == generation_) view_->setOverview(copy);
            }, Qt::QueuedConnection);
        };
        try {
            show(job->run(show));
        } catch (const std::exception& error) {
            const QString text = QString::fromStdString(error.what());
            QMetaObject::invokeMethod(this, [this, text, generation] {
                if (generation == generation_) emit message(tr("The waveform could not be read: %1").arg(text));
            }, Qt::QueuedConnection);
        }
    });
}

void TimelinePanel::readDetail() {
    if (!reader_) return;
    const Timeline& timeline = view_->timeline();
    const std::int64_t overviewBucket = framesPerBucketFor(reader_->frames(), reader_->format().channels, kOverviewValues);
    if (timeline.framesPerPixel() * 2 > static_cast<double>(overviewBucket)) {
        view_->setDetail(nullptr);  // the overview is fine enough
        return;
    }
    if (detailJob_) detailJob_->cancel();
    // The view and a view's width either side, so that a little scrolling needs nothing new.
    const std::int64_t shown = timeline.visibleFrames();
    const std::int64_t first = std::max<std::int64_t>(0, static_cast<std::int64_t>(timeline.first()) - shown);
    const auto perBucket = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(timeline.framesPerPixel())));
    auto job = std::make_shared<PeakReader>(*reader_, perBucket, first, 3 * shown);
    detailJob_ = job;
    const int generation = generation_;
    auto reader = reader_;
    peakThreads_.start([this, job, reader, generation] {
        try {
            auto peaks = std::make_shared<const Peaks>(job->run());
            if (job->cancelled()) return;
            QMetaObject::invokeMethod(this, [this, peaks, generation] {
                if (generation == generation_) view_->setDetail(peaks);
            }, Qt::QueuedConnection);
        } catch (const std::exception&) {
            // The overview has said what is wrong with the file.
        }
    });
}

void TimelinePanel::play(std::int64_t from, std::optional<std::int64_t> until, bool returnAfter, bool loop, int stride) {
    if (!reader_) return;
    shuttleTimer_.stop();
    audio_->stop();
    returnTo_ = returnAfter ? std::optional(view_->playhead()) : std::nullopt;
    from = std::clamp<std::int64_t>(from, 0, reader_->frames());
    if (from >= reader_->frames()) from = 0;  // at the end: from the start again
    auto playback = std::make_shared<Playback>(reader_, from, until, channel_, loop, stride);
    if (!audio_->play(playback, reader_->sampleRate())) {
        returnTo_.reset();
        if (!toldNoDevice_) emit message(audio_->lastError());
        toldNoDevice_ = true;
        return;
    }
    view_->setPlayhead(from, true);
    view_->setMetering(true);
    playButton_->defaultAction()->setText(tr("Stop"));
    playTimer_.start();
}

void TimelinePanel::stop() {
    shuttleTimer_.stop();
    transport_.halt();
    audio_->stop();
}

void TimelinePanel::playOrStop() {
    if (playing() || shuttleTimer_.isActive()) {
        stop();
        return;
    }
    play(playhead());
    if (playing()) transport_.playing(true);
}

void TimelinePanel::playKeptPart() {
    if (in_ < out_) play(in_, out_, false, transport_.loop);
}

void TimelinePanel::setLoop(bool on) {
    transport_.loop = on;
    if (loopKey_->isChecked() != on) loopKey_->setChecked(on);
}

void TimelinePanel::shuttleBack() { shuttle(transport_.back()); }
void TimelinePanel::shuttleStop() { stop(); }
void TimelinePanel::shuttleForward() { shuttle(transport_.forward()); }

void TimelinePanel::shuttle(int speed) {
    if (!reader_) return;
    const std::int64_t from = playhead();
    const Transport wanted = transport_;  // stopping what plays resets the speed
    shuttleTimer_.stop();
    audio_->stop();
    if (speed > 0) {
        play(from, std::nullopt, false, false, speed);
    } else if (speed < 0) {
        // Reverse is not heard: the playhead moves back at the speed chosen.
        shuttleFrom_ = from;
        shuttleClock_.start();
        shuttleTimer_.start();
        playButton_->defaultAction()->setText(tr("Stop"));
    }
    transport_ = wanted;
    if (speed > 0 && !playing()) transport_.halt();  // no audio output
}

void TimelinePanel::moveShuttle() {
    const std::int64_t elapsed = shuttleClock_.elapsed() * reader_->sampleRate() / 1000;
    const std::int64_t at = Transport::advanced(shuttleFrom_, transport_.speed(), elapsed, reader_->frames());
    view_->setPlayhead(at, true);
    if (at == 0 || transport_.speed() >= 0) {
        shuttleTimer_.stop();
        transport_.halt();
        playButton_->defaultAction()->setText(tr("Play"));
    }
}

void TimelinePanel::scrub(std::int64_t frame) {
    if (!reader_ || (playing() && !returnTo_) || shuttleTimer_.isActive()) return;  // not over what is being played
    if (scrubClock_.isValid() && scrubClock_.elapsed() < kGrainMs / 2) return;
    scrubClock_.start();
    play(frame, frame + std::int64_t{reader_->sampleRate()} * kGrainMs / 1000, true);
}

QString TimelinePanel::timeText(std::int64_t frame) const {
    const auto& times = view_->times();
    return times ? QString::fromStdString(times->text(Notation::TimeOfDay, frame)) : QStringLiteral("—");
}

void TimelinePanel::showPlayhead(std::int64_t frame) { playheadReadout_->setText(timeText(frame)); }

void TimelinePanel::showPointer(std::optional<std::int64_t> frame) {
    pointerReadout_->setText(frame ? timeText(*frame) : QStringLiteral("—"));
}

void TimelinePanel::toMarker(std::optional<std::int64_t> frame) {
    if (!frame) return;
    view_->setPlayhead(*frame, true);
    if (playing()) play(*frame);
}

void TimelinePanel::toPreviousMarker() { toMarker(boundBefore(markerBounds_, playhead())); }
void TimelinePanel::toNextMarker() { toMarker(boundAfter(markerBounds_, playhead())); }

void TimelinePanel::followPlayhead() {
    if (audio_->playing() || playTimer_.isActive()) view_->setPlayhead(audio_->playheadFrame(), true);
}

void TimelinePanel::markIn() { emit inWanted(playhead()); }
void TimelinePanel::markOut() { emit outWanted(playhead()); }

void TimelinePanel::previewIn() {
    if (reader_) play(in_ - std::int64_t{kPreviewSeconds} * reader_->sampleRate(), in_, true);
}

void TimelinePanel::previewOut() {
    if (reader_) play(out_, out_ + std::int64_t{kPreviewSeconds} * reader_->sampleRate(), true);
}

void TimelinePanel::toIn() { view_->setPlayhead(in_, true); }
void TimelinePanel::toOut() { view_->setPlayhead(out_, true); }

}  // namespace keeptime
