#pragma once

#include "settings/clocksetting.h"

#include <QString>

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
