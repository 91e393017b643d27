#include "mainwindow/mainwindow.h"

#include "clock/keys.h"
#include "clock/readout.h"
#include "mainwindow/labellayout.h"
#include "options/optionsdialog.h"
#include "platform/choosers.h"
#include "platform/colours.h"
#include "platform/icons.h"
#include "platform/settingsstore.h"
#include "platform/units.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <cstdio>

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
    // The toolbar is part of the window, not a panel the user could hide by a right click.
    setContextMenuPolicy(Qt::PreventContextMenu);

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
    const int clientTop = band.top();
    const auto place = [clientTop](QLabel *label, const LabelBox &box) {
        label->setGeometry(Units::toPixels(box.left), Units::toPixels(box.top) - clientTop, Units::toPixels(box.width),
                           Units::toPixels(box.height));
    };
    place(lblMin, layout->minutes);
    place(lblSec, layout->seconds);
    place(lblInfo, layout->info);
    for (auto [label, points] : {std::pair{lblMin, layout->minutesPoints}, std::pair{lblSec, layout->secondsPoints}}) {
        QFont f = label->font();
        if (f.pointSizeF() != points) {
            f.setPointSizeF(points);
            label->setFont(f);
        }
    }
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
        clock_.ClearTimer();
        break;
    case KeyAction::QuitProgram:
        QuitProgram();
        break;
    case KeyAction::None:
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
        clock_.ClearTimer();
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
}

void fMain::SetStatusText(const QString &text)
{
    statusLabel_->setText(text);
}

void fMain::ShowTime(std::int32_t seconds)
{
    shownSeconds_ = seconds;
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
    coloured_ = true;
}

void fMain::ShowInfo()
{
    button(QStringLiteral("Sound"))->setChecked(Setting_.SoundEnabled);
    lblInfo->setText(infoText(Setting_));
}
