#pragma once

#include "settings/clocksetting.h"

#include <QString>

#include <cstdint>
#include <limits>
#include <stdexcept>

class SettingsStore;

// A value in the settings store that the program cannot use. Start-up shows the message and ends before
// any window is shown; nothing is written to the store on that path.
class StoredValueError : public std::runtime_error
{
public:
    StoredValueError(QString location, QString section, QString key, QString text, QString expected);

    QString location() const { return location_; } // the store's file
    QString section() const { return section_; }
    QString key() const { return key_; }
    QString text() const { return text_; }         // the text as stored
    QString expected() const { return expected_; } // what would have been accepted, in words
    // One line naming all of the above, for the message box and stderr.
    QString message() const;

private:
    QString location_, section_, key_, text_, expected_;
};

// Reads values of application "Kestrim" from a store and turns every text it cannot use into a
// StoredValueError naming the store, section, key, the text and what was expected. Each read passes
// `current` as the default, in the text form writing would give it, so a missing key yields `current`.
class StoredValueReader
{
public:
    explicit StoredValueReader(const SettingsStore &store);

    QString text(const QString &section, const QString &key, const QString &current) const;
    // A whole number within low..high; `expected` words the range for the message (by default
    // "a whole number from <low> to <high>").
    std::int32_t integer(const QString &section, const QString &key, std::int32_t current,
                         std::int32_t low = std::numeric_limits<std::int32_t>::min(),
                         std::int32_t high = std::numeric_limits<std::int32_t>::max(),
                         const QString &expected = QString()) const;
    bool boolean(const QString &section, const QString &key, bool current) const;
    // A finite number within the range of a float; `expected` says what it measures ("a number of twips").
    float number(const QString &section, const QString &key, float current, const QString &expected) const;

private:
    [[noreturn]] void fail(const QString &section, const QString &key, const QString &stored,
                           const QString &expected) const;

    const SettingsStore &store_;
    const QString application_;
};

// Fills `target` with the built-in stages, then overlays every value found in sections "Stages", "Font"
// and "Sound" of application "Kestrim". Throws StoredValueError for a value that does not convert or a
// "Count" outside 1..MaxStageCount; `target` is then partly overlaid. The store's SettingsFileError
// (a file that cannot be read at all) passes through.
void LoadClockSetting(ClockSetting &target, const SettingsStore &store, const QString &programFolder);

// Writes every member of `source` to the store (no sync; see SettingsStore::sync). Keys of stages above
// source.Count() that an earlier save left behind stay in place.
void SaveClockSetting(const ClockSetting &source, SettingsStore &store);

// The folder part of `path`: everything before its last native separator, or the empty text when there
// is none or it is the first character.
QString GetFolder(const QString &path);
