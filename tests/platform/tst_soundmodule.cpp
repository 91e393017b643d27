#include "platform/modulesoundplayer.h"

#include <QFile>
#include <QTest>

namespace {

// Whether a shared object whose file name contains `name` is mapped into this process.
bool mapped(const char *name)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return maps.readAll().contains(name);
}

} // namespace

// The program's sound comes from a module loaded when a talk first starts: the sound system costs nothing
// to a timer that is only looked at, and a broken installation loses the sound, not the clock.
class TestSoundModule final : public QObject
{
    Q_OBJECT

private slots:
    void soundSystemIsLoadedAtFirstUseOnly()
    {
        // This executable links the program's library and nothing else of ours: if that library ever
        // pulls in Qt Multimedia or the decoders again, every start of the program pays for them.
        QVERIFY(!mapped("libQt6Multimedia"));
        QVERIFY(!mapped("libsndfile"));

        ModuleSoundPlayer player(QStringLiteral(KESTRIM_SOUND_MODULE));
        QVERIFY(!player.loaded());
        QVERIFY(!mapped("kestrim-sound"));

        player.prepare();
        QVERIFY(player.loaded());
        QVERIFY(mapped("kestrim-sound"));
        QVERIFY(mapped("libQt6Multimedia"));
        QVERIFY(mapped("libsndfile"));

        // Played through the loaded player, whether or not this machine has an output device; the call
        // returns at once and the request is dropped safely when the player goes.
        player.play(QString());
        QTest::qWait(50);
    }

    void missingOrStaleModule_leavesTheProgramSilentNotBroken_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/kestrim-sound.so");
        QTest::newRow("not a module") << QStringLiteral("/proc/self/status");
        QTest::newRow("older entry point") << QStringLiteral(KESTRIM_STALE_SOUND_MODULE);
    }

    void missingOrStaleModule_leavesTheProgramSilentNotBroken()
    {
        QFETCH(QString, path);
        ModuleSoundPlayer player(path);
        player.prepare();
        player.play(QStringLiteral("Sound1.wav"));
        player.play(QString());
        QVERIFY(!player.loaded());
    }

    void besideProgram_namesTheModuleInTheExecutablesFolder()
    {
        QCOMPARE(ModuleSoundPlayer::besideProgram(),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/kestrim-sound.so"));
    }
};

QTEST_GUILESS_MAIN(TestSoundModule)
#include "tst_soundmodule.moc"
