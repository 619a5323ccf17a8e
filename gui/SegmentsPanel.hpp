// The Segments panel under the waveform: the recording's list of named ranges
// (name, in, out, length, each editable in the time language), filled from the
// current range, the markers, the regions or a fixed length, and saved all at
// once with one progress bar, all or none, through the same planning and save
// as keeptime-cli split. The list itself is a SegmentList; the window keeps its
// undo history and its sidecar.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "meta/Markers.hpp"
#include "gui/SaveWorker.hpp"
#include "trim/SegmentList.hpp"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace keeptime {

class TakeSave;
struct SaveOutcome;

class SegmentsPanel : public QWidget {
    Q_OBJECT
public:
    explicit SegmentsPanel(QWidget* parent = nullptr);
    ~SegmentsPanel() override;

    // A recording opened: its list starts empty.
    void load(const std::filesystem::path& recording, const Clock& clock, std::vector<Marker> markers);
    // The rate or weird-TC mode changed: the same frames, other texts.
    void setClock(const Clock& clock);
    const std::vector<Segment>& segments() const;
    // The list as it was (an undo, a sidecar restored); not a change of its own.
    void setSegments(const std::vector<Segment>& segments);
    // Adds [first, end) at the end and selects it; false for a range without audio.
    bool add(std::int64_t first, std::int64_t end);
    void removeSelected();
    // The handles moved: the row the user selected takes their range, so that moving them edits
    // it. False when no row is selected or it holds that range already. Not a step of its own:
    // the window's step for the range holds the list too.
    bool followRange(std::int64_t first, std::int64_t end);
    // No row follows the handles until the user selects one again.
    void clearSelection();

    // Writes every segment into folder under the pattern field's names, all or none:
    // false, having said why, when nothing is started.
    bool saveAllTo(const QString& folder);
    bool saving() const { return worker_.saving(); }
    // Cancels a running save and waits for it: none of its copies is left.
    void stop();
    QString statusText() const;

    // The questions the save asks, answered by the window (and by tests).
    std::function<QString()> askFolder;
    std::function<bool(const QString& folder, const QStringList& names)> confirmNames;
    std::function<void(const QString& summary, const QString& path, const QString& reason)> problem;
    std::function<ClockChoice()> times;
    // The files each segment is cut from: the recording alone, or every file of its take.
    std::function<std::vector<std::filesystem::path>()> members;

signals:
    // "Add": the window answers with add() of the range under the handles.
    void addWanted();
    // The list changed by the user's action: one step to undo.
    void changed();
    // A row was selected: its range goes under the handles.
    void rangeChosen(std::int64_t first, std::int64_t end);
    void saveEnded(bool completed);
    // The list as the table now shows it, for the timeline to draw.
    void shown();

private:
    void refill();
    void cellEdited(int row, int column);
    void fill(std::vector<Segment> segments, const QString& source);
    void saveAll();
    void ended(const SaveOutcome& outcome);

    std::filesystem::path recording_;
    std::unique_ptr<SegmentList> list_;
    std::vector<Marker> markers_;
    QTableWidget* table_ = nullptr;
    QLineEdit* every_ = nullptr;
    QLineEdit* pattern_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    std::vector<QPushButton*> buttons_;
    bool refilling_ = false;
    SaveWorker worker_;
};

}  // namespace keeptime
