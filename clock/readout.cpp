#include "clock/readout.h"

#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <algorithm>
#include <utility>

QString twoDigit(std::int64_t n)
{
    // The magnitude as unsigned: that of the smallest 64-bit value does not fit in 64 signed bits.
    const std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
    const QString digits = QString::number(magnitude).rightJustified(2, QLatin1Char('0'));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

Readout readoutFor(std::int32_t seconds)
{
    const std::int32_t minutes = seconds / 60;
    const std::int32_t rest = seconds - 60 * minutes;
    return {twoDigit(minutes), twoDigit(rest)};
}

QString minimisedCaption(std::int32_t seconds)
{
    return minimisedCaption(readoutFor(seconds));
}

QString minimisedCaption(const Readout &readout)
{
    return applicationTitle() + QStringLiteral(" - ") + readout.minutes + QLatin1Char(':') + readout.seconds;
}

Readout leftReadout(std::int64_t end, std::int32_t elapsed)
{
    const std::int64_t left = end - elapsed;
    const std::int64_t magnitude = left < 0 ? -left : left;
    const std::int64_t minutes = magnitude / 60;
    const QString minuteText = twoDigit(minutes);
    return {left < 0 ? QLatin1Char('-') + minuteText : minuteText, twoDigit(magnitude - 60 * minutes)};
}

Readout modeReadout(ReadOutMode mode, std::int32_t elapsed, std::int64_t stageEnd, std::int64_t talkSeconds)
{
    switch (mode) {
    case ReadOutMode::StageLeft:
        return leftReadout(stageEnd, elapsed);
    case ReadOutMode::TalkLeft:
        return leftReadout(talkSeconds, elapsed);
    case ReadOutMode::Elapsed:
        break;
    }
    return readoutFor(elapsed);
}

std::int64_t talkLength(const ClockSetting &setting)
{
    const std::int32_t stages = std::max<std::int32_t>(1, setting.Count() - 1);
    std::int64_t end = 0;
    for (std::int32_t i = 1; i <= std::min(stages, setting.Count()); ++i)
        end += setting.stage(i).Seconds;
    return end;
}

std::optional<ReadOutMode> readOutModeNamed(const QString &name)
{
    for (const auto &[mode, known] : ReadOutModeNames) {
        if (name == QLatin1String(known))
            return mode;
    }
    return std::nullopt;
}

QString statusText(const ClockSnapshot &snapshot)
{
    switch (snapshot.state) {
    case ClockState::Running:
        return ClockEngine::runningStatus(snapshot.description);
    case ClockState::Paused:
        return ClockEngine::pausedStatus();
    case ClockState::Ready:
        break;
    }
    return ClockEngine::readyStatus();
}

QString shownDescription(const QString &description)
{
    if (description.size() <= MaxShownLength) {
        return description;
    }
    qsizetype cut = MaxShownLength;
    // Never split a surrogate pair: half a character would show as a box.
    if (description[cut - 1].isHighSurrogate()) {
        --cut;
    }
    return description.first(cut) + QChar(0x2026);
}

QString infoText(const ClockSetting &setting)
{
    // Three lines at most, as the label is sized for them; a configuration with fewer stages lists only
    // the ones it has instead of reading past its end.
    const std::int32_t shown = std::min<std::int32_t>(3, setting.Count());
    QString text;
    for (std::int32_t i = 1; i <= shown; ++i) {
        const StageSetting &stage = setting.stage(i);
        const std::int32_t minutes = stage.Seconds / 60;
        const std::int32_t rest = stage.Seconds - 60 * minutes;
        text += QString::number(minutes) + QStringLiteral("' ");
        if (rest > 0) {
            text += QString::number(rest) + QStringLiteral("\" ");
        }
        text += QStringLiteral("for ") + shownDescription(stage.Description) + QLatin1Char('\n');
    }
    return text;
}

QString helpText()
{
    return QStringLiteral("Kestrim Ver.") + QString::number(KESTRIM_VERSION_MAJOR) + QLatin1Char('.') +
           twoDigit(KESTRIM_VERSION_MINOR) + QLatin1Char('\n') + QStringLiteral("A desktop timer for talks.") +
           QLatin1Char('\n') + QStringLiteral("Sorry, help files are not available yet.");
}
