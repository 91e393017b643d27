#include "programme/programme.h"

#include "clock/readout.h"
#include "platform/asciitext.h"

#include <algorithm>

ClockSetting talkClockSetting(const ClockSetting &plan, const Talk &talk)
{
    ClockSetting setting = plan;
    const std::size_t own = std::min(talk.lengths.size(), setting.Stages.size());
    for (std::size_t i = 0; i < own; ++i) {
        setting.Stages[i].Seconds = talk.lengths[i];
    }
    return setting;
}

std::int64_t talkSeconds(const ClockSetting &plan, const Talk &talk)
{
    // talkLength's sum without a copy of the plan: the schedule asks this of every talk each second.
    const std::size_t count = plan.Stages.size();
    const std::size_t stages = std::min(count, std::max<std::size_t>(1, count - 1));
    std::int64_t end = 0;
    for (std::size_t i = 0; i < stages; ++i)
        end += i < talk.lengths.size() ? talk.lengths[i] : plan.Stages[i].Seconds;
    return end;
}

void fitLengthsToPlan(Programme &programme, const ClockSetting &plan)
{
    for (Talk &talk : programme.talks) {
        if (talk.lengths.size() > plan.Stages.size()) {
            talk.lengths.resize(plan.Stages.size());
        }
    }
}

QStringView blankTrimmed(QStringView text)
{
    while (!text.isEmpty() && AsciiText::isBlank(text.front())) {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && AsciiText::isBlank(text.back())) {
        text.chop(1);
    }
    return text;
}

namespace {

// Runs of ASCII digits between colons, each at most `longest` digits; nothing for an empty run or any
// other character.
std::optional<std::vector<std::int64_t>> colonNumbers(QStringView text, qsizetype longest)
{
    std::vector<std::int64_t> numbers(1, 0);
    qsizetype digits = 0;
    for (QChar c : text) {
        if (c == u':') {
            if (digits == 0) {
                return std::nullopt;
            }
            numbers.push_back(0);
            digits = 0;
        } else if (AsciiText::isDigit(c) && digits < longest) {
            numbers.back() = numbers.back() * 10 + (c.unicode() - u'0');
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return numbers;
}

// Whether the run after the last colon (and the one before it in "H:MM:SS") has exactly two digits.
bool twoDigitTail(QStringView text, qsizetype colons)
{
    qsizetype end = text.size();
    for (qsizetype n = 0; n < colons; ++n) {
        const qsizetype colon = text.lastIndexOf(u':', end - 1);
        if (end - colon != 3) {
            return false;
        }
        end = colon;
    }
    return true;
}

} // namespace

std::optional<QTime> parseTimeOfDay(QStringView text)
{
    text = blankTrimmed(text);
    const std::optional<std::vector<std::int64_t>> numbers = colonNumbers(text, 2);
    if (!numbers || numbers->size() != 2 || !twoDigitTail(text, 1) || (*numbers)[0] > 23 || (*numbers)[1] > 59) {
        return std::nullopt;
    }
    return QTime(static_cast<int>((*numbers)[0]), static_cast<int>((*numbers)[1]));
}

QString formatTimeOfDay(const std::optional<QTime> &time)
{
    return time ? time->toString(QStringLiteral("HH:mm")) : QString();
}

std::optional<std::int64_t> parseDuration(QStringView text)
{
    text = blankTrimmed(text);
    const std::optional<std::vector<std::int64_t>> numbers = colonNumbers(text, 6);
    if (!numbers || numbers->size() > 3 || !twoDigitTail(text, static_cast<qsizetype>(numbers->size()) - 1)) {
        return std::nullopt;
    }
    const std::vector<std::int64_t> &n = *numbers;
    switch (n.size()) {
    case 1:
        return n[0] * 60;
    case 2:
        return n[1] < 60 ? std::optional<std::int64_t>(n[0] * 60 + n[1]) : std::nullopt;
    default:
        return n[1] < 60 && n[2] < 60 ? std::optional<std::int64_t>(n[0] * 3600 + n[1] * 60 + n[2]) : std::nullopt;
    }
}

QString formatDuration(std::int64_t seconds)
{
    // The magnitude as unsigned: that of the smallest 64-bit value does not fit in 64 signed bits.
    const std::uint64_t m = seconds < 0 ? 0 - static_cast<std::uint64_t>(seconds) : static_cast<std::uint64_t>(seconds);
    const auto two = [](std::uint64_t n) { return QString::number(n).rightJustified(2, QLatin1Char('0')); };
    QString text = seconds < 0 ? QStringLiteral("-") : QString();
    if (m >= 3600) {
        return text + QString::number(m / 3600) + QLatin1Char(':') + two(m / 60 % 60) + QLatin1Char(':') + two(m % 60);
    }
    text += QString::number(m / 60);
    return m % 60 == 0 ? text : text + QLatin1Char(':') + two(m % 60);
}
