#pragma once

#include "platform/settingsstore.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <map>
#include <optional>
#include <vector>

// The desktop's per-user settings store: one text file per application name, where QSettings keeps the
// application's settings (on Linux $XDG_CONFIG_HOME/<application>/<application>.conf) and in its INI
// format, so that QSettings and a person with a text editor can both read it. A section is an INI group;
// keys are used as they are and every value is text, read back exactly as written.
//
// The file is written by this class rather than by QSettings, which in Qt 6.4 can replace the file with a
// truncated one when the disk fills up, and waits without end for another writer's lock. Here a save
// changes only the lines of the values written, keeps every other line (comments included) byte for byte,
// and replaces the file as a whole or not at all.
class FileStore final : public SettingsStore
{
public:
    FileStore();
    // Saves what is still unsaved, as QSettings does; a failure here has no one left to tell.
    ~FileStore() override;
    Q_DISABLE_COPY_MOVE(FileStore)

    // The file of an application is read once, on its first use; later changes by others are not seen.
    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultText) const override;
    // Kept in memory, readable at once, until a sync saves it.
    void write(const QString &application, const QString &section, const QString &key, const QString &text) override;
    // Saves every application's unsaved values. A failure leaves the file as it was and keeps the values
    // for the next sync; the text names the file and the reason, one sentence a file. Waits at most about
    // a second for another program that is writing the same file.
    std::optional<QString> sync() override;
    // The file of the program's own application name.
    QString location() const override;

    // The file QSettings uses for `application` in the user's scope.
    static QString fileFor(const QString &application);

private:
    struct Pending
    {
        QString section, key, text;
    };
    struct File
    {
        QString path;
        QHash<QString, QString> stored; // "section/key" -> text, as last read or saved
        std::vector<Pending> pending;   // in the order first written; a later write replaces the text
        QHash<QString, std::size_t> pendingIndex;
    };

    File &file(const QString &application) const;
    static std::optional<QString> save(File &file);

    mutable std::map<QString, File> files_;
};
