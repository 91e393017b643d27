#pragma once

#include "clock/clockengine.h"
#include "clock/commands.h"

#include <Qt>

#include <optional>

// What a key pressed in the main window asks for: a command of the catalogue, quitting, or nothing.
struct KeyAction
{
    std::optional<ClockCommand> command;
    bool quit = false;
    friend bool operator==(const KeyAction &, const KeyAction &) = default;
};

// SPACE starts, pauses or resets and ESC starts, pauses or continues, by the run state and whatever
// modifiers are held; Alt+F4 quits in every state (with or without further modifiers). "+" and "-", on the
// main keyboard or the keypad, add or take away a minute while running or paused. Every other key, an
// auto-repeated one included, is judged the same way each time it arrives.
KeyAction keyAction(int qtKey, Qt::KeyboardModifiers modifiers, ClockState state);
