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
    connect(view_, &WaveformView::viewChanged, this, [this] { showPlayhead(view_->playhead()); });
    connect(view_, &WaveformView::pointerMoved, this, &TimelinePanel::showPointer);
    shuttleTimer_.setInterval(30);
    connect(&shuttleTimer_, &QTimer::timeout, this, &TimelinePanel::moveShuttle);
    connect(view_, &WaveformView::playheadMoved, this, [this](std::int64_t frame) {
        view_->setPlayhead(frame);
        if (playing()) {  // a click while playing plays from there, as fast as before
            const Transport kept = transport_;
            play(frame, std::nullopt, false, false, std::max(kept.speed(), 1));
            transport_ = kept;
        }
        if (shuttleTimer_.isActive()) shuttleFrom_ = frame, shuttleClock_.restart();  // and shuttles back from there
    });
    // Finer peaks once the view has settled, not on every wheel step.
    detailTimer_.setSingleShot(true);
    detailTimer_.setInterval(120);
    connect(&detailTimer_, &QTimer::timeout, this, qOverload<>(&TimelinePanel::readDetail));
    connect(view_, &WaveformView::viewChanged, &detailTimer_, qOverload<>(&QTimer::start));

    playTimer_.setInterval(30);
    connect(&playTimer_, &QTimer::timeout, this, &TimelinePanel::followPlayhead);
    connect(audio_, &AudioOutput::stopped, this, [this] {
        followPlayhead();
        playTimer_.stop();
        if (returnTo_) view_->setPlayhead(*returnTo_, true);
        returnTo_.reset();
        view_->setMetering(false);
        playingKeptPart_ = false;
        if (!shuttleTimer_.isActive()) transport_.playing(false);
        playButton_->defaultAction()->setText(tr("Play"));
    });
    peakThreads_.setMaxThreadCount(2);
    channelButton_->setEnabled(false);
    channelButton_->setText(tr("Channels"));
}

TimelinePanel::~TimelinePanel() {
    audio_->stop();
    cancelReads();
    peakThreads_.waitForDone();
}

void TimelinePanel::cancelReads() {
    for (const Source& source : sources_)
        for (const auto& job : {source.overviewJob, source.detailJob})
            if (job) job->cancel();
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
    cancelReads();
    sources_.clear();
    try {
        reader_ = std::make_shared<const PcmReader>(input, parser);
    } catch (const BWFError& error) {
        reader_.reset();  // a layout the decoder does not read: the rest of the window still works
        emit message(QString::fromStdString(error.what()));
    }
    const int channels = reader_ ? reader_->format().channels : 1;
    trackNames_ = parser.takeNotes().trackNames;
    view_->setFile(times, channels, trackNames_);
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
    sources_.push_back({reader_, 0});
    buildHearMenu(view_->laneNames());
    readOverview(0);
}

void TimelinePanel::showTake(const std::vector<TakeTrack>& others) {
    if (!loaded_) return;
    // Lanes are only ever added: back to the file alone, the view starts again from it.
    if (sources_.size() > 1) {
        stop();
        ++generation_;
        cancelReads();
        const std::int64_t playhead = view_->playhead();
        auto markers = view_->markers();
        view_->setFile(*view_->times(), reader_ ? reader_->format().channels : 1, trackNames_);
        view_->setMarkers(std::move(markers));
        sources_.resize(1);
        sources_[0].overviewJob.reset();
        sources_[0].detailJob.reset();
        view_->setRange(in_, out_);
        view_->setPlayhead(playhead);
        readOverview(0);
    }
    for (const TakeTrack& track : others) {
        std::shared_ptr<const PcmReader> reader;
        try {
            reader = std::make_shared<const PcmReader>(track.input, *track.parser);
        } catch (const BWFError& error) {
            emit message(QString::fromStdString(error.what()));
            continue;
        }
        QStringList names;
        for (const std::string& name : track.laneNames) names << QString::fromStdString(name);
        view_->addSource(track.channels, track.offset, names);
        sources_.push_back({reader, track.offset});
    }
    // Once all are known, so that each has its share of the overview's memory.
    for (std::size_t source = 1; source < sources_.size(); ++source) readOverview(source);
    buildHearMenu(view_->laneNames());
}

void TimelinePanel::buildHearMenu(const QStringList& laneNames) {
    // What one can listen to: the opened file's first two channels, or any one lane.
    channelMenu_->clear();
    hear(0, -1);
    int lanes = 0;
    for (const Source& source : sources_) lanes += source.reader ? source.reader->format().channels : 0;
    if (!reader_ || lanes <= 2) {
        channelButton_->setEnabled(false);
        channelButton_->setVisible(false);
        return;
    }
    // A mono file plays its one channel on both sides: that is its first lane, not "1 and 2".
    if (reader_->format().channels > 1) channelMenu_->addAction(tr("Channels 1 and 2"), this, [this] { hear(0, -1); });
    int lane = 0;
    for (std::size_t s = 0; s < sources_.size(); ++s) {
        const int channels = sources_[s].reader ? sources_[s].reader->format().channels : 0;
        for (int c = 0; c < channels; ++c, ++lane) {
            const QString name = laneNames.value(lane);
            channelMenu_->addAction(name.isEmpty() ? tr("Channel %1").arg(lane + 1) : tr("Channel %1 (%2)").arg(lane + 1).arg(name),
                                    this, [this, s, c] { hear(static_cast<int>(s), s == 0 && c == 0 && reader_->format().channels == 1 ? -1 : c); });
        }
    }
    channelButton_->setEnabled(true);
    channelButton_->setVisible(true);
}

void TimelinePanel::hear(int source, int channel) {
    hearSource_ = source;
    channel_ = channel;
    int lane = channel;
    for (int s = 0; s < source; ++s) lane += sources_[static_cast<std::size_t>(s)].reader->format().channels;
    const bool both = channel < 0 && reader_ && reader_->format().channels > 1;
    channelButton_->setText(both ? tr("Hear: 1+2") : tr("Hear: %1").arg(std::max(lane, 0) + 1));
}

void TimelinePanel::setPointsLocked(bool locked) {
    pointsLocked_ = locked;
    view_->setHandlesLocked(locked);
    for (QAction* key : {markInKey_, markOutKey_}) key->setEnabled(!locked && loaded_);
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
std::int64_t TimelinePanel::playhead() const { return playing() ? audio_->playheadFrame() + playOffset_ : view_->playhead(); }
bool TimelinePanel::playing() const { return audio_->playing(); }

void TimelinePanel::readOverview(std::size_t index) {
    Source& source = sources_[index];
    if (!source.reader) return;
    const PcmReader& reader = *source.reader;
    // The overview's memory stays the same however many files the take has.
    const std::int64_t values = std::max<std::int64_t>(kOverviewValues / std::max<std::int64_t>(1, std::ssize(sources_)), 1 << 18);
    const std::int64_t perBucket = framesPerBucketFor(reader.frames(), reader.format().channels, index == 0 ? kOverviewValues : values);
    auto job = std::make_shared<PeakReader>(reader, perBucket);
    source.overviewJob = job;
    const int generation = generation_;
    const int at = static_cast<int>(index);
    auto keep = source.reader;  // kept open while the job reads
    peakThreads_.start([this, job, keep, generation, at] {
        auto show = [this, generation, at](const Peaks& peaks) {
            auto copy = std::make_shared<const Peaks>(peaks);
            QMetaObject::invokeMethod(this, [this, copy, generation, at] {
                if (generation == generation_) view_->setOverview(copy, at);
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
    for (std::size_t source = 0; source < sources_.size(); ++source) readDetail(source);
}

void TimelinePanel::readDetail(std::size_t index) {
    Source& source = sources_[index];
    if (!source.reader) return;
    const PcmReader& reader = *source.reader;
    const Timeline& timeline = view_->timeline();
    const int at = static_cast<int>(index);
    const std::int64_t overviewBucket = framesPerBucketFor(reader.frames(), reader.format().channels, kOverviewValues);
    if (timeline.framesPerPixel() * 2 > static_cast<double>(overviewBucket)) {
        view_->setDetail(nullptr, at);  // the overview is fine enough
        return;
    }
    if (source.detailJob) source.detailJob->cancel();
    // The view and a view's width either side, so that a little scrolling needs nothing new.
    const std::int64_t shown = timeline.visibleFrames();
    const std::int64_t first = std::clamp<std::int64_t>(static_cast<std::int64_t>(timeline.first()) - shown - source.offset, 0, reader.frames());
    const std::int64_t count = std::min<std::int64_t>(3 * shown, reader.frames() - first);
    if (count <= 0) return;
    const auto perBucket = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(timeline.framesPerPixel())));
    auto job = std::make_shared<PeakReader>(reader, perBucket, first, count);
    source.detailJob = job;
    const int generation = generation_;
    auto keep = source.reader;
    peakThreads_.start([this, job, keep, generation, at] {
        try {
            auto peaks = std::make_shared<const Peaks>(job->run());
            if (job->cancelled()) return;
            QMetaObject::invokeMethod(this, [this, peaks, generation, at] {
                if (generation == generation_) view_->setDetail(peaks, at);
            }, Qt::QueuedConnection);
        } catch (const std::exception&) {
            // The overview has said what is wrong with the file.
        }
    });
}

void TimelinePanel::play(std::int64_t from, std::optional<std::int64_t> until, bool returnAfter, bool loop, int stride,
                         std::optional<std::int64_t> start) {
    if (!reader_) return;
    shuttleTimer_.stop();
    audio_->stop();
    playingKeptPart_ = false;
    returnTo_ = returnAfter ? std::optional(view_->playhead()) : std::nullopt;
    from = std::clamp<std::int64_t>(from, 0, reader_->frames());
    if (from >= reader_->frames()) from = 0;  // at the end: from the start again
    // Another file of the take plays the same times of day from its own frames.
    const Source& source = sources_[static_cast<std::size_t>(hearSource_)];
    playOffset_ = source.offset;
    auto playback = std::make_shared<Playback>(source.reader, from - playOffset_,
                                               until ? std::optional(*until - playOffset_) : std::nullopt, channel_,
                                               loop, stride, start ? std::optional(*start - playOffset_) : std::nullopt);
    if (!audio_->play(playback, source.reader->sampleRate())) {
        returnTo_.reset();
        if (!toldNoDevice_) emit message(audio_->lastError());
        toldNoDevice_ = true;
        return;
    }
    view_->setPlayhead(start.value_or(from), true);
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
    if (in_ >= out_) return;
    play(in_, out_, false, transport_.loop);
    playingKeptPart_ = playing();
}

void TimelinePanel::setLoop(bool on) {
    transport_.loop = on;
    if (loopKey_->isChecked() != on) loopKey_->setChecked(on);
    // While the kept part plays, from where it is heard now: on, it wraps at the out point; off, it ends there.
    if (playingKeptPart_ && playing()) {
        const std::int64_t at = std::clamp(playhead(), in_, out_ - 1);
        play(in_, out_, false, on, 1, at);
        playingKeptPart_ = playing();
    }
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
    if (!times) return QStringLiteral("—");
    // Zoomed in so far that the ruler counts samples, so do the readouts.
    const Timeline& timeline = view_->timeline();
    const double labelFrames = times->rate ? static_cast<double>(times->sampleRate) * static_cast<double>(times->rate->den) /
                                                 static_cast<double>(times->rate->num)
                                           : 0;
    const bool samples = labelFrames / timeline.framesPerPixel() > timeline.width() / 2.0;
    return QString::fromStdString(times->text(Notation::TimeOfDay, frame, samples));
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
    if (audio_->playing() || playTimer_.isActive()) view_->setPlayhead(audio_->playheadFrame() + playOffset_, true);
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
