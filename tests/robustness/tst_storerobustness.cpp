// The real settings file when the desktop gets in the way: a file or folder that cannot be written, a
// disk that fills up, another program in the middle of writing. Start-up must still work, a save that
// fails must say so without holding the program up and leave the file exactly as it was, and the values
// must reach the file once the obstacle is gone.
//
// Every load and save runs in a child process (this executable started again), as a start of the program
// that has never read the file before: Qt keeps parsed settings files in memory per process, and a second
// load or save in one process is judged against that memory instead of the disk. A child also cannot
// stall the test when a save hangs.
#include "platform/filestore.h"
#include "settings/persistence.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QString ProgramFolder = QStringLiteral("/opt/kestrim");

// How long a save may keep the program waiting before the user would see it hang.
constexpr int SaveLimitMs = 5000;

// A configuration unlike the built-in one in every member, so a load tells stored values from defaults.
ClockSetting storedSetting()
{
    ClockSetting setting = DefaultClockSetting(ProgramFolder);
    setting.Stages.resize(2);
    setting.stage(1) = {0x112233, 0x445566, 1234, QStringLiteral("/sounds/gong one.wav"), QStringLiteral("Talk")};
    setting.stage(2) = {0x0000FF, 0x00FF00, 99, QStringLiteral("C:\\bells\\two.wav"), QStringLiteral("Q, and A")};
    setting.Font = {QStringLiteral("DejaVu Serif"), true, true};
    setting.SoundEnabled = false;
    return setting;
}

// What the user tries to save while the file is blocked: larger than the stored one, so a write that
// fails partway would show as a truncated or mixed file.
ClockSetting newerSetting()
{
    ClockSetting setting = DefaultClockSetting(ProgramFolder);
    setting.Stages.resize(40);
    for (std::int32_t n = 1; n <= setting.Count(); ++n)
        setting.stage(n) = {n, -n, 60 * n, QStringLiteral("/sounds/%1.wav").arg(n), QStringLiteral("Stage %1").arg(n)};
    setting.Font = {QStringLiteral("Liberation Mono"), false, true};
    return setting;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether file permissions bind this process. As root (or with CAP_DAC_OVERRIDE) a read-only file can
// still be written, so those cases prove nothing there and are skipped; the others work for anyone.
bool permissionsBind(const QString &folder)
{
    const QString probe = folder + QStringLiteral("/permission-probe");
    {
        QFile file(probe);
        if (!file.open(QIODevice::WriteOnly))
            return true;
    }
    QFile::setPermissions(probe, QFileDevice::ReadOwner);
    QFile file(probe);
    const bool writable = file.open(QIODevice::WriteOnly | QIODevice::Append);
    file.close();
    QFile::setPermissions(probe, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::remove(probe);
    return !writable;
}

// --- The child modes ---

// Holds the settings file's write lock, as another program saving at the same moment would, until its
// input is closed.
int holdLock(const QString &path)
{
    QLockFile lock(path);
    if (!lock.tryLock(10000))
        return 2;
    std::cout << "locked" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    return 0;
}

// Which configuration a start-up of the program loads.
int loadAndTell()
{
    const FileStore store;
    ClockSetting loaded;
    try {
        LoadClockSetting(loaded, store, ProgramFolder);
    } catch (const std::runtime_error &error) { // a stored value or the whole file
        std::cout << "error " << error.what() << std::endl;
        return 0;
    }
    if (loaded == storedSetting())
        std::cout << "stored" << std::endl;
    else if (loaded == newerSetting())
        std::cout << "newer" << std::endl;
    else if (loaded == DefaultClockSetting(ProgramFolder))
        std::cout << "defaults" << std::endl;
    else
        std::cout << "something else" << std::endl;
    return 0;
}

int storeOnly()
{
    FileStore store;
    SaveClockSetting(storedSetting(), store);
    const std::optional<QString> failure = store.sync();
    std::cout << (failure ? failure->toStdString() : "saved") << std::endl;
    return 0;
}

std::string syncResult(FileStore &store)
{
    const std::optional<QString> failure = store.sync();
    if (!failure)
        return "saved";
    return "failed " + failure->toStdString();
}

// "Save setting as default" with the newer configuration; then, on the line "quit", the same store saves
// the window placement as quitting does, and on "save" the newer configuration again. With a byte limit, every file
// write of the first sync beyond it fails, as on a full disk (the signal that would end the process is ignored, so the
// failure reaches the program as an error).
int saveNewer(long long byteLimit)
{
    FileStore store;
    SaveClockSetting(newerSetting(), store);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (byteLimit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(byteLimit);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::cout << syncResult(store) << std::endl;
    setrlimit(RLIMIT_FSIZE, &saved);
    for (std::string line; std::getline(std::cin, line);) {
        if (line == "quit")
            store.write(QStringLiteral("Kestrim"), QStringLiteral("Window"), QStringLiteral("State"),
                        QStringLiteral("0"));
        else if (line == "save")
            SaveClockSetting(newerSetting(), store);
        else
            continue;
        std::cout << syncResult(store) << std::endl;
    }
    return 0;
}

// A child process of this executable, spoken to one line at a time.
class Child
{
public:
    explicit Child(const QStringList &arguments)
    {
        process_.setProgram(QCoreApplication::applicationFilePath());
        process_.setArguments(arguments);
        process_.start();
    }
    ~Child() { finish(); }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // The next line the child writes, or nothing when none comes within `ms`.
    std::optional<QString> line(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!process_.canReadLine()) {
            const qint64 left = ms - clock.elapsed();
            if (left <= 0 || !process_.waitForReadyRead(static_cast<int>(left)))
                break;
        }
        if (!process_.canReadLine())
            return std::nullopt;
        return QString::fromUtf8(process_.readLine()).trimmed();
    }
    void send(const char *text) { process_.write(text); }
    void finish()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(10000);
    }

private:
    QProcess process_;
};

} // namespace

class TestStoreRobustness : public QObject
{
    Q_OBJECT

    QString folder; // $XDG_CONFIG_HOME/Kestrim
    QString file;   // .../Kestrim.conf

    // Makes the stored configuration the only content of the settings file and returns the file's bytes.
    QByteArray storeOnly()
    {
        QDir(folder).removeRecursively();
        Child child({QStringLiteral("--store")});
        const std::optional<QString> result = child.line(30000);
        if (result != u"saved")
            qWarning("%s", qPrintable(result.value_or(QStringLiteral("no answer"))));
        return contentsOf(file);
    }

    static QString load()
    {
        Child child({QStringLiteral("--load")});
        return child.line(30000).value_or(QStringLiteral("no answer"));
    }

    void restoreFolder()
    {
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir())
            QFile::remove(folder);
        if (QFileInfo(file).isSymLink())
            QFile::remove(file);
        else if (QFileInfo(file).isDir())
            QDir(file).removeRecursively();
        else
            QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"), "the test must not touch the user's settings");
        const FileStore store;
        file = store.location();
        folder = QFileInfo(file).absolutePath();
        QVERIFY(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    }

    void cleanup()
    {
        restoreFolder();
        QDir(folder).removeRecursively();
    }

    void blockedStore_startsSavesNothingAndRecovers_data();
    void blockedStore_startsSavesNothingAndRecovers();
    void unreadableFile_startsWithDefaultsAndKeepsFile();
    void openQuoteInFile_isRefusedNamingTheLine();
};

enum class Obstacle
{
    ReadOnlyFile,
    ReadOnlyFolder,
    FolderIsAFile,
    FileIsAFolder,
    LinkToFifo,
    DiskFull,
    LockedByAnotherWriter
};

void TestStoreRobustness::blockedStore_startsSavesNothingAndRecovers_data()
{
    QTest::addColumn<Obstacle>("obstacle");
    // Whether a file with the stored configuration is there to load and to keep intact.
    QTest::addColumn<bool>("fileStays");
    // What a start-up with the obstacle in place loads: "stored", "defaults" or "error" (it ends).
    QTest::addColumn<QString>("loads");

    QTest::newRow("file read-only") << Obstacle::ReadOnlyFile << true << "stored";
    QTest::newRow("folder read-only") << Obstacle::ReadOnlyFolder << true << "stored";
    QTest::newRow("folder replaced by a file") << Obstacle::FolderIsAFile << false << "defaults";
    QTest::newRow("file replaced by a folder") << Obstacle::FileIsAFolder << false << "error";
    QTest::newRow("file replaced by a link to a FIFO") << Obstacle::LinkToFifo << false << "error";
    QTest::newRow("disk full partway through") << Obstacle::DiskFull << true << "stored";
    QTest::newRow("locked by another writer") << Obstacle::LockedByAnotherWriter << true << "stored";
}

void TestStoreRobustness::blockedStore_startsSavesNothingAndRecovers()
{
    QFETCH(Obstacle, obstacle);
    QFETCH(bool, fileStays);
    QFETCH(QString, loads);

    const QByteArray stored = storeOnly();
    QVERIFY(!stored.isEmpty());
    const bool bound = permissionsBind(folder);
    std::unique_ptr<Child> lock;
    long long byteLimit = 0;
    QByteArray blockerBytes;
    switch (obstacle) {
    case Obstacle::ReadOnlyFile:
        if (!bound)
            QSKIP("file permissions do not bind this user (root); the other obstacles cover it");
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
        break;
    case Obstacle::ReadOnlyFolder:
        if (!bound)
            QSKIP("file permissions do not bind this user (root); the other obstacles cover it");
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        break;
    case Obstacle::FolderIsAFile: {
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blockerBytes = "not a folder\n";
        blocker.write(blockerBytes);
        break;
    }
    case Obstacle::FileIsAFolder:
        QVERIFY(QFile::remove(file));
        QVERIFY(QDir().mkpath(file + QStringLiteral("/inside")));
        break;
    case Obstacle::LinkToFifo:
        QVERIFY(QFile::remove(file));
        QCOMPARE(::mkfifo(QFile::encodeName(folder + QStringLiteral("/fifo")).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("fifo"), file));
        break;
    case Obstacle::DiskFull:
        // Room for the old file, not for the new one, which is several times larger.
        byteLimit = stored.size();
        break;
    case Obstacle::LockedByAnotherWriter:
        lock = std::make_unique<Child>(QStringList{QStringLiteral("--hold-lock"), file + QStringLiteral(".lock")});
        QCOMPARE(lock->line(10000), std::optional<QString>(QStringLiteral("locked")));
        break;
    }

    QCOMPARE(load().section(u' ', 0, 0), loads);

    // "Save setting as default" while the obstacle stands: reported, without a hang, file untouched.
    Child save({QStringLiteral("--save-newer"), QString::number(byteLimit)});
    const std::optional<QString> result = save.line(SaveLimitMs);
    QVERIFY2(result, "the save held the program up (waiting for another program's lock?)");
    QVERIFY2(result->startsWith(u"failed ") && result->size() > 7,
             qPrintable(QStringLiteral("a blocked save reported: ") + *result));
    QCOMPARE(fileStays ? contentsOf(file) : contentsOf(folder), fileStays ? stored : blockerBytes);
    const QStringList leftovers = QDir(folder).entryList({QStringLiteral("Kestrim.conf?*")}, QDir::Files);
    QVERIFY2(leftovers.isEmpty() || lock, qPrintable(leftovers.join(u' ')));

    // Once the obstacle is gone, quitting writes the placement alone: nothing of the failed save.
    if (lock)
        lock->finish();
    restoreFolder();
    save.send("quit\n");
    QCOMPARE(save.line(SaveLimitMs), std::optional<QString>(QStringLiteral("saved")));
    QCOMPARE(load(), fileStays ? QStringLiteral("stored") : QStringLiteral("defaults"));
    save.send("save\n");
    QCOMPARE(save.line(SaveLimitMs), std::optional<QString>(QStringLiteral("saved")));
    save.finish();
    QCOMPARE(load(), QStringLiteral("newer"));
}

// A file the user cannot read gives the defaults at start-up, and a save must not replace it: it holds
// the user's configuration, which the program could not even see.
void TestStoreRobustness::unreadableFile_startsWithDefaultsAndKeepsFile()
{
    const QByteArray stored = storeOnly();
    if (!permissionsBind(folder))
        QSKIP("file permissions do not bind this user (root)");
    QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));

    QCOMPARE(load(), QStringLiteral("defaults"));
    Child save({QStringLiteral("--save-newer"), QStringLiteral("0")});
    const std::optional<QString> result = save.line(SaveLimitMs);
    QVERIFY(result);
    QVERIFY2(result->startsWith(u"failed "), qPrintable(*result));
    save.finish();
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(contentsOf(file), stored);
}

// A hand edit that leaves a quote open makes the rest of the file part of that value, the keys a save
// appends included (found by fuzzing the file writer). Start-up and save both refuse the file, naming the
// line, and leave it exactly as it was.
void TestStoreRobustness::openQuoteInFile_isRefusedNamingTheLine()
{
    QVERIFY(QDir().mkpath(folder));
    const QByteArray edited = "[Notes]\nText=\"remember the microphone\n";
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(edited);
    }
    const QString loaded = load();
    QVERIFY2(loaded.startsWith(u"error ") && loaded.contains(u"line 2"), qPrintable(loaded));
    Child save({QStringLiteral("--save-newer"), QStringLiteral("0")});
    const std::optional<QString> result = save.line(SaveLimitMs);
    QVERIFY(result);
    save.finish();
    QVERIFY2(result->startsWith(u"failed ") && result->contains(u"line 2"), qPrintable(*result));
    QCOMPARE(contentsOf(file), edited);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == u"--hold-lock")
        return holdLock(arguments.at(2));
    if (arguments.size() == 2 && arguments.at(1) == u"--store")
        return storeOnly();
    if (arguments.size() == 2 && arguments.at(1) == u"--load")
        return loadAndTell();
    if (arguments.size() == 3 && arguments.at(1) == u"--save-newer")
        return saveNewer(arguments.at(2).toLongLong());
    TestStoreRobustness test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_storerobustness.moc"
