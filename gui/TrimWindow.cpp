#include "gui/TrimWindow.hpp"

#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QToolTip>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "base/BWFError.hpp"
#include "io/File.hpp"
#include "gui/ConformDialog.hpp"
#include "gui/SegmentsPanel.hpp"
#include "gui/TimelinePanel.hpp"
#include "gui/WaveformView.hpp"
#include "trim/Details.hpp"
#include "trim/SegmentList.hpp"
#include "trim/Selection.hpp"
#include "ui_TrimWindow.h"

namespace keeptime {

namespace {

std::filesystem::path toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString fromPath(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// A message box this many average characters wide holds a path of about kPathChars on one line.
constexpr int kBoxChars = 72;
constexpr int kPathChars = 56;

// QMessageBox sizes itself to its texts, and lays itself out anew when they change: a
// spacer across its grid, added last, sets the least width.
void widen(QMessageBox& box) {
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(QFontMetrics(box.font()).averageCharWidth() * kBoxChars, 0, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// What the quit question ends with when the last copy ended while it was open.
constexpr int kNothingLeftToStop = 0x7fff;

}  // namespace

TrimWindow::TrimWindow(std::ostream* log, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TrimWindow>()), timeline_(nullptr), controller_(*this, log) {
    ui_->setupUi(this);
    auto* timelineLayout = new QVBoxLayout(ui_->timelineArea);
    timelineLayout->setContentsMargins(0, 0, 0, 0);
    timeline_ = new TimelinePanel(ui_->timelineArea);
    timelineLayout->addWidget(timeline_);
    // The segments under the waveform, in a dock the user may move or close.
    auto* dock = new QDockWidget(tr("Segments"), this);
    dock->setObjectName("segmentsDock");
    segments_ = new SegmentsPanel(dock);
    segments_->setObjectName("segmentsPanel");
    dock->setWidget(segments_);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    // A few rows tall: the waveform keeps the window's spare height.
    resizeDocks({dock}, {fontMetrics().height() * 9}, Qt::Vertical);
    buildMenus();
    segments_->askFolder = [this] { return chooseOutputFolder(settings_.saveFolder()); };
    segments_->confirmNames = [this](const QString& folder, const QStringList& names) {
        return confirmSegmentNames(folder, names);
    };
    segments_->problem = [this](const QString& summary, const QString& path, const QString& reason) {
        showProblem(summary, path, reason);
    };
    segments_->times = [this] { return controller_.choice(); };
    // With the take box on, as Save does, every file of the take at the same times of day.
    segments_->members = [this] {
        return savingWholeTake() ? controller_.take.members : std::vector{*controller_.selectedFile};
    };
    connect(segments_, &SegmentsPanel::addWanted, this, [this] {
        if (controller_.parser && !segments_->add(*controller_.newStart, *controller_.newEnd))
            showMessage(tr("The range holds no audio: no segment added."));
    });
    connect(segments_, &SegmentsPanel::changed, this, &TrimWindow::segmentsChanged);
    connect(segments_, &SegmentsPanel::shown, this, [this] { timeline_->view()->setSegments(segments_->segments()); });
    connect(segments_, &SegmentsPanel::rangeChosen, this, [this](std::int64_t first, std::int64_t end) {
        if (controller_.anyRunning()) return;  // the points a copy was planned from stay
        controller_.newStart = first, controller_.newEnd = end;
        controller_.updateDisplay();
        updateSaveButton();
    });
    connect(segments_, &SegmentsPanel::saveEnded, this, [this] {
        updateEditActions();
        if (closeWhenSaved_ && !copyInProgress()) close();
    });
    // Enter in the waveform adds the range, as A does anywhere but in a field.
    timeline_->view()->installEventFilter(this);
    controller_.snap = settings_.snapToLabels();
    connect(timeline_, &TimelinePanel::inWanted, this, [this](std::int64_t frame) {
        controller_.inPointAt(frame);
        updateSaveButton();
    });
    connect(timeline_, &TimelinePanel::outWanted, this, [this](std::int64_t frame) {
        controller_.outPointAt(frame);
        updateSaveButton();
    });
    connect(timeline_, &TimelinePanel::rangeWanted, this, [this](std::int64_t from, std::int64_t to) {
        controller_.rangeAt(from, to);
        updateSaveButton();
    });
    // A drag is one step to undo, however many pixels it crossed.
    connect(timeline_, &TimelinePanel::gestureStarted, this, [this] { history_.beginGesture(); });
    connect(timeline_, &TimelinePanel::gestureEnded, this, [this] {
        history_.endGesture(editState());
        updateEditActions();
        keepSidecar();
    });
    connect(ui_->startSlider, &QSlider::sliderPressed, this, [this] { history_.beginGesture(); });
    connect(ui_->endSlider, &QSlider::sliderPressed, this, [this] { history_.beginGesture(); });
    for (QSlider* held : {ui_->startSlider, ui_->endSlider})
        connect(held, &QSlider::sliderReleased, this, [this] {
            history_.endGesture(editState());
            updateEditActions();
            keepSidecar();
        });
    connect(timeline_, &TimelinePanel::message, this, &TrimWindow::showMessage);

    connect(ui_->openButton, &QPushButton::clicked, this, &TrimWindow::filePickerPressed);
    connect(ui_->openAction, &QAction::triggered, this, &TrimWindow::filePickerPressed);
    connect(ui_->saveButton, &QPushButton::clicked, this, &TrimWindow::convertPressed);
    // The shortcuts do one thing each, whatever the button shows at the moment.
    connect(ui_->saveAction, &QAction::triggered, this, [this] {
        if (!controller_.newestRunning()) convertPressed();
    });
    connect(ui_->cancelCopyAction, &QAction::triggered, this, [this] {
        if (controller_.newestRunning()) convertPressed();
    });
    connect(ui_->quitAction, &QAction::triggered, this, &QWidget::close);
    connect(ui_->weirdTCCheckBox, &QCheckBox::clicked, this, &TrimWindow::weirdTCChecked);
    ui_->wholeTakeCheckBox->setChecked(settings_.wholeTake());
    connect(ui_->wholeTakeCheckBox, &QCheckBox::clicked, this, [this](bool on) {
        settings_.setWholeTake(on);
        showTakeLanes();
        history_.changed(editState());
        updateEditActions();
    });
    // The take's files by their track names; each name's file shows when the pointer rests on it.
    takeList_ = new QLabel(this);
    takeList_->setObjectName("takeList");
    takeList_->setTextFormat(Qt::RichText);
    takeList_->setWordWrap(true);
    takeList_->hide();
    connect(takeList_, &QLabel::linkHovered, this, [this](const QString& file) {
        QToolTip::showText(QCursor::pos(), file, takeList_);
    });
    if (auto* grid = qobject_cast<QGridLayout*>(ui_->wholeTakeCheckBox->parentWidget()->layout()))
        grid->addWidget(takeList_, grid->rowCount(), 1, 1, 6);
    // What was chosen last time shows, and applies, from the start.
    ui_->weirdTCCheckBox->setChecked(settings_.weirdTC());
    controller_.weirdTC = settings_.weirdTC();
    ui_->rateBox->addItem(tr("Seconds"));
    for (const auto& [name, rate] : standardRates()) {
        ui_->rateBox->addItem(tr("%1 fps").arg(QString::fromUtf8(name.data(), static_cast<int>(name.size()))));
        if (settings_.timecodeRate() == QString::fromUtf8(name.data(), static_cast<int>(name.size()))) {
            ui_->rateBox->setCurrentIndex(ui_->rateBox->count() - 1);
            controller_.chosenRate = rate;
        }
    }
    connect(ui_->rateBox, &QComboBox::currentIndexChanged, this, &TrimWindow::rateChosen);
    connect(ui_->startSlider, &QSlider::valueChanged, this, &TrimWindow::startSliderMoved);
    connect(ui_->endSlider, &QSlider::valueChanged, this, &TrimWindow::endSliderMoved);
    connectField(ui_->startTCText, &TrimWindow::startTCFilled);
    connectField(ui_->endTCText, &TrimWindow::endTCFilled);
    connectField(ui_->startFileText, &TrimWindow::startFileFilled);
    connectField(ui_->endFileText, &TrimWindow::endFileFilled);
    connectField(ui_->startFromEndText, &TrimWindow::startFromEndFilled);
    connectField(ui_->endFromEndText, &TrimWindow::endFromEndFilled);
    connect(ui_->showInFolderButton, &QPushButton::clicked, this, [this] {
        if (!openExternally(QUrl::fromLocalFile(savedFolder_)))
            showMessage(tr("No file manager could be opened to show %1.").arg(savedFolder_));
    });

    // Qt's Home and End ignore invertedControls; the start slider runs backwards.
    ui_->startSlider->installEventFilter(this);

    // Copies wait for no free thread: each starts when the user asks for it.
    copyThreads_.setMaxThreadCount(64);
    // The first time, most of the screen: the waveform wants room. Later, where the user left it.
    if (!restoreGeometry(settings_.windowGeometry())) {
        if (const QScreen* screen = this->screen()) {
            const QRect free = screen->availableGeometry();
            resize(free.size() * 0.8);
            move(free.center() - rect().center());
        }
    }
    ui_->rateBox->setEnabled(false);
    ui_->detailsText->hide();
    updateSaveButton();
}

TrimWindow::~TrimWindow() {
    stopAllCopies();
    // The controls outlive ui_ and the model: their last focus changes must not reach them.
    for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->disconnect(this);
}

bool TrimWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == timeline_->view() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !static_cast<QKeyEvent*>(event)->modifiers()) {
            emit segments_->addWanted();
            return true;
        }
    }
    if (watched == ui_->startSlider && event->type() == QEvent::KeyPress) {
        // Home goes to the left (the file's start), End to the right, as on the end slider.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Home || key == Qt::Key_End) {
            ui_->startSlider->triggerAction(key == Qt::Key_Home ? QAbstractSlider::SliderToMaximum
                                                                : QAbstractSlider::SliderToMinimum);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TrimWindow::connectField(QLineEdit* edit, void (TrimWindow::*action)()) {
    // Enter and leaving the field both finish an edit; a field that was only
    // passed through keeps the point exactly as a slider left it.
    connect(edit, &QLineEdit::editingFinished, this, [this, edit, action] {
        if (edit->isModified()) (this->*action)();
    });
    // Save follows the typing, before it is applied.
    connect(edit, &QLineEdit::textEdited, this, &TrimWindow::updateSaveButton);
}

std::optional<Element> TrimWindow::pendingField() const {
    for (Element element : {Element::startTCText, Element::startFileText, Element::startFromEndText, Element::endTCText,
                            Element::endFileText, Element::endFromEndText})
        if (field(element)->isModified()) return element;
    return std::nullopt;
}

void TrimWindow::lockWhileCopying() {
    const bool locked = controller_.anyRunning();
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui_->startTCText, ui_->startFileText, ui_->startFromEndText, ui_->endTCText, ui_->endFileText,
             ui_->endFromEndText, ui_->startSlider, ui_->endSlider})
        control->setEnabled(controller_.parser && !locked);
    for (QWidget* control : std::initializer_list<QWidget*>{ui_->openButton, ui_->wholeTakeCheckBox, ui_->weirdTCCheckBox})
        control->setEnabled(!locked);
    ui_->openAction->setEnabled(!locked);
    timeline_->setPointsLocked(locked);
}

void TrimWindow::showMessage(const QString& text) {
    QString line = savingLine_;
    if (!line.isEmpty() && closeWhenSaved_) line += tr(" Keeptime closes once it is saved.");
    if (!line.isEmpty() && !text.isEmpty()) line += QLatin1Char('\n');
    ui_->statusText->setText(line + text);
}

QLineEdit* TrimWindow::field(Element element) const {
    switch (element) {
        case Element::fileTextField: return ui_->fileTextField;
        case Element::fileStartText: return ui_->fileStartText;
        case Element::fileLengthText: return ui_->fileLengthText;
        case Element::fileEndText: return ui_->fileEndText;
        case Element::startTCText: return ui_->startTCText;
        case Element::startFileText: return ui_->startFileText;
        case Element::startFromEndText: return ui_->startFromEndText;
        case Element::endTCText: return ui_->endTCText;
        case Element::endFileText: return ui_->endFileText;
        case Element::endFromEndText: return ui_->endFromEndText;
        case Element::durationText: return ui_->durationText;
        case Element::startSlider:
        case Element::endSlider: break;
    }
    return nullptr;
}

QSlider* TrimWindow::slider(Element element) const {
    if (element == Element::startSlider) return ui_->startSlider;
    if (element == Element::endSlider) return ui_->endSlider;
    return nullptr;
}

void TrimWindow::setText(Element element, const std::string& text) {
    if (QLineEdit* edit = field(element)) edit->setText(QString::fromStdString(text));
}

std::string TrimWindow::text(Element element) const {
    const QLineEdit* edit = field(element);
    return edit ? edit->text().toStdString() : std::string();
}

void TrimWindow::setSliderValue(Element element, double value) {
    QSlider* target = slider(element);
    if (!target) return;
    const QSignalBlocker onlyUserMovesAct(target);
    target->setValue(static_cast<int>(std::lround(std::isnan(value) ? 0.0 : value)));  // setValue clamps to the range
}

double TrimWindow::sliderValue(Element element) const {
    const QSlider* source = slider(element);
    return source ? source->value() : 0.0;
}

void TrimWindow::setSliderRange(Element element, std::int64_t steps, std::int64_t perSecond) {
    QSlider* target = slider(element);
    if (!target) return;
    // Arrow keys step one timecode frame (or second), Page Up and Down one second (or ten).
    const QSignalBlocker onlyUserMovesAct(target);
    target->setRange(0, static_cast<int>(steps));
    target->setSingleStep(1);
    target->setPageStep(static_cast<int>(perSecond > 1 ? perSecond : 10));
}

void TrimWindow::showRange(std::int64_t in, std::int64_t out) {
    // Called with every redraw, also after a change of rate or weird-TC mode.
    timeline_->setTimes(controller_.clock());
    timeline_->setRange(in, out);
    // A selected segment follows the handles; one step holds both.
    const bool followed = segments_ && segments_->followRange(in, out);
    history_.changed(editState());
    if (followed && !history_.inGesture()) keepSidecar();
    updateEditActions();
}

void TrimWindow::buildMenus() {
    // File > Open Recent, filled as it opens: a file gone since is reported when chosen, as any other.
    QMenu* recent = new QMenu(tr("Open &Recent"), this);
    recent->setObjectName("recentMenu");
    ui_->fileMenu->insertMenu(ui_->saveAction, recent);
    // File > Conform to an Edit List…: its own window, modeless, the same core as keeptime-cli conform.
    QAction* conform = new QAction(tr("&Conform to an Edit List…"), this);
    conform->setObjectName("conformAction");
    ui_->fileMenu->insertAction(ui_->quitAction, conform);
    ui_->fileMenu->insertSeparator(ui_->quitAction);
    connect(conform, &QAction::triggered, this, [this] {
        auto* dialog = findChild<ConformDialog*>();
        if (!dialog) dialog = new ConformDialog(this);
        dialog->show();
        dialog->raise();
    });
    connect(recent, &QMenu::aboutToShow, this, [this, recent] {
        recent->clear();
        const QStringList files = settings_.recentFiles();
        for (int i = 0; i < files.size(); ++i) {
            QAction* item = recent->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(fileName(files[i])));
            item->setToolTip(files[i]);
            item->setData(files[i]);
            connect(item, &QAction::triggered, this, [this, file = files[i]] {
                if (!copyInProgress()) openFile(file);
            });
        }
        recent->setToolTipsVisible(true);
        if (files.isEmpty()) recent->addAction(tr("No Recent Files"))->setEnabled(false);
    });
    QMenu* editMenu = menuBar()->addMenu(tr("&Edit"));
    undoAction_ = editMenu->addAction(tr("&Undo"), this, &TrimWindow::undo);
    undoAction_->setObjectName("undoAction");
    undoAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    redoAction_ = editMenu->addAction(tr("&Redo"), this, &TrimWindow::redo);
    redoAction_->setObjectName("redoAction");
    redoAction_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    editMenu->addSeparator();
    QAction* addSegment = editMenu->addAction(tr("&Add Segment"), segments_, &SegmentsPanel::addWanted);
    addSegment->setObjectName("addSegmentAction");
    addSegment->setShortcut(QKeySequence(Qt::Key_A));
    QAction* deleteSegment = new QAction(tr("Delete Segment"), segments_);
    deleteSegment->setShortcut(QKeySequence::Delete);
    deleteSegment->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(deleteSegment, &QAction::triggered, segments_, &SegmentsPanel::removeSelected);
    segments_->addAction(deleteSegment);
    QMenu* playbackMenu = menuBar()->addMenu(tr("&Playback"));
    const QList<QAction*> viewKeys = timeline_->viewActions();
    for (QAction* action : timeline_->keyActions())
        if (!viewKeys.contains(action)) playbackMenu->addAction(action);
    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addActions(viewKeys);
    viewMenu->addSeparator();
    QAction* snapAction = viewMenu->addAction(tr("&Snap to Timecode Frames"));
    snapAction->setObjectName("snapAction");
    snapAction->setCheckable(true);
    snapAction->setChecked(settings_.snapToLabels());
    connect(snapAction, &QAction::toggled, this, [this](bool on) {
        settings_.setSnapToLabels(on);
        controller_.snapChanged(on);
    });
    // A closed Segments panel comes back from here.
    if (auto* dock = findChild<QDockWidget*>("segmentsDock")) viewMenu->addAction(dock->toggleViewAction());
    QAction* details = viewMenu->addAction(tr("Show &Details"));
    details->setObjectName("detailsAction");
    details->setCheckable(true);
    details->setChecked(true);
    details->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(details, &QAction::toggled, this, [this](bool on) { ui_->detailsText->setVisible(on && controller_.parser); });
    // Keys reach the window wherever the focus is, except in a field being typed into.
    for (QAction* action : {undoAction_, redoAction_, snapAction, details, addSegment}) action->setShortcutContext(Qt::WindowShortcut);
}

EditState TrimWindow::editState() const {
    if (!controller_.parser) return {};
    return {*controller_.newStart, *controller_.newEnd, controller_.chosenRate, ui_->wholeTakeCheckBox->isChecked(),
            segments_->segments()};
}

void TrimWindow::applyEditState(const EditState& state) {
    history_.beginGesture();  // the steps of putting it back are not steps of their own
    segments_->clearSelection();  // no row takes the range put back
    controller_.newStart = state.in;
    controller_.newEnd = state.out;
    if (ui_->wholeTakeCheckBox->isChecked() != state.wholeTake) {
        ui_->wholeTakeCheckBox->setChecked(state.wholeTake);
        settings_.setWholeTake(state.wholeTake);
        showTakeLanes();
    }
    if (!(state.rate == controller_.chosenRate)) {
        const auto rates = standardRates();
        int index = 0;
        for (std::size_t i = 0; i < rates.size(); ++i)
            if (state.rate && rates[i].second == *state.rate) index = static_cast<int>(i) + 1;
        if (ui_->rateBox->isEnabled()) {
            const QSignalBlocker quiet(ui_->rateBox);
            ui_->rateBox->setCurrentIndex(index);
        }
        settings_.setTimecodeRate(index ? QString::fromUtf8(rates[static_cast<std::size_t>(index - 1)].first.data()) : QString());
        controller_.rateChosen(state.rate);
        segments_->setClock(controller_.clock());
    } else {
        controller_.updateDisplay();
    }
    if (state.segments != segments_->segments()) {
        segments_->setSegments(state.segments);
        segmentsChanged();
    }
    history_.endGesture(editState());
    updateSaveButton();
}

void TrimWindow::segmentsChanged() {
    history_.changed(editState());
    updateEditActions();
    keepSidecar();
}

void TrimWindow::keepSidecar() {
    if (!controller_.selectedFile || segments_->segments() == sidecarKept_) return;
    sidecarKept_ = segments_->segments();
    // Kept beside the recording, or in the settings where its folder cannot take it.
    const QString recording = fromPath(*controller_.selectedFile);
    const auto unsaved = saveSidecar(*controller_.selectedFile, controller_.clock(), segments_->segments());
    settings_.setSegmentList(recording, unsaved ? QString::fromStdString(*unsaved) : QString());
}

void TrimWindow::showTakeLanes() {
    std::vector<TakeTrack> others;
    if (savingWholeTake() && takeLayout_.tracks.size() > 1)
        others.assign(takeLayout_.tracks.begin() + 1, takeLayout_.tracks.end());
    timeline_->showTake(others);
}

void TrimWindow::undo() {
    if (controller_.anyRunning()) return;  // the points a copy was planned from stay
    if (auto state = history_.undo()) applyEditState(*state);
}

void TrimWindow::redo() {
    if (controller_.anyRunning()) return;
    if (auto state = history_.redo()) applyEditState(*state);
}

void TrimWindow::updateEditActions() {
    const bool free = controller_.parser && !controller_.anyRunning();
    undoAction_->setEnabled(free && history_.canUndo());
    redoAction_->setEnabled(free && history_.canRedo());
}

void TrimWindow::showStatus(const std::string& message) { showMessage(QString::fromStdString(message)); }

bool TrimWindow::openFile(const QString& given) {
    if (copyInProgress()) return false;  // the copy under way was planned from the file open now
    // A path from the command line may be relative; the window shows where the file is.
    const QString path = QFileInfo(given).absoluteFilePath();
    // A refused file leaves the previous one as it was.
    try {
        controller_.loadFile(toPath(path));
    } catch (const std::exception& error) {
        const auto* bwfError = dynamic_cast<const BWFError*>(&error);
        const bool named = bwfError && !bwfError->path().empty();
        showProblem(tr("“%1” cannot be opened.").arg(fileName(path)), named ? fromPath(bwfError->path()) : path,
                    named ? QString::fromStdString(bwfError->reason()) : QString::fromLocal8Bit(error.what()));
        return false;
    }
    settings_.setOpenFolder(folderOf(path));
    settings_.addRecentFile(QFileInfo(path).absoluteFilePath());
    // A fresh state: nothing said about an earlier file's copy.
    ui_->progressBar->setValue(0);
    ui_->statusText->clear();
    ui_->showInFolderButton->hide();
    // The rate box is for files that name no timecode rate of their own; for the
    // others it shows their rate, without changing the choice remembered.
    const auto own = controller_.parser->namedTimecodeRate();
    const auto rates = standardRates();
    int shown = 0;
    for (std::size_t i = 0; i < rates.size(); ++i)
        if (own ? rates[i].second == *own : settings_.timecodeRate() == QString::fromUtf8(rates[i].first.data(), static_cast<int>(rates[i].first.size())))
            shown = static_cast<int>(i) + 1;
    const QSignalBlocker keepChoice(ui_->rateBox);
    ui_->rateBox->setCurrentIndex(shown);
    ui_->rateBox->setEnabled(!own);
    ui_->rateBox->setToolTip(own ? tr("This recording names its own timecode rate: %1")
                                       .arg(QString::fromStdString(rateText(*own)))
                                 : tr("Timecode rate for recordings that name none"));
    const auto& notice = controller_.parser->notice();
    ui_->noticeText->setText(notice ? tr("Note: %1.").arg(QString::fromStdString(*notice)) : QString());
    ui_->noticeText->setVisible(notice.has_value());
    QString details = QString::fromStdString(detailsText(*controller_.parser));
    const auto& members = controller_.take.members;
    takeLayout_ = {};
    if (members.size() > 1) {
        try {
            takeLayout_ = layTake(members, *controller_.selectedFile, controller_.choice());
        } catch (const BWFError& error) {
            showMessage(QString::fromStdString(error.what()));
        }
        details += tr("\nTake: %n files", nullptr, static_cast<int>(members.size()));
        if (controller_.take.notice) details += QStringLiteral("\n") + QString::fromStdString(*controller_.take.notice);
        for (const std::string& problem : takeLayout_.problems) details += QStringLiteral("\n") + QString::fromStdString(problem);
    }
    // Short: each file by its tracks, in the take's order; its file's name as its tooltip.
    QStringList links;
    for (const auto& member : members)
        for (const TakeTrack& track : takeLayout_.tracks)
            if (track.file == member)
                links << QStringLiteral("<a href=\"%1\" style=\"text-decoration:none\">%2</a>")
                             .arg(fromPath(member.filename()).toHtmlEscaped(),
                                  QString::fromStdString(trackTitle(*track.parser, track.file)).toHtmlEscaped());
    takeList_->setText(tr("Take: %1").arg(links.join(QStringLiteral(" · "))));
    takeList_->setVisible(links.size() > 1);
    ui_->wholeTakeCheckBox->setVisible(members.size() > 1);
    ui_->detailsText->setText(details);
    ui_->detailsText->setVisible(findChild<QAction*>("detailsAction")->isChecked());
    timeline_->load(controller_.input, *controller_.parser, controller_.clock());
    showTakeLanes();
    controller_.updateDisplay();
    segments_->load(*controller_.selectedFile, controller_.clock(), markersOf(*controller_.input, *controller_.parser));
    sidecarKept_.clear();
    history_.reset(editState());
    updateEditActions();
    // The keys act at once: play, mark in and out, save.
    timeline_->view()->setFocus();
    setWindowTitle(tr("%1 — Keeptime").arg(fileName(path)));
    updateSaveButton();
    // A list kept from an earlier session is offered once the recording shows; restoring it is a step to undo.
    const QString kept = settings_.segmentList(path);
    const auto remembered = loadSidecar(*controller_.selectedFile, controller_.clock(),
                                        kept.isEmpty() ? std::nullopt : std::optional(kept.toStdString()));
    if (!remembered.empty() && confirmRestoreSegments(path, remembered.size())) {
        segments_->setSegments(remembered);
        sidecarKept_ = remembered;
        history_.changed(editState());
        updateEditActions();
    }
    return true;
}

void TrimWindow::filePickerPressed() {
    const QString path = chooseInputFile(controller_.selectedFile ? folderOf(fromPath(*controller_.selectedFile))
                                                                   : settings_.openFolder());
    if (!path.isEmpty()) openFile(path);
}

QString TrimWindow::suggestedOutput() const {
    // Beside the recording, unless it stands where nothing can be written (a locked card).
    QString folder = folderOf(fromPath(*controller_.selectedFile));
    if (!QFileInfo(folder).isWritable() && !settings_.saveFolder().isEmpty()) folder = settings_.saveFolder();
    const std::string name = copyName(*controller_.selectedFile, *controller_.newStart, controller_.clock());
    return QDir(folder).filePath(QFile::decodeName(name.c_str()));
}

void TrimWindow::weirdTCChecked(bool on) {
    settings_.setWeirdTC(on);
    controller_.weirdTCChanged(on);
    segments_->setClock(controller_.clock());
}

void TrimWindow::rateChosen(int index) {
    const auto rates = standardRates();
    const bool seconds = index <= 0 || static_cast<std::size_t>(index) > rates.size();
    settings_.setTimecodeRate(seconds ? QString() : QString::fromUtf8(rates[static_cast<std::size_t>(index - 1)].first.data()));
    controller_.rateChosen(seconds ? std::nullopt : std::optional(rates[static_cast<std::size_t>(index - 1)].second));
    segments_->setClock(controller_.clock());
}

void TrimWindow::startTCFilled() { controller_.startTCFilled(), updateSaveButton(); }
void TrimWindow::endTCFilled() { controller_.endTCFilled(), updateSaveButton(); }
void TrimWindow::startFileFilled() { controller_.startFileFilled(), updateSaveButton(); }
void TrimWindow::endFileFilled() { controller_.endFileFilled(), updateSaveButton(); }
void TrimWindow::startFromEndFilled() { controller_.startFromEndFilled(), updateSaveButton(); }
void TrimWindow::endFromEndFilled() { controller_.endFromEndFilled(), updateSaveButton(); }
void TrimWindow::startSliderMoved() { controller_.startSliderMoved(), updateSaveButton(); }
void TrimWindow::endSliderMoved() { controller_.endSliderMoved(), updateSaveButton(); }

void TrimWindow::commitPendingEdit() {
    const std::pair<QLineEdit*, void (TrimWindow::*)()> fields[] = {
        {ui_->startTCText, &TrimWindow::startTCFilled},
        {ui_->endTCText, &TrimWindow::endTCFilled},
        {ui_->startFileText, &TrimWindow::startFileFilled},
        {ui_->endFileText, &TrimWindow::endFileFilled},
        {ui_->startFromEndText, &TrimWindow::startFromEndFilled},
        {ui_->endFromEndText, &TrimWindow::endFromEndFilled},
    };
    for (const auto& [edit, action] : fields)
        if (edit->isModified()) (this->*action)();
}

void TrimWindow::convertPressed() {
    if (!controller_.parser) return;
    if (controller_.newestRunning()) {
        // Refused only once the copy is in place: it then ends as saved.
        controller_.cancelRunningCopy();
        updateSaveButton();
        return;
    }
    // Ctrl+S straight after typing: the typed point is what the user means.
    commitPendingEdit();
    // No dialog for a copy that cannot be made: the reason stands beside Save.
    if (controller_.saveRefusal()) return;
    if (savingWholeTake()) {
        const QString folder = chooseOutputFolder(settings_.saveFolder().isEmpty() ? folderOf(fromPath(*controller_.selectedFile))
                                                                                     : settings_.saveFolder());
        if (folder.isEmpty()) return;
        settings_.setSaveFolder(folder);
        saveTakeTo(folder);
        return;
    }
    const QString output = chooseOutputFile(suggestedOutput());
    if (output.isEmpty()) return;
    settings_.setSaveFolder(folderOf(output));
    saveTo(output);
}

bool TrimWindow::saveTo(const QString& output) {
    if (!controller_.parser) return false;
    if (sameFile(*controller_.selectedFile, toPath(output))) {
        showProblem(tr("The copy cannot replace the recording it is made from."), output,
                    tr("This is the file being trimmed, or a link to it. Choose another name for the copy."));
        return false;
    }
    return runCopy([&] { return controller_.startCopy(toPath(output)); });
}

bool TrimWindow::savingWholeTake() const {
    return controller_.parser && controller_.take.members.size() > 1 && ui_->wholeTakeCheckBox->isChecked();
}

bool TrimWindow::saveTakeTo(const QString& folder) {
    if (!controller_.parser) return false;
    std::vector<std::filesystem::path> present;
    try {
        present = controller_.takeCopiesIn(toPath(folder));
    } catch (const BWFError& error) {  // a folder that cannot take the copies is refused before any question
        showProblem(tr("The copy was not saved."), fromPath(error.path()), QString::fromStdString(error.reason()));
        return false;
    }
    QStringList names;
    for (const auto& file : present) names << fromPath(file.filename());
    if (!names.isEmpty() && !confirmReplace(folder, names)) return false;
    return runCopy([&] { return controller_.startTakeCopy(toPath(folder), !names.isEmpty()); });
}

bool TrimWindow::runCopy(const std::function<std::shared_ptr<Copy>()>& start) {
    std::shared_ptr<Copy> copy;
    try {
        copy = start();
    } catch (const BWFError& error) {  // nothing started: the copy cannot be planned
        showProblem(tr("The copy was not saved."), fromPath(error.path()), QString::fromStdString(error.reason()));
        return false;
    }
    copyThreads_.start([this, copy] {
        const CopyOutcome outcome = controller_.runCopy(*copy, [this, copy](std::int64_t percent) {
            QMetaObject::invokeMethod(
                this,
                [this, copy, percent] {
                    // An older copy finishing does not move the bar of the newest.
                    if (copy == controller_.newestCopy())
                        reportProgress(percent);
                    else
                        updateSaveButton();
                },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this, copy, outcome] { handleCopyEnd(copy, outcome); }, Qt::QueuedConnection);
    });
    const CopyRequest& request = copy->request;
    const Clock clock = controller_.clock();
    const QString range = QString::fromStdString(clock.text(Notation::TimeOfDay, request.startFrame) + "–" +
                                                 clock.text(Notation::TimeOfDay, request.endFrame));
    savingLine_ = copy->wholeTake() ? tr("Saving %1 of the take's %n files to %2…", nullptr, static_cast<int>(copy->files()))
                                          .arg(range, fromPath(request.output))
                                    : tr("Saving %1 of %2 to %3…")
                                          .arg(range, fromPath(request.input.filename()), fromPath(request.output.filename()));
    showMessage(QString());
    ui_->showInFolderButton->hide();
    updateSaveButton();
    return true;
}

void TrimWindow::handleCopyEnd(const std::shared_ptr<Copy>& copy, const CopyOutcome& outcome) {
    controller_.copyEnded(copy);
    updateSaveButton();
    const bool newest = copy == controller_.newestCopy();
    if (newest) savingLine_.clear();
    const QString output = QString::fromStdString(copy->request.output.string());
    const QString message = QString::fromStdString(outcome.message());
    switch (outcome.status) {
        case CopyOutcome::Status::Completed:
            if (!copy->wholeTake()) {
                ui_->statusText->setText(tr("Saved %1").arg(output));
                savedFolder_ = folderOf(output);
            } else {
                ui_->statusText->setText(
                    tr("Saved %n files to %1", nullptr, static_cast<int>(copy->files())).arg(output));
                savedFolder_ = output;
            }
            ui_->showInFolderButton->show();
            break;
        case CopyOutcome::Status::Cancelled:
            // Also when it was stopped before it had reported anything.
            if (newest) {
                ui_->progressBar->setValue(0);
                ui_->statusText->setText(tr("Cancelled: nothing was saved to %1").arg(output));
            }
            break;
        case CopyOutcome::Status::Failed:
            if (newest) {
                ui_->progressBar->setValue(0);
                ui_->statusText->setText(tr("The copy to %1 failed.").arg(output));
            }
            showProblem(tr("The copy was not saved."), outcome.error ? fromPath(outcome.error->path()) : output,
                        outcome.error ? QString::fromStdString(outcome.error->reason()) : message);
            break;
    }
    // The user asked to quit and nothing is left to stop.
    if (stopQuestion_ && !copyInProgress()) stopQuestion_->done(kNothingLeftToStop);
    emit copyEnded(output, outcome.completed(), message);
    // The user asked to quit once saved: done, or failed and said so; a cancel means they work on.
    if (closeWhenSaved_ && !copyInProgress()) {
        closeWhenSaved_ = false;
        if (outcome.status != CopyOutcome::Status::Cancelled) close();
    }
}

void TrimWindow::updateSaveButton() {
    const bool copying = controller_.newestRunning();
    const auto refusal = copying ? std::nullopt : controller_.saveRefusal(pendingField());
    ui_->saveButton->setText(copying ? tr("Cancel") : tr("Save"));
    ui_->saveButton->setEnabled(copying || !refusal);
    ui_->saveReasonText->setText(refusal ? QString::fromStdString(*refusal) : QString());
    // The reason takes the bar's place: while no copy can be made, none is under way.
    ui_->saveReasonText->setVisible(refusal.has_value());
    ui_->saveReasonText->setToolTip(ui_->saveReasonText->text());  // a narrow window cuts it short
    ui_->progressBar->setVisible(!refusal);
    // The menu offers only what the keys would do now.
    ui_->saveAction->setEnabled(!copying && !refusal);
    ui_->cancelCopyAction->setEnabled(copying);
    lockWhileCopying();
    updateEditActions();
}

void TrimWindow::reportProgress(qint64 percent) {
    updateSaveButton();
    ui_->progressBar->setValue(static_cast<int>(percent));
}

bool TrimWindow::copyInProgress() const { return controller_.anyRunning() || (segments_ && segments_->saving()); }

void TrimWindow::stopAllCopies() {
    controller_.cancelAllCopies();
    // Each stops after the block it is writing and removes its unfinished file.
    copyThreads_.waitForDone();
    if (segments_) segments_->stop();
}

QString TrimWindow::chooseInputFile(const QString& folder) {
    return QFileDialog::getOpenFileName(this, QString(), folder,
                                        tr("Broadcast-WAV recordings (*.wav *.WAV *.bwf *.BWF);;All files (*)"));
}

QString TrimWindow::chooseOutputFolder(const QString& start) {
    return QFileDialog::getExistingDirectory(this, tr("Folder for the take's copies"), start);
}

QString TrimWindow::chooseOutputFile(const QString& suggested) {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDirectory(folderOf(suggested));
    dialog.selectFile(fileName(suggested));
    dialog.setNameFilter(tr("WAV files (*.wav)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

std::unique_ptr<QMessageBox> TrimWindow::problemBox(const QString& summary, const QString& path,
                                                    const QString& reason) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, tr("Keeptime"), summary, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    const QFontMetrics metrics(box->font());
    // Elided to fit one line, and joined with no-break spaces, so that it never wraps mid-name.
    QString shown = metrics.elidedText(path, Qt::ElideMiddle, metrics.averageCharWidth() * kPathChars);
    shown.replace(QLatin1Char(' '), QChar(QChar::Nbsp));
    box->setInformativeText(path.isEmpty() ? reason : shown + QLatin1Char('\n') + reason);
    if (shown != path && !path.isEmpty()) box->setDetailedText(path + QLatin1Char('\n') + reason);
    widen(*box);
    return box;
}

void TrimWindow::showProblem(const QString& summary, const QString& path, const QString& reason) {
    problemBox(summary, path, reason)->exec();
}

bool TrimWindow::confirmStopCopy() {
    QMessageBox box(QMessageBox::Question, tr("Keeptime"), tr("A copy is still being saved."),
                    QMessageBox::NoButton, this);
    QPushButton* stop = box.addButton(tr("Stop and Close"), QMessageBox::DestructiveRole);
    // Enter and Esc keep the copy going.
    box.setDefaultButton(box.addButton(tr("Keep Saving"), QMessageBox::RejectRole));
    box.setInformativeText(tr("Stop it? The unfinished copy will be removed. Or keep saving, and Keeptime closes "
                              "once the copy is saved."));
    stopQuestion_ = &box;
    const int answer = box.exec();
    return answer == kNothingLeftToStop || box.clickedButton() == stop;
}

bool TrimWindow::confirmReplace(const QString& folder, const QStringList& names) {
    QMessageBox box(QMessageBox::Warning, tr("Keeptime"),
                    names.size() == 1 ? tr("Replace 1 file?") : tr("Replace %1 files?").arg(names.size()),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(tr("%1\nalready holds %2. The take's copies take their place.")
                               .arg(folder, names.join(QStringLiteral(", "))));
    widen(box);
    QPushButton* replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
    box.setDefaultButton(box.addButton(QMessageBox::Cancel));
    box.exec();
    return box.clickedButton() == replace;
}

bool TrimWindow::confirmSegmentNames(const QString& folder, const QStringList& names) {
    QMessageBox box(QMessageBox::Question, tr("Save All Segments"),
                    (names.size() == 1 ? tr("Write 1 file into %2?") : tr("Write %1 files into %2?")).arg(names.size()).arg(folder), QMessageBox::Save | QMessageBox::Cancel, this);
    box.setInformativeText(names.mid(0, 12).join(QStringLiteral("\n")) +
                           (names.size() > 12 ? tr("\n… and %1 more").arg(names.size() - 12) : QString()));
    box.setDetailedText(names.join(QStringLiteral("\n")));
    widen(box);
    return box.exec() == QMessageBox::Save;
}

bool TrimWindow::confirmRestoreSegments(const QString& recording, std::size_t count) {
    return QMessageBox::question(this, tr("Restore the Segments?"),
                                 (count == 1 ? tr("1 segment was kept for %2 last time. Restore it?")
                                             : tr("%1 segments were kept for %2 last time. Restore the list?"))
                                     .arg(count)
                                     .arg(fileName(recording))) == QMessageBox::Yes;
}

bool TrimWindow::openExternally(const QUrl& url) { return QDesktopServices::openUrl(url); }

void TrimWindow::closeEvent(QCloseEvent* event) {
    if (copyInProgress() && !confirmStopCopy()) {
        // Keep Saving: the window stays, with its progress, until the copy ends.
        closeWhenSaved_ = true;
        showMessage(QString());
        event->ignore();
        return;
    }
    stopAllCopies();
    settings_.setWindowGeometry(saveGeometry());
    QMainWindow::closeEvent(event);
}

void TrimWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (copyInProgress()) return;  // no other file while a copy of this one is saved
    const auto urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile()) event->acceptProposedAction();
}

void TrimWindow::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (copyInProgress() || urls.size() != 1 || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    // After the drop has returned: a refused file shows a message box, which
    // must not hold up the application the file was dragged from.
    QTimer::singleShot(0, this, [this, path = urls.front().toLocalFile()] { openFile(path); });
}

}  // namespace keeptime
