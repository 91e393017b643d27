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
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Another Kestrim saving the same file holds its lock for milliseconds; longer means a hung program,
// and the user must not be kept waiting for it.
constexpr int LockWaitMs = 1000;

const QString TooLarge = QStringLiteral("it is larger than %1 MiB").arg(FileStore::MaxFileSize / (1024 * 1024));

// The file's bytes, or why there are none to use.
struct Contents
{
    enum class Kind
    {
        Read,
        Missing,
        Unreadable,
        Unusable // there, but not to be read as settings: `reason` says why
    } kind = Kind::Read;
    QByteArray data;
    QString reason;
};

// QFile alone cannot do this: opening a FIFO waits for a writer, and what a link points to must be judged
// on the opened file itself, not on a name that may change in between.
Contents readBounded(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return {errno == ENOENT || errno == ENOTDIR ? Contents::Kind::Missing : Contents::Kind::Unreadable, {}, {}};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {Contents::Kind::Unreadable, {}, {}};
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        return {Contents::Kind::Unreadable, {}, {}};
    }
    if (!S_ISREG(status.st_mode)) {
        return {Contents::Kind::Unusable, {}, QStringLiteral("it is not a regular file")};
    }
    if (status.st_size > FileStore::MaxFileSize) {
        return {Contents::Kind::Unusable, {}, TooLarge};
    }
    // The file may grow while it is read; one byte beyond the bound tells.
    Contents contents{Contents::Kind::Read, file.read(FileStore::MaxFileSize + 1), {}};
    if (file.error() != QFileDevice::NoError) {
        return {Contents::Kind::Unreadable, {}, {}};
    }
    if (contents.data.size() > FileStore::MaxFileSize) {
        return {Contents::Kind::Unusable, {}, TooLarge};
    }
    return contents;
}

// Why the file as it is now cannot take the values, if it cannot.
std::optional<QString> whyNotPatchable(const QString &path, const Contents &current)
{
    switch (current.kind) {
    case Contents::Kind::Read:
    case Contents::Kind::Missing:
        break;
    case Contents::Kind::Unreadable:
        return QStringLiteral("the file cannot be read, and the settings in it would be lost");
    case Contents::Kind::Unusable:
        return current.reason;
    }
    if (current.kind == Contents::Kind::Read && !QFileInfo(path).isWritable()) {
        return QStringLiteral("the file is read-only");
    }
    // A line the reader cannot make sense of may swallow the values written after it.
    return IniText::firstProblem(current.data);
}

// Why `next`, the file with `values` in it, must not be written, if it must not.
std::optional<QString> whyNotWritable(const QByteArray &next, const std::vector<IniText::Value> &values)
{
    // A file the next start would refuse to read must not be written.
    if (next.size() > FileStore::MaxFileSize) {
        return QStringLiteral("the settings would make it larger than %1 MiB")
            .arg(FileStore::MaxFileSize / (1024 * 1024));
    }
    const QHash<QString, QString> saved = IniText::parse(next);
    const bool readsBack = std::all_of(values.cbegin(), values.cend(), [&saved](const IniText::Value &value) {
        const auto found = saved.constFind(IniText::fullKey(value.section, value.key));
        return value.removed ? found == saved.cend() : found != saved.cend() && *found == value.text;
    });
    if (!readsBack) {
        return QStringLiteral("a value could not be written so that it reads back unchanged");
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> replaceFile(const QString &path, const QByteArray &next)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        return QStringLiteral("it cannot be written (%1)").arg(out.errorString());
    }
    // QSaveFile commits a file cut short by a full disk: the write's count and the flush must be checked.
    const bool complete = out.write(next) == next.size() && out.flush() &&
                          (::fsync(out.handle()) == 0 || errno == EINVAL || errno == EROFS);
    if (!complete) {
        out.cancelWriting();
        return QStringLiteral("the disk did not take all of it (it may be full)");
    }
    if (!out.commit()) {
        return QStringLiteral("it cannot be replaced (%1)").arg(out.errorString());
    }
    return std::nullopt;
}

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
        Contents contents = readBounded(file.path);
        if (contents.kind == Contents::Kind::Read) {
            if (std::optional<QString> problem = IniText::firstProblem(contents.data)) {
                contents.reason = *std::move(problem);
                contents.kind = Contents::Kind::Unusable;
            } else {
                file.stored = IniText::parse(contents.data);
            }
        }
        // A file that is missing or that this user may not read gives no values: every read gets its default.
        if (contents.kind == Contents::Kind::Unusable) {
            file.unusable = QStringLiteral("Could not read the settings from %1: %2.").arg(file.path, contents.reason);
        }
        found = files_.emplace(application, std::move(file)).first;
    }
    return found->second;
}

QString FileStore::read(const QString &application, const QString &section, const QString &key,
                        const QString &defaultText) const
{
    const File &f = file(application);
    if (f.unusable) {
        throw SettingsFileError(*f.unusable);
    }
    const QString name = IniText::fullKey(section, key);
    if (const auto pending = f.pendingIndex.constFind(name); pending != f.pendingIndex.cend()) {
        const Pending &p = f.pending[*pending];
        return p.removed ? defaultText : p.text;
    }
    return f.stored.value(name, defaultText);
}

void FileStore::write(const QString &application, const QString &section, const QString &key, const QString &text)
{
    File &f = file(application);
    const QString name = IniText::fullKey(section, key);
    if (const auto pending = f.pendingIndex.constFind(name); pending != f.pendingIndex.cend()) {
        f.pending[*pending].text = text;
        f.pending[*pending].removed = false;
        return;
    }
    f.pendingIndex.insert(name, f.pending.size());
    f.pending.push_back({section, key, text});
}

void FileStore::remove(const QString &application, const QString &section, const QString &key)
{
    File &f = file(application);
    const QString name = IniText::fullKey(section, key);
    if (const auto pending = f.pendingIndex.constFind(name); pending != f.pendingIndex.cend()) {
        f.pending[*pending].text.clear();
        f.pending[*pending].removed = true;
        return;
    }
    // Removing what is not there must not make a save of a file nobody changed.
    if (!f.stored.contains(name)) {
        return;
    }
    f.pendingIndex.insert(name, f.pending.size());
    f.pending.push_back({section, key, QString(), true});
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
        // Saved or not, these values are done with: the user has been told which.
        f.pending.clear();
        f.pendingIndex.clear();
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
    const Contents current = readBounded(f.path);
    if (const std::optional<QString> problem = whyNotPatchable(f.path, current)) {
        return failure(*problem);
    }
    std::vector<IniText::Value> values;
    values.reserve(f.pending.size());
    for (const Pending &p : f.pending) {
        values.push_back({p.section, p.key, p.text, p.removed});
    }
    const QByteArray next = IniText::patch(current.data, values);
    if (const std::optional<QString> problem = whyNotWritable(next, values)) {
        return failure(*problem);
    }
    if (const std::optional<QString> problem = replaceFile(f.path, next)) {
        return failure(*problem);
    }

    // Only this store's own values: what others changed in the file stays unseen until the next start.
    for (const Pending &p : f.pending) {
        if (p.removed) {
            f.stored.remove(IniText::fullKey(p.section, p.key));
        } else {
            f.stored.insert(IniText::fullKey(p.section, p.key), p.text);
        }
    }
    return std::nullopt;
}
