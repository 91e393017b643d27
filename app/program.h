#pragma once

#include "clock/clocksession.h"
#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <memory>

class fMain;
class fOpt;
class ProgrammeDialog;
class ProgrammeSession;
class RemoteSharing;
class Room;
class ShareDialog;

// The start-up object, where the program is put together: the configuration in force, the clock session,
// and the views that observe it (the main window, the room with its audience window), alive for the whole
// run. None of the views feeds another; each takes what it shows from the session.
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
    ClockSession &session() { return session_; }
    ProgrammeSession &programme() { return *programme_; }
    fMain *MainWindow() const { return mainWindow_.get(); }
    // The options dialog, created on the first call (the main window's "Option" button makes that call).
    // Null before Main() has created the main window.
    fOpt *OptionDialog();

private:
    // "Share on Network...", created on first use; modeless, so the keys still reach the clock around it.
    void openShareDialog();
    // "Save Report...": the session's report as a CSV file where the chair chooses.
    void saveReport();
    // "Programme...", created on first use and opened on the programme as it is; modal to the main window
    // only, so the clock, the audience window and the network go on while it is open.
    void openProgrammeDialog();
    void applyProgramme();

    Platform platform_;
    SettingsModel model_;
    ClockSession session_;
    std::unique_ptr<ProgrammeSession> programme_;
    std::unique_ptr<fMain> mainWindow_;
    Room *room_ = nullptr; // the main window's child
    std::unique_ptr<fOpt> optionDialog_;
    std::unique_ptr<RemoteSharing> sharing_;
    std::unique_ptr<ShareDialog> shareDialog_;
    std::unique_ptr<ProgrammeDialog> programmeDialog_;
};
