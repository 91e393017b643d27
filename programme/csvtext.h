#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

// Comma-separated values as spreadsheets write them (RFC 4180): cells split by a separator, a cell in
// double quotes may hold separators, line breaks and quotes (doubled), rows end with CRLF, LF or CR.
namespace Csv {

struct Cell
{
    QString text;        // an unquoted cell without the spaces and tabs around it; a quoted one exactly
    bool quoted = false; // a quoted empty cell ("") is a value, an unquoted one nothing
    std::int32_t line = 0;
};

struct Row
{
    std::vector<Cell> cells;
    std::int32_t line = 0; // of its first cell, counting from 1

    // Nothing but unquoted empty cells: a blank line, or a spreadsheet's padding row (";;;").
    bool blank() const;
};

struct Problem
{
    std::int32_t line = 0;   // counting from 1; 0 for the file as a whole
    std::int32_t column = 0; // the cell, counting from 1; 0 for the line as a whole
    QString what;
};

// The rows of `text`, or the first place it breaks the format: a quote never closed, text after a closing
// quote, a quote within an unquoted cell. Blanks (spaces, tabs) may stand around a quoted cell.
struct Parsed
{
    std::vector<Row> rows; // with a problem, the rows before the one that has it
    std::optional<Problem> problem;
};
Parsed parse(QStringView text, QChar separator);

// The separator a file uses: the first comma or semicolon outside quotes on the lines up to its first row
// that is not blank; a comma when there is neither.
QChar separatorOf(QStringView text);

// `bytes` as text: UTF-8, a byte-order mark at the start counting as nothing. Nothing when it is not
// UTF-8; `line` is then set to the first line that is not.
std::optional<QString> decodeUtf8(QByteArrayView bytes, std::int32_t &line);

// One row to write: the cells joined by commas and ended by CRLF, each quoted when it must be to read back
// as it is (a separator of either kind, a quote, a line break, blanks around) or when `quoteEmpty` asks
// for an empty cell to stand as a value.
QByteArray row(const QStringList &cells, bool quoteEmpty = false);

} // namespace Csv
