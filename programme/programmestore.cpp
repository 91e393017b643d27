#include "programme/programmestore.h"

#include "platform/asciitext.h"
#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"
#include "settings/textconv.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <type_traits>

namespace {

const QString Section = QStringLiteral("Programme");
const QString CountKey = QStringLiteral("Count");
const QString CurrentKey = QStringLiteral("Current");
const QString SessionStartKey = QStringLiteral("SessionStart");

// The keys of one talk, in the order a load reads them.
constexpr const char *TalkWords[] = {"Title", "Speaker", "Start", "Lengths", "Started", "Elapsed"};

QString talkKey(const char *word, std::int32_t n)
{
    return QLatin1String(word) + QString::number(n);
}

// Each parser reads a stored text, the empty one standing for a missing key: nothing when the text cannot
// be used, otherwise the value (itself nothing where the key is optional).
std::optional<std::optional<QTime>> parseStart(const QString &text)
{
    if (blankTrimmed(text).isEmpty()) {
        return std::optional<QTime>();
    }
    if (const std::optional<QTime> time = parseTimeOfDay(text)) {
        return time;
    }
    return std::nullopt;
}

std::optional<std::vector<std::int32_t>> parseLengths(const QString &text, std::int32_t stages)
{
    std::vector<std::int32_t> lengths;
    if (blankTrimmed(text).isEmpty()) {
        return lengths;
    }
    for (QStringView part : QStringView(text).tokenize(u',')) {
        const std::optional<std::int32_t> seconds = StoredText::parseInt(part.toString());
        if (!seconds || *seconds < 0 || *seconds > MaxTalkStageSeconds ||
            static_cast<std::int32_t>(lengths.size()) >= stages) {
            return std::nullopt;
        }
        lengths.push_back(*seconds);
    }
    return lengths;
}

QString formatLengths(const std::vector<std::int32_t> &lengths)
{
    QString text;
    for (std::int32_t seconds : lengths) {
        if (!text.isEmpty()) {
            text += QLatin1Char(',');
        }
        text += QString::number(seconds);
    }
    return text;
}

// The moment of the local `date` and `time`, in UTC; nothing where the change to daylight saving time skipped
// it. Qt's conversion has the C library look at the time zone's file again at every call, and a long session
// converts hundreds of records at start-up: localtime_r, which does not look again, confirms the moment
// first. What it cannot confirm (a time near a change of offset) is left to Qt.
std::optional<QDateTime> utcMoment(QDate date, QTime time)
{
    const qint64 asUtc = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    const auto toLocal = [](qint64 secs, std::tm &local) {
        const std::time_t t = static_cast<std::time_t>(secs);
        return localtime_r(&t, &local) != nullptr;
    };
    std::tm local{};
    if (toLocal(asUtc, local)) {
        const qint64 guess = asUtc - local.tm_gmtoff;
        if (toLocal(guess, local) && local.tm_year + 1900 == date.year() && local.tm_mon + 1 == date.month() &&
            local.tm_mday == date.day() && local.tm_hour == time.hour() && local.tm_min == time.minute() &&
            local.tm_sec == time.second()) {
            return QDateTime::fromSecsSinceEpoch(guess, Qt::UTC);
        }
    }
    const QDateTime dateTime(date, time);
    if (!dateTime.isValid() || dateTime.time() != time) {
        return std::nullopt;
    }
    return dateTime.toUTC();
}

std::optional<std::optional<QDateTime>> parseStarted(const QString &text)
{
    if (blankTrimmed(text).isEmpty()) {
        return std::optional<QDateTime>();
    }
    if (const std::optional<QDateTime> started = parseLocalDateTime(text)) {
        return started;
    }
    return std::nullopt;
}

std::optional<std::optional<std::int32_t>> parseElapsed(const QString &text)
{
    if (blankTrimmed(text).isEmpty()) {
        return std::optional<std::int32_t>();
    }
    if (const std::optional<std::int32_t> seconds = StoredText::parseInt(text); seconds && *seconds >= 0) {
        return seconds;
    }
    return std::nullopt;
}

// Reads the keys of the section, each once, turning a text it cannot use into a StoredValueError. The
// words of the errors are made once, not at every key, so that reading the largest programme stays cheap.
class ProgrammeReader
{
public:
    ProgrammeReader(const SettingsStore &store, std::int32_t stages)
        : store_(store)
        , application_(applicationTitle())
        , stages_(stages)
        , textExpected_(QStringLiteral("a text of at most %1 characters").arg(MaxTalkTextLength))
        , startExpected_(QStringLiteral("a time of day as HH:MM (00:00 to 23:59), or nothing"))
        , lengthsExpected_(
              QStringLiteral("whole seconds from 0 to %1 for at most the %2 stages, separated by commas, or nothing")
                  .arg(MaxTalkStageSeconds)
                  .arg(stages))
        , startedExpected_(QStringLiteral("a local date and time as YYYY-MM-DDTHH:MM:SS, or nothing"))
        , elapsedExpected_(QStringLiteral("a whole number of seconds from 0, or nothing"))
    {}

    std::optional<QTime> start(const QString &key) const { return value(key, parseStart, startExpected_); }

    void talk(Talk &talk, std::int32_t n) const
    {
        const auto shortText = [](const QString &stored) {
            return stored.size() <= MaxTalkTextLength ? std::optional(stored) : std::nullopt;
        };
        talk.title = value(talkKey("Title", n), shortText, textExpected_);
        talk.speaker = value(talkKey("Speaker", n), shortText, textExpected_);
        talk.start = start(talkKey("Start", n));
        talk.lengths = value(
            talkKey("Lengths", n), [this](const QString &stored) { return parseLengths(stored, stages_); },
            lengthsExpected_);
        talk.record.started = value(talkKey("Started", n), parseStarted, startedExpected_);
        talk.record.elapsed = value(talkKey("Elapsed", n), parseElapsed, elapsedExpected_);
    }

private:
    template <typename Parse>
    typename std::invoke_result_t<Parse, const QString &>::value_type value(const QString &key, Parse parse,
                                                                            const QString &expected) const
    {
        const QString stored = store_.read(application_, Section, key, QString());
        if (auto parsed = parse(stored)) {
            return *std::move(parsed);
        }
        throw StoredValueError(store_.location(), Section, key, stored, expected);
    }

    const SettingsStore &store_;
    const QString application_;
    const std::int32_t stages_;
    const QString textExpected_, startExpected_, lengthsExpected_, startedExpected_, elapsedExpected_;
};

// Writes the programme's keys, each only when the stored text does not already read as the value.
class ProgrammeWriter
{
public:
    explicit ProgrammeWriter(SettingsStore &store)
        : store_(store)
        , application_(applicationTitle())
    {}

    // A missing key reads as the empty text here, which each parser reads as the missing value, so an
    // absent key that is to stay absent is never written.
    template <typename Same>
    void put(const QString &key, const QString &text, bool meansMissing, Same same)
    {
        if (same(store_.read(application_, Section, key, QString()))) {
            return;
        }
        if (meansMissing) {
            store_.remove(application_, Section, key);
        } else {
            store_.write(application_, Section, key, text);
        }
    }

    void number(const QString &key, std::int32_t value)
    {
        put(key, StoredText::formatInt(value), false,
            [value](const QString &stored) { return StoredText::parseInt(stored) == value; });
    }

    void text(const QString &key, const QString &value)
    {
        put(key, value, value.isEmpty(), [&value](const QString &stored) { return stored == value; });
    }

    void start(const QString &key, const std::optional<QTime> &time)
    {
        put(key, formatTimeOfDay(time), !time,
            [&time](const QString &stored) { return parseStart(stored) == std::optional<std::optional<QTime>>(time); });
    }

    void record(const Talk &talk, std::int32_t n)
    {
        const std::optional<QDateTime> &started = talk.record.started;
        const QString startedText = started ? formatLocalDateTime(*started) : QString();
        put(talkKey("Started", n), startedText, startedText.isEmpty(),
            [&startedText](const QString &stored) { return parseStarted(stored) == parseStarted(startedText); });
        const std::optional<std::int32_t> &elapsed = talk.record.elapsed;
        put(talkKey("Elapsed", n), elapsed ? StoredText::formatInt(*elapsed) : QString(), !elapsed,
            [&elapsed](const QString &stored) {
                return parseElapsed(stored) == std::optional<std::optional<std::int32_t>>(elapsed);
            });
    }

    void talk(const Talk &talk, std::int32_t n)
    {
        text(talkKey("Title", n), talk.title);
        text(talkKey("Speaker", n), talk.speaker);
        start(talkKey("Start", n), talk.start);
        put(talkKey("Lengths", n), formatLengths(talk.lengths), talk.lengths.empty(), [&talk](const QString &stored) {
            return parseLengths(stored, std::numeric_limits<std::int32_t>::max()) == std::optional(talk.lengths);
        });
        record(talk, n);
    }

    void remove(const QString &key) { store_.remove(application_, Section, key); }

    // The stored number of talks, as far as there are keys to remove: a text a load would refuse counts as
    // the most there can be.
    std::int32_t storedCount() const
    {
        const QString stored = store_.read(application_, Section, CountKey, QStringLiteral("0"));
        const std::optional<std::int32_t> count = StoredText::parseInt(stored);
        return count && *count >= 0 && *count <= MaxTalks ? *count : MaxTalks;
    }

private:
    SettingsStore &store_;
    const QString application_;
};

} // namespace

Programme LoadProgramme(const SettingsStore &store, const ClockSetting &plan)
{
    const StoredValueReader numbers(store);
    Programme programme;
    const std::int32_t count = numbers.integer(Section, CountKey, 0, 0, MaxTalks);
    if (count == 0) {
        return programme;
    }
    const ProgrammeReader reader(store, plan.Count());
    programme.sessionStart = reader.start(SessionStartKey);
    programme.current = numbers.integer(Section, CurrentKey, 1, 1, count);
    programme.talks.resize(static_cast<std::size_t>(count));
    for (std::int32_t n = 1; n <= count; ++n) {
        reader.talk(programme.talk(n), n);
    }
    return programme;
}

void SaveProgramme(const Programme &programme, SettingsStore &store)
{
    ProgrammeWriter writer(store);
    const std::int32_t before = writer.storedCount();
    if (programme.empty()) {
        if (before == 0) {
            return;
        }
        writer.remove(CountKey);
        writer.remove(SessionStartKey);
        writer.remove(CurrentKey);
    } else {
        writer.number(CountKey, programme.count());
        writer.start(SessionStartKey, programme.sessionStart);
        writer.number(CurrentKey, std::clamp(programme.current, 1, programme.count()));
        for (std::int32_t n = 1; n <= programme.count(); ++n) {
            writer.talk(programme.talk(n), n);
        }
    }
    for (std::int32_t n = programme.count() + 1; n <= before; ++n) {
        for (const char *word : TalkWords) {
            writer.remove(talkKey(word, n));
        }
    }
}

void SaveProgrammeCurrent(const Programme &programme, SettingsStore &store)
{
    if (!programme.empty()) {
        ProgrammeWriter(store).number(CurrentKey, std::clamp(programme.current, 1, programme.count()));
    }
}

void SaveTalkRecord(const Programme &programme, std::int32_t talk, SettingsStore &store)
{
    if (talk >= 1 && talk <= programme.count()) {
        ProgrammeWriter(store).record(programme.talk(talk), talk);
    }
}

std::optional<QDateTime> parseLocalDateTime(QStringView text)
{
    text = blankTrimmed(text);
    constexpr QStringView shape = u"0000-00-00T00:00:00";
    if (text.size() != shape.size()) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < shape.size(); ++i) {
        if (shape[i] == u'0' ? !AsciiText::isDigit(text[i]) : text[i] != shape[i]) {
            return std::nullopt;
        }
    }
    const auto number = [text](qsizetype at, qsizetype digits) { return text.sliced(at, digits).toInt(); };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return utcMoment(date, time);
}

QString formatLocalDateTime(const QDateTime &dateTime)
{
    const QDateTime local = dateTime.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    if (!local.isValid() || date.year() < 1 || date.year() > 9999) {
        return QString();
    }
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d", date.year(), date.month(), date.day(), time.hour(),
                             time.minute(), time.second());
}
