#pragma once

#include "platform/soundplayer.h"

#include <QString>

#include <memory>

// The program's sound player: the real player lives in the sound module (see soundmodule.h), loaded on the
// first prepare() or play(). Until then nothing of the sound system is in memory. If the module cannot be
// loaded, that is said once on stderr and the program goes on without sound, like a machine without an
// audio device.
class ModuleSoundPlayer final : public SoundPlayer
{
public:
    explicit ModuleSoundPlayer(QString modulePath);
    ~ModuleSoundPlayer() override;
    ModuleSoundPlayer(const ModuleSoundPlayer &) = delete;
    ModuleSoundPlayer &operator=(const ModuleSoundPlayer &) = delete;

    void play(const QString &path) override;
    void prepare() override;

    // True once the module has been loaded and has given a player.
    bool loaded() const { return player_ != nullptr; }

    // The module's path beside the running program's executable.
    static QString besideProgram();

private:
    SoundPlayer *player();

    QString modulePath_;
    bool tried_ = false;
    std::unique_ptr<SoundPlayer> player_;
};
