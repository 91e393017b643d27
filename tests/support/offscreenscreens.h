#pragma once

// Two screens for the offscreen platform, as a desktop with a second monitor reports them: DP-2, the
// primary one the main window opens on, and HDMI-1 to its right. Call before the
// application object is made; the screens then stand for the whole run.

#include <QDir>
#include <QFile>
#include <QTest>

inline void useTwoOffscreenScreens()
{
    const QString path =
        QDir::temp().filePath(QStringLiteral("kestrim-screens-%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(R"({"screens":[
            {"name":"DP-2","x":0,"y":0,"width":1280,"height":720,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1},
            {"name":"HDMI-1","x":1280,"y":0,"width":800,"height":600,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QFile::encodeName(path));
}

// QTEST_MAIN with the two screens above.
#define KESTRIM_TEST_MAIN_TWO_SCREENS(TestObject)                                                                      \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        useTwoOffscreenScreens();                                                                                      \
        QApplication app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
