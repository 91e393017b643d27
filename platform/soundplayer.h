#pragma once

#include <QString>

// Plays a wave file by path, asynchronously: play() returns at once while the sound goes on. A new
// request replaces the one playing. A path that cannot be played gives the built-in fallback chime;
// without an audio device nothing is heard and nothing is reported.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString &path) = 0;
    // Opens the audio output ahead of the first play, so that sound is ready when a stage ends; cheap after
    // the first call. Start-up leaves this to the first start of the clock: a timer that is never started
    // never loads the sound system.
    virtual void prepare() {}
};
