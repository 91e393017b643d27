#pragma once

#include "clock/clockengine.h"
#include "clock/clockview.h"
#include "mainwindow/audiencewindow.h"
#include "mainwindow/placement.h"
#include "mainwindow/presentersettings.h"
#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QScreen;
class QLabel;
class QTimer;
class QToolBar;
class fOpt;

// The timer's one main window: toolbar, two big digit labels, the information label and the status
// text. It owns the clock engine and shows what the engine tells it.
class fMain final : public QMainWindow, public ClockView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fMain)

public:
    fMain(SettingsModel &model, const Platform &platform, QWidget *parent = nullptr);
    ~fMain() override;

    // Where "Option" gets the options dialog the first time it is clicked. Most runs of a timer never open
    // it, so it is not built at start-up. Set once at start-up.
    void setOptionDialogSource(std::function<fOpt *()> source) { optionDialogSource_ = std::move(source); }
    // The options dialog that "Option" opens and quitting closes, once it exists.
    void setOptionDialog(fOpt *dialog) { OptionDialog = dialog; }

    // Restores the placement from section "Window" (throws StoredValueError for a stored value that does
    // not convert, before anything is shown or written), takes the window's copy of the configuration and
    // readies the clock. Call once, then showPlaced().
    void Form_Load();
    // Shows the window in the state Form_Load read: normal, minimised or maximised.
    void showPlaced();

    void SetAspectRatio();
    void ResizeLabels();
    void ClearTimer() { clock_.ClearTimer(); }
    // Stores the placement and closes every window of the program. Safe to call more than once: only the
    // first call acts, so the placement written is the one the window had when closing began.
    void QuitProgram();
    void OpenOptions();
    void Toolbar_ButtonClick(const QString &key);

    // For the room: the context menu's four items.
    void setFullScreen(bool on);
    void setStayOnTop(bool on);
    // Opens the audience window on the screen of that name (now, or when it is plugged in), or closes it
    // for an empty name.
    void setAudienceScreen(const QString &name);
    void UndoReset();
    PresenterSettings presenterSettings() const { return presenter_; }
    QMenu *contextMenu() const { return contextMenu_; }
    // Null while no audience window is open.
    AudienceWindow *audienceWindow() const { return audience_; }
    // Brings the menu's check marks, audience entries and "Undo Reset" up to date; runs before it shows.
    void refreshContextMenu();

    // ClockView
    void setCommandButtons(bool start, bool stop, bool reset, bool option) override;
    void setDigitsEnabled(bool enabled) override;
    void SetStatusText(const QString &text) override;
    void ShowTime(std::int32_t seconds) override;
    void SetColors(Colour back, Colour fore) override;
    void ShowInfo() override;

    const ClockSetting &Setting() const { return Setting_; }
    ClockEngine &clock() { return clock_; }
    QAction *button(const QString &key) const;
    QString statusText() const;
    float DigitAspect() const { return DigitAspect_; }
    float FontScale() const { return FontScale_; }
    // The frame and state QuitProgram would store now.
    WindowPlacement currentPlacement() const;

    // Twips of the client area, toolbar and status bar, as the layout reads them.
    float clientWidthTwips() const;
    float clientHeightTwips() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolbar();
    void buildContextMenu();
    void openAudienceWindow();
    void closeAudienceWindow();
    void screenAdded(QScreen *screen);
    void screenRemoved(QScreen *screen);
    void updateAudienceLayout();
    void Timer_Timer() { clock_.Timer_Timer(); }
    void StartClock();
    void applyDigitPalette();
    void applyPendingFrame();
    void showHelp();
    void showCaption();
    void drawToolbarPictures();

    SettingsModel &model_;
    Platform platform_;
    fOpt *OptionDialog = nullptr;
    std::function<fOpt *()> optionDialogSource_;

    QToolBar *Toolbar = nullptr;
    static constexpr int TickInterval = 100; // ms
    static constexpr int TickLead = 3;       // ms after the whole second at which a phased tick falls
    QTimer *Timer = nullptr;
    QTimer *TickPhase = nullptr;
    QLabel *statusLabel_ = nullptr;
    QLabel *lblInfo = nullptr;
    QLabel *lblSec = nullptr;
    QLabel *lblMin = nullptr;

    float DigitAspect_ = 0;
    float SecondsScale_ = 0;
    float FontScale_ = 0;
    ClockSetting Setting_;
    ClockEngine clock_;

    Colour back_ = 0;
    Colour fore_ = 0;
    bool coloured_ = false;
    WindowPlacement loaded_;
    // What waits until the window manager has told us the frame's size: centring the created size on the
    // screen (when no position was stored), and a stored outer size.
    struct PendingFrame
    {
        std::optional<QSize> centreClient;
        std::optional<QSize> outerSize;
        bool active() const { return centreClient || outerSize; }
    } pendingFrame_;
    bool quitting_ = false;

    PresenterSettings presenter_;
    // What full screen covers up, put back when it ends; the placement stored meanwhile is this one.
    Qt::WindowStates stateBeforeFullScreen_;
    QRect geometryBeforeFullScreen_;
    WindowPlacement placementBeforeFullScreen_;
    bool fullScreenWhenFramed_ = false;
    QMenu *contextMenu_ = nullptr;
    QMenu *audienceMenu_ = nullptr;
    QAction *fullScreenAction_ = nullptr;
    QAction *onTopAction_ = nullptr;
    QAction *undoResetAction_ = nullptr;
    QPointer<AudienceWindow> audience_;
    // Native Wayland tells a window neither where it is nor that it was minimised.
    PositionKnown positionKnown_ = PositionKnown::Yes;
    std::int32_t shownSeconds_ = 0;
};
