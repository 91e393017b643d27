#include "mainwindow/mainwindow.h"

#include "clock/clocksession.h"
#include "clock/keys.h"
#include "clock/readout.h"
#include "mainwindow/digitpanel.h"
#include "mainwindow/labellayout.h"
#include "mainwindow/labelplacing.h"
#include "options/optionsdialog.h"
#include "platform/choosers.h"
#include "platform/icons.h"
#include "platform/settingsstore.h"
#include "platform/units.h"
#include "programme/schedule.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

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

void setTwipsGeometry(QWidget *widget, QRect twips)
{
    widget->setGeometry(Units::toPixels(twips.x()), Units::toPixels(twips.y()), Units::toPixels(twips.width()),
                        Units::toPixels(twips.height()));
}

struct ToolButtonSpec
{
    const char *key;
    const char *toolTip;
    const char *image;
    bool checkable;
    bool separatorBefore;
    // The catalogue's commands the button carries out: the first available one; enabled while any is.
    std::initializer_list<ClockCommand> commands;

    std::optional<ClockCommand> commandIn(CommandSet available) const
    {
        for (ClockCommand command : commands) {
            if (available.contains(command))
                return command;
        }
        return std::nullopt;
    }
};

const ToolButtonSpec ToolButtons[] = {
    {"Start", "Start Clock", "play", false, false, {ClockCommand::Start, ClockCommand::Continue}},
    {"Stop", "Stop Clock", "stop", false, false, {ClockCommand::Pause}},
    {"Reset", "Reset Clock", "reset", false, false, {ClockCommand::Reset}},
    {"Option", "Change Settings...", "tool", false, true, {ClockCommand::Options}},
    {"Sound", "Turn Sound On/Off", "sound", true, true, {}},
    {"Help", "Show Help Message", "help", false, true, {}},
    {"Exit", "Exit", "exit", false, true, {}},
};

const ToolButtonSpec *toolButton(const QString &key)
{
    for (const ToolButtonSpec &spec : ToolButtons) {
        if (key == QLatin1String(spec.key))
            return &spec;
    }
    return nullptr;
}

} // namespace

QStringList sessionStatusTexts(const SessionInfo &session)
{
    if (!session.active())
        return {};
    const QString time = QDateTime::fromMSecsSinceEpoch(session.wallClockMs).toString(QStringLiteral("HH:mm"));
    const QString talk = talkNumberText(session.talk, session.count);
    const QString offset = offsetText(session.offsetSeconds);
    const QString ends =
        session.sessionEndsAtMs ? endsText(QDateTime::fromMSecsSinceEpoch(*session.sessionEndsAtMs)) : QString();
    const auto joined = [](QStringList parts) {
        parts.removeAll(QString());
        return parts.join(QStringLiteral("   "));
    };
    // The laptop shows its own time of day elsewhere; how far the session runs behind matters most.
    QStringList texts{joined({time, talk, offset, ends}), joined({talk, offset, ends}), joined({talk, offset}),
                      joined({offset.isEmpty() ? talk : offset})};
    texts.removeDuplicates();
    return texts;
}

fMain::fMain(SettingsModel &model, ClockSession &session, const Platform &platform, QWidget *parent)
    : QMainWindow(parent)
    , model_(model)
    , session_(session)
    , platform_(platform)
    , positionKnown_(platform.reportsWindowPlacement ? PositionKnown::Yes : PositionKnown::No)
{
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(applicationTitle());
    setWindowIcon(applicationIcon());
    setFont(arial(9, false));
    // Keys go to the window itself wherever the pointer is; nothing in it takes the focus from it.
    setFocusPolicy(Qt::StrongFocus);
    // A right click anywhere, the toolbar included, goes to the window (and the room's menu), never to the
    // toolbar's own hide menu: the toolbar is part of the window.
    setContextMenuPolicy(Qt::DefaultContextMenu);

    buildToolbar();
    buildClient();
    digits_->observe(session_);
    connect(&session_, &ClockSession::changed, this, &fMain::showSnapshot);
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

void fMain::buildClient()
{
    // The status text lives in a permanent label: the status bar's own message is erased whenever the
    // pointer crosses an action.
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    // One plain text field across the bar, without the frame some styles draw around status items.
    bar->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    statusLabel_ = new QLabel(bar);
    statusLabel_->setObjectName(QStringLiteral("StatusText"));
    bar->addPermanentWidget(statusLabel_, 1);
    // On the right, only in a session of talks: the left part keeps saying what SPACE and ESC do.
    sessionLabel_ = new QLabel(bar);
    sessionLabel_->setObjectName(QStringLiteral("SessionText"));
    sessionLabel_->setAccessibleDescription(QStringLiteral("Session"));
    bar->addPermanentWidget(sessionLabel_);
    sessionLabel_->hide();

    digits_ = new DigitPanel(this);
    digits_->setObjectName(QStringLiteral("Client"));
    setCentralWidget(digits_);
    setTwipsGeometry(digits_->seconds(), {1860, 600, 1005, 900});
    setTwipsGeometry(digits_->minutes(), {150, 600, 1665, 1725});
    digits_->seconds()->setFont(arial(36, true));
    digits_->minutes()->setFont(arial(72, true));

    lblInfo = new QLabel(QStringLiteral("Information"), digits_);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setFont(arial(9, false));
    setTwipsGeometry(lblInfo, {1860, 1560, 975, 735});
    lblInfo->setWordWrap(true);
    lblInfo->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblInfo->setAccessibleDescription(QStringLiteral("Stages"));
}

void fMain::Form_Load()
{
    placeLoaded();
    SecondsScale_ = 0.4f;
    ClockSetting setting;
    model_.GetClockSetting(setting);
    applyPlan(setting);
}

void fMain::applyPlan(const ClockSetting &setting)
{
    if (planSink_) {
        planSink_(setting);
        SetAspectRatio();
        ResizeLabels();
        return;
    }
    session_.setSetting(setting);
    SetAspectRatio();
    ResizeLabels();
    ClearTimer();
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
    return handled;
}

const ClockSetting &fMain::Setting() const
{
    return session_.setting();
}

void fMain::SetAspectRatio()
{
    const DigitRatios ratios = measureDigitFont(Setting().Font);
    if (ratios.fontScale > 0) {
        DigitAspect_ = ratios.digitAspect;
        FontScale_ = ratios.fontScale;
    }
    digits_->setDigitFont(Setting().Font);
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

    // The layout is in client coordinates; the labels live in the area under the toolbar.
    if (const std::optional<LabelLayout> layout = digits_->arrange(in, band.top()))
        placeLabel(lblInfo, layout->info, band.top());
    // Too small for digits: the labels stay as they are until the window grows.
}

void fMain::relayout()
{
    if (layout())
        layout()->activate();
    ResizeLabels();
}

void fMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    ResizeLabels();
    fitSessionText();
}

void fMain::fitSessionText()
{
    if (sessionTexts_.isEmpty())
        return;
    // The status text on the left is read in full; the session's part takes what room it leaves.
    const QFontMetrics metrics(sessionLabel_->font());
    // The bar spans the window; its own width follows only once the window's layout has run.
    const int room = width() - statusLabel_->sizeHint().width() - 6 * metrics.averageCharWidth();
    QString fitting;
    for (const QString &text : std::as_const(sessionTexts_)) {
        if (metrics.horizontalAdvance(text) <= room) {
            fitting = text;
            break;
        }
    }
    sessionLabel_->setText(fitting);
}

void fMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Restoring from the task bar may not resize the window; lay out again and put back the plain caption.
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        ResizeLabels();
}

void fMain::closeEvent(QCloseEvent *event)
{
    QuitProgram();
    event->accept();
}

void fMain::keyPressEvent(QKeyEvent *event)
{
    const KeyAction action = keyAction(event->key(), event->modifiers(), session_.snapshot().state);
    if (action.quit)
        QuitProgram();
    else if (action.command)
        session_.perform(*action.command);
    else
        QMainWindow::keyPressEvent(event);
}

void fMain::Toolbar_ButtonClick(const QString &key)
{
    if (const ToolButtonSpec *spec = toolButton(key); spec && !std::empty(spec->commands)) {
        const std::optional<ClockCommand> command = spec->commandIn(session_.snapshot().available);
        if (command == ClockCommand::Options)
            OpenOptions();
        else if (command)
            session_.perform(*command);
    } else if (key == QLatin1String("Sound"))
        session_.perform(button(key)->isChecked() ? ClockCommand::SoundOn : ClockCommand::SoundOff);
    else if (key == QLatin1String("Help"))
        showHelp();
    else if (key == QLatin1String("Exit"))
        QuitProgram();
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
    ClockSetting setting;
    model_.GetClockSetting(setting);
    applyPlan(setting);
}

void fMain::ClearTimer()
{
    session_.ClearTimer();
}

void fMain::QuitProgram()
{
    if (quitting_)
        return;
    quitting_ = true;
    session_.stop();

    WritePlacement(platform_.store, currentPlacement(), positionKnown_);
    emit quitting();
    if (const std::optional<QString> failure = platform_.store.sync())
        std::fprintf(stderr, "Kestrim: the window placement was not saved: %s\n", qPrintable(*failure));

    // Newest first: whatever the options dialog or a message box has open, then the dialog, then this window.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window != this && window != OptionDialog && window->isVisible() && window->isModal())
            window->close();
    }
    if (OptionDialog)
        OptionDialog->close();
    close();
}

void fMain::showSnapshot(const ClockSnapshot &snapshot, ClockEvents events)
{
    if (events.testFlag(ClockEvent::StateChanged) || events.testFlag(ClockEvent::Reconfigured))
        setCommandButtons(snapshot.available);
    // The status names the state and the stage: a second passing leaves it as it is.
    if (events & (ClockEvent::StateChanged | ClockEvent::StageEnded | ClockEvent::Corrected | ClockEvent::Reconfigured))
        statusLabel_->setText(::statusText(snapshot));
    if (events.testFlag(ClockEvent::Reconfigured))
        ShowInfo();
    // The "Sound" button shows the run's sound switch, whoever switched it; a new configuration brings it along.
    if (events & (ClockEvent::Reconfigured | ClockEvent::SoundChanged))
        button(QStringLiteral("Sound"))->setChecked(snapshot.soundEnabled);
    if (events.testFlag(ClockEvent::SessionChanged)) {
        sessionTexts_ = sessionStatusTexts(snapshot.session);
        sessionLabel_->setVisible(!sessionTexts_.isEmpty());
        sessionLabel_->setToolTip(sessionTexts_.value(0));
        sessionLabel_->setAccessibleName(sessionTexts_.value(0));
    }
    if (events & (ClockEvent::SessionChanged | ClockEvent::StateChanged | ClockEvent::StageEnded |
                  ClockEvent::Corrected | ClockEvent::Reconfigured))
        fitSessionText();
    if (isMinimized() || !isActiveWindow())
        showCaption();
}

void fMain::setCommandButtons(CommandSet available)
{
    for (const ToolButtonSpec &spec : ToolButtons) {
        if (!std::empty(spec.commands))
            button(QLatin1String(spec.key))->setEnabled(spec.commandIn(available).has_value());
    }
}

void fMain::showCaption()
{
    const ClockSnapshot &now = session_.snapshot();
    // While minimised the caption carries the read-out; where the desktop never says that the window was
    // minimised, it does so whenever the window is not the one in front and the clock is not Ready: the
    // task bar is where it is read then.
    const bool away =
        isMinimized() || (positionKnown_ == PositionKnown::No && !isActiveWindow() && now.state != ClockState::Ready);
    const QString caption = away ? minimisedCaption(Readout{now.minutes, now.seconds}) : applicationTitle();
    if (caption != windowTitle())
        setWindowTitle(caption);
}

void fMain::ShowInfo()
{
    lblInfo->setText(infoText(Setting()));
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
