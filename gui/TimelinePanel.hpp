// The waveform with its scroll bar and buttons, the reading of its peaks on a
// worker thread, and playback. The window hands it the loaded file and the two
// points, and hears back when the user moves a point with a handle or a key.
#pragma once

#include <QAction>
#include <QElapsedTimer>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "recording/BWFParser.hpp"
#include "io/File.hpp"
#include "audio/PcmReader.hpp"
#include "audio/Peaks.hpp"
#include "timecode/Clock.hpp"
#include "trim/TakeLanes.hpp"
#include "trim/Transport.hpp"

class QLabel;
class QToolButton;
class QScrollBar;
class QMenu;

namespace keeptime {

class AudioOutput;
class WaveformView;

class TimelinePanel : public QWidget {
    Q_OBJECT

public:
    explicit TimelinePanel(QWidget* parent = nullptr);
    ~TimelinePanel() override;

    // A newly loaded file; its peaks are read on a worker thread from now on.
    void load(std::shared_ptr<const FileHandle> input, const BWFParser& parser, const Clock& times);
    // The other files of a take, drawn as lanes after the opened file's; none: the file alone.
    void showTake(const std::vector<TakeTrack>& others);
    void setTimes(const Clock& times);
    void setRange(std::int64_t in, std::int64_t out);

    WaveformView* view() const { return view_; }
    std::int64_t playhead() const;
    bool playing() const;
    // The keys of the timeline, for the window to carry: Space, I, O, Shift+I,
    // Shift+O, [, ], zoom in and out, the whole take.
    QList<QAction*> keyActions() const { return keys_; }
    // Those of them that change what the view shows (zoom and level scale), for a View menu.
    QList<QAction*> viewActions() const { return viewKeys_; }
    const Transport& transport() const { return transport_; }

    // While locked, neither the handles nor the keys move the points (a copy of them is
    // being saved); the playhead still moves and plays.
    void setPointsLocked(bool locked);

    // Plays [from, until) from the file, or says in the status line why it cannot.
    // loop: until wraps to from with no gap; stride 2 plays twice as fast.
    // start: where in [from, until) to begin (from when none).
    void play(std::int64_t from, std::optional<std::int64_t> until = std::nullopt, bool returnAfter = false,
              bool loop = false, int stride = 1, std::optional<std::int64_t> start = std::nullopt);
    void stop();
    // Ctrl+Space: from the in point to the out point, round and round while Loop is on.
    void playKeptPart();
    void setLoop(bool on);
    // J, K and L.
    void shuttleBack();
    void shuttleStop();
    void shuttleForward();
    // , and .: the playhead to the marker before or after it.
    void toPreviousMarker();
    void toNextMarker();

signals:
    void inWanted(std::int64_t frame);
    void outWanted(std::int64_t frame);
    // Both points at once: a drag across the lanes, a double-click between markers.
    void rangeWanted(std::int64_t from, std::int64_t to);
    // A drag of a handle or a range begins and ends: one step to undo.
    void gestureStarted();
    void gestureEnded();
    // A line for the status bar, such as that there is no audio device.
    void message(const QString& text);

private:
    // A file whose lanes are drawn: the opened one (source 0) or another of its take.
    struct Source {
        std::shared_ptr<const PcmReader> reader;
        std::int64_t offset = 0;  // the opened file's frame at this one's first
        std::shared_ptr<PeakReader> overviewJob{}, detailJob{};
    };
    void readOverview(std::size_t source);
    void readDetail();
    void readDetail(std::size_t source);
    void cancelReads();
    void buildHearMenu(const QStringList& laneNames);
    void hear(int source, int channel);
    void playOrStop();
    void followPlayhead();
    QAction* addKey(const QString& text, const QKeySequence& key, void (TimelinePanel::*slot)());
    void previewIn();
    void previewOut();
    void markIn();
    void markOut();
    void toIn();
    void toOut();
    void shuttle(int speed);
    void moveShuttle();
    void scrub(std::int64_t frame);
    void showPlayhead(std::int64_t frame);
    void showPointer(std::optional<std::int64_t> frame);
    QString timeText(std::int64_t frame) const;
    void toMarker(std::optional<std::int64_t> frame);

    WaveformView* view_;
    QScrollBar* scrollBar_;
    QToolButton* playButton_;
    QToolButton* channelButton_;
    QMenu* channelMenu_;
    QList<QAction*> keys_;
    QList<QAction*> viewKeys_;
    QAction* loopKey_;
    QLabel* playheadReadout_;
    QLabel* pointerReadout_;
    std::vector<std::int64_t> markerBounds_;
    Transport transport_;
    QTimer shuttleTimer_;          // moves the playhead in reverse, where nothing is heard
    QElapsedTimer shuttleClock_;
    std::int64_t shuttleFrom_ = 0;
    QElapsedTimer scrubClock_;     // grains no closer than a few tens of milliseconds
    bool playingKeptPart_ = false; // Loop turned on or off applies at once
    QAction* markInKey_;
    QAction* markOutKey_;
    bool loaded_ = false;
    bool pointsLocked_ = false;

    std::shared_ptr<const PcmReader> reader_;
    std::int64_t in_ = 0, out_ = 0;
    // What is heard: a file of the take, and its channel (-1: its first two channels).
    int hearSource_ = 0;
    int channel_ = -1;
    std::int64_t playOffset_ = 0;  // of the file being played
    std::vector<Source> sources_;
    std::vector<std::string> trackNames_;  // of the opened file
    // Peak readers in flight; a newer file or view cancels the older ones.
    QThreadPool peakThreads_;
    int generation_ = 0;
    QTimer detailTimer_;

    AudioOutput* audio_;
    QTimer playTimer_;
    std::optional<std::int64_t> returnTo_;  // where the playhead goes back to after a check of a cut
    bool toldNoDevice_ = false;
};

}  // namespace keeptime
