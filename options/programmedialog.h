#pragma once

#include "platform/platform.h"
#include "programme/programme.h"
#include "settings/clocksetting.h"

#include <QDialog>

class ProgrammeModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// "Programme...": the talks of the session in a table to edit cell by cell with the keyboard (see
// ProgrammeModel for the columns), talks added, removed and moved, the session's start, and the whole table
// imported from or exported to a CSV file. OK hands the edited programme to the caller, Cancel drops it.
//
// Opened with open(): modal to the main window only, so the program goes on around it.
class ProgrammeDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgrammeDialog)

public:
    ProgrammeDialog(const Platform &platform, QWidget *parent = nullptr);
    ~ProgrammeDialog() override;

    // Fills the dialog afresh with `programme`, its talks timed by `plan` (the configured ClockSetting).
    void load(const Programme &programme, const ClockSetting &plan);
    // What OK applies; see ProgrammeModel::programmeOver for `latest`.
    Programme programme() const;
    Programme programmeOver(const Programme &latest) const;

    ProgrammeModel &model() { return *model_; }
    QString status() const;

    // The buttons.
    void addTalk();
    void removeTalk();
    void moveTalk(int step);
    void importCsv();
    void exportCsv();
    // Refused while the session's start does not read as a time of day.
    void accept() override;

private:
    // The row the buttons act on: that of the table's current cell, or -1.
    int chosenRow() const;
    void chooseRow(int row, int column);
    void updateButtons();
    void showStatus(const QString &text);
    // Takes the session's start from its box; false, saying why, when it is not a time of day.
    bool takeSessionStart();
    QString csvFolder() const;

    Platform platform_;
    ProgrammeModel *model_;
    QTableView *table_;
    QLineEdit *sessionStart_;
    QPushButton *add_;
    QPushButton *remove_;
    QPushButton *up_;
    QPushButton *down_;
    QPushButton *import_;
    QPushButton *export_;
    QLabel *status_;
    // Where the last CSV file was imported from or exported to; empty before the first.
    QString folder_;
    bool sized_ = false;
};
