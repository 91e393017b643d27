#pragma once

#include "clock/clockengine.h"

#include <Qt>

// What a key pressed in the main window asks for. The main window carries it out.
enum class KeyAction
{
    None,
    StartClock,
    PauseClock,
    ResetClock, // the operator's reset, which Undo Reset can take back
    AddMinute,
    TakeMinute,
    QuitProgram
};

// SPACE starts, pauses or resets and ESC starts, pauses or continues, by the run state and whatever
// modifiers are held; Alt+F4 quits in every state (with or without further modifiers). "+" and "-", on the
// main keyboard or the keypad, add or take away a minute while running or paused. Every other key, an
// auto-repeated one included, is judged the same way each time it arrives.
KeyAction keyAction(int qtKey, Qt::KeyboardModifiers modifiers, ClockState state);
