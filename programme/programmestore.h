#pragma once

#include "programme/programme.h"

#include <cstdint>

class SettingsStore;

// The programme in section "Programme" of application "Kestrim", through a SettingsStore:
//
//   Count          0 to 200 talks; 0 or missing: no programme, and no other key of the section is read
//   SessionStart   HH:MM, or empty: talk 1 has no planned start unless it has its own
//   Current        the talk the clock is on, 1 to Count (missing: 1)
//   Title<n>       at most 200 characters (missing: empty); likewise Speaker<n>
//   Start<n>       HH:MM, or empty: right after talk n-1's planned end
//   Lengths<n>     whole seconds of stages 1, 2, ... separated by commas, at most one per stage of the plan,
//                  each 0 to 35999 ("1200,300"); empty: the plan as it is
//   Started<n>     when the clock was first started on talk n: local time, YYYY-MM-DDTHH:MM:SS
//   Elapsed<n>     the whole seconds on the clock when it left talk n, 0 or more
//
// Times of day may be written "9:00" by hand, numbers with spaces and tabs around. A key that would hold
// what a missing one means (an empty speaker, no record) is not written but removed, and a key whose text
// already reads as the value written is left as it stands, so a hand-edited line keeps its spelling and a
// store without a programme is never touched.

// Reads the programme, checking the number of each talk's lengths against `plan` (the configured
// ClockSetting). Throws StoredValueError (settings/persistence.h) naming section, key and text for the
// first value it cannot use; the store's SettingsFileError passes through.
Programme LoadProgramme(const SettingsStore &store, const ClockSetting &plan);

// The whole programme, after an edit: every key that changed is written, those of talks no longer there
// are removed. An empty programme removes every key the stored programme had (a store that never had one
// is not touched). `programme` holds values LoadProgramme accepts (CSV import and the load give such, and
// fitLengthsToPlan keeps them so when the plan loses stages); a current talk outside 1..count() is written
// as the nearest one. No sync; see SettingsStore::sync.
void SaveProgramme(const Programme &programme, SettingsStore &store);
// Only "Current", when it changed; nothing without a programme.
void SaveProgrammeCurrent(const Programme &programme, SettingsStore &store);
// Only the record of talk `talk` (1 to count()), when it changed; nothing without a programme.
void SaveTalkRecord(const Programme &programme, std::int32_t talk, SettingsStore &store);

// The forms of Started<n>: local time as "2024-05-06T09:00:00", parsed to the moment in UTC. Nothing for any
// other text, a date or time that does not exist included; a date-time outside the years 1 to 9999 formats
// as the empty text.
std::optional<QDateTime> parseLocalDateTime(QStringView text);
QString formatLocalDateTime(const QDateTime &dateTime);
