#include "gui/WaveformView.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>

namespace keeptime {

namespace {

constexpr int kTimeRuler = 22;   // the time marks
constexpr int kMarkerStrip = 16;  // the markers' flags and spans under them
constexpr int kRulerHeight = kTimeRuler + kMarkerStrip;
constexpr double kDragStart = 4;  // pixels the pointer moves before a press becomes a range drag
constexpr int kMeterWidth = 6;
constexpr int kScaleWidth = 30;   // the dB scale at each lane's right edge
constexpr double kGrab = 6;  // pixels either side of a handle that pick it up
constexpr double kZoomStep = 1.5;

const QColor kLane(250, 250, 250);
const QColor kOutside(0, 0, 0, 38);
const QColor kWave(38, 96, 160);
const QColor kHandle(20, 140, 70);
const QColor kLockedHandle(150, 150, 150);
const QColor kPlayhead(210, 40, 40);
const QColor kClipped(220, 30, 30);
const QColor kMarker(200, 120, 0);
const QColor kRegion(200, 120, 0, 50);
const QColor kSegmentEven(40, 110, 170, 190);
const QColor kSegmentOdd(60, 140, 90, 190);
const QColor kSegmentEdge(20, 60, 100);

// The min and max of one channel over buckets [from, to).
std::pair<int, int> extent(const Peaks& peaks, std::int64_t from, std::int64_t to, int channel) {
    int low = INT_MAX, high = INT_MIN;
    const auto stride = static_cast<std::size_t>(2 * peaks.channels);
    for (std::int64_t b = from; b < to; ++b) {
        const std::size_t at = static_cast<std::size_t>(b) * stride + static_cast<std::size_t>(2 * channel);
        low = std::min<int>(low, peaks.values[at]);
        high = std::max<int>(high, peaks.values[at + 1]);
    }
    return {low, high};
}

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumHeight(120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(tr("Waveform"));
}

void WaveformView::setFile(const Clock& times, int channels, const std::vector<std::string>& names) {
    times_ = times;
    channels_ = std::max(channels, 1);
    laneNames_.clear();
    for (int c = 0; c < channels_; ++c)
        laneNames_ << (names.size() == static_cast<std::size_t>(channels_) ? QString::fromStdString(names[static_cast<std::size_t>(c)])
                                                                           : QString());
    sources_ = {Source{channels_, 0, 0}};
    markers_.clear();
    in_ = 0;
    out_ = times.frames;
    playhead_ = 0;
    timeline_.setWidth(width());
    timeline_.setFrames(times.frames);
    viewMoved();
}

void WaveformView::setTimes(const Clock& times) {
    times_ = times;
    update();
}

int WaveformView::addSource(int channels, std::int64_t offset, const QStringList& names) {
    sources_.push_back(Source{std::max(channels, 1), offset, channels_});
    for (int c = 0; c < sources_.back().channels; ++c) laneNames_ << names.value(c);
    channels_ += sources_.back().channels;
    waveformStale_ = true;
    update();
    return static_cast<int>(sources_.size()) - 1;
}

void WaveformView::setOverview(std::shared_ptr<const Peaks> peaks, int source) {
    if (source < 0 || source >= std::ssize(sources_)) return;
    sources_[static_cast<std::size_t>(source)].overview = std::move(peaks);
    waveformStale_ = true;
    update();
}

void WaveformView::setDetail(std::shared_ptr<const Peaks> peaks, int source) {
    if (source < 0 || source >= std::ssize(sources_)) return;
    sources_[static_cast<std::size_t>(source)].detail = std::move(peaks);
    waveformStale_ = true;
    update();
}

void WaveformView::setRange(std::int64_t in, std::int64_t out) {
    in_ = in;
    out_ = out;
    update();
}

void WaveformView::setPlayhead(std::int64_t frame, bool keepInView) {
    frame = std::clamp<std::int64_t>(frame, 0, timeline_.frames());
    if (frame != playhead_) emit playheadChanged(frame);
    playhead_ = frame;
    if (keepInView) {
        const double before = timeline_.first();
        timeline_.follow(playhead_);
        if (timeline_.first() != before) viewMoved();
    }
    update();
}

void WaveformView::attachScrollBar(QScrollBar* bar) {
    scrollBar_ = bar;
    connect(bar, &QScrollBar::valueChanged, this, [this](int value) {
        timeline_.scrollTo(value * scrollScale_);
        viewMoved();
    });
    syncScrollBar();
}

void WaveformView::syncScrollBar() {
    if (!scrollBar_) return;
    const QSignalBlocker quiet(scrollBar_);
    const double hidden = std::max(0.0, static_cast<double>(timeline_.frames()) - timeline_.width() * timeline_.framesPerPixel());
    // A scroll bar counts in int: long takes scroll in steps of several frames.
    scrollScale_ = std::max(1.0, std::ceil(hidden / 1.0e9));
    scrollBar_->setRange(0, static_cast<int>(hidden / scrollScale_));
    scrollBar_->setPageStep(std::max(1, static_cast<int>(timeline_.width() * timeline_.framesPerPixel() / scrollScale_)));
    scrollBar_->setSingleStep(std::max(1, static_cast<int>(timeline_.width() * timeline_.framesPerPixel() / scrollScale_ / 20)));
    scrollBar_->setValue(static_cast<int>(timeline_.first() / scrollScale_));
    scrollBar_->setEnabled(hidden > 0);
}

void WaveformView::viewMoved() {
    waveformStale_ = true;
    syncScrollBar();
    update();
    emit viewChanged();
}

void WaveformView::zoomIn() {
    // About the playhead when it is in view, else about the middle.
    const double x = timeline_.xAt(playhead_);
    timeline_.zoom(kZoomStep, x >= 0 && x <= width() ? x : width() / 2.0);
    viewMoved();
}

void WaveformView::zoomOut() {
    const double x = timeline_.xAt(playhead_);
    timeline_.zoom(1 / kZoomStep, x >= 0 && x <= width() ? x : width() / 2.0);
    viewMoved();
}

void WaveformView::showWholeTake() {
    timeline_.showWhole();
    viewMoved();
}

void WaveformView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    timeline_.setWidth(width());
    viewMoved();
}

double WaveformView::laneHeight() const { return static_cast<double>(height() - kRulerHeight) / channels_; }

const Peaks* WaveformView::shownPeaks(const Source& source) const {
    const double offset = static_cast<double>(source.offset);
    const double viewStart = std::max(timeline_.first() - offset, 0.0);
    const double viewEnd = std::min(timeline_.first() + width() * timeline_.framesPerPixel(), static_cast<double>(timeline_.frames())) - offset;
    const Peaks* peaks = source.overview.get();
    const auto& detail = source.detail;
    if (detail && detail->firstFrame <= viewStart &&
        (detail->firstFrame + detail->frames >= viewEnd || (peaks && detail->firstFrame + detail->frames >= peaks->frames)))
        peaks = detail.get();
    return peaks && peaks->framesPerBucket > 0 && peaks->channels == source.channels ? peaks : nullptr;
}

void WaveformView::paintWaveform() {
    const qreal ratio = devicePixelRatioF();
    waveform_ = QPixmap(QSize(width(), std::max(1, height() - kRulerHeight)) * ratio);
    waveform_.setDevicePixelRatio(ratio);
    waveform_.fill(kLane);
    waveformStale_ = false;
    if (!times_) return;
    QPainter painter(&waveform_);
    const double laneHeight = this->laneHeight();
    painter.setPen(QColor(220, 220, 220));
    for (int c = 0; c < channels_; ++c) {  // centre lines and lane borders
        painter.drawLine(QPointF(0, laneHeight * (c + 0.5)), QPointF(width(), laneHeight * (c + 0.5)));
        if (c > 0) painter.drawLine(QPointF(0, laneHeight * c), QPointF(width(), laneHeight * c));
    }
    const double perPixel = timeline_.framesPerPixel();
    const double viewStart = timeline_.first();
    // Zoomed in vertically, a peak beyond the lane is cut at its edge.
    const double half = laneHeight * 0.46, scale = half * levelZoom_ / 32768.0;
    painter.setClipRect(QRectF(0, 0, width(), laneHeight * channels_));
    for (const Source& source : sources_) {
        const Peaks* peaks = shownPeaks(source);
        if (!peaks) continue;
        const std::int64_t buckets = peaks->buckets();
        const double origin = static_cast<double>(source.offset + peaks->firstFrame);
        for (int x = 0; x < width(); ++x) {
            const double from = viewStart + x * perPixel - origin;
            const double to = from + perPixel;
            if (to <= 0) continue;
            auto b0 = static_cast<std::int64_t>(std::floor(std::max(from, 0.0) / static_cast<double>(peaks->framesPerBucket)));
            auto b1 = static_cast<std::int64_t>(std::ceil(to / static_cast<double>(peaks->framesPerBucket)));
            b1 = std::min(std::max(b1, b0 + 1), buckets);
            if (b0 >= buckets) break;
            for (int c = 0; c < source.channels; ++c) {
                const auto [low, high] = extent(*peaks, b0, b1, c);
                const int lane = source.firstLane + c;
                const double centre = laneHeight * (lane + 0.5);
                const double top = std::max(centre - high * scale, laneHeight * lane + 1);
                const double bottom = std::min(centre - low * scale - 0.5, laneHeight * (lane + 1) - 1);
                // A sample at full scale was clipped, or near enough that it will be.
                painter.setPen(high >= 32767 || low <= -32768 ? kClipped : kWave);
                painter.drawLine(QPointF(x + 0.5, top), QPointF(x + 0.5, bottom));
            }
        }
    }
}

// The dB scale at each lane's right edge: full scale, then the levels an editor reads by.
void WaveformView::paintLevels(QPainter& painter) {
    const double laneHeight = this->laneHeight();
    if (laneHeight < 40) return;  // too narrow to read
    const double half = laneHeight * 0.46;
    QFont small = font();
    small.setPointSizeF(std::max(6.0, font().pointSizeF() * 0.75));
    painter.setFont(small);
    const QFontMetrics metrics(small);
    const double x = width() - kScaleWidth;
    for (int c = 0; c < channels_; ++c) {
        const double centre = laneHeight * (c + 0.5);
        painter.fillRect(QRectF(x, laneHeight * c + 1, kScaleWidth, laneHeight - 2), QColor(240, 240, 240, 220));
        double lastY = -1e9;
        for (int db : {0, -1, -3, -6, -9, -12, -18, -20, -24, -30, -40, -50, -60, -80}) {
            const double y = half * levelZoom_ * std::pow(10.0, db / 20.0);
            if (y > half + 0.5) continue;  // above the lane at this zoom
            if (std::abs(y - lastY) < metrics.height() || y < metrics.height() / 2.0) continue;
            lastY = y;
            painter.setPen(QColor(150, 150, 150));
            for (double sign : {-1.0, 1.0}) painter.drawLine(QPointF(x, centre - sign * y), QPointF(x + 4, centre - sign * y));
            painter.setPen(QColor(100, 100, 100));
            painter.drawText(QPointF(x + 6, centre - y + metrics.ascent() / 2.0), QString::number(db));
        }
    }
    painter.setFont(font());
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (waveformStale_ || waveform_.size() != QSize(width(), std::max(1, height() - kRulerHeight)) * devicePixelRatioF())
        paintWaveform();
    painter.fillRect(QRect(0, 0, width(), kRulerHeight), palette().window());
    painter.drawPixmap(0, kRulerHeight, waveform_);
    if (times_) {
        painter.save();
        painter.translate(0, kRulerHeight);
        paintLevels(painter);
        // Lane names over the waveform, on a backdrop so that a loud lane does not hide them.
        const double laneHeight = this->laneHeight();
        const QFontMetrics metrics(font());
        for (int c = 0; c < channels_ && laneHeight >= 14; ++c) {
            const QString name = QString::number(c + 1) + (laneNames_.value(c).isEmpty() ? QString() : QLatin1Char(' ') + laneNames_.value(c));
            const QRectF box(12, laneHeight * c + 1, metrics.horizontalAdvance(name) + 6, metrics.height());
            painter.fillRect(box, QColor(250, 250, 250, 200));
            painter.setPen(QColor(90, 90, 90));
            painter.drawText(box.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, name);
        }
        painter.restore();
    }
    if (!times_) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter, tr("Open a recording to see its waveform."));
        return;
    }
    // The ruler.
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    for (const auto& mark : timeline_.marks(*times_, metrics.horizontalAdvance(QStringLiteral("00:00:00:00")) + 24)) {
        const bool labelled = !mark.label.empty();
        painter.drawLine(QPointF(mark.x, kTimeRuler - (labelled ? 8 : 4)), QPointF(mark.x, kTimeRuler));
        if (labelled)
            painter.drawText(QPointF(mark.x + 3, kTimeRuler - 9), QString::fromStdString(mark.label));
    }
    painter.drawLine(0, kTimeRuler - 1, width(), kTimeRuler - 1);
    paintMarkers(painter);
    paintSegments(painter);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawLine(0, kRulerHeight - 1, width(), kRulerHeight - 1);
    // Outside the kept range, dimmed.
    const double inX = timeline_.xAt(in_), outX = timeline_.xAt(out_);
    const QRectF lanes(0, kRulerHeight, width(), height() - kRulerHeight);
    painter.fillRect(QRectF(lanes.left(), lanes.top(), std::clamp(inX, 0.0, lanes.width()), lanes.height()), kOutside);
    if (outX < width()) painter.fillRect(QRectF(std::max(outX, 0.0), lanes.top(), width() - std::max(outX, 0.0), lanes.height()), kOutside);
    // The handles: a line and a flag just under the ruler, pointing into the range.
    for (const auto& [x, into] : {std::pair{inX, 1.0}, std::pair{outX, -1.0}}) {
        if (x < -10 || x > width() + 10) continue;
        const QColor colour = handlesLocked_ ? kLockedHandle : kHandle;
        painter.setPen(QPen(colour, 2));
        painter.drawLine(QPointF(x, kRulerHeight), QPointF(x, height()));
        QPainterPath flag;
        flag.moveTo(x, kRulerHeight);
        flag.lineTo(x + into * 10, kRulerHeight);
        flag.lineTo(x + into * 10, kRulerHeight + 8);
        flag.lineTo(x, kRulerHeight + 14);
        painter.fillPath(flag, colour);
    }
    const double playX = timeline_.xAt(playhead_);
    if (playX >= -1 && playX <= width() + 1) {
        painter.setPen(QPen(kPlayhead, 1));
        painter.drawLine(QPointF(playX, 0), QPointF(playX, height()));
        QPainterPath head;
        head.moveTo(playX - 5, kTimeRuler - 8);
        head.lineTo(playX + 5, kTimeRuler - 8);
        head.lineTo(playX, kTimeRuler);
        painter.fillPath(head, kPlayhead);
    }
    if (metering_) {
        // The peak of each channel over the last 50 ms heard, as a bar at the lane's left edge.
        const double laneHeight = this->laneHeight();
        const std::int64_t window = std::max<std::int64_t>(1, times_->sampleRate / 20);
        for (const Source& source : sources_) {
            const Peaks* peaks = shownPeaks(source);
            if (!peaks) continue;
            const std::int64_t at = playhead_ - source.offset - peaks->firstFrame;
            const std::int64_t from = std::max<std::int64_t>(at - window, 0) / peaks->framesPerBucket;
            const std::int64_t to = std::min(peaks->buckets(), at / peaks->framesPerBucket + 1);
            for (int c = 0; c < source.channels && at >= 0 && from < to; ++c) {
                const auto [low, high] = extent(*peaks, from, to, c);
                const double level = std::max(std::abs(double(low)), std::abs(double(high))) / 32768.0;
                // -60 dBFS at the bottom, 0 at the top.
                const double db = level > 0 ? 20 * std::log10(level) : -60;
                const double fill = std::clamp((db + 60) / 60, 0.0, 1.0) * (laneHeight - 4);
                const QRectF lane(2, kRulerHeight + laneHeight * (source.firstLane + c) + 2, kMeterWidth, laneHeight - 4);
                painter.fillRect(lane, QColor(60, 60, 60));
                painter.fillRect(QRectF(lane.left(), lane.bottom() - fill, kMeterWidth, fill),
                                 db > -0.1 ? kClipped : db > -6 ? QColor(230, 180, 0) : QColor(40, 180, 70));
            }
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void WaveformView::paintMarkers(QPainter& painter) {
    const QFontMetrics metrics(font());
    const QRectF strip(0, kTimeRuler, width(), kMarkerStrip);
    painter.fillRect(strip, palette().base());
    for (const Marker& marker : markers_) {
        const double x = timeline_.xAt(marker.frame);
        if (marker.length > 0) {
            const double end = timeline_.xAt(marker.frame + marker.length);
            if (end < 0 || x > width()) continue;
            painter.fillRect(QRectF(x, strip.top() + 1, std::max(end - x, 1.0), strip.height() - 2), kRegion);
            painter.fillRect(QRectF(x, kRulerHeight, std::max(end - x, 1.0), height() - kRulerHeight), QColor(200, 120, 0, 18));
        }
        if (x < -200 || x > width()) continue;
        painter.setPen(QPen(kMarker, 1));
        painter.drawLine(QPointF(x, strip.top()), QPointF(x, strip.bottom()));
        QPainterPath flag;
        flag.moveTo(x, strip.top());
        flag.lineTo(x + 7, strip.top() + 3.5);
        flag.lineTo(x, strip.top() + 7);
        painter.fillPath(flag, kMarker);
        painter.setPen(palette().color(QPalette::Text));
        const QString label = QString::fromStdString(marker.label);
        painter.drawText(QPointF(x + 9, strip.top() + metrics.ascent()), metrics.elidedText(label, Qt::ElideRight, 160));
    }
}

void WaveformView::paintSegments(QPainter& painter) {
    // Two rows, alternating, so that neighbours and overlaps stay apart; each numbered as its row in the panel.
    const QFontMetrics metrics(font());
    const double rowHeight = metrics.height() + 2;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const double x = timeline_.xAt(segments_[i].first), end = timeline_.xAt(segments_[i].end);
        if (end < 0 || x > width()) continue;
        const QRectF bar(x, height() - rowHeight * double(2 - i % 2) - 2, std::max(end - x, 2.0), rowHeight - 1);
        painter.fillRect(bar, i % 2 ? kSegmentOdd : kSegmentEven);
        painter.setPen(QPen(kSegmentEdge, 1));
        painter.drawRect(bar);
        painter.setPen(Qt::white);
        const QString number = QString::number(i + 1);
        if (bar.width() > metrics.horizontalAdvance(number) + 4)
            painter.drawText(bar.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, number);
    }
}

void WaveformView::setSegments(std::vector<Segment> segments) {
    segments_ = std::move(segments);
    update();
}

void WaveformView::setMarkers(std::vector<Marker> markers) {
    markers_ = std::move(markers);
    update();
}

void WaveformView::setLevelZoom(double zoom) {
    zoom = std::clamp(zoom, 1.0, kMaxLevelZoom);
    if (zoom == levelZoom_) return;
    levelZoom_ = zoom;
    waveformStale_ = true;
    update();
    emit levelZoomChanged(zoom);
}

void WaveformView::levelUp() { setLevelZoom(levelZoom_ * 2); }
void WaveformView::levelDown() { setLevelZoom(levelZoom_ / 2); }
void WaveformView::levelReset() { setLevelZoom(1); }

void WaveformView::setMetering(bool on) {
    metering_ = on;
    update();
}

void WaveformView::setHandlesLocked(bool locked) {
    if (locked == handlesLocked_) return;
    handlesLocked_ = locked;
    if (locked && (drag_ == Drag::In || drag_ == Drag::Out || drag_ == Drag::Select)) {  // a drag under way ends here
        const bool gesture = drag_ != Drag::Select || selecting_;
        drag_ = Drag::None;
        selecting_ = false;
        if (gesture) emit gestureEnded();
    }
    update();
}

WaveformView::Drag WaveformView::handleAt(double x) const {
    if (handlesLocked_) return Drag::None;
    const double in = std::abs(x - timeline_.xAt(in_)), out = std::abs(x - timeline_.xAt(out_));
    if (std::min(in, out) > kGrab) return Drag::None;
    // Handles on top of each other: the side the pointer is on decides.
    if (std::abs(in - out) < 1) return x < timeline_.xAt(in_) ? Drag::In : Drag::Out;
    return in < out ? Drag::In : Drag::Out;
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (!times_ || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const double x = event->position().x();
    const std::int64_t frame = timeline_.frameAt(x);
    const bool onLanes = event->position().y() >= kRulerHeight;
    if (event->modifiers() & Qt::ShiftModifier && !handlesLocked_) {
        emit extendWanted(frame);
        return;
    }
    drag_ = handleAt(x);
    if (drag_ != Drag::None) {
        emit gestureStarted();
        return;
    }
    // On the ruler, or while the points are locked, a drag moves the playhead; on the lanes it selects.
    drag_ = onLanes && !handlesLocked_ ? Drag::Select : Drag::Playhead;
    selectFrom_ = frame;
    pressX_ = x;
    selecting_ = false;
    emit playheadMoved(frame);
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (!times_) return;
    const std::int64_t frame = timeline_.frameAt(x);
    emit pointerMoved(frame);
    if (drag_ == Drag::None) {
        setCursor(handleAt(x) == Drag::None ? Qt::ArrowCursor : Qt::SizeHorCursor);
        return;
    }
    if (drag_ == Drag::In) emit inDragged(frame);
    if (drag_ == Drag::Out) emit outDragged(frame);
    if (drag_ == Drag::Playhead) emit playheadMoved(frame);
    if (drag_ == Drag::Select) {
        if (!selecting_ && std::abs(x - pressX_) >= kDragStart) {
            selecting_ = true;
            emit gestureStarted();
        }
        if (selecting_) emit rangeDragged(selectFrom_, frame);
    }
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    const bool gesture = drag_ == Drag::In || drag_ == Drag::Out || (drag_ == Drag::Select && selecting_);
    drag_ = Drag::None;
    selecting_ = false;
    if (gesture) emit gestureEnded();
    QWidget::mouseReleaseEvent(event);
}

void WaveformView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!times_ || event->button() != Qt::LeftButton || handlesLocked_ || event->position().y() < kRulerHeight ||
        handleAt(event->position().x()) != Drag::None)
        return QWidget::mouseDoubleClickEvent(event);
    drag_ = Drag::None;
    emit stretchWanted(timeline_.frameAt(event->position().x()));
}

void WaveformView::leaveEvent(QEvent* event) {
    emit pointerMoved(std::nullopt);
    QWidget::leaveEvent(event);
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    if (!times_) return;
    const QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {  // the level scale
        setLevelZoom(levelZoom_ * std::pow(2.0, delta.y() / 120.0));
        event->accept();
        return;
    }
    // A sideways wheel or Shift scrolls; the plain wheel zooms about the pointer.
    if (delta.x() != 0 || event->modifiers() & Qt::ShiftModifier) {
        const int amount = delta.x() != 0 ? delta.x() : delta.y();
        timeline_.scrollBy(-amount / 120.0 * width() / 10.0);
    } else {
        timeline_.zoom(std::pow(kZoomStep, delta.y() / 120.0), event->position().x());
    }
    viewMoved();
    event->accept();
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
    if (!times_) return QWidget::keyPressEvent(event);
    // Left and Right step the playhead one timecode frame (or second), with Shift one second (or ten).
    const std::int64_t step = event->modifiers() & Qt::ShiftModifier ? (times_->rate ? times_->stepsPerSecond() : 10) : 1;
    std::optional<std::int64_t> to;
    switch (event->key()) {
        case Qt::Key_Left: to = times_->stepLabels(playhead_, -step); break;
        case Qt::Key_Right: to = times_->stepLabels(playhead_, step); break;
        // A page is what the view shows: zoomed in, it pages through the take.
        case Qt::Key_PageUp: to = std::max<std::int64_t>(0, playhead_ - timeline_.visibleFrames()); break;
        case Qt::Key_PageDown: to = std::min(times_->frames, playhead_ + timeline_.visibleFrames()); break;
        case Qt::Key_Home: to = 0; break;
        case Qt::Key_End: to = times_->frames; break;
        default: return QWidget::keyPressEvent(event);
    }
    setPlayhead(*to, true);
    emit playheadMoved(playhead_);
}

}  // namespace keeptime
