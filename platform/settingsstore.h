#pragma once

#include <QString>

#include <optional>
#include <stdexcept>

// The per-user settings store: texts addressed by application, section and key. Every value is text;
// conversions belong to the callers.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The stored text, or `defaultText` when the key (or its section or application) does not exist.
    virtual QString read(const QString &application, const QString &section, const QString &key,
                         const QString &defaultText) const = 0;

    // Creates or overwrites the value. May be buffered until sync().
    virtual void write(const QString &application, const QString &section, const QString &key, const QString &text) = 0;

    // Removes the key, so that reading it gives the default again. Nothing happens for a key that is not
    // there. May be buffered until sync().
    virtual void remove(const QString &application, const QString &section, const QString &key) = 0;

    // Makes every write durable. Returns a description of the failure, or nothing when all went well.
    virtual std::optional<QString> sync() = 0;

    // Where the values live, for messages ("~/.config/Kestrim/Kestrim.conf").
    virtual QString location() const = 0;
};

// The store as a whole cannot be read (its file is not a regular file, is too large or cannot be parsed).
// Start-up shows the message and ends, as for a stored value it cannot use.
class SettingsFileError : public std::runtime_error
{
public:
    explicit SettingsFileError(const QString &message)
        : std::runtime_error(message.toStdString())
    {}
    QString message() const { return QString::fromStdString(what()); }
};
