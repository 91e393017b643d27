#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// The INI text format of QSettings, for texts only. Free of state, for use on any bytes.
namespace IniText {

struct Value
{
    QString section, key, text;
    bool removed = false; // the key is to go, with every line it has: `text` is not used
};

// How a key is named across sections: "section/key", or just "key" in the unnamed section.
QString fullKey(QStringView section, QStringView key);

// The first line of `data` that QSettings would not read as its writer meant, as "line N (what stands
// there) opens a quote that is never closed" (the quote swallows the rest of the file) or "... is neither
// a section, a key nor a comment". Nothing when every line is one of those. A UTF-8 byte-order mark at the
// start counts as nothing, here and in every function below.
std::optional<QString> firstProblem(QByteArrayView data);

// The value of `key` in `section` as it stands in the file contents `data`: escapes and quotes are
// resolved as QSettings does, but commas stay ordinary characters, so "a, b" is that text and not a list
// of two. Of the "@" forms only those QSettings writes for texts are undone ("@@..." and "@String(...)");
// a typed value written by hand ("@Size(1 2)") is returned as it stands. Several lines with the same key:
// the last one counts, as in QSettings. Nothing when the key is not in the data.
std::optional<QString> findValue(QByteArrayView data, QStringView section, QStringView key);

// Every value in `data`, keyed "section/key" (just "key" in the unnamed section), read as findValue does.
QHash<QString, QString> parse(QByteArrayView data);

// `data` with `values` set: the line of a key already there is replaced, a new key goes after the last
// line of its section, a new section at the end. A removed key loses every line it has, each with its line
// break; its section's header stays. Every other byte stays as it is, a byte-order mark too.
QByteArray patch(QByteArrayView data, const std::vector<Value> &values);

} // namespace IniText
