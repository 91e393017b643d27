#include "app/program.h"

#include "mainwindow/mainwindow.h"
#include "mainwindow/room.h"
#include "options/optionsdialog.h"
#include "options/programmedialog.h"
#include "platform/choosers.h"
#include "platform/filestore.h"
#include "platform/settingsstore.h"
#include "programme/programmereport.h"
#include "programme/programmesession.h"
#include "remote/remotesharing.h"
#include "remote/sharedialog.h"
#include "settings/persistence.h"

#include <QDir>

#include <cstdio>

namespace {

void reportLoadError(const Platform &platform, const QString &message)
{
    std::fprintf(stderr, "Kestrim: %s\n", qPrintable(message));
    platform.messages.critical(nullptr, applicationTitle(), message);
}

} // namespace

Program::Program(const Platform &platform)
    : platform_(platform)
    , session_(platform.ticks, platform.sound)
    , programme_(std::make_unique<ProgrammeSession>(session_, platform.store, platform.wallClock))
    // The settings file is kept private once it holds the links' tokens; a store that is not a file is not.
    , sharing_(std::make_unique<RemoteSharing>(
          platform.store, RemoteSharing::performOn(session_), RemoteSharing::moduleBesideProgram(),
          QDir::isAbsolutePath(platform.store.location()) ? platform.store.location() : QString()))
{
    QObject::connect(&session_, &ClockSession::changed, sharing_.get(), &RemoteSharing::publish);
}

Program::~Program()
{
    // The dialogs refer to the main window; let them go first.
    programmeDialog_.reset();
    shareDialog_.reset();
    optionDialog_.reset();
    mainWindow_.reset();
}

fOpt *Program::OptionDialog()
{
    if (!optionDialog_ && mainWindow_) {
        optionDialog_ = std::make_unique<fOpt>(model_, platform_, mainWindow_.get());
        mainWindow_->setOptionDialog(optionDialog_.get());
    }
    return optionDialog_.get();
}

void Program::openShareDialog()
{
    if (!shareDialog_ && mainWindow_) {
        shareDialog_ = std::make_unique<ShareDialog>(*sharing_, mainWindow_.get());
    }
    if (shareDialog_) {
        shareDialog_->show();
        shareDialog_->raise();
        shareDialog_->activateWindow();
    }
}

void Program::openProgrammeDialog()
{
    if (!programmeDialog_ && mainWindow_) {
        programmeDialog_ = std::make_unique<ProgrammeDialog>(platform_, mainWindow_.get());
        QObject::connect(programmeDialog_.get(), &QDialog::accepted, programmeDialog_.get(),
                         [this] { applyProgramme(); });
    }
    if (!programmeDialog_ || programmeDialog_->isVisible())
        return;
    programmeDialog_->load(programme_->programme(), programme_->plan());
    programmeDialog_->open();
}

void Program::applyProgramme()
{
    // Over the programme as it is now: the clock may have moved on from the phone while the table was edited.
    const Programme edited = programmeDialog_->programmeOver(programme_->programme());
    if (const std::optional<QString> failure = programme_->setProgramme(edited)) {
        platform_.messages.critical(
            mainWindow_.get(), applicationTitle(),
            QStringLiteral("The programme is in force for this run but was not saved. %1").arg(*failure));
    }
}

void Program::saveReport()
{
    FileSaveRequest request;
    request.initialFolder = QDir::toNativeSeparators(QDir::homePath());
    request.defaultExtension = QStringLiteral(".csv");
    request.title = QStringLiteral("Save the Report");
    request.filterDescription = QStringLiteral("CSV File (*.csv)");
    request.filterPattern = QStringLiteral("*.csv");
    const std::optional<QString> path =
        chooseFileOrSay(platform_.files, platform_.messages, mainWindow_.get(), request, true);
    if (!path)
        return;
    const QByteArray report = programmeReportCsv(programme_->programme(), programme_->schedule());
    if (const std::optional<QString> failure = replaceFile(*path, report)) {
        platform_.messages.critical(mainWindow_.get(), applicationTitle(),
                                    QStringLiteral("The report was not saved to %1: %2.").arg(*path, *failure));
    }
}

bool Program::Main()
{
    try {
        ClockSetting loaded;
        LoadClockSetting(loaded, platform_.store, platform_.programFolder);
        model_.SetClockSetting(loaded);
        programme_->load(loaded);
        sharing_->load();
    } catch (const StoredValueError &error) {
        reportLoadError(platform_, error.message());
        return false;
    } catch (const SettingsFileError &error) {
        reportLoadError(platform_, error.message());
        return false;
    }

    mainWindow_ = std::make_unique<fMain>(model_, session_, platform_);
    mainWindow_->setOptionDialogSource([this] { return OptionDialog(); });
    mainWindow_->setPlanSink([this](const ClockSetting &plan) { programme_->setPlan(plan); });
    room_ = new Room(*mainWindow_, session_, platform_.store);
    QObject::connect(mainWindow_.get(), &fMain::quitting, room_, &Room::quit);
    room_->setShareHandler([this] { openShareDialog(); });
    room_->setProgrammeHandlers([this] { openProgrammeDialog(); }, [this] { saveReport(); });

    try {
        mainWindow_->Form_Load();
        room_->load();
    } catch (const StoredValueError &error) {
        reportLoadError(platform_, error.message());
        return false;
    }
    mainWindow_->showPlaced();
    room_->showPlaced();
    // After the window: the network never delays the first sight of the clock. Sharing has followed the
    // session since it was made, so it already holds the state to serve.
    sharing_->startIfEnabled();
    return true;
}
