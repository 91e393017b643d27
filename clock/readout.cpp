#include "clock/readout.h"

#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <algorithm>
#include <cstdlib>

QString twoDigit(std::int32_t n)
{
    // Widen first: the magnitude of the smallest 32-bit value does not fit in 32 bits.
    const std::int64_t wide = n;
    const QString digits = QString::number(std::llabs(wide)).rightJustified(2, QLatin1Char('0'));
    return wide < 0 ? QLatin1Char('-') + digits : digits;
}

Readout readoutFor(std::int32_t seconds)
{
    const std::int32_t minutes = seconds / 60;
    const std::int32_t rest = seconds - 60 * minutes;
    return {twoDigit(minutes), twoDigit(rest)};
}

QString minimisedCaption(std::int32_t seconds)
{
    const Readout readout = readoutFor(seconds);
    return applicationTitle() + QStringLiteral(" - ") + readout.minutes + QLatin1Char(':') + readout.seconds;
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
