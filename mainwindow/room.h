#pragma once

#include "clock/commands.h"
#include "mainwindow/audiencewindow.h"
#include "mainwindow/presentersettings.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <array>
#include <functional>
#include <utility>

class ClockSession;
class QAction;
class QActionGroup;
class QMenu;
class QScreen;
class SettingsStore;
class Overlay;
class fMain;

// How the timer serves the room around the main window: full screen, stay on top (with the read-out over
// other programs' full-screen windows), the audience window on the screen it follows, and the context menu that
// switches them, the read-out mode, the corrections, the flash and the message to the speaker. It watches the main
// window's events (right click, menu key, double click on the digits, window state) and drives the clock session; the
// main window knows nothing of it.
class Room final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Room)

public:
    Room(fMain &window, ClockSession &session, SettingsStore &store);
    ~Room() override;

    // Reads the room's keys of section "Window" and applies what can be applied before the window shows.
    // Throws StoredValueError for a stored value that does not convert, before anything is shown or written.
    void load();
    // After the window has been shown: full screen once it is framed, the audience window if its screen is
    // there.
    void showPlaced();
    // Writes the room's keys (no sync) and closes the audience window: part of the quit sequence.
    void quit();

    void setFullScreen(bool on);
    void setStayOnTop(bool on);
    // Opens the audience window on the screen of that name (now, or when it is plugged in), or closes it
    // for an empty name.
    void setAudienceScreen(const QString &name);
    // Opens the one-line box for the message to the speaker (modeless, so the clock goes on).
    void askForMessage();
    // Where "Share on Network..." leads; the item is hidden until this is set.
    void setShareHandler(std::function<void()> handler);
    // Where "Programme..." and "Save Report..." lead; "Programme..." is hidden until this is set, and the
    // session's items (Next Talk, Previous Talk, Save Report...) are there only with a programme.
    void setProgrammeHandlers(std::function<void()> edit, std::function<void()> report);

    PresenterSettings settings() const { return settings_; }
    QMenu *contextMenu() const { return contextMenu_; }
    // Null while no audience window is open.
    AudienceWindow *audienceWindow() const { return audience_; }
    // Brings the menu's check marks, audience entries and enabled items up to date; runs before it shows.
    void refreshContextMenu();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildContextMenu();
    QAction *addItem(QMenu *menu, const QString &text, const char *name, bool checkable = false);
    // An item that carries out `command`, greyed while the catalogue says it is not available.
    QAction *addCommand(ClockCommand command, const char *name);
    // A checkable item that carries out `on` when checked and `off` when unchecked.
    QAction *addSwitch(ClockCommand on, ClockCommand off, const char *name);
    void refreshAudienceMenu();
    void popUp(const QPoint &where);
    void openAudienceWindow();
    void closeAudienceWindow();
    void screenAdded(QScreen *screen);
    void screenRemoved(QScreen *screen);
    void windowStateChanged();

    fMain &window_;
    ClockSession &session_;
    SettingsStore &store_;
    PresenterSettings settings_;
    bool quitting_ = false;

    // What full screen covers up, put back when it ends.
    Qt::WindowStates stateBeforeFullScreen_;
    QRect geometryBeforeFullScreen_;
    bool fullScreenWhenFramed_ = false;

    QMenu *contextMenu_ = nullptr;
    QMenu *audienceMenu_ = nullptr;
    QAction *fullScreenAction_ = nullptr;
    QAction *onTopAction_ = nullptr;
    QActionGroup *modeGroup_ = nullptr;
    std::array<QAction *, 3> modeActions_{}; // in the order of the three read-out modes
    QList<std::pair<QAction *, ClockCommand>> commandItems_;
    QAction *flashAction_ = nullptr;
    QAction *blackoutAction_ = nullptr;
    QAction *shareAction_ = nullptr;
    std::function<void()> shareHandler_;
    QList<QAction *> sessionItems_;
    QAction *programmeAction_ = nullptr;
    QAction *afterSession_ = nullptr; // the separator the session's items go before
    std::function<void()> programmeHandler_;
    std::function<void()> reportHandler_;
    QPointer<AudienceWindow> audience_;
    Overlay *overlay_ = nullptr;
};
