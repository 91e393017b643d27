#include "options/programmemodel.h"

#include "programme/schedule.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>

namespace {

// Any day without a change of the clocks: the planned starts are read as times of day only.
const QDateTime PlanningDay(QDate(2001, 1, 10), QTime(12, 0));

// Minutes and seconds, "20:00" and "12:30", from an hour on "1:05:00": a column of lengths reads alike
// whether or not a length is whole minutes, and parseDuration reads each back.
QString lengthText(std::int64_t seconds)
{
    const QString text = formatDuration(seconds);
    return text.contains(u':') ? text : text + QStringLiteral(":00");
}

QVariant greyed()
{
    return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
}

} // namespace

ProgrammeModel::ProgrammeModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    setObjectName(QStringLiteral("programmeModel"));
}

ProgrammeModel::~ProgrammeModel() = default;

void ProgrammeModel::load(const Programme &programme, const ClockSetting &plan)
{
    beginResetModel();
    plan_ = plan;
    rows_.clear();
    for (std::int32_t n = 0; n < std::min(programme.count(), MaxTalks); ++n)
        rows_.push_back(rowOf(programme.talks[static_cast<std::size_t>(n)], n));
    sessionStart_ = programme.sessionStart;
    current_ = rows_.empty() ? 0 : std::clamp(programme.current, 1, static_cast<std::int32_t>(rows_.size())) - 1;
    loadedCount_ = programme.count();
    loadedCurrent_ = programme.current;
    computePlannedStarts();
    endResetModel();
    clearRefusal();
}

Programme ProgrammeModel::programme() const
{
    Programme programme;
    programme.talks.reserve(rows_.size());
    for (const Row &row : rows_)
        programme.talks.push_back(row.talk);
    programme.sessionStart = sessionStart_;
    programme.current = current_ + 1;
    return programme;
}

Programme ProgrammeModel::programmeOver(const Programme &latest) const
{
    Programme programme = this->programme();
    if (latest.count() != loadedCount_)
        return programme;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].origin)
            programme.talks[i].record = latest.talks.at(static_cast<std::size_t>(*rows_[i].origin)).record;
    }
    if (latest.current == loadedCurrent_ || rows_.empty())
        return programme;
    // The clock moved to another talk meanwhile: that talk, or the nearest one that stays, after it first.
    const std::int32_t target = latest.current - 1;
    std::optional<std::size_t> after, before;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const std::optional<std::int32_t> origin = rows_[i].origin;
        if (!origin)
            continue;
        if (*origin >= target && (!after || *origin < *rows_[*after].origin))
            after = i;
        if (*origin < target && (!before || *origin > *rows_[*before].origin))
            before = i;
    }
    if (after || before)
        programme.current = static_cast<std::int32_t>(after ? *after : *before) + 1;
    return programme;
}

void ProgrammeModel::replaceTalks(std::vector<Talk> talks)
{
    beginResetModel();
    rows_.clear();
    for (std::size_t i = 0; i < std::min(talks.size(), std::size_t(MaxTalks)); ++i)
        rows_.push_back(rowOf(talks[i], std::nullopt));
    current_ = 0;
    computePlannedStarts();
    endResetModel();
    clearRefusal();
}

std::int32_t ProgrammeModel::stageColumns() const
{
    return std::min(std::max<std::int32_t>(1, plan_.Count() - 1), plan_.Count());
}

void ProgrammeModel::setSessionStart(std::optional<QTime> start)
{
    sessionStart_ = start;
    plannedStartsChanged();
}

int ProgrammeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ProgrammeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : lengthColumn() + 1;
}

QVariant ProgrammeModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row &row = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    const bool stage = column >= FirstStageColumn && column < lengthColumn();
    const std::size_t stageAt = static_cast<std::size_t>(column - FirstStageColumn);
    const bool plan = (column == StartColumn && !row.talk.start) || (stage && !row.own[stageAt]);
    if (role == PlanRole)
        return plan;
    // Italic as well as grey: a selected row's colours are the selection's.
    if (role == Qt::FontRole && (plan || index.row() == current_)) {
        QFont font;
        font.setBold(index.row() == current_);
        font.setItalic(plan);
        return font;
    }
    if (role == Qt::ForegroundRole)
        return plan ? greyed() : QVariant();
    if (role == Qt::TextAlignmentRole && column != TitleColumn && column != SpeakerColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const bool edit = role == Qt::EditRole;
    switch (column) {
    case StartColumn:
        if (row.talk.start || edit || static_cast<std::size_t>(index.row()) >= plannedStarts_.size())
            return formatTimeOfDay(row.talk.start);
        return formatTimeOfDay(plannedStarts_[static_cast<std::size_t>(index.row())]);
    case TitleColumn:
        return row.talk.title;
    case SpeakerColumn:
        return row.talk.speaker;
    default:
        break;
    }
    if (stage) {
        if (const std::optional<std::int32_t> own = row.own[stageAt])
            return lengthText(*own);
        return edit ? QString() : lengthText(plan_.Stages[stageAt].Seconds);
    }
    return lengthText(talkSeconds(plan_, row.talk));
}

QVariant ProgrammeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (section < 0 || section >= rowCount())
            return {};
        if (role == Qt::DisplayRole)
            return QString::number(section + 1);
        if (section == current_ && role == Qt::FontRole) {
            QFont font;
            font.setBold(true);
            return font;
        }
        if (section == current_ && role == Qt::ToolTipRole)
            return tr("The talk the clock is on");
        return {};
    }
    if (section < 0 || section >= columnCount())
        return {};
    const bool stage = section >= FirstStageColumn && section < lengthColumn();
    if (role == Qt::DisplayRole) {
        switch (section) {
        case StartColumn:
            return tr("Start");
        case TitleColumn:
            return tr("Title");
        case SpeakerColumn:
            return tr("Speaker");
        default:
            return stage ? stageName(section - FirstStageColumn + 1) : tr("Length");
        }
    }
    if (role == Qt::ToolTipRole) {
        if (section == StartColumn)
            return tr("The planned start, HH:MM; empty: right after the talk before (greyed)");
        if (stage)
            return tr("This talk's own length of the stage; empty: the plan's (greyed)");
        if (section == lengthColumn())
            return tr("The talk's length: its stages before the repeating last one");
    }
    return {};
}

Qt::ItemFlags ProgrammeModel::flags(const QModelIndex &index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == lengthColumn() ? flags : flags | Qt::ItemIsEditable;
}

bool ProgrammeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid) || index.column() == lengthColumn())
        return false;
    Row &row = rows_[static_cast<std::size_t>(index.row())];
    const QString typed = value.toString();
    const QStringView text = blankTrimmed(typed);
    const int column = index.column();
    if (column == StartColumn) {
        const std::optional<QTime> start = parseTimeOfDay(text);
        if (!start && !text.isEmpty())
            return refuse(tr("\"%1\" is not a time of day: write the start as HH:MM, or leave it empty for right "
                             "after the talk before.")
                              .arg(typed));
        row.talk.start = start;
    } else if (column == TitleColumn || column == SpeakerColumn) {
        if (text.size() > MaxTalkTextLength)
            return refuse(tr("A %1 has at most %2 characters; this one has %3.")
                              .arg(column == TitleColumn ? tr("title") : tr("speaker"))
                              .arg(MaxTalkTextLength)
                              .arg(text.size()));
        (column == TitleColumn ? row.talk.title : row.talk.speaker) = text.toString();
    } else {
        const std::optional<std::int64_t> seconds = parseDuration(text);
        if (!seconds && !text.isEmpty())
            return refuse(tr("\"%1\" is not a length: write minutes (20), minutes and seconds (12:30) or hours, "
                             "minutes and seconds (1:05:00), or leave it empty for the plan's.")
                              .arg(typed));
        if (seconds && *seconds > MaxTalkStageSeconds)
            return refuse(tr("A stage is at most %1 long.").arg(formatDuration(MaxTalkStageSeconds)));
        row.own[static_cast<std::size_t>(column - FirstStageColumn)] =
            seconds ? std::optional<std::int32_t>(static_cast<std::int32_t>(*seconds)) : std::nullopt;
        fillLengths(row);
    }
    clearRefusal();
    emit dataChanged(index, index);
    if (column >= FirstStageColumn)
        emit dataChanged(this->index(index.row(), lengthColumn()), this->index(index.row(), lengthColumn()));
    if (column != TitleColumn && column != SpeakerColumn)
        plannedStartsChanged();
    return true;
}

bool ProgrammeModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || row > rowCount() || count < 1 || count > MaxTalks - rowCount())
        return false;
    beginInsertRows(parent, row, row + count - 1);
    const bool hadRows = !rows_.empty();
    for (int i = 0; i < count; ++i) {
        Talk talk;
        talk.title = tr("Talk %1").arg(row + i + 1);
        rows_.insert(rows_.begin() + row + i, rowOf(talk, std::nullopt));
    }
    if (hadRows && current_ >= row)
        current_ += count;
    computePlannedStarts();
    endInsertRows();
    startsMoved();
    return true;
}

bool ProgrammeModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (parent.isValid() || row < 0 || count < 1 || row + count > rowCount())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    rows_.erase(rows_.begin() + row, rows_.begin() + row + count);
    // The current talk removed: the one that takes its place, or the one before at the end.
    if (current_ >= row + count)
        current_ -= count;
    else if (current_ >= row)
        current_ = std::min(row, std::max(0, rowCount() - 1));
    computePlannedStarts();
    endRemoveRows();
    startsMoved();
    return true;
}

bool ProgrammeModel::moveRows(const QModelIndex &sourceParent, int sourceRow, int count,
                              const QModelIndex &destinationParent, int destinationChild)
{
    if (sourceParent.isValid() || destinationParent.isValid() || count < 1 || sourceRow < 0 ||
        sourceRow + count > rowCount() || destinationChild < 0 || destinationChild > rowCount() ||
        (destinationChild >= sourceRow && destinationChild <= sourceRow + count))
        return false;
    beginMoveRows(sourceParent, sourceRow, sourceRow + count - 1, destinationParent, destinationChild);
    const auto first = rows_.begin() + sourceRow;
    const auto last = first + count;
    const int moved = current_ - sourceRow;
    if (destinationChild < sourceRow) {
        std::rotate(rows_.begin() + destinationChild, first, last);
        if (moved >= 0 && moved < count)
            current_ = destinationChild + moved;
        else if (current_ >= destinationChild && current_ < sourceRow)
            current_ += count;
    } else {
        std::rotate(first, last, rows_.begin() + destinationChild);
        if (moved >= 0 && moved < count)
            current_ = destinationChild - count + moved;
        else if (current_ >= sourceRow + count && current_ < destinationChild)
            current_ -= count;
    }
    computePlannedStarts();
    endMoveRows();
    startsMoved();
    return true;
}

ProgrammeModel::Row ProgrammeModel::rowOf(const Talk &talk, std::optional<std::int32_t> origin) const
{
    Row row{talk, {}, {}, origin};
    const std::size_t columns = static_cast<std::size_t>(stageColumns());
    const std::size_t known = std::min(talk.lengths.size(), plan_.Stages.size());
    for (std::size_t i = 0; i < columns; ++i)
        row.own.push_back(i < known ? std::optional<std::int32_t>(talk.lengths[i]) : std::nullopt);
    for (std::size_t i = columns; i < known; ++i)
        row.beyond.push_back(talk.lengths[i]);
    fillLengths(row);
    return row;
}

void ProgrammeModel::fillLengths(Row &row) const
{
    std::size_t kept = row.own.size();
    if (row.beyond.empty()) {
        while (kept > 0 && !row.own[kept - 1])
            --kept;
    }
    row.talk.lengths.clear();
    for (std::size_t i = 0; i < kept; ++i)
        row.talk.lengths.push_back(row.own[i].value_or(plan_.Stages[i].Seconds));
    row.talk.lengths.insert(row.talk.lengths.end(), row.beyond.begin(), row.beyond.end());
}

void ProgrammeModel::computePlannedStarts()
{
    plannedStarts_.clear();
    if (rows_.empty())
        return;
    const Schedule schedule = computeSchedule(programme(), plan_, TalkClock{}, PlanningDay);
    for (const TalkTimes &times : schedule.talks)
        plannedStarts_.push_back(times.plannedStart ? std::optional<QTime>(times.plannedStart->toLocalTime().time())
                                                    : std::nullopt);
}

void ProgrammeModel::plannedStartsChanged()
{
    const std::vector<std::optional<QTime>> before = plannedStarts_;
    computePlannedStarts();
    // A start moves every later one that follows from it: one signal for the rows from the first to the last.
    int first = -1, last = -1;
    for (std::size_t i = 0; i < plannedStarts_.size(); ++i) {
        if (i >= before.size() || before[i] != plannedStarts_[i]) {
            first = first < 0 ? static_cast<int>(i) : first;
            last = static_cast<int>(i);
        }
    }
    if (first >= 0)
        emit dataChanged(index(first, StartColumn), index(last, StartColumn));
}

void ProgrammeModel::startsMoved()
{
    if (!rows_.empty())
        emit dataChanged(index(0, StartColumn), index(rowCount() - 1, StartColumn));
}

void ProgrammeModel::clearRefusal()
{
    if (!refusal_.isEmpty()) {
        refusal_.clear();
        emit refusalChanged(refusal_);
    }
}

bool ProgrammeModel::refuse(const QString &why)
{
    refusal_ = why;
    emit refusalChanged(refusal_);
    return false;
}

QString ProgrammeModel::stageName(std::int32_t stage) const
{
    const QString description = blankTrimmed(plan_.stage(stage).Description).toString();
    return description.isEmpty() ? tr("Stage %1").arg(stage) : description;
}
