#pragma once

#include "programme/programme.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// A programme's talks as a CSV file, as spreadsheets write and read it.
//
// The first row that is not blank names the columns, in any order and letter case, spaces around
// ignored: "Title" (required), "Speaker", "Start", "Length", and one column per stage, named by the
// stage's description or as "Stage 2" (that form always names that stage, whatever the descriptions
// say). A column may be left without a name when it is empty all the way down (spreadsheets pad rows);
// any other name, a name given twice, a description two stages share, or both "Length" and a column of
// stage 1 refuses the file.
//
// Every later row that is not blank is a talk, at most 200. Cells may be left empty, and missing at a
// row's end. Title and Speaker: at most 200 characters. Start: a time of day, "9:00" or "09:00" (a
// spreadsheet's "09:00:00" too); empty: right after the talk before. A stage's cell: its length as whole
// minutes "20", as minutes and seconds "12:30", or as hours, minutes and seconds "1:05:00", at most
// 9:59:59; empty: the plan's. Length: the talk's whole length in the same forms; stage 1 gets what the
// talk's other stages (before the repeating last one) leave of it, and a row where they leave less than
// nothing is refused. Where a row sets a stage after one it leaves empty, the empty one takes the plan's
// length as it is at the import.
//
// Comma or semicolon, whichever comes first outside quotes on the header row; quotes as RFC 4180; UTF-8
// with or without a byte-order mark; CRLF, LF or CR line ends; at most 1 MiB. A file that breaks any of
// this is refused whole, naming the line and the column: nothing is half imported.

inline constexpr qsizetype MaxProgrammeCsvBytes = 1024 * 1024;

struct CsvImportError
{
    std::int32_t line = 0;   // counting from 1; 0 for the file as a whole
    std::int32_t column = 0; // counting from 1; 0 for the line as a whole
    QString columnName;      // the column's name in the header, where it has one
    QString reason;

    // "line 4, column 3 (Start): "9.30" is not a time of day ..." for the message box.
    QString message() const;
};

struct ProgrammeCsvImport
{
    std::vector<Talk> talks; // empty when refused
    std::optional<CsvImportError> error;
};

// The talks of the file, checked against `plan` (the configured ClockSetting, whose descriptions name the
// stage columns). None has a record.
ProgrammeCsvImport importProgrammeCsv(QByteArrayView file, const ClockSetting &plan);

// A file importProgrammeCsv reads back as the same talks (records aside, which it does not hold): Title,
// Speaker and Start, then a column for each stage up to the last one any talk sets, with comma, CRLF and
// UTF-8 without byte-order mark. Lengths beyond the plan's stages are left out; a Start is written in
// whole minutes.
QByteArray exportProgrammeCsv(const std::vector<Talk> &talks, const ClockSetting &plan);
