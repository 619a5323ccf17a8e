// File > Conform to an Edit List…: an edit list and media folders read into a
// table of events and what each matched, then every copy saved into a folder
// at once, all or none, with one progress bar. The same core as keeptime-cli
// conform: matchEvents, planCopies, TakeSave.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "edits/Conform.hpp"
#include "gui/SaveWorker.hpp"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace keeptime {

class TakeSave;
struct SaveOutcome;

class ConformDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConformDialog(QWidget* parent = nullptr);
    ~ConformDialog() override;

    // What the Browse and Add buttons set; each reads the list again.
    void setEditList(const QString& file);
    void addMediaFolder(const QString& folder);
    // Writes the copies into folder: false, having said why, when nothing is started.
    bool saveCopiesTo(const QString& folder);
    bool saving() const { return worker_.saving(); }

    QTableWidget* eventsTable() const { return table_; }
    QString statusText() const;

signals:
    void saveEnded(bool completed);

protected:
    void reject() override;  // a running save is cancelled first, and nothing of it is left

private:
    void read();
    void chooseList();
    void chooseFolder();
    void chooseSaveFolder();
    void ended(const SaveOutcome& outcome);
    void stopWorker();

    QLineEdit* list_ = nullptr;
    QListWidget* folders_ = nullptr;
    QLineEdit* handles_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* save_ = nullptr;
    EditList editList_;
    Media media_;
    std::vector<Match> matches_;
    SaveWorker worker_;
};

}  // namespace keeptime
