#include "clock/keys.h"

KeyAction keyAction(int qtKey, Qt::KeyboardModifiers modifiers, ClockState state)
{
    switch (qtKey) {
    case Qt::Key_Space:
        switch (state) {
        case ClockState::Ready:
            return {ClockCommand::Start};
        case ClockState::Running:
            return {ClockCommand::Pause};
        case ClockState::Paused:
            return {ClockCommand::Reset};
        }
        return {};
    case Qt::Key_Escape:
        switch (state) {
        case ClockState::Ready:
            return {ClockCommand::Start};
        case ClockState::Running:
            return {ClockCommand::Pause};
        case ClockState::Paused:
            return {ClockCommand::Continue};
        }
        return {};
    case Qt::Key_Plus:
        return state == ClockState::Ready ? KeyAction{} : KeyAction{ClockCommand::AddMinute};
    case Qt::Key_Minus:
        return state == ClockState::Ready ? KeyAction{} : KeyAction{ClockCommand::TakeMinute};
    case Qt::Key_F4:
        return modifiers.testFlag(Qt::AltModifier) ? KeyAction{std::nullopt, true} : KeyAction{};
    default:
        return {};
    }
}
