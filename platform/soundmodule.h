#pragma once

// The contract between the program and its sound module. Qt Multimedia and the sound server's client
// libraries make up a tenth of the program's start-up time and several MiB of memory, and a timer that is
// never started never needs them; so they live in a module that the program loads when a talk first starts.
//
// The module exports one C function under this name. It returns a new SoundPlayer that the caller owns
// and deletes. The number in the name changes whenever SoundPlayer's layout does, so a stale module left
// beside a newer program is refused instead of being called through the wrong table.
inline constexpr char soundModuleEntryPoint[] = "kestrimCreateSoundPlayer1";

// The module's file name, looked for in the folder of the program's executable.
inline constexpr char soundModuleFileName[] = "kestrim-sound.so";
