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

    // Loads the configuration, creates the main window and the options dialog and shows the main window.
    // Returns false when a stored value cannot be used: the error has been shown (message box and
    // stderr), no window is visible and nothing was written to the store.
    bool Main();

    SettingsModel &model() { return model_; }
    fMain *MainWindow() const { return mainWindow_.get(); }
    fOpt *OptionDialog() const { return optionDialog_.get(); }

private:
    Platform platform_;
    SettingsModel model_;
    std::unique_ptr<fMain> mainWindow_;
    std::unique_ptr<fOpt> optionDialog_;
};
