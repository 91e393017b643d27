#include "programme/schedule.h"

#include <algorithm>
#include <cstdlib>

namespace {

// The local time `time` on `date`. A time that the change to daylight saving time skipped is taken an
// hour later, past the gap.
QDateTime localAt(QDate date, QTime time)
{
    const QDateTime at(date, time);
    return at.isValid() ? at : QDateTime(date, time.addSecs(3600));
}

// `time` on the day that brings it nearest to `reference`, the later one on a tie; in UTC, as `reference` is.
QDateTime nearestTo(QTime time, const QDateTime &reference)
{
    const QDate day = reference.toLocalTime().date();
    QDateTime best;
    std::int64_t bestDistance = 0;
    for (int days = -1; days <= 1; ++days) {
        const QDateTime candidate = localAt(day.addDays(days), time).toUTC();
        const std::int64_t distance = std::abs(reference.secsTo(candidate));
        if (!best.isValid() || distance <= bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

QDateTime later(const QDateTime &a, const QDateTime &b)
{
    return a < b ? b : a;
}

} // namespace

Schedule computeSchedule(const Programme &programme, const ClockSetting &plan, const TalkClock &clock,
                         const QDateTime &localNow)
{
    Schedule schedule;
    if (programme.empty()) {
        return schedule;
    }
    const QDateTime now = localNow.toUTC();
    const std::int32_t current = std::clamp(programme.current, 1, programme.count());

    // Where the first time of day is placed: the session as it really began, or now before it did. No
    // session lasts a day: records older than that are of an earlier one, and the programme, run again,
    // is planned for today instead of being days behind.
    QDateTime anchor = now;
    const QDateTime dayAgo = now.addDays(-1);
    for (const Talk &talk : programme.talks) {
        if (talk.record.started) {
            const QDateTime started = talk.record.started->toUTC();
            if (started < anchor && started > dayAgo) {
                anchor = started;
            }
        }
    }

    schedule.talks.resize(programme.talks.size());
    std::optional<QDateTime> plannedEnd;
    QDateTime expectedEnd;
    for (std::int32_t n = 1; n <= programme.count(); ++n) {
        const Talk &talk = programme.talk(n);
        TalkTimes &times = schedule.talks[static_cast<std::size_t>(n - 1)];
        times.plannedLength = talkSeconds(plan, talk);
        const std::int64_t length = times.plannedLength;

        const std::optional<QTime> own = n == 1 && !talk.start ? programme.sessionStart : talk.start;
        if (own) {
            times.plannedStart = nearestTo(*own, plannedEnd.value_or(anchor));
        } else {
            times.plannedStart = plannedEnd;
        }
        if (times.plannedStart) {
            times.plannedEnd = times.plannedStart->addSecs(length);
        }
        plannedEnd = times.plannedEnd;

        if (talk.record.started) {
            times.actualStart = talk.record.started->toUTC();
        }
        times.done = n < current;
        // Where the talk starts if nothing recorded says otherwise: after the talk before, not before its
        // own fixed start.
        QDateTime next = n == 1 ? times.plannedStart.value_or(now) : expectedEnd;
        if (n > 1 && talk.start) {
            next = later(next, *times.plannedStart);
        }
        if (times.done) {
            times.actualLength = talk.record.elapsed;
            times.expectedStart = times.actualStart.value_or(next);
            times.expectedEnd = times.expectedStart.addSecs(times.actualLength.value_or(length));
        } else if (n == current) {
            if (clock.state == ClockState::Ready) {
                times.expectedStart = later(now, times.plannedStart.value_or(now));
                times.expectedEnd = times.expectedStart.addSecs(length);
            } else {
                times.expectedStart = times.actualStart.value_or(now.addSecs(-clock.elapsed));
                times.expectedEnd = now.addSecs(std::max<std::int64_t>(0, length - clock.elapsed));
            }
            if (times.plannedEnd) {
                schedule.offset = times.plannedEnd->secsTo(times.expectedEnd);
            }
        } else {
            times.expectedStart = next;
            times.expectedEnd = next.addSecs(length);
        }
        expectedEnd = times.expectedEnd;
    }
    schedule.expectedEnd = expectedEnd;
    schedule.plannedEnd = plannedEnd;
    return schedule;
}

QString offsetText(const std::optional<std::int64_t> &offset)
{
    if (!offset) {
        return QString();
    }
    // The magnitude as unsigned: that of the smallest 64-bit value does not fit in 64 signed bits.
    const std::uint64_t seconds =
        *offset < 0 ? 0 - static_cast<std::uint64_t>(*offset) : static_cast<std::uint64_t>(*offset);
    if (seconds < 60) {
        return QStringLiteral("On time");
    }
    const std::uint64_t minutes = seconds / 60 + (seconds % 60 >= 30 ? 1 : 0);
    // "Ahead 300 min" has to be worked out; hours read at a glance.
    QString amount = QStringLiteral("%1 min").arg(minutes);
    if (minutes >= 60) {
        amount = minutes % 60 == 0 ? QStringLiteral("%1 h").arg(minutes / 60)
                                   : QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    }
    return (*offset > 0 ? QStringLiteral("Behind ") : QStringLiteral("Ahead ")) + amount;
}

QString talkNumberText(std::int32_t talk, std::int32_t count)
{
    return QStringLiteral("Talk %1 of %2").arg(talk).arg(count);
}

QString endsText(const QDateTime &end)
{
    return end.isValid() ? QStringLiteral("Ends ") + end.toLocalTime().toString(QStringLiteral("HH:mm")) : QString();
}
