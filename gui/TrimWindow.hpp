// The trim window: the Qt side of ViewController. It draws the model's texts and
// slider values into the controls of TrimWindow.ui, turns the user's edits into
// the model's actions, asks for the files, and runs each copy on a thread of its
// own while the window stays responsive.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <ostream>

#include "gui/Settings.hpp"
#include "trim/History.hpp"
#include "trim/TakeLanes.hpp"
#include "trim/TrimView.hpp"
#include "trim/ViewController.hpp"

class QLabel;
class QLineEdit;
class QMessageBox;
class QSlider;

namespace Ui {
class TrimWindow;
}

namespace keeptime {

class SegmentsPanel;
class TimelinePanel;

class TrimWindow : public QMainWindow, public TrimView {
    Q_OBJECT

public:
    // log, when given, receives the core's "Done" and byte-count lines.
    explicit TrimWindow(std::ostream* log = nullptr, QWidget* parent = nullptr);
    ~TrimWindow() override;

    // TrimView: what the model draws and reads.
    void setText(Element element, const std::string& text) override;
    std::string text(Element element) const override;
    void setSliderValue(Element slider, double value) override;
    double sliderValue(Element slider) const override;
    void showStatus(const std::string& message) override;
    void setSliderRange(Element slider, std::int64_t steps, std::int64_t perSecond) override;
    void showRange(std::int64_t in, std::int64_t out) override;

    const ViewController& controller() const { return controller_; }
    // The waveform, its playback and its keys.
    TimelinePanel* timeline() const { return timeline_; }
    // The list of segments under the waveform.
    SegmentsPanel* segmentsPanel() const { return segments_; }

    // Opens path as if it had been chosen in the open dialog. A refused file is
    // reported to the user and leaves the window as it was; returns whether it opened.
    bool openFile(const QString& path);
    // Starts copying the chosen range to output, as if it had been chosen in the
    // save dialog; returns whether a copy started.
    bool saveTo(const QString& output);
    // Starts copying the chosen range of every file of the take into folder, as if
    // it had been chosen in the folder dialog (copies already there are replaced only
    // when the user says so); returns whether the save started.
    bool saveTakeTo(const QString& folder);
    // Whether a copy is running that the user has not cancelled.
    bool copyInProgress() const;
    // Cancels every copy and waits for their threads, so that no unfinished
    // file is left when this returns.
    void stopAllCopies();

signals:
    // A copy ended: completed, cancelled or failed (then message says why).
    void copyEnded(const QString& output, bool completed, const QString& message);

public slots:
    void weirdTCChecked(bool on);
    // The timecode rate for recordings that name none: 0 for seconds, else a standard rate.
    void rateChosen(int index);
    void filePickerPressed();
    void convertPressed();
    void startTCFilled();
    void endTCFilled();
    void startFileFilled();
    void endFileFilled();
    void startFromEndFilled();
    void endFromEndFilled();
    void startSliderMoved();
    void endSliderMoved();
    // "Cancel" while the newest copy runs, otherwise "Save": enabled only when a
    // copy can be made, else the reason stands beside it.
    void updateSaveButton();
    // A copy's whole percent, on the main thread.
    void reportProgress(qint64 percent);

protected:
    // The questions the window asks the user. Tests answer them without dialogs.
    // folder: where the open dialog starts; suggested: the save dialog's folder and name.
    virtual QString chooseInputFile(const QString& folder);
    virtual QString chooseOutputFile(const QString& suggested);
    // For a whole take: the folder its copies go into.
    virtual QString chooseOutputFolder(const QString& start);
    // path, when given, is the file concerned; it is shown apart from the reason.
    virtual void showProblem(const QString& summary, const QString& path, const QString& reason);
    // True to stop the copies and close; false to keep saving, and close once saved.
    // The question closes itself, with true, when the last copy ends while it is open.
    virtual bool confirmStopCopy();
    // True to replace names, files already in folder, with the take's copies.
    virtual bool confirmReplace(const QString& folder, const QStringList& names);
    // Save All Segments: true to write names (the files the save makes) into folder.
    virtual bool confirmSegmentNames(const QString& folder, const QStringList& names);
    // A list of count segments was kept for the recording opened (in its sidecar, or the settings): true to restore it.
    virtual bool confirmRestoreSegments(const QString& recording, std::size_t count);
    // Opens a folder in the desktop's file manager; false when none could be opened.
    virtual bool openExternally(const QUrl& url);

    // The box showProblem shows: wide enough for a path, which stands on a line of
    // its own, elided in the middle when long, and whole in the box's details.
    std::unique_ptr<QMessageBox> problemBox(const QString& summary, const QString& path, const QString& reason);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void connectField(QLineEdit* field, void (TrimWindow::*action)());
    QLineEdit* field(Element element) const;
    QSlider* slider(Element element) const;
    void commitPendingEdit();
    // The time field holding typed text not yet applied, if any.
    std::optional<Element> pendingField() const;
    // While a copy runs, the file and the points it was made from stay as they are.
    void lockWhileCopying();
    // A line for the status bar; under the line that says what is being saved, while that lasts.
    void showMessage(const QString& text);
    QString suggestedOutput() const;
    void handleCopyEnd(const std::shared_ptr<Copy>& copy, const CopyOutcome& outcome);
    // Starts the copy that start() plans and runs it on a thread of its own; a copy that
    // cannot be planned is reported, and nothing starts.
    bool runCopy(const std::function<std::shared_ptr<Copy>()>& start);
    // A take of several files is open and the user chose to trim it whole.
    bool savingWholeTake() const;
    // What Undo restores: the points, the rate chosen and the take box.
    EditState editState() const;
    void applyEditState(const EditState& state);
    void undo();
    void redo();
    void updateEditActions();
    void buildMenus();
    // The segment list changed: one step to undo, and kept beside the recording.
    void segmentsChanged();
    // Writes the sidecar when the list differs from the one written last.
    void keepSidecar();
    // In take mode every file of the take has its lanes; else the opened file alone.
    void showTakeLanes();

    std::unique_ptr<Ui::TrimWindow> ui_;
    TimelinePanel* timeline_;
    SegmentsPanel* segments_ = nullptr;
    std::vector<Segment> sidecarKept_;  // the list the sidecar (or the settings) holds for the open recording
    ViewController controller_;
    Settings settings_;
    History history_;
    // The opened file's take, each file placed by time of day (the opened file first).
    TakeLayout takeLayout_;
    QLabel* takeList_ = nullptr;
    QAction* undoAction_ = nullptr;
    QAction* redoAction_ = nullptr;
    // The copies' threads; each copy is the controller's.
    QThreadPool copyThreads_;
    // "A copy is still being saved" while it is open.
    QPointer<QMessageBox> stopQuestion_;
    // The folder of the copy saved last, for "Show in Folder".
    QString savedFolder_;
    // What the newest copy writes, while it runs: "Saving 10:00:05:00–10:01:35:00 of take.wav to scene.wav…".
    QString savingLine_;
    // The user asked to quit and chose to keep saving: the window closes when the copy ends.
    bool closeWhenSaved_ = false;
};

}  // namespace keeptime
