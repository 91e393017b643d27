#include "platform/modulesoundplayer.h"

#include "platform/soundmodule.h"

#include <QCoreApplication>
#include <QLibrary>

#include <cstdio>
#include <utility>

ModuleSoundPlayer::ModuleSoundPlayer(QString modulePath)
    : modulePath_(std::move(modulePath))
{}

// The module is never unloaded: the player's threads and queued calls may still run its code while the
// program shuts down.
ModuleSoundPlayer::~ModuleSoundPlayer() = default;

QString ModuleSoundPlayer::besideProgram()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(soundModuleFileName);
}

SoundPlayer *ModuleSoundPlayer::player()
{
    if (tried_)
        return player_.get();
    tried_ = true;

    QLibrary module(modulePath_);
    if (!module.load()) {
        std::fprintf(stderr, "Kestrim: no sound: %s\n", qPrintable(module.errorString()));
        return nullptr;
    }
    using Create = SoundPlayer *(*)();
    const auto create = reinterpret_cast<Create>(module.resolve(soundModuleEntryPoint));
    if (create == nullptr) {
        std::fprintf(stderr, "Kestrim: no sound: %s does not belong to this version of the program\n",
                     qPrintable(modulePath_));
        return nullptr;
    }
    player_.reset(create());
    return player_.get();
}

void ModuleSoundPlayer::prepare()
{
    if (SoundPlayer *real = player())
        real->prepare();
}

void ModuleSoundPlayer::play(const QString &path)
{
    if (SoundPlayer *real = player())
        real->play(path);
}
