#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// Colours are 24-bit RGB held as 0x00BBGGRR: red in the low byte. Stored files rely on this layout.
using Colour = std::int32_t;

// One stage of a talk.
struct StageSetting
{
    Colour BackColor = 0;
    Colour ForeColor = 0;
    std::int32_t Seconds = 0; // a length, not an end time: the clock adds the lengths one after another
    QString SoundFile;        // played when the clock reaches the end of this stage; may be empty
    QString Description;

    friend bool operator==(const StageSetting &, const StageSetting &) = default;
};

// The digit font of the main window.
struct FontSetting
{
    QString Name;
    bool Bold = false;
    bool Italic = false;

    friend bool operator==(const FontSetting &, const FontSetting &) = default;
};

// The whole configuration. A value type: copying one copies every stage and text.
//
// Stages are numbered from 1 as users and the settings store see them; stage(n) takes that number.
// Invariant: Count() >= 1 once loaded (an empty record exists only before the first load).
struct ClockSetting
{
    std::vector<StageSetting> Stages;
    FontSetting Font;
    bool SoundEnabled = true;

    std::int32_t Count() const { return static_cast<std::int32_t>(Stages.size()); }
    StageSetting &stage(std::int32_t n) { return Stages.at(static_cast<std::size_t>(n - 1)); }
    const StageSetting &stage(std::int32_t n) const { return Stages.at(static_cast<std::size_t>(n - 1)); }

    friend bool operator==(const ClockSetting &, const ClockSetting &) = default;
};

// The largest stage count the program accepts: the options dialog's stage selector holds a 16-bit value.
inline constexpr std::int32_t MaxStageCount = 32767;

// Fills `target` with the built-in four stages (Count 4). Font and sound switch are left alone: their
// defaults come in through the store reads of LoadClockSetting. `programFolder` is the folder that holds
// the executable and the default sounds, in native form; the sound paths are folder + separator + name.
void FillDefaultStages(ClockSetting &target, const QString &programFolder);

// The configuration a run with an empty settings store uses.
ClockSetting DefaultClockSetting(const QString &programFolder);

// The program-wide configuration in force and its two copy operations. The main window and the options
// dialog each keep a private copy and meet only here.
class SettingsModel
{
public:
    explicit SettingsModel(ClockSetting initial = {})
        : current_(std::move(initial))
    {}

    const ClockSetting &CurrentSetting() const { return current_; }
    void GetClockSetting(ClockSetting &destination) const { destination = current_; }
    void SetClockSetting(const ClockSetting &source) { current_ = source; }

private:
    ClockSetting current_;
};
