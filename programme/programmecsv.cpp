#include "programme/programmecsv.h"

#include "platform/asciitext.h"
#include "programme/csvtext.h"

#include <QHash>

#include <algorithm>
#include <map>

namespace {

enum class Field
{
    Unnamed,
    Title,
    Speaker,
    Start,
    Length,
    Stage
};

struct Column
{
    Field field = Field::Unnamed;
    std::int32_t stage = 0; // of Field::Stage
    QString name;           // as the header has it
};

// A cell's text in a message: short and on one line.
QString shown(const QString &text)
{
    constexpr qsizetype shownLength = 40;
    QString line = text.first(std::min(text.size(), shownLength));
    for (QChar &c : line) {
        if (c.unicode() < 0x20) {
            c = u' ';
        }
    }
    return u'"' + line + (text.size() > shownLength ? QStringLiteral("\u2026\"") : QStringLiteral("\""));
}

QString key(QStringView name)
{
    return blankTrimmed(name).toString().toCaseFolded();
}

// "Stage 2" in any letter case, blanks between allowed.
std::optional<std::int32_t> stageNumberNamed(const QString &folded)
{
    if (!folded.startsWith(QLatin1String("stage"))) {
        return std::nullopt;
    }
    const QStringView digits = blankTrimmed(QStringView(folded).sliced(5));
    if (digits.isEmpty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return AsciiText::isDigit(c); })) {
        return std::nullopt;
    }
    return digits.toInt();
}

// Reads the header's names as the plan's stages and the fixed columns give them meaning.
class Names
{
public:
    explicit Names(const ClockSetting &plan)
        : stages_(plan.Count())
    {
        for (std::int32_t n = 1; n <= plan.Count(); ++n) {
            const QString described = key(plan.stage(n).Description);
            if (described.isEmpty()) {
                continue;
            }
            auto found = described_.find(described);
            if (found == described_.end()) {
                described_.insert(described, {n, 0});
            } else if (found->second == 0) {
                found->second = n;
            }
        }
    }

    // The column `name` names, or why it names none.
    std::optional<Column> column(const QString &name, QString &problem) const
    {
        const QString folded = key(name);
        static const std::pair<const char *, Field> fixed[] = {
            {"title", Field::Title}, {"speaker", Field::Speaker}, {"start", Field::Start}, {"length", Field::Length}};
        if (folded.isEmpty()) {
            return Column{Field::Unnamed, 0, name};
        }
        for (const auto &[word, field] : fixed) {
            if (folded == QLatin1String(word)) {
                return Column{field, 0, name};
            }
        }
        if (const std::optional<std::int32_t> n = stageNumberNamed(folded)) {
            if (*n >= 1 && *n <= stages_) {
                return Column{Field::Stage, *n, name};
            }
            problem = QStringLiteral("%1 names no stage: the plan has stages 1 to %2").arg(shown(name)).arg(stages_);
            return std::nullopt;
        }
        if (const auto found = described_.constFind(folded); found != described_.cend()) {
            if (found->second != 0) {
                problem = QStringLiteral("%1 describes both stage %2 and stage %3; name the column \"Stage %2\" or "
                                         "\"Stage %3\"")
                              .arg(shown(name))
                              .arg(found->first)
                              .arg(found->second);
                return std::nullopt;
            }
            return Column{Field::Stage, found->first, name};
        }
        problem = QStringLiteral("%1 is not a column: expected Title, Speaker, Start, Length, a stage's description "
                                 "or \"Stage 1\" to \"Stage %2\"")
                      .arg(shown(name))
                      .arg(stages_);
        return std::nullopt;
    }

private:
    std::int32_t stages_;
    QHash<QString, std::pair<std::int32_t, std::int32_t>> described_; // the first two stages of each description
};

class Importer
{
public:
    Importer(const ClockSetting &plan)
        : plan_(plan)
    {}

    ProgrammeCsvImport run(QByteArrayView file)
    {
        if (file.size() > MaxProgrammeCsvBytes) {
            return refused(0, 0, QStringLiteral("the file is larger than 1 MiB"));
        }
        std::int32_t badLine = 0;
        const std::optional<QString> text = Csv::decodeUtf8(file, badLine);
        if (!text) {
            return refused(badLine, 0, QStringLiteral("the text is not UTF-8"));
        }
        const Csv::Parsed parsed = Csv::parse(*text, Csv::separatorOf(*text));
        auto row = std::find_if(parsed.rows.cbegin(), parsed.rows.cend(), [](const Csv::Row &r) { return !r.blank(); });
        if (row != parsed.rows.cend()) {
            nameColumns(*row);
        }
        if (parsed.problem) {
            return refused(parsed.problem->line, parsed.problem->column, parsed.problem->what);
        }
        if (row == parsed.rows.cend()) {
            return refused(0, 0, QStringLiteral("the file has no header row naming the columns"));
        }
        if (!readHeader(*row)) {
            return result_;
        }
        for (++row; row != parsed.rows.cend(); ++row) {
            if (row->blank()) {
                continue;
            }
            if (static_cast<std::int32_t>(result_.talks.size()) == MaxTalks) {
                return refused(row->line, 0, QStringLiteral("more than %1 talks").arg(MaxTalks));
            }
            std::optional<Talk> talk = readTalk(*row);
            if (!talk) {
                return result_;
            }
            result_.talks.push_back(*std::move(talk));
        }
        if (result_.talks.empty()) {
            return refused(0, 0, QStringLiteral("the file has no talks, only the header row"));
        }
        return std::move(result_);
    }

private:
    ProgrammeCsvImport refused(std::int32_t line, std::int32_t column, QString reason)
    {
        const QString name = column >= 1 && column <= static_cast<std::int32_t>(columns_.size())
                                 ? blankTrimmed(columns_[static_cast<std::size_t>(column - 1)].name).toString()
                                 : QString();
        result_.talks.clear();
        result_.error = CsvImportError{line, column, name, std::move(reason)};
        return result_;
    }

    // The names of the header's columns, for messages, before they are known to mean anything.
    void nameColumns(const Csv::Row &header)
    {
        for (const Csv::Cell &cell : header.cells) {
            columns_.push_back(Column{Field::Unnamed, 0, cell.text});
        }
    }

    bool readHeader(const Csv::Row &header)
    {
        const Names names(plan_);
        std::map<std::pair<Field, std::int32_t>, std::int32_t> seen; // each named column once
        for (std::size_t i = 0; i < header.cells.size(); ++i) {
            const std::int32_t number = static_cast<std::int32_t>(i) + 1;
            QString problem;
            const std::optional<Column> column = names.column(header.cells[i].text, problem);
            if (!column) {
                refused(header.cells[i].line, number, problem);
                return false;
            }
            columns_[i] = *column;
            if (column->field == Field::Unnamed) {
                continue;
            }
            const auto [at, isNew] = seen.emplace(std::pair(column->field, column->stage), number);
            if (!isNew) {
                refused(header.cells[i].line, number, QStringLiteral("names what column %1 names").arg(at->second));
                return false;
            }
        }
        const auto has = [&seen](Field field, std::int32_t stage) { return seen.count({field, stage}) != 0; };
        if (!has(Field::Title, 0)) {
            refused(header.line, 0, QStringLiteral("the header row has no Title column"));
            return false;
        }
        if (has(Field::Length, 0) && has(Field::Stage, 1)) {
            refused(header.line, seen[{Field::Stage, 1}],
                    QStringLiteral("both this column and Length set the length of stage 1"));
            return false;
        }
        return true;
    }

    // The talk of `row`, or nothing once refused.
    std::optional<Talk> readTalk(const Csv::Row &row)
    {
        Talk talk;
        std::map<std::int32_t, std::int32_t> stages; // the row's own lengths by stage
        std::optional<std::int64_t> length;
        std::int32_t lengthColumn = 0;
        for (std::size_t i = 0; i < row.cells.size(); ++i) {
            const Csv::Cell &cell = row.cells[i];
            const std::int32_t number = static_cast<std::int32_t>(i) + 1;
            const bool empty = cell.text.isEmpty();
            const Field field = i < columns_.size() ? columns_[i].field : Field::Unnamed;
            const auto refuse = [&](const QString &reason) {
                refused(cell.line, number, reason);
                return std::nullopt;
            };
            switch (field) {
            case Field::Unnamed:
                if (!empty || cell.quoted) {
                    return refuse(
                        QStringLiteral("%1 stands in a column the header row does not name").arg(shown(cell.text)));
                }
                break;
            case Field::Title:
            case Field::Speaker:
                if (cell.text.size() > MaxTalkTextLength) {
                    return refuse(QStringLiteral("longer than %1 characters").arg(MaxTalkTextLength));
                }
                (field == Field::Title ? talk.title : talk.speaker) = cell.text;
                break;
            case Field::Start:
                if (!empty) {
                    talk.start = startOf(cell.text);
                    if (!talk.start) {
                        return refuse(
                            QStringLiteral("%1 is not a time of day from 0:00 to 23:59").arg(shown(cell.text)));
                    }
                }
                break;
            case Field::Length:
                if (!empty) {
                    length = parseDuration(cell.text);
                    lengthColumn = number;
                    if (!length) {
                        return refuse(notALength(cell.text));
                    }
                }
                break;
            case Field::Stage:
                if (!empty) {
                    const std::optional<std::int64_t> seconds = parseDuration(cell.text);
                    if (!seconds) {
                        return refuse(notALength(cell.text));
                    }
                    if (*seconds > MaxTalkStageSeconds) {
                        return refuse(
                            QStringLiteral("%1 is longer than a stage can be (9:59:59)").arg(shown(cell.text)));
                    }
                    stages[columns_[i].stage] = static_cast<std::int32_t>(*seconds);
                }
                break;
            }
        }
        if (length && !stageOneFromLength(*length, stages)) {
            refused(row.line, lengthColumn,
                    *length < lengthOfOthers(stages)
                        ? QStringLiteral("%1 is shorter than the talk's other stages (%2)")
                              .arg(formatDuration(*length), formatDuration(lengthOfOthers(stages)))
                        : QStringLiteral("%1 leaves stage 1 longer than a stage can be (9:59:59)")
                              .arg(formatDuration(*length)));
            return std::nullopt;
        }
        if (!stages.empty()) {
            talk.lengths.resize(static_cast<std::size_t>(stages.rbegin()->first));
            for (std::size_t s = 0; s < talk.lengths.size(); ++s) {
                const auto own = stages.find(static_cast<std::int32_t>(s) + 1);
                talk.lengths[s] = own != stages.end() ? own->second : plan_.Stages[s].Seconds;
            }
        }
        return talk;
    }

    // Stages 2 up to the one before the repeating last: with stage 1, the talk's length (talkLength).
    std::int64_t lengthOfOthers(const std::map<std::int32_t, std::int32_t> &stages) const
    {
        std::int64_t others = 0;
        for (std::int32_t n = 2; n <= plan_.Count() - 1; ++n) {
            const auto own = stages.find(n);
            others += own != stages.end() ? own->second : plan_.stage(n).Seconds;
        }
        return others;
    }

    bool stageOneFromLength(std::int64_t length, std::map<std::int32_t, std::int32_t> &stages) const
    {
        const std::int64_t first = length - lengthOfOthers(stages);
        if (first < 0 || first > MaxTalkStageSeconds) {
            return false;
        }
        stages[1] = static_cast<std::int32_t>(first);
        return true;
    }

    static std::optional<QTime> startOf(const QString &text)
    {
        // A spreadsheet writes the time it read as "09:00:00".
        const QStringView trimmed = blankTrimmed(text);
        if (trimmed.count(u':') == 2 && trimmed.endsWith(u":00")) {
            return parseTimeOfDay(trimmed.chopped(3));
        }
        return parseTimeOfDay(trimmed);
    }

    static QString notALength(const QString &text)
    {
        return QStringLiteral("%1 is not a length: whole minutes (\"20\"), \"12:30\" or \"1:05:00\"").arg(shown(text));
    }

    const ClockSetting &plan_;
    std::vector<Column> columns_;
    ProgrammeCsvImport result_;
};

} // namespace

QString CsvImportError::message() const
{
    if (line == 0) {
        return reason;
    }
    if (column == 0) {
        return QStringLiteral("line %1: %2").arg(line).arg(reason);
    }
    const QString named = columnName.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(columnName);
    return QStringLiteral("line %1, column %2%3: %4").arg(line).arg(column).arg(named, reason);
}

ProgrammeCsvImport importProgrammeCsv(QByteArrayView file, const ClockSetting &plan)
{
    return Importer(plan).run(file);
}

QByteArray exportProgrammeCsv(const std::vector<Talk> &talks, const ClockSetting &plan)
{
    std::size_t stages = 0;
    for (const Talk &talk : talks) {
        stages = std::max(stages, std::min(talk.lengths.size(), plan.Stages.size()));
    }
    // A stage's description where it names that stage and nothing else, its number otherwise.
    const Names names(plan);
    QStringList header{QStringLiteral("Title"), QStringLiteral("Speaker"), QStringLiteral("Start")};
    for (std::size_t s = 1; s <= stages; ++s) {
        const std::int32_t n = static_cast<std::int32_t>(s);
        const QString &description = plan.stage(n).Description;
        QString problem;
        const std::optional<Column> named = names.column(description, problem);
        const bool usable = named && named->field == Field::Stage && named->stage == n;
        header.append(usable ? description : QStringLiteral("Stage %1").arg(n));
    }
    QByteArray file = Csv::row(header);
    for (const Talk &talk : talks) {
        QStringList cells{talk.title, talk.speaker, formatTimeOfDay(talk.start)};
        for (std::size_t s = 0; s < stages; ++s) {
            cells.append(s < talk.lengths.size() ? formatDuration(talk.lengths[s]) : QString());
        }
        // A talk with nothing in it must not read back as a blank row.
        const bool blank = std::all_of(cells.cbegin(), cells.cend(), [](const QString &c) { return c.isEmpty(); });
        file += blank ? Csv::row({QString()}, true) : Csv::row(cells);
    }
    return file;
}
