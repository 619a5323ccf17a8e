// The take's waveform: every channel in its own lane under a timecode ruler, the
// kept range highlighted between its in and out handles, and the playhead. It
// shows what it is given and reports what the user does with the mouse and the
// wheel; the window decides what that means for the points.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "segments/Segments.hpp"
#include "audio/Peaks.hpp"
#include "meta/Markers.hpp"
#include "trim/Timeline.hpp"
#include "timecode/Clock.hpp"

class QScrollBar;

namespace keeptime {

class WaveformView : public QWidget {
    Q_OBJECT

public:
    explicit WaveformView(QWidget* parent = nullptr);

    // A new file: no peaks yet, shown whole. Lanes are numbered, and named ("1 Boom")
    // from names when there is one for each channel.
    void setFile(const Clock& times, int channels, const std::vector<std::string>& names = {});
    // The texts of the ruler follow the times (rate, weird-TC).
    void setTimes(const Clock& times);
    // Another file of the take: its channels as lanes after the others, its first frame at
    // offset of the opened file's frames. Returns its number for the peaks.
    int addSource(int channels, std::int64_t offset, const QStringList& names);
    int lanes() const { return channels_; }
    // Each lane's track name; empty for a lane that has none.
    QStringList laneNames() const { return laneNames_; }
    // Peaks of a whole file (0: the opened one), as far as they are read; finer ones for a stretch.
    void setOverview(std::shared_ptr<const Peaks> peaks, int source = 0);
    void setDetail(std::shared_ptr<const Peaks> peaks, int source = 0);
    void setRange(std::int64_t in, std::int64_t out);
    // Moves the playhead; keepInView pages the view along, as while playing.
    void setPlayhead(std::int64_t frame, bool keepInView = false);
    std::int64_t playhead() const { return playhead_; }
    // Locked handles are drawn grey and cannot be dragged: a click there moves the playhead.
    void setHandlesLocked(bool locked);
    // The scroll bar that moves the view, kept in step with it.
    void attachScrollBar(QScrollBar* bar);

    const Timeline& timeline() const { return timeline_; }
    const std::optional<Clock>& times() const { return times_; }

    // The file's markers: cue points as flags under the ruler with their labels, regions as spans.
    void setMarkers(std::vector<Marker> markers);
    const std::vector<Marker>& markers() const { return markers_; }
    // The Segments panel's list: numbered spans along the waveform's foot.
    void setSegments(std::vector<Segment> segments);

    // Vertical zoom: full scale is this many times the lane's half height (1 to kMaxLevelZoom).
    double levelZoom() const { return levelZoom_; }
    void setLevelZoom(double zoom);
    static constexpr double kMaxLevelZoom = 64;
    // While playing, each lane shows the peak level of the moment heard beside it.
    void setMetering(bool on);

public slots:
    void zoomIn();
    void zoomOut();
    void showWholeTake();
    void levelUp();
    void levelDown();
    void levelReset();

signals:
    void inDragged(std::int64_t frame);
    void outDragged(std::int64_t frame);
    void playheadMoved(std::int64_t frame);
    // A drag across the lanes, from where it was pressed to where the pointer is.
    void rangeDragged(std::int64_t from, std::int64_t to);
    // Shift+click: the nearer point to frame. Double-click: the stretch between the markers around frame.
    void extendWanted(std::int64_t frame);
    void stretchWanted(std::int64_t frame);
    // A drag of a handle or of a range starts and ends: what it changes is one step to undo.
    void gestureStarted();
    void gestureEnded();
    // The frame under the pointer on the ruler or the lanes; none once it leaves.
    void pointerMoved(std::optional<std::int64_t> frame);
    void levelZoomChanged(double zoom);
    // The playhead was drawn somewhere else, for whatever reason.
    void playheadChanged(std::int64_t frame);
    // Zoomed or scrolled: a stretch may now want finer peaks than the overview has.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, In, Out, Playhead, Select };
    Drag handleAt(double x) const;
    void viewMoved();
    void paintWaveform();
    void syncScrollBar();
    void paintMarkers(QPainter& painter);
    void paintSegments(QPainter& painter);
    void paintLevels(QPainter& painter);
    struct Source {
        int channels = 1;
        std::int64_t offset = 0;  // the opened file's frame at this file's first
        int firstLane = 0;
        std::shared_ptr<const Peaks> overview{}, detail{};
    };
    // The finest peaks of a source that cover the view.
    const Peaks* shownPeaks(const Source& source) const;
    double laneHeight() const;

    Timeline timeline_;
    std::optional<Clock> times_;
    int channels_ = 0;
    QStringList laneNames_;
    std::vector<Source> sources_;
    std::int64_t in_ = 0, out_ = 0, playhead_ = 0;
    Drag drag_ = Drag::None;
    std::int64_t selectFrom_ = 0;  // where a range drag was pressed
    double pressX_ = 0;
    bool selecting_ = false;       // the pointer has moved far enough for a range
    std::vector<Marker> markers_;
    std::vector<Segment> segments_;
    double levelZoom_ = 1;
    bool metering_ = false;
    bool handlesLocked_ = false;
    QScrollBar* scrollBar_ = nullptr;
    double scrollScale_ = 1;  // frames per scroll-bar step
    QPixmap waveform_;        // the lanes, redrawn only when the view or the peaks change
    bool waveformStale_ = true;
};

}  // namespace keeptime
