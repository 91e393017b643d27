#pragma once

#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <memory>

class fMain;
class fOpt;

// The start-up module: the configuration in force and the two windows, alive for the whole run.
class Program final
{
public:
    explicit Program(const Platform &platform);
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    // Loads the configuration, creates the main window and shows it. The options dialog is created when it
    // is first wanted.
    // Returns false when a stored value or the store's file cannot be used: the error has been shown
    // (message box and stderr), no window is visible and nothing was written to the store.
    bool Main();

    SettingsModel &model() { return model_; }
    fMain *MainWindow() const { return mainWindow_.get(); }
    // The options dialog, created on the first call (the main window's "Option" button makes that call).
    // Null before Main() has created the main window.
    fOpt *OptionDialog();

private:
    Platform platform_;
    SettingsModel model_;
    std::unique_ptr<fMain> mainWindow_;
    std::unique_ptr<fOpt> optionDialog_;
};
