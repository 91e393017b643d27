#pragma once

#include "programme/programme.h"
#include "settings/clocksetting.h"

#include <QAbstractTableModel>
#include <QString>
#include <QTime>

#include <cstdint>
#include <optional>
#include <vector>

// The talks of a programme as the programme dialog edits them, one row a talk: Start, Title, Speaker, one
// column per stage before the repeating last one (of stage 1 when the plan has only one), and the talk's
// length, which is read only. Every cell is edited as text; a text that does not fit its column is refused
// (setData returns false) and refusal() says why.
//
// A stage's cell either holds the talk's own length or is empty, taking the plan's, which it shows (as
// Start shows the planned start an empty Start follows from) with PlanRole set, for the view to grey. A
// talk whose own lengths leave a gap before one it sets gets the plan's length there, as CSV import does.
//
// Each row keeps its talk's record and where it came from, so the talks that stay keep what the clock did
// with them whatever is added, removed or moved, and the talk the clock is on stays the current one.
class ProgrammeModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgrammeModel)

public:
    // True in a cell that shows what an empty one means rather than a value of its own.
    static constexpr int PlanRole = Qt::UserRole + 1;

    enum Column : int
    {
        StartColumn,
        TitleColumn,
        SpeakerColumn,
        FirstStageColumn,
    };

    explicit ProgrammeModel(QObject *parent = nullptr);
    ~ProgrammeModel() override;

    // The programme to edit, its talks timed by `plan` (the configured ClockSetting).
    void load(const Programme &programme, const ClockSetting &plan);
    // The edited programme: the talks with their records, the session's start and the current talk.
    Programme programme() const;
    // The same, with the records and the current talk as `latest` has them: the clock may have gone on
    // while the table was edited (from the phone), and what it did is kept for every talk that stays.
    // `latest` is the programme as it is now of the one that was loaded.
    Programme programmeOver(const Programme &latest) const;
    // The talks of an imported file in place of every row; the first becomes the current one.
    void replaceTalks(std::vector<Talk> talks);

    const ClockSetting &plan() const { return plan_; }
    std::int32_t stageColumns() const;
    int lengthColumn() const { return FirstStageColumn + stageColumns(); }
    // The row of the current talk; 0 without talks.
    int currentRow() const { return current_; }
    std::optional<QTime> sessionStart() const { return sessionStart_; }
    void setSessionStart(std::optional<QTime> start);
    // Why the last edit was refused; empty after one that was taken.
    QString refusal() const { return refusal_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    // New talks "Talk n", n their row's number; none beyond MaxTalks.
    bool insertRows(int row, int count, const QModelIndex &parent = {}) override;
    bool removeRows(int row, int count, const QModelIndex &parent = {}) override;
    bool moveRows(const QModelIndex &sourceParent, int sourceRow, int count, const QModelIndex &destinationParent,
                  int destinationChild) override;

signals:
    void refusalChanged(const QString &why);

private:
    struct Row
    {
        Talk talk;
        // Per stage column: the talk's own length, or nothing for the plan's.
        std::vector<std::optional<std::int32_t>> own;
        // Its own lengths of stages beyond the columns (the repeating last one), kept as they came.
        std::vector<std::int32_t> beyond;
        // Its row in the programme that was loaded; nothing for a talk added or imported here.
        std::optional<std::int32_t> origin;
    };

    Row rowOf(const Talk &talk, std::optional<std::int32_t> origin) const;
    // talk.lengths from own and beyond.
    void fillLengths(Row &row) const;
    void computePlannedStarts();
    // After an edit: recomputes the planned starts and tells the view of those that changed.
    void plannedStartsChanged();
    // After rows came, went or moved (the starts computed before the view was told): every Start may show
    // another planned time.
    void startsMoved();
    bool refuse(const QString &why);
    void clearRefusal();
    QString stageName(std::int32_t stage) const;

    ClockSetting plan_;
    std::vector<Row> rows_;
    std::optional<QTime> sessionStart_;
    int current_ = 0;
    std::int32_t loadedCount_ = 0;
    std::int32_t loadedCurrent_ = 1;
    // Where an empty Start puts each talk; nothing where no planned time reaches it.
    std::vector<std::optional<QTime>> plannedStarts_;
    QString refusal_;
};
