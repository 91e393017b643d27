#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// How the INI format of QSettings writes names and texts, for IniText alone: the rest of the program reads
// and writes the file only through platform/initext.h.
namespace IniText::Escaping {

// Section and key names: "%XX" and "%UXXXX" stand for one character, a backslash for a group separator.
QString unescapeName(QByteArrayView name);

// Letters, digits and "-_." as they are, "/" as the group separator "\", everything else as "%XX" or
// "%UXXXX", which QSettings reads back as that character.
QByteArray escapeName(const QString &name);

// A value's text: escapes resolved, quotes removed, blanks around dropped unless quoted; commas kept. Of the
// "@" forms only those QSettings writes for texts are undone; any other stays as it stands.
QString unescapeValue(QByteArrayView value);

// A value as QSettings reads it back into exactly `text`.
QByteArray escapeValue(const QString &text);

} // namespace IniText::Escaping
