#pragma once

#include "platform/settingsstore.h"

#include <QByteArrayView>
#include <QString>

#include <map>
#include <memory>
#include <optional>

class QSettings;

// The desktop's per-user settings store: one text file per application name, on Linux
// $XDG_CONFIG_HOME/<application>/<application>.conf. A section is a group of that file; keys are used as
// they are and every value is written as text, so whatever is written reads back unchanged.
//
// A failed write never touches the file: it is replaced as a whole or not at all. The values written
// since the last successful sync stay readable and are written by the next sync that succeeds.
class QSettingsStore final : public SettingsStore
{
public:
    QSettingsStore();
    ~QSettingsStore() override;
    Q_DISABLE_COPY_MOVE(QSettingsStore)

    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultText) const override;
    void write(const QString &application, const QString &section, const QString &key, const QString &text) override;
    // Syncs every application's file touched so far; the failures of all of them, one sentence each.
    std::optional<QString> sync() override;
    // The file of the program's own application name.
    QString location() const override;

private:
    QSettings &settingsFor(const QString &application) const;

    struct Entry
    {
        std::unique_ptr<QSettings> settings;
        bool errorReported = false; // the object's error came from a sync and was returned by it
    };
    // One object per application name, made on first use.
    mutable std::map<QString, Entry> settings_;
};

namespace IniText {

// The value of `key` in `section` as it stands in the settings file contents `data`: escapes and quotes
// are resolved as the file's own reader does, but commas stay ordinary characters, so "a, b" is that text
// and not a list of two. Of the "@" forms only those QSettings writes for texts are undone ("@@..." and
// "@String(...)"); a typed value written by hand ("@Size(1 2)") is returned as it stands. Several lines with the same
// key: the last one counts. Nothing when the key is not in the data. Free of state, for use on any bytes.
std::optional<QString> findValue(QByteArrayView data, QStringView section, QStringView key);

} // namespace IniText
