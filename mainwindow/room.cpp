#include "mainwindow/room.h"

#include "clock/clocksession.h"
#include "mainwindow/audiencewindow.h"
#include "mainwindow/digitpanel.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/messagebox.h"
#include "mainwindow/overlay.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <utility>

namespace {

struct ModeItem
{
    ReadOutMode mode;
    const char *text;
    const char *name;
};

constexpr ModeItem ModeItems[] = {
    {ReadOutMode::Elapsed, "Elapsed Time", "actionElapsedTime"},
    {ReadOutMode::StageLeft, "Time Left in Stage", "actionTimeLeftInStage"},
    {ReadOutMode::TalkLeft, "Time Left in Talk", "actionTimeLeftInTalk"},
};

static_assert(std::size(ModeItems) == 3, "Room keeps one menu item for each read-out mode");

} // namespace

Room::Room(fMain &window, ClockSession &session, SettingsStore &store)
    : QObject(&window)
    , window_(window)
    , session_(session)
    , store_(store)
{
    setObjectName(QStringLiteral("Room"));
    buildContextMenu();
    overlay_ = new Overlay(session_, &window_);
    connect(overlay_, &Overlay::cornerChosen, this, [this](OverlayCorner corner) { settings_.overlayCorner = corner; });
    window_.installEventFilter(this);
    for (QLabel *digits : {window_.digitPanel()->minutes(), window_.digitPanel()->seconds()})
        digits->installEventFilter(this);
    connect(qApp, &QGuiApplication::screenAdded, this, &Room::screenAdded);
    connect(qApp, &QGuiApplication::screenRemoved, this, &Room::screenRemoved);
}

Room::~Room()
{
    closeAudienceWindow();
}

QAction *Room::addItem(QMenu *menu, const QString &text, const char *name, bool checkable)
{
    // Texts without mnemonics, so that each item's accessible name is its text.
    QAction *action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    action->setCheckable(checkable);
    return action;
}

QAction *Room::addCommand(ClockCommand command, const char *name)
{
    QAction *action = addItem(contextMenu_, QLatin1String(commandRow(command).label), name);
    connect(action, &QAction::triggered, this, [this, command] { session_.perform(command); });
    commandItems_.append({action, command});
    return action;
}

QAction *Room::addSwitch(ClockCommand on, ClockCommand off, const char *name)
{
    QAction *action = addItem(contextMenu_, QLatin1String(commandRow(on).label), name, true);
    connect(action, &QAction::triggered, this, [this, on, off](bool checked) { session_.perform(checked ? on : off); });
    return action;
}

void Room::buildContextMenu()
{
    contextMenu_ = new QMenu(&window_);
    contextMenu_->setObjectName(QStringLiteral("ContextMenu"));
    fullScreenAction_ = addItem(contextMenu_, QStringLiteral("Full Screen"), "actionFullScreen", true);
    connect(fullScreenAction_, &QAction::triggered, this, &Room::setFullScreen);
    onTopAction_ = addItem(contextMenu_, QStringLiteral("Stay on Top"), "actionStayOnTop", true);
    connect(onTopAction_, &QAction::triggered, this, &Room::setStayOnTop);
    audienceMenu_ = contextMenu_->addMenu(QStringLiteral("Audience Window"));
    audienceMenu_->setObjectName(QStringLiteral("menuAudienceWindow"));
    audienceMenu_->menuAction()->setObjectName(QStringLiteral("actionAudienceWindow"));
    addCommand(ClockCommand::UndoReset, "actionUndoReset");
    // A session of talks: moved on by the menu, the phone or the desk, never by a key (a presenter's clicker
    // sends Page Down). In the menu only with a programme, and "Programme..." once it has a handler: items
    // taken out rather than hidden, so a screen reader counts only what is shown.
    sessionItems_ = {addCommand(ClockCommand::NextTalk, "actionNextTalk"),
                     addCommand(ClockCommand::PreviousTalk, "actionPreviousTalk"),
                     addItem(contextMenu_, QStringLiteral("Save Report..."), "actionSaveReport")};
    connect(sessionItems_.last(), &QAction::triggered, this, [this] {
        if (reportHandler_)
            reportHandler_();
    });
    programmeAction_ =
        addItem(contextMenu_, QLatin1String(commandRow(ClockCommand::Programme).label), "actionProgramme");
    commandItems_.append({programmeAction_, ClockCommand::Programme});
    connect(programmeAction_, &QAction::triggered, this, [this] {
        if (programmeHandler_ && session_.snapshot().available.contains(ClockCommand::Programme))
            programmeHandler_();
    });
    for (QAction *item : std::as_const(sessionItems_))
        contextMenu_->removeAction(item);
    contextMenu_->removeAction(programmeAction_);

    afterSession_ = contextMenu_->addSeparator();
    modeGroup_ = new QActionGroup(contextMenu_);
    modeGroup_->setExclusive(true);
    for (std::size_t i = 0; i < std::size(ModeItems); ++i) {
        const ModeItem &item = ModeItems[i];
        QAction *action = addItem(contextMenu_, QLatin1String(item.text), item.name, true);
        modeGroup_->addAction(action);
        modeActions_[i] = action;
        const QString word = readOutModeName(item.mode);
        connect(action, &QAction::triggered, this, [this, word] { session_.perform(ClockCommand::SetMode, word); });
    }
    contextMenu_->addSeparator();
    addCommand(ClockCommand::AddMinute, "actionAddMinute");
    addCommand(ClockCommand::TakeMinute, "actionTakeMinute");
    flashAction_ = addSwitch(ClockCommand::FlashOn, ClockCommand::FlashOff, "actionFlash");
    blackoutAction_ = addSwitch(ClockCommand::BlackoutOn, ClockCommand::BlackoutOff, "actionBlackout");
    contextMenu_->addSeparator();
    QAction *message =
        addItem(contextMenu_, QLatin1String(commandRow(ClockCommand::ShowMessage).label), "actionMessage");
    connect(message, &QAction::triggered, this, &Room::askForMessage);
    addCommand(ClockCommand::ClearMessage, "actionClearMessage");
    shareAction_ = addItem(contextMenu_, QStringLiteral("Share on Network..."), "actionShare");
    shareAction_->setVisible(false);
    connect(shareAction_, &QAction::triggered, this, [this] {
        if (shareHandler_)
            shareHandler_();
    });

    connect(contextMenu_, &QMenu::aboutToShow, this, &Room::refreshContextMenu);
    // The screens can change while the menu is closed; list those present when the submenu opens.
    connect(audienceMenu_, &QMenu::aboutToShow, this, &Room::refreshAudienceMenu);
}

void Room::setShareHandler(std::function<void()> handler)
{
    shareHandler_ = std::move(handler);
    shareAction_->setVisible(bool(shareHandler_));
}

void Room::setProgrammeHandlers(std::function<void()> edit, std::function<void()> report)
{
    programmeHandler_ = std::move(edit);
    reportHandler_ = std::move(report);
    if (programmeHandler_)
        contextMenu_->insertAction(afterSession_, programmeAction_);
    else
        contextMenu_->removeAction(programmeAction_);
}

void Room::refreshContextMenu()
{
    const ClockSnapshot &now = session_.snapshot();
    fullScreenAction_->setChecked(window_.isFullScreen());
    onTopAction_->setChecked(settings_.onTop);
    for (const auto &[action, command] : commandItems_)
        action->setEnabled(now.available.contains(command));
    const bool listed = contextMenu_->actions().contains(sessionItems_.first());
    if (now.session.active() && !listed) {
        contextMenu_->insertActions(
            contextMenu_->actions().contains(programmeAction_) ? programmeAction_ : afterSession_, sessionItems_);
    } else if (!now.session.active() && listed) {
        for (QAction *item : std::as_const(sessionItems_))
            contextMenu_->removeAction(item);
    }
    for (std::size_t i = 0; i < std::size(ModeItems); ++i)
        modeActions_[i]->setChecked(ModeItems[i].mode == now.mode);
    flashAction_->setChecked(now.flashEnabled);
    blackoutAction_->setChecked(now.blackout);
    refreshAudienceMenu();
}

void Room::refreshAudienceMenu()
{
    audienceMenu_->clear();
    const auto addEntry = [this](const QString &text, const QString &name, const QString &objectName) {
        QAction *entry = audienceMenu_->addAction(text);
        entry->setObjectName(objectName);
        entry->setCheckable(true);
        entry->setChecked(name == settings_.audience);
        connect(entry, &QAction::triggered, this, [this, name] { setAudienceScreen(name); });
    };
    addEntry(QStringLiteral("Off"), QString(), QStringLiteral("audienceOff"));
    // A chosen screen that is unplugged has no entry: nothing is checked until it returns or "Off" is chosen.
    for (const QScreen *screen : QGuiApplication::screens()) {
        addEntry(audienceEntryText({screen->name(), screen->geometry().size()}), screen->name(),
                 QStringLiteral("audience:") + screen->name());
    }
}

void Room::popUp(const QPoint &where)
{
    // Its items are brought up to date by aboutToShow, which popup() emits before showing them.
    // popup(), not exec(): the menu must not hold anything up, and the clock goes on ticking either way.
    contextMenu_->popup(where);
}

bool Room::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ContextMenu:
        if (watched == &window_) {
            popUp(static_cast<QContextMenuEvent *>(event)->globalPos());
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (watched == &window_ && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Menu) {
            const QLabel *minutes = window_.digitPanel()->minutes();
            popUp(minutes->mapToGlobal(minutes->rect().center()));
            return true;
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (watched != &window_) {
            setFullScreen(!window_.isFullScreen());
            return true;
        }
        break;
    case QEvent::WindowStateChange:
        if (watched == &window_)
            windowStateChanged();
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Paint:
    case QEvent::UpdateRequest:
        // Full screen over the framed window only: leaving it must find the frame where the placement put it.
        if (watched == &window_ && fullScreenWhenFramed_ && window_.isFramed()) {
            fullScreenWhenFramed_ = false;
            setFullScreen(true);
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void Room::load()
{
    settings_ = ReadPresenterSettings(store_);
    overlay_->setCorner(settings_.overlayCorner);
    setStayOnTop(settings_.onTop);
    session_.setReadOutMode(settings_.readOut);
    session_.setFlashEnabled(settings_.flash);
}

void Room::showPlaced()
{
    // A desktop that never frames the window gets full screen a moment later anyway.
    if (settings_.fullScreen && !window_.isMinimized()) {
        fullScreenWhenFramed_ = true;
        QTimer::singleShot(2000, this, [this] {
            if (std::exchange(fullScreenWhenFramed_, false))
                setFullScreen(true);
        });
    }
    openAudienceWindow();
    // Slides may be full screen already: the read-out looks now that the main window is there.
    overlay_->setStayOnTop(settings_.onTop);
}

void Room::quit()
{
    quitting_ = true;
    overlay_->setStayOnTop(false);
    // The session holds what any command changed, from this menu, the phone or the stage desk alike.
    settings_.readOut = session_.snapshot().mode;
    settings_.flash = session_.snapshot().flashEnabled;
    WritePresenterSettings(store_, settings_);
    closeAudienceWindow();
}

void Room::setFullScreen(bool on)
{
    settings_.fullScreen = on;
    if (on == window_.isFullScreen())
        return;
    if (on) {
        stateBeforeFullScreen_ = window_.windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen);
        geometryBeforeFullScreen_ = window_.geometry();
        window_.holdPlacement();
        window_.setWindowState((window_.windowState() & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
    } else {
        window_.setWindowState(stateBeforeFullScreen_);
        if (stateBeforeFullScreen_ == Qt::WindowNoState)
            window_.setGeometry(geometryBeforeFullScreen_);
    }
    windowStateChanged();
}

void Room::windowStateChanged()
{
    // Full screen entered by the menu or by the window manager hides the bars and shows the message.
    const bool full = window_.isFullScreen();
    settings_.fullScreen = full;
    if (window_.toolBar()->isHidden() == full)
        return;
    window_.toolBar()->setHidden(full);
    window_.statusBar()->setHidden(full);
    window_.digitPanel()->setMessageShown(full);
    window_.relayout();
}

void Room::setStayOnTop(bool on)
{
    settings_.onTop = on;
    // Once shown, the flag goes to the native window directly: setting a widget's window flags re-creates
    // the window and hides it.
    if (QWindow *handle = window_.windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, on);
    else
        window_.setWindowFlag(Qt::WindowStaysOnTopHint, on);
    overlay_->setStayOnTop(on);
}

void Room::setAudienceScreen(const QString &name)
{
    closeAudienceWindow();
    settings_.audience = name;
    openAudienceWindow();
}

void Room::openAudienceWindow()
{
    if (audience_ || quitting_)
        return;
    QList<ScreenEntry> entries;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        entries.append({screen->name(), screen->geometry().size()});
    const std::optional<qsizetype> target = screenNamed(entries, settings_.audience);
    if (!target)
        return; // off, or not plugged in: screenAdded opens it when it is
    audience_ = new AudienceWindow(
        screens.at(*target), session_, [this](QKeyEvent *event) { QCoreApplication::sendEvent(&window_, event); },
        &window_);
    // Not showFullScreen(): that asks for the activation this window must never take.
    audience_->setWindowState(Qt::WindowFullScreen);
    audience_->show();
    // The main window keeps the keys, whatever the window manager did on mapping the new window.
    if (window_.isVisible() && !window_.isMinimized())
        window_.activateWindow();
}

void Room::closeAudienceWindow()
{
    if (!audience_)
        return;
    AudienceWindow *window = audience_;
    audience_ = nullptr;
    window->close();
    window->deleteLater();
}

void Room::askForMessage()
{
    auto *box = new MessageBox(session_.snapshot().message, &window_);
    connect(box, &MessageBox::accepted, this,
            [this, box] { session_.perform(ClockCommand::ShowMessage, box->text()); });
    box->open();
}

void Room::screenAdded(QScreen *screen)
{
    if (screen->name() == settings_.audience)
        openAudienceWindow();
}

void Room::screenRemoved(QScreen *screen)
{
    if (audience_ && screen->name() == audience_->screenName())
        closeAudienceWindow();
}
