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

constexpr int kRulerHeight = 22;
constexpr double kGrab = 6;  // pixels either side of a handle that pick it up
constexpr double kZoomStep = 1.5;

const QColor kLane(250, 250, 250);
const QColor kOutside(0, 0, 0, 38);
const QColor kWave(38, 96, 160);
const QColor kHandle(20, 140, 70);
const QColor kLockedHandle(150, 150, 150);
const QColor kPlayhead(210, 40, 40);

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
        laneNames_ << (names.size() == static_cast<std::size_t>(channels_)
                           ? QStringLiteral("%1 %2").arg(c + 1).arg(QString::fromStdString(names[static_cast<std::size_t>(c)]))
                           : QString::number(c + 1));
    overview_.reset();
    detail_.reset();
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

void WaveformView::setOverview(std::shared_ptr<const Peaks> peaks) {
    overview_ = std::move(peaks);
    waveformStale_ = true;
    update();
}

void WaveformView::setDetail(std::shared_ptr<const Peaks> peaks) {
    detail_ = std::move(peaks);
    waveformStale_ = true;
    update();
}

void WaveformView::setRange(std::int64_t in, std::int64_t out) {
    in_ = in;
    out_ = out;
    update();
}

void WaveformView::setPlayhead(std::int64_t frame, bool keepInView) {
    playhead_ = std::clamp<std::int64_t>(frame, 0, timeline_.frames());
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

void WaveformView::paintWaveform() {
    const qreal ratio = devicePixelRatioF();
    waveform_ = QPixmap(QSize(width(), std::max(1, height() - kRulerHeight)) * ratio);
    waveform_.setDevicePixelRatio(ratio);
    waveform_.fill(kLane);
    waveformStale_ = false;
    if (!times_) return;
    QPainter painter(&waveform_);
    const double laneHeight = static_cast<double>(height() - kRulerHeight) / channels_;
    painter.setPen(QColor(220, 220, 220));
    for (int c = 0; c < channels_; ++c) {  // centre lines and lane borders
        painter.drawLine(QPointF(0, laneHeight * (c + 0.5)), QPointF(width(), laneHeight * (c + 0.5)));
        if (c > 0) painter.drawLine(QPointF(0, laneHeight * c), QPointF(width(), laneHeight * c));
    }
    const double perPixel = timeline_.framesPerPixel();
    // The finest peaks that cover the view: the detail when it does, else the overview.
    const double viewStart = timeline_.first(), viewEnd = viewStart + width() * perPixel;
    const Peaks* peaks = overview_.get();
    if (detail_ && detail_->firstFrame <= viewStart && detail_->firstFrame + detail_->frames >= std::min<double>(viewEnd, timeline_.frames()))
        peaks = detail_.get();
    painter.setPen(QColor(120, 120, 120));
    for (int c = 0; c < channels_ && laneHeight >= 14; ++c)
        painter.drawText(QPointF(14, laneHeight * c + QFontMetrics(font()).ascent() + 2), laneNames_.value(c));
    if (!peaks || peaks->framesPerBucket <= 0 || peaks->channels != channels_) return;
    const std::int64_t buckets = peaks->buckets();
    painter.setPen(kWave);
    for (int x = 0; x < width(); ++x) {
        const double from = viewStart + x * perPixel - static_cast<double>(peaks->firstFrame);
        const double to = from + perPixel;
        if (to <= 0) continue;
        auto b0 = static_cast<std::int64_t>(std::floor(std::max(from, 0.0) / static_cast<double>(peaks->framesPerBucket)));
        auto b1 = static_cast<std::int64_t>(std::ceil(to / static_cast<double>(peaks->framesPerBucket)));
        b1 = std::min(std::max(b1, b0 + 1), buckets);
        if (b0 >= buckets) break;
        for (int c = 0; c < channels_; ++c) {
            const auto [low, high] = extent(*peaks, b0, b1, c);
            const double centre = laneHeight * (c + 0.5), scale = laneHeight * 0.46 / 32768.0;
            painter.drawLine(QPointF(x + 0.5, centre - high * scale), QPointF(x + 0.5, centre - low * scale - 0.5));
        }
    }
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (waveformStale_ || waveform_.size() != QSize(width(), std::max(1, height() - kRulerHeight)) * devicePixelRatioF())
        paintWaveform();
    painter.fillRect(QRect(0, 0, width(), kRulerHeight), palette().window());
    painter.drawPixmap(0, kRulerHeight, waveform_);
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
        painter.drawLine(QPointF(mark.x, kRulerHeight - (labelled ? 8 : 4)), QPointF(mark.x, kRulerHeight));
        if (labelled)
            painter.drawText(QPointF(mark.x + 3, kRulerHeight - 9), QString::fromStdString(mark.label));
    }
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
        head.moveTo(playX - 5, kRulerHeight - 8);
        head.lineTo(playX + 5, kRulerHeight - 8);
        head.lineTo(playX, kRulerHeight);
        painter.fillPath(head, kPlayhead);
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void WaveformView::setHandlesLocked(bool locked) {
    if (locked == handlesLocked_) return;
    handlesLocked_ = locked;
    if (locked && (drag_ == Drag::In || drag_ == Drag::Out)) drag_ = Drag::None;  // a drag under way ends here
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
    drag_ = handleAt(x);
    if (drag_ == Drag::None) {
        drag_ = Drag::Playhead;
        emit playheadMoved(timeline_.frameAt(x));
    }
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (!times_) return;
    if (drag_ == Drag::None) {
        setCursor(handleAt(x) == Drag::None ? Qt::ArrowCursor : Qt::SizeHorCursor);
        return;
    }
    const std::int64_t frame = timeline_.frameAt(x);
    if (drag_ == Drag::In) emit inDragged(frame);
    if (drag_ == Drag::Out) emit outDragged(frame);
    if (drag_ == Drag::Playhead) emit playheadMoved(frame);
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    drag_ = Drag::None;
    QWidget::mouseReleaseEvent(event);
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    if (!times_) return;
    const QPoint delta = event->angleDelta();
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
