#pragma once

#include "clock/clocksnapshot.h"
#include "mainwindow/placement.h"
#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <optional>

class ClockSession;
class DigitPanel;
class QAction;
class QLabel;
class QToolBar;
class fOpt;
struct SessionInfo;

// The status bar's right part in a session of talks, longest first: the laptop's time of day, "Talk 2 of 5",
// how far it runs behind or ahead, and "Ends 10:34"; then shorter ones for a narrow window, the offset kept to
// the last. Empty without a programme.
QStringList sessionStatusTexts(const SessionInfo &session);

// The timer's one main window: toolbar, two big digit labels, the information label, the status text and
// the caption. It drives the clock session with the keys and the toolbar and shows what the session
// publishes; the room (full screen, audience window, context menu) is looked after elsewhere.
class fMain final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fMain)

public:
    fMain(SettingsModel &model, ClockSession &session, const Platform &platform, QWidget *parent = nullptr);
    ~fMain() override;

    // Where "Option" gets the options dialog the first time it is clicked. Most runs of a timer never open
    // it, so it is not built at start-up. Set once at start-up.
    void setOptionDialogSource(std::function<fOpt *()> source) { optionDialogSource_ = std::move(source); }
    // The options dialog that "Option" opens and quitting closes, once it exists.
    void setOptionDialog(fOpt *dialog) { OptionDialog = dialog; }
    // Where the stage plan goes at the load and after the options dialog, when not straight to the clock: a
    // programme of talks puts its current talk's own stages in. Set once at start-up, before Form_Load.
    void setPlanSink(std::function<void(const ClockSetting &)> sink) { planSink_ = std::move(sink); }

    // Restores the placement from section "Window" (throws StoredValueError for a stored value that does
    // not convert, before anything is shown or written), gives the clock the configuration in force and
    // readies it. Call once, then showPlaced().
    void Form_Load();
    // Shows the window in the state Form_Load read: normal, minimised or maximised.
    void showPlaced();

    void SetAspectRatio();
    void ResizeLabels();
    void ClearTimer();
    // Stores the placement and closes every window of the program. Safe to call more than once: only the
    // first call acts, so the placement written is the one the window had when closing began.
    void QuitProgram();
    void OpenOptions();
    void Toolbar_ButtonClick(const QString &key);

    // Rewrites the information label from the configuration in force.
    void ShowInfo();

    DigitPanel *digitPanel() const { return digits_; }
    QToolBar *toolBar() const { return Toolbar; }
    // Lays the digits out again after the bars came or went without a resize of the window itself.
    void relayout();
    // Keeps the placement the window has now as the one to store while it is full screen.
    void holdPlacement();
    // Whether the window manager has framed the window and every pending placement step is done.
    bool isFramed() const;

    const ClockSetting &Setting() const;
    QAction *button(const QString &key) const;
    QString statusText() const;
    float DigitAspect() const { return DigitAspect_; }
    float FontScale() const { return FontScale_; }
    // The frame and state QuitProgram would store now.
    WindowPlacement currentPlacement() const;

    // Twips of the client area, toolbar and status bar, as the layout reads them.
    float clientWidthTwips() const;
    float clientHeightTwips() const;

signals:
    // The quit sequence has written the placement and is about to make the store's file final: the room
    // writes its own keys now and closes its windows.
    void quitting();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildToolbar();
    void buildClient();
    void placeLoaded();
    void applyPlan(const ClockSetting &setting);
    void fitSessionText();
    void showSnapshot(const ClockSnapshot &snapshot, ClockEvents events);
    void setCommandButtons(CommandSet available);
    void applyPendingFrame();
    void showHelp();
    void showCaption();
    void drawToolbarPictures();

    SettingsModel &model_;
    ClockSession &session_;
    Platform platform_;
    fOpt *OptionDialog = nullptr;
    std::function<fOpt *()> optionDialogSource_;
    std::function<void(const ClockSetting &)> planSink_;

    QToolBar *Toolbar = nullptr;
    QLabel *statusLabel_ = nullptr;
    QLabel *sessionLabel_ = nullptr;
    QStringList sessionTexts_;
    DigitPanel *digits_ = nullptr;
    QLabel *lblInfo = nullptr;

    float DigitAspect_ = 0;
    float SecondsScale_ = 0;
    float FontScale_ = 0;

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
    // The placement stored while full screen: the window that full screen covers up.
    WindowPlacement placementBeforeFullScreen_;
    // Native Wayland tells a window neither where it is nor that it was minimised.
    PositionKnown positionKnown_ = PositionKnown::Yes;
};
