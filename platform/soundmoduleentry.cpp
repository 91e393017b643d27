// The sound module's one entry point (see soundmodule.h).
#include "platform/qtsoundplayer.h"
#include "platform/soundmodule.h"

#include <memory>

extern "C" Q_DECL_EXPORT SoundPlayer *kestrimCreateSoundPlayer1()
{
    // Ownership crosses into the program, which holds the player in a unique_ptr from the moment it
    // receives it.
    return std::make_unique<QtSoundPlayer>().release();
}
