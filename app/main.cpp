#include "app/program.h"
#include "mainwindow/mainwindow.h"
#include "platform/filestore.h"
#include "platform/modulesoundplayer.h"
#include "platform/qtchoosers.h"
#include "platform/qtplatform.h"
#include "platform/terminationsignals.h"
#include "platform/tickcounter.h"
#include "platform/wallclock.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    // Before the application object, which connects to the desktop.
    if (const std::optional<QByteArray> platform = chooseQtPlatform(displayEnvironment()))
        qputenv("QT_QPA_PLATFORM", *platform);
    QApplication app(argc, argv);
    QApplication::setApplicationName(applicationTitle());
    QApplication::setApplicationVersion(QStringLiteral("%1.%2").arg(KESTRIM_VERSION_MAJOR).arg(KESTRIM_VERSION_MINOR));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrim.Kestrim"));

    FileStore store;
    SystemTickCounter ticks;
    ModuleSoundPlayer sound(ModuleSoundPlayer::besideProgram());
    QtColorChooser colors;
    QtFileChooser files;
    QtMessageBoxes messages;
    SystemWallClock wallClock;
    const Platform platform{store,
                            ticks,
                            sound,
                            colors,
                            files,
                            messages,
                            wallClock,
                            QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                            desktopReportsWindowPlacement()};

    // Logging out, `kill -TERM` and Ctrl+C end the program as the close box does, keeping the placement. Taken
    // before the window shows: a request that comes as it appears waits for the event loop, not ending the
    // program unsaved.
    TerminationSignals termination;
    Program program(platform);
    if (!program.Main())
        return 1;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, program.MainWindow(),
                     &fMain::QuitProgram);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, program.MainWindow(), &fMain::QuitProgram);

    return app.exec();
}
