#include "clock/keys.h"

KeyAction keyAction(int qtKey, Qt::KeyboardModifiers modifiers, ClockState state)
{
    switch (qtKey) {
    case Qt::Key_Space:
        switch (state) {
        case ClockState::Ready:
            return KeyAction::StartClock;
        case ClockState::Running:
            return KeyAction::PauseClock;
        case ClockState::Paused:
            return KeyAction::ResetClock;
        }
        return KeyAction::None;
    case Qt::Key_Escape:
        return state == ClockState::Running ? KeyAction::PauseClock : KeyAction::StartClock;
    case Qt::Key_Plus:
        return state == ClockState::Ready ? KeyAction::None : KeyAction::AddMinute;
    case Qt::Key_Minus:
        return state == ClockState::Ready ? KeyAction::None : KeyAction::TakeMinute;
    case Qt::Key_F4:
        return modifiers.testFlag(Qt::AltModifier) ? KeyAction::QuitProgram : KeyAction::None;
    default:
        return KeyAction::None;
    }
}
