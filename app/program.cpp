#include "app/program.h"

#include "mainwindow/mainwindow.h"
#include "mainwindow/room.h"
#include "options/optionsdialog.h"
#include "platform/choosers.h"
#include "platform/settingsstore.h"
#include "settings/persistence.h"

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
{}

Program::~Program()
{
    // The dialog refers to the main window; let it go first.
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

bool Program::Main()
{
    try {
        ClockSetting loaded;
        LoadClockSetting(loaded, platform_.store, platform_.programFolder);
        model_.SetClockSetting(loaded);
    } catch (const StoredValueError &error) {
        reportLoadError(platform_, error.message());
        return false;
    } catch (const SettingsFileError &error) {
        reportLoadError(platform_, error.message());
        return false;
    }

    mainWindow_ = std::make_unique<fMain>(model_, session_, platform_);
    mainWindow_->setOptionDialogSource([this] { return OptionDialog(); });
    room_ = new Room(*mainWindow_, session_, platform_.store);
    QObject::connect(mainWindow_.get(), &fMain::quitting, room_, &Room::quit);

    try {
        mainWindow_->Form_Load();
        room_->load();
    } catch (const StoredValueError &error) {
        reportLoadError(platform_, error.message());
        return false;
    }
    mainWindow_->showPlaced();
    room_->showPlaced();
    return true;
}
