#include "mainwindow/mainwindow.h"

#include "clock/keys.h"
#include "clock/readout.h"
#include "mainwindow/audiencewindow.h"
#include "mainwindow/labellayout.h"
#include "mainwindow/labelplacing.h"
#include "options/optionsdialog.h"
#include "platform/choosers.h"
#include "platform/colours.h"
#include "platform/icons.h"
#include "platform/settingsstore.h"
#include "platform/units.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <cstdio>
#include <utility>

namespace {

// The window as created, twips.
constexpr double CreatedClientWidth = 7485;
constexpr double CreatedClientHeight = 5490;

QFont arial(double points, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, const QFont &font, QRect twips)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    label->setFont(font);
    label->setGeometry(Units::toPixels(twips.x()), Units::toPixels(twips.y()), Units::toPixels(twips.width()),
                       Units::toPixels(twips.height()));
    return label;
}

// The disabled digits are drawn greyed on the stage background; pick a grey that stays readable on it.
QColor greyedOn(const QColor &background)
{
    const QColor grey(128, 128, 128);
    return qAbs(background.lightness() - grey.lightness()) < 48
               ? (background.lightness() < 128 ? QColor(200, 200, 200) : QColor(64, 64, 64))
               : grey;
}

struct ToolButtonSpec
{
    const char *key;
    const char *toolTip;
    const char *image;
    bool checkable;
    bool separatorBefore;
};

constexpr ToolButtonSpec ToolButtons[] = {
    {"Start", "Start Clock", "play", false, false},
    {"Stop", "Stop Clock", "stop", false, false},
    {"Reset", "Reset Clock", "reset", false, false},
    {"Option", "Change Settings...", "tool", false, true},
    {"Sound", "Turn Sound On/Off", "sound", true, true},
    {"Help", "Show Help Message", "help", false, true},
    {"Exit", "Exit", "exit", false, true},
};

} // namespace

fMain::fMain(SettingsModel &model, const Platform &platform, QWidget *parent)
    : QMainWindow(parent)
    , model_(model)
    , platform_(platform)
    , clock_(Setting_, *this, platform.ticks, platform.sound)
    , positionKnown_(platform.reportsWindowPlacement ? PositionKnown::Yes : PositionKnown::No)
{
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(applicationTitle());
    setWindowIcon(applicationIcon());
    setFont(arial(9, false));
    // Keys go to the window itself wherever the pointer is; nothing in it takes the focus from it.
    setFocusPolicy(Qt::StrongFocus);
    // A right click anywhere, the toolbar included, opens the room's menu (contextMenuEvent), never the
    // toolbar's own hide menu: the toolbar is part of the window.
    setContextMenuPolicy(Qt::DefaultContextMenu);

    buildToolbar();

    // Precise, not coarse: a coarse timer may drift by 5 % of its interval, and the ticks are phased to the
    // talk's seconds (see StartClock).
    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(TickInterval);
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &fMain::Timer_Timer);
    Timer->start();
    TickPhase = new QTimer(this);
    TickPhase->setObjectName(QStringLiteral("TickPhase"));
    TickPhase->setSingleShot(true);
    TickPhase->setTimerType(Qt::PreciseTimer);
    connect(TickPhase, &QTimer::timeout, this, [this] {
        Timer->start();
        Timer_Timer();
    });

    // The status text lives in a permanent label: the status bar's own message is erased whenever the
    // pointer crosses an action.
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    // One plain text field across the bar, without the frame some styles draw around status items.
    bar->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    statusLabel_ = new QLabel(bar);
    statusLabel_->setObjectName(QStringLiteral("StatusText"));
    bar->addPermanentWidget(statusLabel_, 1);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    client->setFocusPolicy(Qt::NoFocus);
    setCentralWidget(client);

    lblInfo = makeLabel(client, "lblInfo", QStringLiteral("Information"), arial(9, false), {1860, 1560, 975, 735});
    lblInfo->setWordWrap(true);
    lblInfo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblSec = makeLabel(client, "lblSec", QStringLiteral("00"), arial(36, true), {1860, 600, 1005, 900});
    lblMin = makeLabel(client, "lblMin", QStringLiteral("00"), arial(72, true), {150, 600, 1665, 1725});
    for (QLabel *digits : {lblMin, lblSec})
        digits->setAutoFillBackground(true);
    // Screen readers read the labels' own texts; the descriptions say which number is which.
    lblMin->setAccessibleDescription(QStringLiteral("Minutes"));
    lblSec->setAccessibleDescription(QStringLiteral("Seconds"));
    lblInfo->setAccessibleDescription(QStringLiteral("Stages"));
    for (QLabel *digits : {lblMin, lblSec})
        digits->installEventFilter(this);

    buildContextMenu();
    connect(qApp, &QGuiApplication::screenAdded, this, &fMain::screenAdded);
    connect(qApp, &QGuiApplication::screenRemoved, this, &fMain::screenRemoved);

    resize(Units::toPixels(CreatedClientWidth), Units::toPixels(CreatedClientHeight));
}

fMain::~fMain() = default;

void fMain::buildToolbar()
{
    Toolbar = new QToolBar(this);
    Toolbar->setObjectName(QStringLiteral("Toolbar"));
    Toolbar->setMovable(false);
    Toolbar->setFloatable(false);
    Toolbar->setIconSize(QSize(16, 16));
    Toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, Toolbar);

    for (const ToolButtonSpec &spec : ToolButtons) {
        if (spec.separatorBefore)
            Toolbar->addSeparator();
        const QString key = QLatin1String(spec.key);
        QAction *action = Toolbar->addAction(toolbarIcon(QLatin1String(spec.image), Toolbar->palette()), QString());
        action->setObjectName(key);
        action->setToolTip(QLatin1String(spec.toolTip));
        // Screen readers announce the tool tip: the buttons show pictures only.
        action->setText(QLatin1String(spec.toolTip));
        action->setIconText(QLatin1String(spec.toolTip));
        action->setCheckable(spec.checkable);
        connect(action, &QAction::triggered, this, [this, key] { Toolbar_ButtonClick(key); });
        if (QWidget *widget = Toolbar->widgetForAction(action)) {
            // SPACE must never click a focused button: it belongs to the clock.
            widget->setFocusPolicy(Qt::NoFocus);
            widget->setObjectName(QStringLiteral("button") + key);
            widget->setAccessibleName(QLatin1String(spec.toolTip));
        }
    }
}

void fMain::buildContextMenu()
{
    contextMenu_ = new QMenu(this);
    contextMenu_->setObjectName(QStringLiteral("ContextMenu"));
    // Texts without mnemonics, so that each item's accessible name is its text.
    fullScreenAction_ = contextMenu_->addAction(QStringLiteral("Full Screen"));
    fullScreenAction_->setObjectName(QStringLiteral("actionFullScreen"));
    fullScreenAction_->setCheckable(true);
    connect(fullScreenAction_, &QAction::triggered, this, &fMain::setFullScreen);
    onTopAction_ = contextMenu_->addAction(QStringLiteral("Stay on Top"));
    onTopAction_->setObjectName(QStringLiteral("actionStayOnTop"));
    onTopAction_->setCheckable(true);
    connect(onTopAction_, &QAction::triggered, this, &fMain::setStayOnTop);
    audienceMenu_ = contextMenu_->addMenu(QStringLiteral("Audience Window"));
    audienceMenu_->setObjectName(QStringLiteral("menuAudienceWindow"));
    audienceMenu_->menuAction()->setObjectName(QStringLiteral("actionAudienceWindow"));
    undoResetAction_ = contextMenu_->addAction(QStringLiteral("Undo Reset"));
    undoResetAction_->setObjectName(QStringLiteral("actionUndoReset"));
    connect(undoResetAction_, &QAction::triggered, this, &fMain::UndoReset);
    connect(contextMenu_, &QMenu::aboutToShow, this, &fMain::refreshContextMenu);
    // The screens can change while the menu is closed; list those present when the submenu opens.
    connect(audienceMenu_, &QMenu::aboutToShow, this, &fMain::refreshContextMenu);
}

void fMain::refreshContextMenu()
{
    fullScreenAction_->setChecked(isFullScreen());
    onTopAction_->setChecked(presenter_.onTop);
    undoResetAction_->setEnabled(clock_.canUndoReset());

    audienceMenu_->clear();
    const auto addEntry = [this](const QString &text, const QString &name, const QString &objectName) {
        QAction *entry = audienceMenu_->addAction(text);
        entry->setObjectName(objectName);
        entry->setCheckable(true);
        entry->setChecked(name == presenter_.audience);
        connect(entry, &QAction::triggered, this, [this, name] { setAudienceScreen(name); });
    };
    addEntry(QStringLiteral("Off"), QString(), QStringLiteral("audienceOff"));
    // A chosen screen that is unplugged has no entry: nothing is checked until it returns or "Off" is chosen.
    for (const QScreen *screen : QGuiApplication::screens()) {
        addEntry(audienceEntryText({screen->name(), screen->geometry().size()}), screen->name(),
                 QStringLiteral("audience:") + screen->name());
    }
}

void fMain::contextMenuEvent(QContextMenuEvent *event)
{
    refreshContextMenu();
    // popup(), not exec(): the menu must not hold anything up, and the clock goes on ticking either way.
    contextMenu_->popup(event->globalPos());
    event->accept();
}

bool fMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick && (watched == lblMin || watched == lblSec)) {
        setFullScreen(!isFullScreen());
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void fMain::setFullScreen(bool on)
{
    presenter_.fullScreen = on;
    if (on == isFullScreen())
        return;
    if (on) {
        stateBeforeFullScreen_ = windowState() & ~(Qt::WindowMinimized | Qt::WindowFullScreen);
        geometryBeforeFullScreen_ = geometry();
        placementBeforeFullScreen_ = currentPlacement();
        Toolbar->hide();
        statusBar()->hide();
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
    } else {
        Toolbar->show();
        statusBar()->show();
        setWindowState(stateBeforeFullScreen_);
        if (stateBeforeFullScreen_ == Qt::WindowNoState)
            setGeometry(geometryBeforeFullScreen_);
    }
    // The bars came or went without a resize of the window itself; the band between them changed.
    if (layout())
        layout()->activate();
    ResizeLabels();
}

void fMain::setStayOnTop(bool on)
{
    presenter_.onTop = on;
    // Once shown, the flag goes to the native window directly: setting a widget's window flags re-creates
    // the window and hides it.
    if (QWindow *window = windowHandle())
        window->setFlag(Qt::WindowStaysOnTopHint, on);
    else
        setWindowFlag(Qt::WindowStaysOnTopHint, on);
}

void fMain::UndoReset()
{
    clock_.UndoReset();
}

void fMain::setAudienceScreen(const QString &name)
{
    closeAudienceWindow();
    presenter_.audience = name;
    openAudienceWindow();
}

void fMain::openAudienceWindow()
{
    if (audience_ || presenter_.audience.isEmpty() || quitting_)
        return;
    QScreen *target = nullptr;
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == presenter_.audience)
            target = screen;
    }
    if (!target)
        return; // not plugged in: screenAdded opens it when it is
    audience_ = new AudienceWindow(
        target, [this](QKeyEvent *event) { keyPressEvent(event); }, this);
    audience_->setDigitFont(lblMin->font());
    audience_->setDigitPalette(lblMin->palette());
    audience_->setDigitsEnabled(lblMin->isEnabled());
    audience_->setTexts(lblMin->text(), lblSec->text());
    updateAudienceLayout();
    // Not showFullScreen(): that asks for the activation this window must never take.
    audience_->setWindowState(Qt::WindowFullScreen);
    audience_->show();
    // The main window keeps the keys, whatever the window manager did on mapping the new window.
    if (isVisible() && !isMinimized())
        activateWindow();
}

void fMain::closeAudienceWindow()
{
    if (!audience_)
        return;
    AudienceWindow *window = audience_;
    audience_ = nullptr;
    window->close();
    window->deleteLater();
}

void fMain::updateAudienceLayout()
{
    if (audience_)
        audience_->setRatios(DigitAspect_, SecondsScale_, FontScale_);
}

void fMain::screenAdded(QScreen *screen)
{
    if (screen->name() == presenter_.audience)
        openAudienceWindow();
}

void fMain::screenRemoved(QScreen *screen)
{
    if (audience_ && screen->name() == audience_->screenName())
        closeAudienceWindow();
}

void fMain::drawToolbarPictures()
{
    for (const ToolButtonSpec &spec : ToolButtons) {
        if (QAction *action = button(QLatin1String(spec.key)))
            action->setIcon(toolbarIcon(QLatin1String(spec.image), Toolbar->palette()));
    }
}

QAction *fMain::button(const QString &key) const
{
    return Toolbar->findChild<QAction *>(key, Qt::FindDirectChildrenOnly);
}

QString fMain::statusText() const
{
    return statusLabel_->text();
}

void fMain::Form_Load()
{
    const QRect frame = frameGeometry();
    const WindowPlacement present{0, Units::toTwips(frame.x()), Units::toTwips(frame.y()),
                                  Units::toTwips(frame.width()), Units::toTwips(frame.height())};
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize(1024, 768);
    loaded_ = ReadPlacement(platform_.store, present, Units::toTwips(screenSize.width()),
                            Units::toTwips(screenSize.height()));
    const PresenterSettings presenter = ReadPresenterSettings(platform_.store);
    // Until the window manager has framed the window its outer size is its client size: a position centred
    // now is off by the frame, and a stored outer size is too large by it. Both are put right once the frame
    // is known.
    const float centredLeft = centredStart(Units::toTwips(screenSize.width()), present.width);
    const float centredTop = centredStart(Units::toTwips(screenSize.height()), present.height);
    if (loaded_.state != 0) {
        // Opened minimised or maximised: restoring it gives the created size, centred.
        if (positionKnown_ == PositionKnown::Yes) {
            move(Units::toPixels(centredLeft), Units::toPixels(centredTop));
            pendingFrame_.centreClient = size();
        }
    } else {
        ScreenAreas screens;
        if (screen)
            screens.available.append(screen->availableGeometry());
        for (const QScreen *other : QGuiApplication::screens()) {
            if (other != screen)
                screens.available.append(other->availableGeometry());
        }
        const OpeningFrame opening =
            openingFrame(loaded_, Units::twipsPerPixel(), screens, minimumSizeHint(), size(), positionKnown_);
        if (opening.topLeft)
            move(*opening.topLeft);
        if (!opening.mended && positionKnown_ == PositionKnown::Yes && loaded_.left == centredLeft &&
            loaded_.top == centredTop)
            pendingFrame_.centreClient = size();
        if (opening.size != size()) {
            resize(opening.size);
            pendingFrame_.outerSize = opening.size;
        }
    }

    SecondsScale_ = 0.4f;
    model_.GetClockSetting(Setting_);
    SetAspectRatio();
    ResizeLabels();
    ClearTimer();
    setStayOnTop(presenter.onTop);
    presenter_.audience = presenter.audience;
    presenter_.fullScreen = presenter.fullScreen;
}

void fMain::showPlaced()
{
    switch (loaded_.state) {
    case 1:
        showMinimized();
        break;
    case 2:
        showMaximized();
        break;
    default:
        show();
        break;
    }
    setFocus(Qt::ActiveWindowFocusReason);
    // Full screen over the placement just shown, so that leaving it goes back there.
    // Full screen only over the framed window: leaving it must find the frame where the placement put it.
    // A desktop that never frames the window gets it a moment later anyway.
    if (presenter_.fullScreen && loaded_.state != 1) {
        fullScreenWhenFramed_ = true;
        QTimer::singleShot(2000, this, [this] {
            if (std::exchange(fullScreenWhenFramed_, false))
                setFullScreen(true);
        });
    }
    openAudienceWindow();
}

void fMain::applyPendingFrame()
{
    if (!pendingFrame_.active() || !isVisible() || windowState() != Qt::WindowNoState)
        return;
    const QSize frame = frameGeometry().size();
    const QSize client = size();
    if (frame == client)
        return; // not framed (yet)
    const QSize margins = frame - client;
    if (pendingFrame_.centreClient) {
        const QSize outer = *pendingFrame_.centreClient + margins;
        const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
        move(screen.x() + (screen.width() - outer.width()) / 2, screen.y() + (screen.height() - outer.height()) / 2);
    }
    if (pendingFrame_.outerSize)
        resize(*pendingFrame_.outerSize - margins);
    pendingFrame_ = {};
}

bool fMain::event(QEvent *event)
{
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ThemeChange:
    case QEvent::StyleChange:
        // A dark theme turned on while the timer runs must not leave black pictures on a dark toolbar.
        if (Toolbar)
            drawToolbarPictures();
        break;
    case QEvent::ActivationChange:
        if (!isMinimized() && FontScale_ != 0)
            showCaption();
        break;
    default:
        break;
    }
    if (pendingFrame_.active()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::WindowActivate:
        case QEvent::ActivationChange:
        case QEvent::WindowStateChange:
        // Wayland: the decorations Qt draws itself, and with them the frame, come with the first paint.
        case QEvent::Paint:
        case QEvent::UpdateRequest:
            applyPendingFrame();
            break;
        default:
            break;
        }
    }
    if (fullScreenWhenFramed_ && !pendingFrame_.active() && isVisible() && frameGeometry() != geometry()) {
        fullScreenWhenFramed_ = false;
        setFullScreen(true);
    }
    return handled;
}

void fMain::SetAspectRatio()
{
    QFont font(Setting_.Font.Name);
    font.setPointSizeF(100);
    font.setBold(Setting_.Font.Bold);
    font.setItalic(Setting_.Font.Italic);
    const QFontMetricsF metrics(font);
    const auto tpp = static_cast<float>(Units::twipsPerPixel());
    const DigitMeasure measure{static_cast<float>(metrics.horizontalAdvance(QStringLiteral("00"))) * tpp,
                               static_cast<float>(metrics.height()) * tpp};
    const DigitRatios ratios = digitRatios(measure, Setting_.Font.Italic);
    if (ratios.fontScale > 0) {
        DigitAspect_ = ratios.digitAspect;
        FontScale_ = ratios.fontScale;
    }

    for (QLabel *digits : {lblMin, lblSec}) {
        QFont f = digits->font();
        f.setFamily(Setting_.Font.Name);
        f.setBold(Setting_.Font.Bold);
        f.setItalic(Setting_.Font.Italic);
        digits->setFont(f);
    }
    if (audience_) {
        audience_->setDigitFont(lblMin->font());
        updateAudienceLayout();
    }
}

float fMain::clientWidthTwips() const
{
    return Units::toTwips(width());
}

float fMain::clientHeightTwips() const
{
    return Units::toTwips(height());
}

void fMain::ResizeLabels()
{
    if (isMinimized() || FontScale_ == 0)
        return;
    showCaption();

    // The band between toolbar and status bar is the central widget's; before the first show the window's
    // layout has not run, so run it now.
    if (!isVisible() && layout())
        layout()->activate();
    const QRect band = centralWidget()->geometry();

    LabelLayoutInput in;
    in.clientWidth = clientWidthTwips();
    in.clientHeight = clientHeightTwips();
    in.toolbarHeight = Units::toTwips(band.top());
    in.statusBarHeight = Units::toTwips(height() - band.bottom() - 1);
    in.digitAspect = DigitAspect_;
    in.secondsScale = SecondsScale_;
    in.fontScale = FontScale_;
    in.twipsPerPixel = static_cast<float>(Units::twipsPerPixel());

    const std::optional<LabelLayout> layout = layoutLabels(in);
    if (!layout)
        return; // too small for digits: keep the labels as they are until the window grows

    // The layout is in client coordinates; the labels live in the area under the toolbar.
    placeLabel(lblMin, layout->minutes, band.top());
    placeLabel(lblSec, layout->seconds, band.top());
    placeLabel(lblInfo, layout->info, band.top());
    setLabelPoints(lblMin, layout->minutesPoints);
    setLabelPoints(lblSec, layout->secondsPoints);
}

void fMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    ResizeLabels();
}

void fMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Restoring from the task bar may not resize the window; lay out again and put back the plain caption.
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        ResizeLabels();
    // Full screen left by the window manager (or entered by it) takes the bars along as the menu would.
    if (event->type() == QEvent::WindowStateChange && Toolbar->isHidden() != isFullScreen()) {
        Toolbar->setHidden(isFullScreen());
        statusBar()->setHidden(isFullScreen());
        presenter_.fullScreen = isFullScreen();
    }
}

void fMain::closeEvent(QCloseEvent *event)
{
    QuitProgram();
    event->accept();
}

void fMain::keyPressEvent(QKeyEvent *event)
{
    switch (keyAction(event->key(), event->modifiers(), clock_.RunState())) {
    case KeyAction::StartClock:
        StartClock();
        break;
    case KeyAction::PauseClock:
        clock_.PauseClock();
        break;
    case KeyAction::ClearTimer:
        clock_.ResetClock();
        break;
    case KeyAction::QuitProgram:
        QuitProgram();
        break;
    case KeyAction::None:
        if (event->key() == Qt::Key_Menu) {
            refreshContextMenu();
            contextMenu_->popup(lblMin->mapToGlobal(lblMin->rect().center()));
            event->accept();
            break;
        }
        QMainWindow::keyPressEvent(event);
        break;
    }
}

void fMain::Toolbar_ButtonClick(const QString &key)
{
    if (key == QLatin1String("Start"))
        StartClock();
    else if (key == QLatin1String("Stop"))
        clock_.PauseClock();
    else if (key == QLatin1String("Reset"))
        clock_.ResetClock();
    else if (key == QLatin1String("Option"))
        OpenOptions();
    else if (key == QLatin1String("Sound"))
        Setting_.SoundEnabled = button(key)->isChecked();
    else if (key == QLatin1String("Help"))
        showHelp();
    else if (key == QLatin1String("Exit"))
        QuitProgram();
}

void fMain::StartClock()
{
    clock_.StartClock();
    // Restart the ticks a few milliseconds after a whole second of the talk, so that one of them falls
    // just after every second and the read-out turns on time instead of up to a tick late. The ticks keep
    // going meanwhile: the restart only moves their phase.
    if (clock_.RunState() == ClockState::Running)
        TickPhase->start((clock_.MillisecondsToNextSecond() + TickLead) % TickInterval);
}

void fMain::showHelp()
{
    platform_.messages.information(this, applicationTitle(), helpText());
}

void fMain::OpenOptions()
{
    if (!OptionDialog && optionDialogSource_)
        OptionDialog = optionDialogSource_();
    if (!OptionDialog)
        return;
    const int result = OptionDialog->ShowDialog();
    if (result != 1 || quitting_)
        return;
    model_.GetClockSetting(Setting_);
    SetAspectRatio();
    ResizeLabels();
    ClearTimer();
}

WindowPlacement fMain::currentPlacement() const
{
    // Full screen is stored as its own key; the placement keeps describing the window it covers up.
    if (isFullScreen())
        return placementBeforeFullScreen_;
    WindowPlacement placement;
    if (isMinimized())
        placement.state = 1;
    else if (isMaximized() || isFullScreen())
        placement.state = 2;
    const QRect frame = frameGeometry();
    placement.left = Units::toTwips(frame.x());
    placement.top = Units::toTwips(frame.y());
    placement.width = Units::toTwips(frame.width());
    placement.height = Units::toTwips(frame.height());
    return placement;
}

void fMain::QuitProgram()
{
    if (quitting_)
        return;
    quitting_ = true;
    Timer->stop();
    TickPhase->stop();

    WritePlacement(platform_.store, currentPlacement(), positionKnown_);
    WritePresenterSettings(platform_.store, presenter_);
    if (const std::optional<QString> failure = platform_.store.sync())
        std::fprintf(stderr, "Kestrim: the window placement was not saved: %s\n", qPrintable(*failure));

    // Newest first: whatever the options dialog or a message box has open, then the dialog, then this window.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window != this && window != OptionDialog && window->isVisible() && window->isModal())
            window->close();
    }
    closeAudienceWindow();
    if (OptionDialog)
        OptionDialog->close();
    close();
}

void fMain::setCommandButtons(bool start, bool stop, bool reset, bool option)
{
    button(QStringLiteral("Start"))->setEnabled(start);
    button(QStringLiteral("Stop"))->setEnabled(stop);
    button(QStringLiteral("Reset"))->setEnabled(reset);
    button(QStringLiteral("Option"))->setEnabled(option);
}

void fMain::setDigitsEnabled(bool enabled)
{
    lblMin->setEnabled(enabled);
    lblSec->setEnabled(enabled);
    if (audience_)
        audience_->setDigitsEnabled(enabled);
}

void fMain::SetStatusText(const QString &text)
{
    statusLabel_->setText(text);
}

void fMain::ShowTime(std::int32_t seconds)
{
    shownSeconds_ = seconds;
    // The speaker's screen goes on counting while the operator's window is minimised.
    if (audience_) {
        const Readout readout = readoutFor(seconds);
        audience_->setTexts(readout.minutes, readout.seconds);
    }
    if (isMinimized()) {
        setWindowTitle(minimisedCaption(seconds));
        return;
    }
    showCaption();
    const Readout readout = readoutFor(seconds);
    lblMin->setText(readout.minutes);
    lblSec->setText(readout.seconds);
}

void fMain::showCaption()
{
    // Where the desktop never says that the window was minimised, the running time goes into the caption
    // whenever the window is not the one in front: the task bar is where it is read then.
    const bool away =
        positionKnown_ == PositionKnown::No && !isActiveWindow() && clock_.RunState() != ClockState::Ready;
    setWindowTitle(away ? minimisedCaption(shownSeconds_) : applicationTitle());
}

void fMain::SetColors(Colour back, Colour fore)
{
    if (coloured_ && back == back_ && fore == fore_)
        return;
    back_ = back;
    fore_ = fore;
    applyDigitPalette();
}

void fMain::applyDigitPalette()
{
    const QColor back = toQColor(back_);
    const QColor fore = toQColor(fore_);
    for (QLabel *digits : {lblMin, lblSec}) {
        QPalette palette = digits->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Window, back);
            palette.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? greyedOn(back) : fore);
        }
        digits->setPalette(palette);
    }
    if (audience_)
        audience_->setDigitPalette(lblMin->palette());
    coloured_ = true;
}

void fMain::ShowInfo()
{
    button(QStringLiteral("Sound"))->setChecked(Setting_.SoundEnabled);
    lblInfo->setText(infoText(Setting_));
}
