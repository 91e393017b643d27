#include "settings/clocksetting.h"

#include <QDir>

namespace {

QString defaultSoundPath(const QString &programFolder, const char *fileName)
{
    // No test for a trailing separator: a folder that already ends in one yields two in a row, as stored
    // configurations written by earlier runs expect.
    return programFolder + QDir::separator() + QLatin1String(fileName);
}

} // namespace

void FillDefaultStages(ClockSetting &target, const QString &programFolder)
{
    target.Stages.assign(4, StageSetting{});
    target.stage(1) = {0, 0x00FF00, 900, defaultSoundPath(programFolder, "Sound1.wav"), QStringLiteral("Presentation")};
    target.stage(2) = {0, 0x00FFFF, 300, defaultSoundPath(programFolder, "Sound2.wav"), QStringLiteral("Conclusion")};
    target.stage(3) = {0, 0x0000FF, 300, defaultSoundPath(programFolder, "Sound3.wav"), QStringLiteral("Discussion")};
    target.stage(4) = {0x0000FF, 0, 60, defaultSoundPath(programFolder, "Sound3.wav"), QStringLiteral("Over Time")};
}

ClockSetting DefaultClockSetting(const QString &programFolder)
{
    ClockSetting setting;
    FillDefaultStages(setting, programFolder);
    setting.Font = {QStringLiteral("Arial"), false, false};
    setting.SoundEnabled = true;
    return setting;
}
