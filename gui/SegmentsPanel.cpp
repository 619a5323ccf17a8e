#include "gui/SegmentsPanel.hpp"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include "segments/Split.hpp"
#include "trim/TakeSave.hpp"

namespace keeptime {

namespace {

enum Column { kName, kIn, kOut, kLength };

QString fromPath(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

QString segmentsCounted(std::size_t n) { return n == 1 ? QStringLiteral("1 segment") : QStringLiteral("%1 segments").arg(n); }

}  // namespace

SegmentsPanel::SegmentsPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new QTableWidget(0, 4, this);
    table_->setObjectName("segmentsTable");
    table_->setHorizontalHeaderLabels({tr("Name"), tr("In"), tr("Out"), tr("Length")});
    table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    layout->addWidget(table_);

    auto* row = new QHBoxLayout;
    const auto button = [&](const char* name, const QString& text, const QString& tip, auto action) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setToolTip(tip);
        connect(b, &QPushButton::clicked, this, action);
        row->addWidget(b);
        buttons_.push_back(b);
        return b;
    };
    button("addSegmentButton", tr("Add"), tr("Add the range between the handles (A, or Enter in the waveform)"),
           [this] { emit addWanted(); });
    button("deleteSegmentButton", tr("Delete"), tr("Remove the selected segment (Delete)"), [this] { removeSelected(); });
    button("fromMarkersButton", tr("From Markers"), tr("One segment between each marker and the next"),
           [this] { fill(segmentsAtMarkers(markers_, list_ ? list_->clock().frames : 0), tr("the markers")); });
    button("fromRegionsButton", tr("From Regions"), tr("One segment per region"),
           [this] { fill(segmentsFromRegions(markers_, list_ ? list_->clock().frames : 0), tr("the regions")); });
    button("everyButton", tr("Every"), tr("Pieces of the length beside, the last one shorter"), [this] {
        if (!list_) return;
        const Reading length = readLength(list_->clock(), every_->text().toStdString());
        if (!length.frame || *length.frame <= 0)
            return status_->setText(tr("“%1” is no length: %2").arg(every_->text(), QString::fromStdString(length.refusal)));
        fill(segmentsEvery(*length.frame, list_->clock().frames), tr("pieces of %1").arg(every_->text()));
    });
    every_ = new QLineEdit(QStringLiteral("0:10:00"), this);
    every_->setObjectName("everyText");
    connect(every_, &QLineEdit::returnPressed, this, [this] { findChild<QPushButton*>("everyButton")->click(); });
    every_->setMaximumWidth(every_->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00:00")) + 16);
    row->addWidget(every_);
    row->addStretch();
    row->addWidget(new QLabel(tr("Names:"), this));
    pattern_ = new QLineEdit(this);
    pattern_->setObjectName("segmentPattern");
    pattern_->setToolTip(tr("{file} {n} {name} {scene} {take} {tape} {tc}; empty: {file}_{name} where the segments "
                            "have names, else {file}_{n}"));
    row->addWidget(pattern_);
    button("saveSegmentsButton", tr("Save All Segments…"), tr("Write every segment into a folder, all or none"),
           [this] { saveAll(); });
    layout->addLayout(row);
    auto* foot = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName("segmentsStatus");
    status_->setWordWrap(true);
    foot->addWidget(status_, 1);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("segmentsProgress");
    progress_->hide();
    foot->addWidget(progress_);
    layout->addLayout(foot);

    connect(table_, &QTableWidget::cellChanged, this, &SegmentsPanel::cellEdited);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = table_->selectionModel()->selectedRows();
        if (refilling_ || rows.size() != 1 || !list_) return;
        const Segment& s = (*list_)[std::size_t(rows[0].row())];
        emit rangeChosen(s.first, s.end);
    });
    setEnabled(false);
}

SegmentsPanel::~SegmentsPanel() { stop(); }

void SegmentsPanel::load(const std::filesystem::path& recording, const Clock& clock, std::vector<Marker> markers) {
    recording_ = recording;
    list_ = std::make_unique<SegmentList>(clock);
    markers_ = std::move(markers);
    clearSelection();
    status_->clear();
    setEnabled(true);
    refill();
}

void SegmentsPanel::setClock(const Clock& clock) {
    if (!list_) return;
    auto kept = std::make_unique<SegmentList>(clock);
    kept->replace(list_->segments());
    list_ = std::move(kept);
    refill();
}

const std::vector<Segment>& SegmentsPanel::segments() const {
    static const std::vector<Segment> none;
    return list_ ? list_->segments() : none;
}

void SegmentsPanel::setSegments(const std::vector<Segment>& segments) {
    clearSelection();
    if (!list_ || segments == list_->segments()) return;
    list_->replace(segments);
    refill();
}

bool SegmentsPanel::add(std::int64_t first, std::int64_t end) {
    if (!list_ || saving()) return false;
    const auto row = list_->add(first, end);
    if (!row) return false;
    clearSelection();  // the next range the handles choose is the next segment, not this one moved
    refill();
    status_->clear();
    emit changed();
    return true;
}

void SegmentsPanel::removeSelected() {
    const auto rows = table_->selectionModel()->selectedRows();
    if (!list_ || saving() || rows.size() != 1) return;
    const int row = rows[0].row();
    list_->remove(std::size_t(row));
    // No row is selected then: the handles keep the range they had, and a second Delete removes nothing unseen.
    table_->clearSelection();
    refill();
    emit changed();
}

bool SegmentsPanel::followRange(std::int64_t first, std::int64_t end) {
    const auto rows = table_->selectionModel()->selectedRows();
    if (!list_ || saving() || rows.size() != 1 || first >= end) return false;
    const auto row = std::size_t(rows[0].row());
    std::vector<Segment> moved = list_->segments();
    if (moved[row].first == first && moved[row].end == end) return false;
    moved[row].first = first, moved[row].end = end;
    list_->replace(std::move(moved));
    refill();
    return true;
}

void SegmentsPanel::clearSelection() {
    refilling_ = true;
    table_->clearSelection();
    table_->setCurrentItem(nullptr);
    refilling_ = false;
}

void SegmentsPanel::fill(std::vector<Segment> segments, const QString& source) {
    if (!list_ || saving()) return;
    if (segments.empty()) return status_->setText(tr("No segments from %1.").arg(source));
    const std::size_t count = segments.size();
    clearSelection();
    list_->replace(std::move(segments));
    refill();
    status_->setText(tr("%1 from %2.").arg(segmentsCounted(count), source));
    emit changed();
}

void SegmentsPanel::refill() {
    refilling_ = true;
    const QSignalBlocker quiet(table_);
    const int selected = table_->currentRow();
    const int rows = list_ ? int(list_->size()) : 0;
    table_->setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        const auto row = std::size_t(r);
        const QString texts[] = {QString::fromStdString((*list_)[row].name), QString::fromStdString(list_->inText(row)),
                                 QString::fromStdString(list_->outText(row)),
                                 QString::fromStdString(list_->lengthText(row))};
        for (int c = 0; c < 4; ++c) {
            auto* item = table_->item(r, c);
            if (!item) table_->setItem(r, c, item = new QTableWidgetItem);
            item->setText(texts[c]);
            if (c != kName) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        table_->setVerticalHeaderItem(r, new QTableWidgetItem(QString::number(r + 1)));
    }
    if (selected >= rows) table_->clearSelection();
    pattern_->setPlaceholderText(QString::fromStdString(defaultPattern(segments())));
    refilling_ = false;
    emit shown();
}

void SegmentsPanel::cellEdited(int r, int column) {
    if (refilling_ || !list_) return;
    const auto row = std::size_t(r);
    const std::string text = table_->item(r, column)->text().trimmed().toStdString();
    std::optional<std::string> refusal;
    switch (column) {
        case kName: list_->setName(row, text); break;
        case kIn: refusal = list_->setIn(row, text); break;
        case kOut: refusal = list_->setOut(row, text); break;
        default: refusal = list_->setLength(row, text); break;
    }
    refill();  // a refused text goes back to what the row holds
    if (refusal) return status_->setText(tr("Segment %1: %2").arg(r + 1).arg(QString::fromStdString(*refusal)));
    status_->clear();
    // The handles first, so that the range and the row make one step to undo.
    const Segment& s = (*list_)[row];
    if (column != kName && table_->currentRow() == r) emit rangeChosen(s.first, s.end);
    emit changed();
}

QString SegmentsPanel::statusText() const { return status_->text(); }

void SegmentsPanel::saveAll() {
    if (!list_ || saving()) return;
    if (list_->size() == 0) return status_->setText(tr("No segments to save: add the range (A), or fill the list."));
    const QString folder = askFolder ? askFolder() : QString();
    if (!folder.isEmpty()) saveAllTo(folder);
}

bool SegmentsPanel::saveAllTo(const QString& folder) {
    if (!list_ || saving() || list_->size() == 0) return false;
    stop();
    const std::filesystem::path to = QFile::encodeName(folder).toStdString();
    const ClockChoice choice = times ? times() : ClockChoice{};
    const auto refused = [&](const BWFError& error) {
        if (problem)
            problem(tr("The segments cannot be saved; nothing was written."),
                    error.path().empty() ? QString() : fromPath(error.path()), QString::fromStdString(error.reason()));
        status_->setText(QString::fromStdString(error.what()));
        return false;
    };
    std::unique_ptr<TakeSave> job;
    try {
        const SplitPlan plan = planSplit(list_->segments(), recording_,
                                         members ? members() : std::vector{recording_}, to, pattern_->text().toStdString(), choice);
        QStringList names;
        for (const CopyRequest& request : plan.requests) names << fromPath(request.output.filename());
        if (confirmNames && !confirmNames(folder, names)) return false;
        job = std::make_unique<TakeSave>(plan.requests);
    } catch (const BWFError& error) {
        return refused(error);
    }
    progress_->setValue(0);
    progress_->show();
    for (QPushButton* b : buttons_) b->setEnabled(false);
    status_->setText(tr("Saving %1 into %2…").arg(segmentsCounted(job->size()), folder));
    worker_.start(std::move(job), this, [this](int percent) { progress_->setValue(percent); },
                  [this](const SaveOutcome& outcome) { ended(outcome); });
    return true;
}

void SegmentsPanel::ended(const SaveOutcome& outcome) {
    stop();
    progress_->hide();
    for (QPushButton* b : buttons_) b->setEnabled(true);
    if (outcome.completed()) {
        status_->setText(tr("Saved %1.").arg(segmentsCounted(outcome.copies.size())));
    } else if (outcome.status == CopyOutcome::Status::Cancelled) {
        status_->setText(tr("Stopped; none of the segments was kept."));
    } else {
        status_->setText(QString::fromStdString(outcome.message()) + tr(" None of the segments was kept."));
        if (problem && outcome.error)
            problem(tr("The segments could not be saved; none was kept."), fromPath(outcome.error->path()),
                    QString::fromStdString(outcome.error->reason()));
    }
    emit saveEnded(outcome.completed());
}

void SegmentsPanel::stop() { worker_.stop(); }

}  // namespace keeptime
