#include "gui/ConformDialog.hpp"

#include <QFileDialog>
#include <algorithm>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "trim/TakeSave.hpp"

namespace keeptime {

namespace {

// "1 copy", "2 copies".
QString counted(std::size_t n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
}

}  // namespace

ConformDialog::ConformDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Conform to an Edit List"));
    setObjectName("conformDialog");
    list_ = new QLineEdit(this);
    list_->setReadOnly(true);
    list_->setPlaceholderText(tr("A CMX 3600 EDL or an OpenTimelineIO .otio file"));
    auto* browse = new QPushButton(tr("Choose…"), this);
    connect(browse, &QPushButton::clicked, this, &ConformDialog::chooseList);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(list_, 1);
    listRow->addWidget(browse);

    folders_ = new QListWidget(this);
    folders_->setMaximumHeight(90);
    auto* add = new QPushButton(tr("Add Folder…"), this);
    auto* remove = new QPushButton(tr("Remove"), this);
    connect(add, &QPushButton::clicked, this, &ConformDialog::chooseFolder);
    connect(remove, &QPushButton::clicked, this, [this] {
        delete folders_->currentItem();
        read();
    });
    auto* folderButtons = new QVBoxLayout;
    folderButtons->addWidget(add);
    folderButtons->addWidget(remove);
    folderButtons->addStretch();
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folders_, 1);
    folderRow->addLayout(folderButtons);

    handles_ = new QLineEdit(QStringLiteral("0:00:02:00"), this);
    handles_->setToolTip(tr("Added before and after each used range, inside the recording: H:MM:SS:FF, or seconds"));
    connect(handles_, &QLineEdit::editingFinished, this, &ConformDialog::read);

    auto* form = new QFormLayout;
    form->addRow(tr("Edit list:"), listRow);
    form->addRow(tr("Media folders:"), folderRow);
    form->addRow(tr("Handles:"), handles_);

    table_ = new QTableWidget(0, 7, this);
    table_->setObjectName("conformEvents");
    table_->setHorizontalHeaderLabels(
        {tr("Event"), tr("Reel"), tr("Clip"), tr("Source In"), tr("Source Out"), tr("Status"), tr("Recording")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->hide();
    save_ = new QPushButton(tr("Save Copies…"), this);
    save_->setEnabled(false);
    connect(save_, &QPushButton::clicked, this, &ConformDialog::chooseSaveFolder);
    auto* close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &ConformDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addStretch();
    buttons->addWidget(save_);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    resize(860, 520);
    read();
}

ConformDialog::~ConformDialog() { stopWorker(); }

QString ConformDialog::statusText() const { return status_->text(); }

void ConformDialog::setEditList(const QString& file) {
    list_->setText(file);
    read();
}

void ConformDialog::addMediaFolder(const QString& folder) {
    if (folders_->findItems(folder, Qt::MatchExactly).isEmpty()) folders_->addItem(folder);
    read();
}

void ConformDialog::chooseList() {
    const QString file = QFileDialog::getOpenFileName(this, tr("Choose an Edit List"), list_->text(),
                                                      tr("Edit lists (*.edl *.EDL *.otio);;All files (*)"));
    if (!file.isEmpty()) setEditList(file);
}

void ConformDialog::chooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Add a Folder of Recordings"));
    if (!folder.isEmpty()) addMediaFolder(folder);
}

// Read as soon as there is a list and a folder: the table shows every event and what became of it.
void ConformDialog::read() {
    if (saving()) return;
    table_->setRowCount(0);
    matches_.clear();
    save_->setEnabled(false);
    if (list_->text().isEmpty()) return status_->setText(tr("Choose an edit list."));
    std::vector<std::filesystem::path> folders;
    for (int i = 0; i < folders_->count(); ++i) folders.emplace_back(folders_->item(i)->text().toStdString());
    try {
        editList_ = readEditList(list_->text().toStdString());
        media_ = folders.empty() ? Media{} : readMedia(folders);
    } catch (const BWFError& error) {
        return status_->setText(QString::fromStdString(error.what()));
    }
    if (folders.empty())
        return status_->setText(tr("%1. Add the folders of the recordings.").arg(counted(editList_.events.size(), "event", "events")));
    matches_ = matchEvents(editList_, media_);
    table_->setRowCount(int(matches_.size()));
    std::size_t copied = 0, problems = 0;
    for (std::size_t i = 0; i < matches_.size(); ++i) {
        const EditEvent& e = editList_.events[i];
        const Match& m = matches_[i];
        QString recording;
        for (std::size_t f : m.status == Match::Status::Ambiguous ? m.candidates : m.files)
            recording += (recording.isEmpty() ? "" : ", ") + QString::fromStdString(media_.files[f].path.filename().string());
        const QString fields[] = {QString::fromStdString(e.number), QString::fromStdString(e.reel),
                                  QString::fromStdString(e.clipName.empty() ? e.sourceFile : e.clipName),
                                  QString::fromStdString(e.sourceIn), QString::fromStdString(e.sourceOut),
                                  // "copied" once the copies are saved; until then what was found
                                  m.status == Match::Status::Matched ? tr("found")
                                                                     : QString::fromStdString(std::string(statusName(m.status))),
                                  recording.isEmpty() ? QString::fromStdString(m.why) : recording};
        for (int c = 0; c < 7; ++c) {
            auto* item = new QTableWidgetItem(fields[c]);
            item->setToolTip(QString::fromStdString(m.why + (m.notice ? "; " + *m.notice : "")));
            table_->setItem(int(i), c, item);
        }
        copied += m.status == Match::Status::Matched;
        problems += m.status == Match::Status::Missing || m.status == Match::Status::Ambiguous || m.notConformable;
    }
    status_->setText(problems ? tr("%1 found; %2 cannot be conformed (hover a row for why).")
                                    .arg(counted(copied, "event", "events"))
                                    .arg(problems)
                              : tr("%1 found.").arg(counted(copied, "event", "events")));
    save_->setEnabled(copied > 0 && parseHandles(handles_->text().toStdString()).has_value());
    if (!parseHandles(handles_->text().toStdString())) status_->setText(tr("The handles are not a length (0:00:02:00, or seconds)."));
}

void ConformDialog::chooseSaveFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save the Copies into a Folder"));
    if (folder.isEmpty()) return;
    const auto missing = std::count_if(matches_.begin(), matches_.end(), [](const Match& m) {
        return m.status == Match::Status::Missing || m.status == Match::Status::Ambiguous || m.notConformable;
    });
    if (missing && QMessageBox::question(this, tr("Some Events Cannot Be Conformed"),
                                         tr("%1 cannot be conformed (the table says why). Copy the events that were found?")
                                             .arg(counted(std::size_t(missing), "event", "events"))) != QMessageBox::Yes)
        return;
    saveCopiesTo(folder);
}

bool ConformDialog::saveCopiesTo(const QString& folder) {
    const auto handles = parseHandles(handles_->text().toStdString());
    if (saving() || !handles) return false;
    stopWorker();
    const std::filesystem::path to = folder.toStdString();
    std::error_code error;
    for (int i = 0; i < folders_->count(); ++i)
        if (std::filesystem::equivalent(folders_->item(i)->text().toStdString(), to, error)) {
            status_->setText(tr("%1 is a media folder; choose another for the copies.").arg(folder));
            return false;
        }
    std::unique_ptr<TakeSave> job;
    try {
        job = std::make_unique<TakeSave>(conformRequests(planCopies(matches_, media_, *handles, false), media_, to, false));
    } catch (const BWFError& refused) {
        status_->setText(QString::fromStdString(refused.what()));
        return false;
    }
    progress_->setValue(0);
    progress_->show();
    save_->setEnabled(false);
    status_->setText(tr("Saving %1 into %2…").arg(counted(job->size(), "copy", "copies"), folder));
    worker_.start(std::move(job), this, [this](int percent) { progress_->setValue(percent); },
                  [this](const SaveOutcome& outcome) { ended(outcome); });
    return true;
}

void ConformDialog::ended(const SaveOutcome& outcome) {
    stopWorker();
    progress_->hide();
    save_->setEnabled(true);
    status_->setText(outcome.completed() ? tr("Saved %1.").arg(counted(outcome.copies.size(), "copy", "copies"))
                     : outcome.status == CopyOutcome::Status::Cancelled ? tr("Stopped; none of the copies was kept.")
                                                                         : QString::fromStdString(outcome.message()) +
                                                                               tr(" None of the copies was kept."));
    if (outcome.completed())
        for (int row = 0; row < table_->rowCount(); ++row)
            if (matches_[std::size_t(row)].status == Match::Status::Matched) table_->item(row, 5)->setText(tr("copied"));
    emit saveEnded(outcome.completed());
}

void ConformDialog::stopWorker() { worker_.stop(); }

void ConformDialog::reject() {
    stopWorker();
    QDialog::reject();
}

}  // namespace keeptime
