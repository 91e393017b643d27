#include "platform/filestore.h"
#include "platform/initext.h"
#include "settings/persistence.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

// Every test case gets a folder of its own as the per-user configuration folder (XDG_CONFIG_HOME), so no
// case sees another's file and none can touch the user's real settings. QSettings takes part as the
// judge: what the store writes must read back the same through it.
class FileStoreTest final : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void writtenTexts_readBackExactlyFromTheFile_data();
    void writtenTexts_readBackExactlyFromTheFile();
    void handEditedValue_readsAsTheTextInTheFile_data();
    void handEditedValue_readsAsTheTextInTheFile();
    void fileReader_agreesWithQSettingsOnPlainValues_data();
    void fileReader_agreesWithQSettingsOnPlainValues();
    void arbitraryTexts_readBackThroughStoreAndQSettings();
    void missingValues_giveTheDefault();
    void configurationRoundTrip_throughTheRealFile();

    void folderCannotBeMade_syncReportsAndForgets();
    void readOnlyFileOrFolder_syncReportsAndFileIsUntouched_data();
    void readOnlyFileOrFolder_syncReportsAndFileIsUntouched();
    void anotherWriterHoldsTheLock_syncGivesUpSoonAndForgets();
    void diskFull_syncReportsAndFileIsUntouched();
    void save_changesOnlyTheLinesOfItsValues_data();
    void save_changesOnlyTheLinesOfItsValues();
    void remove_takesAwayEveryLineOfTheKeyAndNothingElse_data();
    void remove_takesAwayEveryLineOfTheKeyAndNothingElse();
    void unusableFile_isNeitherReadNorReplaced_data();
    void unusableFile_isNeitherReadNorReplaced();
    void unsavedValues_areSavedWhenTheStoreEnds();

private:
    QString writeFile(const QByteArray &contents);
    static QByteArray contents(const QString &path);
    // What QSettings reads from the file at `path`.
    static QVariant throughQSettings(const QString &path, const QString &key);

    std::unique_ptr<QTemporaryDir> dir_;
};

void FileStoreTest::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_->path()));
}

QVariant FileStoreTest::throughQSettings(const QString &path, const QString &key)
{
    // Every case writes a file of its own path, so QSettings' per-path cache never answers for another.
    const QSettings settings(path, QSettings::IniFormat);
    return settings.value(key);
}

QString FileStoreTest::writeFile(const QByteArray &data)
{
    const QString path = dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"));
    QDir().mkpath(dir_->filePath(QStringLiteral("Kestrim")));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        qFatal("cannot write the test's settings file");
    }
    return path;
}

QByteArray FileStoreTest::contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void FileStoreTest::writtenTexts_readBackExactlyFromTheFile_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("plain") << "Presentation";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks around") << "  Over Time  ";
    QTest::newRow("tabs and line breaks") << "\tone\ntwo\r\n";
    QTest::newRow("windows path") << "C:\\Talks\\Sound1.wav";
    QTest::newRow("trailing backslash") << "C:\\Talks\\";
    QTest::newRow("commas") << "Questions, answers, more";
    QTest::newRow("quotes") << "\"quoted\" and \"more";
    QTest::newRow("comment characters") << "#1 ; not a comment";
    QTest::newRow("equals signs") << "a=b==c";
    QTest::newRow("at sign") << "@Size(1 2)";
    QTest::newRow("escape-like") << "\\x41 \\101 \\n";
    QTest::newRow("non-ASCII") << QStringLiteral("Diskussion über Fragen — 質疑応答 🎤");
    QTest::newRow("control characters") << QStringLiteral("a\x01") + QChar(0) + QStringLiteral("7b");
    QTest::newRow("brackets") << "[Stages]";
    QTest::newRow("byte-order mark after an escape") << QStringLiteral("\x01") + QChar(0xFEFF) + QStringLiteral("x");
}

void FileStoreTest::writtenTexts_readBackExactlyFromTheFile()
{
    QFETCH(QString, text);

    const QString file = dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"));
    {
        FileStore store;
        store.write(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description1"), text);
        QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description1"),
                            QStringLiteral("none")),
                 text);
        QCOMPARE(store.sync(), std::nullopt);
        QCOMPARE(store.location(), file);
    }
    QCOMPARE(IniText::findValue(contents(file), u"Stages", u"Description1"), std::optional<QString>(text));
    QCOMPARE(throughQSettings(file, QStringLiteral("Stages/Description1")), QVariant(text));
    const FileStore reader;
    QCOMPARE(reader.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description1"),
                         QStringLiteral("none")),
             text);
}

void FileStoreTest::handEditedValue_readsAsTheTextInTheFile_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text");

    QTest::newRow("comma list") << QByteArray("Questions, answers") << "Questions, answers";
    QTest::newRow("comma without blank") << QByteArray("a,b") << "a,b";
    QTest::newRow("trailing comma") << QByteArray("a,") << "a,";
    QTest::newRow("only commas") << QByteArray(" , ") << ",";
    QTest::newRow("blanks around a list") << QByteArray("  a , b  ") << "a , b";
    QTest::newRow("quoted items") << QByteArray("\"a \", \"b\"") << "a , b";
    QTest::newRow("list with escapes") << QByteArray("C:\\\\Talks\\\\a, b.wav") << "C:\\Talks\\a, b.wav";
    QTest::newRow("list and comment") << QByteArray("a, b ; note") << "a, b";
    QTest::newRow("non-ASCII list") << QByteArray("caf\xc3\xa9, th\xc3\xa9") << QStringLiteral("café, thé");
    QTest::newRow("typed value") << QByteArray("@Size(1 2)") << "@Size(1 2)";
    QTest::newRow("invalid marker") << QByteArray("@Invalid()") << "@Invalid()";
    QTest::newRow("byte array") << QByteArray("@ByteArray(xyz)") << "@ByteArray(xyz)";
    QTest::newRow("plain") << QByteArray("Presentation") << "Presentation";
    QTest::newRow("quoted blanks") << QByteArray("\"  padded  \"") << "  padded  ";
}

void FileStoreTest::handEditedValue_readsAsTheTextInTheFile()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);

    writeFile("; edited by hand\n[Stages]\nCount=5\nDescription5=" + line + "\n[Font]\nName=Arial\n");
    const FileStore store;
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description5"),
                        QStringLiteral("none")),
             text);
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Font"), QStringLiteral("Name"), QString()),
             QStringLiteral("Arial"));
}

void FileStoreTest::fileReader_agreesWithQSettingsOnPlainValues_data()
{
    QTest::addColumn<QByteArray>("file");

    // Values that QSettings itself reads as one text: there the fallback reader must give the same text.
    const QList<QByteArray> values = {
        "plain",
        "  blanks around  ",
        "\"quoted\"",
        "\"a\"  b",
        "a \\\n  b",
        "\\x41\\101\\q",
        "\\x",
        "\\x4",
        "tab\\there",
        "C:\\Sounds\\Bell.wav",
        "x ; comment",
        "\"semi;colon\"",
        "\"two\nlines\"",
        "caf\xc3\xa9",
        "\\\"",
        "a  \\",
        "\"\"",
        "\" \"",
        "=eq",
        "a=b",
        "trail \\t ",
        "\\0\\x35",
        "\\101\\",
        "\"open",
        "\\\r\nnext",
    };
    for (const QByteArray &value : values) {
        QByteArray name = value;
        name.replace('\n', "\\n").replace('\r', "\\r");
        QTest::newRow(name.constData()) << "[Stages]\nKey=" + value + "\nOther=1\n";
    }
    QTest::newRow("key with blanks") << QByteArray("[Stages]\n  Key  =  v\n");
    QTest::newRow("later line wins") << QByteArray("[Stages]\nKey=first\nKey=second\n");
    QTest::newRow("section repeated") << QByteArray("[Stages]\nKey=first\n[Font]\nKey=x\n[Stages]\nKey=again\n");
    QTest::newRow("escaped section name") << QByteArray("[St%61ges]\nKey=v\n");
    QTest::newRow("escaped key") << QByteArray("[Stages]\n%4Bey=v\n");
    QTest::newRow("comment lines") << QByteArray(";c\n[Stages]\n ; Key=no\nKey=yes\n");
    QTest::newRow("carriage returns") << QByteArray("[Stages]\r\nKey=v \r\n");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[Stages]\nKey=v\n");
}

void FileStoreTest::fileReader_agreesWithQSettingsOnPlainValues()
{
    QFETCH(QByteArray, file);

    const QString path = writeFile(file);
    QSettings settings(path, QSettings::IniFormat);
    const QVariant value = settings.value(QStringLiteral("Stages/Key"));
    QCOMPARE(value.typeId(), QMetaType::QString);
    QCOMPARE(IniText::findValue(file, u"Stages", u"Key"), std::optional<QString>(value.toString()));
}

void FileStoreTest::arbitraryTexts_readBackThroughStoreAndQSettings()
{
    // The characters that have a meaning somewhere in the file's syntax, and some that have none.
    const QString alphabet =
        QStringLiteral(" \t\\\",;=@#[]%/x7bF0\n\r\x01\x7fé中") + QChar(0) + QStringLiteral("\U0001F3A4");
    QRandomGenerator random(20240607);
    const QString path = dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"));
    for (int round = 0; round < 40; ++round) {
        std::vector<QString> texts;
        FileStore store;
        for (int n = 0; n < 20; ++n) {
            QString text;
            for (int length = random.bounded(12); length > 0; --length) {
                const int at = random.bounded(static_cast<int>(alphabet.size()));
                // The emoji is two code units; never split it.
                text += alphabet.at(at).isSurrogate() ? alphabet.right(2) : QString(alphabet.at(at));
            }
            texts.push_back(text);
            store.write(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description%1").arg(n),
                        text);
        }
        QCOMPARE(store.sync(), std::nullopt);

        const QByteArray data = contents(path);
        // Written to a new path each round: QSettings caches what it parsed by path.
        const QString copy = dir_->filePath(QStringLiteral("round%1.conf").arg(round));
        QVERIFY(QFile::copy(path, copy));
        const FileStore reader;
        for (int n = 0; n < 20; ++n) {
            const QString key = QStringLiteral("Description%1").arg(n);
            const QByteArray shown = data.toPercentEncoding();
            QVERIFY2(reader.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), key, QString()) == texts[n],
                     shown.constData());
            QVERIFY2(throughQSettings(copy, QStringLiteral("Stages/") + key) == QVariant(texts[n]), shown.constData());
        }
    }
}

void FileStoreTest::missingValues_giveTheDefault()
{
    writeFile("[Stages]\nCount=6\n");
    FileStore store;
    const QString fallback = QStringLiteral("fallback");
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), fallback),
             QStringLiteral("6"));
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("count"), fallback),
             fallback);
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Font"), QStringLiteral("Name"), fallback), fallback);
    QCOMPARE(store.read(QStringLiteral("Other"), QStringLiteral("Stages"), QStringLiteral("Count"), fallback),
             fallback);

    // Another application name is another file; the program's own file is left alone.
    store.write(QStringLiteral("Other"), QStringLiteral("Stages"), QStringLiteral("Count"), QStringLiteral("2"));
    QCOMPARE(store.sync(), std::nullopt);
    QCOMPARE(contents(dir_->filePath(QStringLiteral("Other/Other.conf"))), QByteArray("[Stages]\nCount=2\n"));
    QCOMPARE(contents(dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"))), QByteArray("[Stages]\nCount=6\n"));
}

void FileStoreTest::configurationRoundTrip_throughTheRealFile()
{
    ClockSetting original = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
    original.Stages.resize(5);
    original.stage(1).SoundFile = QStringLiteral("/home/ann/Talk sounds/bell, \"loud\" #1.wav");
    original.stage(2).Description = QStringLiteral(" Fazit = Schluss; \\ Ende ");
    original.stage(5) = {0xABCDEF, -1, 120, QStringLiteral("C:\\Sounds\\"), QStringLiteral("Fragen über Fragen")};
    original.Font = {QStringLiteral("DejaVu Sans"), false, true};
    original.SoundEnabled = false;

    const QString file = dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"));
    {
        FileStore store;
        SaveClockSetting(original, store);
        QCOMPARE(store.sync(), std::nullopt);
    }
    QCOMPARE(IniText::findValue(contents(file), u"Sound", u"Enabled"), std::optional<QString>(QStringLiteral("False")));
    QCOMPARE(throughQSettings(file, QStringLiteral("Stages/Description2")), QVariant(original.stage(2).Description));

    const FileStore store;
    ClockSetting loaded;
    LoadClockSetting(loaded, store, QStringLiteral("/moved/elsewhere"));
    QCOMPARE(loaded, original);
}

void FileStoreTest::folderCannotBeMade_syncReportsAndForgets()
{
    // A plain file where the settings folder belongs: no user, not even root, can write the settings.
    const QString blocker = dir_->filePath(QStringLiteral("Kestrim"));
    {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    FileStore store;
    const QString path = store.location();
    store.write(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QStringLiteral("5"));

    const std::optional<QString> failure = store.sync();
    QVERIFY(failure.has_value());
    QVERIFY2(failure->contains(path), qPrintable(*failure));
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QString()),
             QString());

    // Once the way is clear, nothing the user was told is not saved reaches the file later.
    QVERIFY(QFile::remove(blocker));
    QCOMPARE(store.sync(), std::nullopt);
    QVERIFY(!QFileInfo::exists(path));
}

void FileStoreTest::readOnlyFileOrFolder_syncReportsAndFileIsUntouched_data()
{
    QTest::addColumn<bool>("lockFolder");
    QTest::newRow("read-only file") << false;
    QTest::newRow("read-only folder") << true;
}

void FileStoreTest::readOnlyFileOrFolder_syncReportsAndFileIsUntouched()
{
    QFETCH(bool, lockFolder);

    const QByteArray before = "[Stages]\nCount=6\nDescription5=Questions\n";
    const QString path = writeFile(before);
    const QString folder = QFileInfo(path).path();
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
    QVERIFY(QFile::setPermissions(lockFolder ? folder : path, readOnly));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(folder, readOnly | QFileDevice::WriteOwner);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    });
    const bool bypassed = lockFolder ? QFileInfo(folder).isWritable() : QFileInfo(path).isWritable();
    if (bypassed) {
        QSKIP("This user is not bound by file permissions (root); the case needs an ordinary user.");
    }

    FileStore store;
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QString()),
             QStringLiteral("6"));
    store.write(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QStringLiteral("2"));
    const std::optional<QString> failure = store.sync();
    QVERIFY(failure.has_value());
    QVERIFY2(failure->contains(path), qPrintable(*failure));
    QCOMPARE(contents(path), before);
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description5"), QString()),
             QStringLiteral("Questions"));
    QCOMPARE(store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QString()),
             QStringLiteral("6"));
}

void FileStoreTest::anotherWriterHoldsTheLock_syncGivesUpSoonAndForgets()
{
    const QByteArray before = "[Stages]\nCount=6\n";
    const QString path = writeFile(before);
    QLockFile other(path + QStringLiteral(".lock"));
    QVERIFY(other.tryLock(0));

    FileStore store;
    store.write(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QStringLiteral("2"));
    QElapsedTimer waited;
    waited.start();
    const std::optional<QString> failure = store.sync();
    QVERIFY(waited.elapsed() < 3000);
    QVERIFY(failure.has_value());
    QVERIFY2(failure->contains(path) && failure->contains(QStringLiteral("another program")), qPrintable(*failure));
    QCOMPARE(contents(path), before);

    other.unlock();
    QCOMPARE(store.sync(), std::nullopt);
    QCOMPARE(contents(path), before);
}

void FileStoreTest::diskFull_syncReportsAndFileIsUntouched()
{
#ifdef Q_OS_UNIX
    const QByteArray before = "[Stages]\nCount=6\nDescription5=Questions\n";
    const QString path = writeFile(before);
    FileStore store;
    store.write(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Description6"),
                QString(4000, u'x'));

    // No file of this process may grow past the old file's size while the save runs, as on a full disk.
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = static_cast<rlim_t>(before.size());
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::optional<QString> failure = store.sync();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousSignal);

    QVERIFY(failure.has_value());
    QVERIFY2(failure->contains(path), qPrintable(*failure));
    QCOMPARE(contents(path), before);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{QStringLiteral("Kestrim.conf")});

    // The next save writes only its own value, into the file as it is then.
    store.write(QStringLiteral("Kestrim"), QStringLiteral("Window"), QStringLiteral("State"), QStringLiteral("0"));
    QCOMPARE(store.sync(), std::nullopt);
    QCOMPARE(contents(path), before + "\n[Window]\nState=0\n");
#else
    QSKIP("needs a per-process file size limit");
#endif
}

void FileStoreTest::save_changesOnlyTheLinesOfItsValues_data()
{
    QTest::addColumn<QByteArray>("mark");
    QTest::newRow("plain") << QByteArray();
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF");
}

void FileStoreTest::save_changesOnlyTheLinesOfItsValues()
{
    QFETCH(QByteArray, mark);
    const QString path = writeFile(mark + "; Kestrim settings, edited by hand\n"
                                          "[Stages]\n"
                                          "Count=4   ; four stages\n"
                                          "Description1 = \"Talk\"\n"
                                          "  Note  =  as typed \n"
                                          "\n"
                                          "[Window]\n"
                                          "Left=100\n");
    FileStore store;
    const auto write = [&store](const char *section, const char *key, const QString &text) {
        store.write(QStringLiteral("Kestrim"), QString::fromLatin1(section), QString::fromLatin1(key), text);
    };
    write("Stages", "Count", QStringLiteral("5"));
    write("Stages", "Description1", QStringLiteral("Talk, then questions"));
    write("Stages", "Description5", QStringLiteral("New"));
    write("Font", "Name", QStringLiteral("Arial"));
    write("Stages", "Count", QStringLiteral("6"));
    QCOMPARE(store.sync(), std::nullopt);

    QCOMPARE(contents(path), mark + "; Kestrim settings, edited by hand\n"
                                    "[Stages]\n"
                                    "Count=6; four stages\n"
                                    "Description1=\"Talk, then questions\"\n"
                                    "  Note  =  as typed \n"
                                    "Description5=New\n"
                                    "\n"
                                    "[Window]\n"
                                    "Left=100\n"
                                    "\n"
                                    "[Font]\n"
                                    "Name=Arial\n");
    QCOMPARE(throughQSettings(path, QStringLiteral("Stages/Description1")),
             QVariant(QStringLiteral("Talk, then questions")));
    QCOMPARE(throughQSettings(path, QStringLiteral("Window/Left")), QVariant(QStringLiteral("100")));
}

void FileStoreTest::remove_takesAwayEveryLineOfTheKeyAndNothingElse_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("changes"); // "-Section/Key" removes, "+Section/Key=text" writes, in order
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("between two keys") << QByteArray("[S]\nA=1\nB=2\nC=3\n") << QStringList{"-S/B"}
                                      << QByteArray("[S]\nA=1\nC=3\n");
    QTest::newRow("every line of a repeated key")
        << QByteArray("[S]\nA=1\nB=2\nA=3\n") << QStringList{"-S/A"} << QByteArray("[S]\nB=2\n");
    QTest::newRow("with its comment, CRLF") << QByteArray("\xEF\xBB\xBF[S]\r\nA=1 ; why\r\nB=2\r\n")
                                            << QStringList{"-S/A"} << QByteArray("\xEF\xBB\xBF[S]\r\nB=2\r\n");
    QTest::newRow("a quoted value over two lines")
        << QByteArray("[S]\nA=\"x\ny\"\nB=2\n") << QStringList{"-S/A"} << QByteArray("[S]\nB=2\n");
    QTest::newRow("a value continued by a backslash")
        << QByteArray("[S]\nA=x\\\ny\nB=2\n") << QStringList{"-S/A"} << QByteArray("[S]\nB=2\n");
    QTest::newRow("last line without a break")
        << QByteArray("[S]\nA=1\n  B=2") << QStringList{"-S/B"} << QByteArray("[S]\nA=1\n  ");
    QTest::newRow("only in its own section")
        << QByteArray("[S]\nA=1\n\n[T]\nA=2\n") << QStringList{"-S/A"} << QByteArray("[S]\n\n[T]\nA=2\n");
    QTest::newRow("the last key, then a new one in its place")
        << QByteArray("[S]\nA=1\nB=2\n[T]\nC=3\n") << QStringList{"-S/B", "+S/D=4"}
        << QByteArray("[S]\nA=1\nD=4\n[T]\nC=3\n");
    QTest::newRow("written, then removed before the save")
        << QByteArray("[S]\nA=1\n") << QStringList{"+S/B=2", "-S/B", "-S/A", "+S/A=5"} << QByteArray("[S]\nA=5\n");
    QTest::newRow("a key that is not there")
        << QByteArray("[S]\nA=1\n") << QStringList{"-S/Z", "-T/A"} << QByteArray("[S]\nA=1\n");
}

void FileStoreTest::remove_takesAwayEveryLineOfTheKeyAndNothingElse()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, changes);
    QFETCH(QByteArray, after);

    const QString path = writeFile(before);
    const auto inode = [&path] {
        struct stat status = {};
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
    };
    const auto written = inode();
    FileStore store;
    const QString app = QStringLiteral("Kestrim");
    QMap<QString, std::optional<QString>> last; // "Section/Key" -> the text, or nothing once removed
    for (const QString &change : changes) {
        const QString name = change.mid(1).section(u'=', 0, 0);
        const QString section = name.section(u'/', 0, 0);
        const QString key = name.section(u'/', 1);
        if (change.startsWith(u'-')) {
            store.remove(app, section, key);
            QCOMPARE(store.read(app, section, key, QStringLiteral("gone")), QStringLiteral("gone"));
            last[name] = std::nullopt;
        } else {
            store.write(app, section, key, change.section(u'=', 1));
            last[name] = change.section(u'=', 1);
        }
    }
    QCOMPARE(store.sync(), std::nullopt);
    QCOMPARE(contents(path), after);
    if (before == after) {
        QCOMPARE(inode(), written); // nothing to save: the file was not replaced
    }
    for (auto it = last.cbegin(); it != last.cend(); ++it)
        QCOMPARE(throughQSettings(path, it.key()), it.value() ? QVariant(*it.value()) : QVariant());
}

void FileStoreTest::unusableFile_isNeitherReadNorReplaced_data()
{
    QTest::addColumn<QByteArray>("data"); // the file's contents, or what a link points to: "fifo", "device"
    QTest::addColumn<QString>("named");   // what the messages must say

    QTest::newRow("link to a FIFO") << QByteArray("fifo") << "is not a regular file";
    QTest::newRow("link to an endless device") << QByteArray("device") << "is not a regular file";
    QTest::newRow("oversize") << "[Stages]\nDescription1=" + QByteArray(FileStore::MaxFileSize, 'x')
                              << "is larger than 8 MiB";
    QTest::newRow("open quote") << QByteArray("[Stages]\nCount=2\nDescription1=\"Talk\n[Font]\nName=Arial\n")
                                << "line 3 (Description1=\"Talk) opens a quote";
    QTest::newRow("neither section, key nor comment")
        << QByteArray("\xEF\xBB\xBF[Stages]\r\nCount=2\r\nSeconds1 600\r\n") << "line 3 (Seconds1 600) is neither";
    QTest::newRow("section without its bracket") << QByteArray("[Stages\nCount=2\n") << "line 1 ([Stages)";
}

void FileStoreTest::unusableFile_isNeitherReadNorReplaced()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, named);

    const QString path = dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"));
    QString target = dir_->filePath(QString::fromLatin1(data));
    const bool link = data == "fifo" || data == "device";
    if (link) {
        QVERIFY(QDir().mkpath(dir_->filePath(QStringLiteral("Kestrim"))));
        // As root, a zero device of our own: a save that replaced it must not hit the real one.
        if (data == "fifo" ? ::mkfifo(QFile::encodeName(target), 0600) != 0
                           : ::mknod(QFile::encodeName(target), S_IFCHR | 0600, makedev(1, 5)) != 0)
            target = QStringLiteral("/dev/zero"); // no root: it cannot be replaced
        QVERIFY(QFile::link(target, path));
    } else {
        writeFile(data);
    }

    FileStore store;
    try {
        store.read(QStringLiteral("Kestrim"), QStringLiteral("Stages"), QStringLiteral("Count"), QString());
        QFAIL("the file was read");
    } catch (const SettingsFileError &error) {
        QVERIFY2(error.message().contains(path) && error.message().contains(named), qPrintable(error.message()));
    }
    store.write(QStringLiteral("Kestrim"), QStringLiteral("Window"), QStringLiteral("State"), QStringLiteral("0"));
    const QString failure = store.sync().value_or(QString());
    QVERIFY2(failure.contains(path) && failure.contains(named), qPrintable(failure));
    if (link) {
        QCOMPARE(QFileInfo(path).symLinkTarget(), QFileInfo(target).absoluteFilePath());
        QVERIFY(!QFileInfo(target).isFile());
    } else {
        QCOMPARE(contents(path), data);
    }
}

void FileStoreTest::unsavedValues_areSavedWhenTheStoreEnds()
{
    {
        FileStore store;
        store.write(QStringLiteral("Kestrim"), QStringLiteral("Window"), QStringLiteral("State"), QStringLiteral("2"));
    }
    QCOMPARE(contents(dir_->filePath(QStringLiteral("Kestrim/Kestrim.conf"))), QByteArray("[Window]\nState=2\n"));
}

QTEST_GUILESS_MAIN(FileStoreTest)
#include "tst_filestore.moc"
