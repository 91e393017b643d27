#include "platform/filestore.h"

#include "platform/initext.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

// Another Kestrim saving the same file holds its lock for milliseconds; longer means a hung program,
// and the user must not be kept waiting for it.
constexpr int LockWaitMs = 1000;

} // namespace

FileStore::FileStore() = default;

FileStore::~FileStore()
{
    for (auto &[application, f] : files_) {
        if (!f.pending.empty()) {
            save(f);
        }
    }
}

QString FileStore::fileFor(const QString &application)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + application + u'/' +
           application + QStringLiteral(".conf");
}

FileStore::File &FileStore::file(const QString &application) const
{
    auto found = files_.find(application);
    if (found == files_.end()) {
        File file;
        file.path = fileFor(application);
        // A file that is missing or cannot be read gives no values: every read gets its default.
        QFile in(file.path);
        if (QFileInfo(file.path).isFile() && in.open(QIODevice::ReadOnly)) {
            file.stored = IniText::parse(in.readAll());
        }
        found = files_.emplace(application, std::move(file)).first;
    }
    return found->second;
}

QString FileStore::read(const QString &application, const QString &section, const QString &key,
                        const QString &defaultText) const
{
    const File &f = file(application);
    const QString name = IniText::fullKey(section, key);
    if (const auto pending = f.pendingIndex.constFind(name); pending != f.pendingIndex.cend()) {
        return f.pending[*pending].text;
    }
    return f.stored.value(name, defaultText);
}

void FileStore::write(const QString &application, const QString &section, const QString &key, const QString &text)
{
    File &f = file(application);
    const QString name = IniText::fullKey(section, key);
    if (const auto pending = f.pendingIndex.constFind(name); pending != f.pendingIndex.cend()) {
        f.pending[*pending].text = text;
        return;
    }
    f.pendingIndex.insert(name, f.pending.size());
    f.pending.push_back({section, key, text});
}

std::optional<QString> FileStore::sync()
{
    QStringList failures;
    for (auto &[application, f] : files_) {
        if (f.pending.empty()) {
            continue;
        }
        if (std::optional<QString> failure = save(f)) {
            failures.append(*std::move(failure));
        }
    }
    if (failures.isEmpty()) {
        return std::nullopt;
    }
    return failures.join(u' ');
}

QString FileStore::location() const
{
    return fileFor(applicationTitle());
}

std::optional<QString> FileStore::save(File &f)
{
    const auto failure = [&f](const QString &reason) {
        return QStringLiteral("Could not save the settings to %1: %2. The file was left as it was.")
            .arg(f.path, reason);
    };

    if (!QDir().mkpath(QFileInfo(f.path).absolutePath())) {
        return failure(QStringLiteral("its folder cannot be made"));
    }
    // The lock QSettings takes too, so no other program's save can interleave with this one.
    QLockFile lock(f.path + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs)) {
        return failure(lock.error() == QLockFile::LockFailedError
                           ? QStringLiteral("another program is writing it; try again in a moment")
                           : QStringLiteral("its folder cannot be written"));
    }

    // Patch the file as it is now, so that values other programs saved since it was read are kept.
    QByteArray current;
    const QFileInfo info(f.path);
    if (info.exists()) {
        if (info.isDir()) {
            return failure(QStringLiteral("a folder stands where the file belongs"));
        }
        if (!info.isWritable()) {
            return failure(QStringLiteral("the file is read-only"));
        }
        QFile in(f.path);
        if (!in.open(QIODevice::ReadOnly)) {
            return failure(QStringLiteral("the file cannot be read, and the settings in it would be lost"));
        }
        current = in.readAll();
        if (in.error() != QFileDevice::NoError) {
            return failure(QStringLiteral("the file cannot be read, and the settings in it would be lost"));
        }
    }

    std::vector<IniText::Value> values;
    values.reserve(f.pending.size());
    for (const Pending &p : f.pending) {
        values.push_back({p.section, p.key, p.text});
    }
    const QByteArray next = IniText::patch(current, values);
    const QHash<QString, QString> saved = IniText::parse(next);
    const bool readsBack = std::all_of(f.pending.cbegin(), f.pending.cend(), [&saved](const Pending &p) {
        const auto found = saved.constFind(IniText::fullKey(p.section, p.key));
        return found != saved.cend() && *found == p.text;
    });
    if (!readsBack) {
        return failure(QStringLiteral("a value could not be put in a form that reads back unchanged"));
    }

    // A new file takes the old one's place only once all of it is on the disk.
    QSaveFile out(f.path);
    if (!out.open(QIODevice::WriteOnly)) {
        return failure(QStringLiteral("it cannot be written (%1)").arg(out.errorString()));
    }
    // QSaveFile commits a file cut short by a full disk: the write's count and the flush must be checked.
    bool complete = out.write(next) == next.size() && out.flush();
#ifdef Q_OS_UNIX
    complete = complete && (::fsync(out.handle()) == 0 || errno == EINVAL || errno == EROFS);
#endif
    if (!complete) {
        out.cancelWriting();
        return failure(QStringLiteral("the disk did not take all of it (it may be full)"));
    }
    if (!out.commit()) {
        return failure(QStringLiteral("it cannot be replaced (%1)").arg(out.errorString()));
    }

    // Only this store's own values: what others changed in the file stays unseen until the next start.
    for (const Pending &p : f.pending) {
        f.stored.insert(IniText::fullKey(p.section, p.key), p.text);
    }
    f.pending.clear();
    f.pendingIndex.clear();
    return std::nullopt;
}
