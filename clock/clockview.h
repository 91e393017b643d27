#pragma once

#include "settings/clocksetting.h"

#include <QString>

#include <cstdint>

// What the engine tells whoever shows it. The clock session implements it and publishes the result as one
// snapshot for every view; tests record it.
class ClockView
{
public:
    virtual ~ClockView() = default;

    // Enabled switches of the toolbar buttons "Start", "Stop", "Reset" and "Option".
    virtual void setCommandButtons(bool start, bool stop, bool reset, bool option) = 0;
    // Enabled switch of both digit labels (disabled ones draw greyed text on the stage background).
    virtual void setDigitsEnabled(bool enabled) = 0;
    virtual void SetStatusText(const QString &text) = 0;
    // Shows elapsed whole seconds as minutes and seconds (in the caption while minimised).
    virtual void ShowTime(std::int32_t seconds) = 0;
    virtual void SetColors(Colour back, Colour fore) = 0;
    // Rewrites the information label and sets the "Sound" button from the setting's sound switch.
    virtual void ShowInfo() = 0;
};
