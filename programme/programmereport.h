#pragma once

#include "programme/programme.h"
#include "programme/schedule.h"

#include <QByteArray>

// The session's report: a CSV file (comma, CRLF, UTF-8) with a header row and one row per talk,
//
//   Talk, Title, Speaker, Planned start, Actual start, Planned length, Actual length, Over or under,
//   Planned end, Actual end
//
// then a row "Session" with the session's planned and actual start, length, over or under and end. Times
// are local, "2024-05-06 09:00" planned and "2024-05-06 09:02:13" actual, so that a session past midnight
// reads unambiguously; lengths are "0:20:00", over or under "+0:02:30" or "-0:01:00", as spreadsheets read
// durations. Planned times come from `schedule` (computeSchedule of the same programme), actual ones from
// the talks' records: a talk's actual end is its recorded start plus its recorded elapsed time (a pause is
// not counted), the session's is that of the last talk with both. Cells without a value are empty.
QByteArray programmeReportCsv(const Programme &programme, const Schedule &schedule);
