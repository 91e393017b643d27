#include "programme/programmereport.h"

#include "programme/csvtext.h"

namespace {

QString planned(const std::optional<QDateTime> &at)
{
    return at ? at->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
}

QString actual(const std::optional<QDateTime> &at)
{
    return at ? at->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString duration(const std::optional<std::int64_t> &seconds, bool signedText = false)
{
    if (!seconds) {
        return QString();
    }
    const std::uint64_t m =
        *seconds < 0 ? 0 - static_cast<std::uint64_t>(*seconds) : static_cast<std::uint64_t>(*seconds);
    const auto two = [](std::uint64_t n) { return QString::number(n).rightJustified(2, QLatin1Char('0')); };
    const QString sign = *seconds < 0                 ? QStringLiteral("-")
                         : signedText && *seconds > 0 ? QStringLiteral("+")
                                                      : QString();
    return sign + QString::number(m / 3600) + u':' + two(m / 60 % 60) + u':' + two(m % 60);
}

std::optional<std::int64_t> difference(const std::optional<std::int64_t> &actual,
                                       const std::optional<std::int64_t> &planned)
{
    return actual && planned ? std::optional(*actual - *planned) : std::nullopt;
}

std::optional<std::int64_t> span(const std::optional<QDateTime> &from, const std::optional<QDateTime> &to)
{
    return from && to ? std::optional(from->secsTo(*to)) : std::nullopt;
}

} // namespace

QByteArray programmeReportCsv(const Programme &programme, const Schedule &schedule)
{
    QByteArray file = Csv::row(
        {QStringLiteral("Talk"), QStringLiteral("Title"), QStringLiteral("Speaker"), QStringLiteral("Planned start"),
         QStringLiteral("Actual start"), QStringLiteral("Planned length"), QStringLiteral("Actual length"),
         QStringLiteral("Over or under"), QStringLiteral("Planned end"), QStringLiteral("Actual end")});
    std::optional<QDateTime> firstStart, lastEnd;
    const std::size_t count = std::min(programme.talks.size(), schedule.talks.size());
    for (std::size_t i = 0; i < count; ++i) {
        const Talk &talk = programme.talks[i];
        const TalkTimes &times = schedule.talks[i];
        const std::optional<std::int64_t> elapsed = talk.record.elapsed;
        std::optional<QDateTime> end;
        if (talk.record.started && elapsed) {
            end = talk.record.started->addSecs(*elapsed);
            lastEnd = end;
        }
        if (!firstStart) {
            firstStart = talk.record.started;
        }
        file += Csv::row({QString::number(i + 1), talk.title, talk.speaker, planned(times.plannedStart),
                          actual(talk.record.started), duration(times.plannedLength), duration(elapsed),
                          duration(difference(elapsed, times.plannedLength), true), planned(times.plannedEnd),
                          actual(end)});
    }
    const std::optional<QDateTime> plannedStart = count > 0 ? schedule.talks.front().plannedStart : std::nullopt;
    const std::optional<std::int64_t> plannedSpan = span(plannedStart, schedule.plannedEnd);
    const std::optional<std::int64_t> actualSpan = span(firstStart, lastEnd);
    file += Csv::row({QStringLiteral("Session"), QString(), QString(), planned(plannedStart), actual(firstStart),
                      duration(plannedSpan), duration(actualSpan), duration(difference(actualSpan, plannedSpan), true),
                      planned(schedule.plannedEnd), actual(lastEnd)});
    return file;
}
