// The waveform with its scroll bar and buttons, the reading of its peaks on a
// worker thread, and playback. The window hands it the loaded file and the two
// points, and hears back when the user moves a point with a handle or a key.
#pragma once

#include <QAction>
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
    void setTimes(const Clock& times);
    void setRange(std::int64_t in, std::int64_t out);

    WaveformView* view() const { return view_; }
    std::int64_t playhead() const;
    bool playing() const;
    // The keys of the timeline, for the window to carry: Space, I, O, Shift+I,
    // Shift+O, [, ], zoom in and out, the whole take.
    QList<QAction*> keyActions() const { return keys_; }

    // While locked, neither the handles nor the keys move the points (a copy of them is
    // being saved); the playhead still moves and plays.
    void setPointsLocked(bool locked);

    // Plays [from, until) from the file, or says in the status line why it cannot.
    void play(std::int64_t from, std::optional<std::int64_t> until = std::nullopt, bool returnAfter = false);
    void stop();

signals:
    void inWanted(std::int64_t frame);
    void outWanted(std::int64_t frame);
    // A line for the status bar, such as that there is no audio device.
    void message(const QString& text);

private:
    void readOverview();
    void readDetail();
    void playOrStop();
    void followPlayhead();
    void chooseChannel(int channel);
    QAction* addKey(const QString& text, const QKeySequence& key, void (TimelinePanel::*slot)());
    void previewIn();
    void previewOut();
    void markIn();
    void markOut();
    void toIn();
    void toOut();

    WaveformView* view_;
    QScrollBar* scrollBar_;
    QToolButton* playButton_;
    QToolButton* channelButton_;
    QMenu* channelMenu_;
    QList<QAction*> keys_;
    QAction* markInKey_;
    QAction* markOutKey_;
    bool loaded_ = false;
    bool pointsLocked_ = false;

    std::shared_ptr<const PcmReader> reader_;
    std::int64_t in_ = 0, out_ = 0;
    int channel_ = -1;  // -1: the first two channels
    // Peak readers in flight; a newer file or view cancels the older ones.
    QThreadPool peakThreads_;
    std::shared_ptr<PeakReader> overviewJob_, detailJob_;
    int generation_ = 0;
    QTimer detailTimer_;

    AudioOutput* audio_;
    QTimer playTimer_;
    std::optional<std::int64_t> returnTo_;  // where the playhead goes back to after a check of a cut
    bool toldNoDevice_ = false;
};

}  // namespace keeptime
