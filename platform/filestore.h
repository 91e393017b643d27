#pragma once

#include "platform/settingsstore.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// The desktop's per-user settings store: one text file per application name, where QSettings keeps the
// application's settings (on Linux $XDG_CONFIG_HOME/<application>/<application>.conf) and in its INI
// format (IniText), so that QSettings and a person with a text editor can both read it. A section is an
// INI group; keys are used as they are and every value is text, read back exactly as written.
//
// Writes `bytes` to `path` as a whole or not at all: a new file takes the old one's place only once all of it
// is on the disk. Returns why not ("the disk did not take all of it (it may be full)").
std::optional<QString> replaceFile(const QString &path, const QByteArray &bytes);

// The file is written by this class rather than by QSettings, which in Qt 6.4 can replace the file with a
// truncated one when the disk fills up, and waits without end for another writer's lock. Here a save
// changes only the lines of the values written, keeps every other line (comments included) byte for byte,
// and replaces the file as a whole or not at all.
//
// Only a regular file (directly or through links) of at most MaxFileSize bytes is read or replaced: a
// link to a device or a pipe must neither hang the program nor fill its memory.
class FileStore final : public SettingsStore
{
public:
    // Every key of the largest configuration (32767 stages) takes about 3 MB.
    static constexpr qint64 MaxFileSize = 8 * 1024 * 1024;

    FileStore();
    // Saves what is still unsaved, as QSettings does; a failure here has no one left to tell.
    ~FileStore() override;
    Q_DISABLE_COPY_MOVE(FileStore)

    // The file of an application is read once, on its first use; later changes by others are not seen.
    // Throws SettingsFileError when the file is there but cannot be used: not a regular file, larger than
    // MaxFileSize, or a line in it that cannot be parsed (the message names the line). A missing file, or
    // one this user may not read, gives the default for every key.
    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultText) const override;
    // Kept in memory, readable at once, until a sync saves it.
    void write(const QString &application, const QString &section, const QString &key, const QString &text) override;
    // A key neither read from the file nor written since is taken as not there: nothing happens.
    void remove(const QString &application, const QString &section, const QString &key) override;
    // Saves every application's unsaved values into its file as it is now. A failure leaves the file as it
    // was and forgets the values, so that no later save writes what the user was told was not written; the
    // text names the file and the reason, one sentence a file. Waits at most about a second for another
    // program that is writing the same file.
    std::optional<QString> sync() override;
    // The file of the program's own application name.
    QString location() const override;

    // The file QSettings uses for `application` in the user's scope.
    static QString fileFor(const QString &application);

private:
    struct Pending
    {
        QString section, key, text;
        bool removed = false;
    };
    struct File
    {
        QString path;
        std::optional<QString> unusable; // why the file cannot be read, when it cannot
        QHash<QString, QString> stored;  // "section/key" -> text, as last read or saved
        std::vector<Pending> pending;    // in the order first written; a later write replaces the text
        QHash<QString, std::size_t> pendingIndex;
    };

    File &file(const QString &application) const;
    static std::optional<QString> save(File &file);

    mutable std::map<QString, File> files_;
};
