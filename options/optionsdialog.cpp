#include "options/optionsdialog.h"

#include "options/colorbutton.h"
#include "options/numbertext.h"
#include "options/spinbar.h"
#include "platform/choosers.h"
#include "platform/colours.h"
#include "platform/settingsstore.h"
#include "platform/soundplayer.h"
#include "platform/units.h"
#include "settings/persistence.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOption>

#include <algorithm>
#include <limits>

namespace {

// Faces tried in order: the design face, then ones of similar width, so that the captions fit the fixed
// layout wherever the design face is not installed.
QFont designFont(double points)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS PGothic"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setPointSizeF(points);
    return font;
}

constexpr double DialogPoints = 9.75;
constexpr double StageBoxPoints = 9.0;
constexpr double SamplePoints = 20.25;
// Below this a caption would be too small to read; a face that still clips is left to clip.
constexpr double SmallestPoints = 7.0;

// Places `widget` at a rectangle given in twips. Both edges are converted, so neighbours that touch in
// twips touch in pixels too.
void place(QWidget *widget, int left, int top, int width, int height)
{
    const int x = Units::toPixels(left);
    const int y = Units::toPixels(top);
    widget->setGeometry(x, y, Units::toPixels(left + width) - x, Units::toPixels(top + height) - y);
}

template <typename Widget>
Widget *make(QWidget *container, const QString &name)
{
    auto *widget = new Widget(container);
    widget->setObjectName(name);
    return widget;
}

QGroupBox *makeFrame(QWidget *container, const QString &name, const QString &caption)
{
    auto *frame = make<QGroupBox>(container, name);
    frame->setTitle(caption);
    return frame;
}

QLabel *makeLabel(QWidget *container, const QString &name, const QString &caption)
{
    auto *label = make<QLabel>(container, name);
    label->setText(caption);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit *makeBox(QWidget *container, const QString &name, const QString &text)
{
    auto *box = make<QLineEdit>(container, name);
    box->setMaxLength(std::numeric_limits<int>::max()); // a long path must not be cut short
    box->setText(text);
    return box;
}

QPushButton *makeButton(QWidget *container, const QString &name, const QString &caption)
{
    auto *button = make<QPushButton>(container, name);
    button->setText(caption);
    // Enter means OK wherever the focus is; a focused button is pressed with the space bar.
    button->setAutoDefault(false);
    return button;
}

QCheckBox *makeCheck(QWidget *container, const QString &name, const QString &caption)
{
    auto *check = make<QCheckBox>(container, name);
    check->setText(caption);
    return check;
}

QString indexed(const char *name, int index)
{
    return QLatin1String(name) + QLatin1Char('(') + QString::number(index) + QLatin1Char(')');
}

// The number in a box, or nothing when its text holds none.
std::optional<double> numberIn(const QLineEdit *box)
{
    return NumberText::parseLocal(box->text());
}

} // namespace

QStringList ListableFontNames(const QStringList &families)
{
    QStringList names;
    names.reserve(families.size());
    for (const QString &family : families) {
        if (!family.startsWith(QLatin1Char('@'))) {
            names.append(family);
        }
    }
    return names;
}

QStringList ClippedCaptions(const QWidget &root)
{
    QStringList clipped;
    const auto fits = [](const QWidget *widget, int needed, int available) {
        return needed <= available && widget->fontMetrics().height() <= widget->height();
    };
    for (const QLabel *label : root.findChildren<QLabel *>()) {
        // Labels are judged by their ink: the sample's digits have no descenders to lose.
        const QFontMetrics metrics = label->fontMetrics();
        if (metrics.horizontalAdvance(label->text()) > label->contentsRect().width() ||
            metrics.tightBoundingRect(label->text()).height() > label->contentsRect().height()) {
            clipped.append(label->objectName());
        }
    }
    for (const QCheckBox *check : root.findChildren<QCheckBox *>()) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        const QRect text = check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
        if (!fits(check, check->fontMetrics().horizontalAdvance(check->text()), text.width())) {
            clipped.append(check->objectName());
        }
    }
    for (const QPushButton *button : root.findChildren<QPushButton *>()) {
        if (button->text().isEmpty()) {
            continue;
        }
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect text = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        if (!fits(button, button->fontMetrics().horizontalAdvance(button->text()), text.width())) {
            clipped.append(button->objectName());
        }
    }
    for (const QGroupBox *frame : root.findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title =
            frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
        if (title.right() >= frame->width() || frame->fontMetrics().horizontalAdvance(frame->title()) > title.width()) {
            clipped.append(frame->objectName());
        }
    }
    return clipped;
}

fOpt::fOpt(SettingsModel &model, const Platform &platform, QWidget *mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , model_(model)
    , platform_(platform)
    , mainWindow_(mainWindow)
{
    setObjectName(QStringLiteral("fOpt"));
    setWindowTitle(QStringLiteral("Options..."));
    // Without a parent widget the dialog would get the desktop's generic picture in its title bar.
    if (mainWindow)
        setWindowIcon(mainWindow->windowIcon());
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(Units::toPixels(6075), Units::toPixels(4800));
    setSizeGripEnabled(false);

    buildControls();
    setDesignFont();
    // The layout puts the first row of each frame just below the caption's middle, where the frame's top
    // line runs through the caption; without this the style draws the line under the caption, across the
    // controls. Set after the font is fitted: under a style sheet the controls keep the font they have.
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.5em; }"
                                 "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0px 2px; }"));
}

fOpt::~fOpt() = default;

void fOpt::buildControls()
{
    fraStageSetting = makeFrame(this, QStringLiteral("fraStageSetting"), QStringLiteral("Setting"));
    place(fraStageSetting, 120, 180, 5835, 2895);
    fraFont = makeFrame(this, QStringLiteral("fraFont"), QStringLiteral("Font"));
    place(fraFont, 120, 3180, 3615, 1035);
    fraSample = makeFrame(this, QStringLiteral("fraSample"), QStringLiteral("Sample"));
    place(fraSample, 3900, 3180, 2055, 1035);

    cmdSave = makeButton(this, QStringLiteral("cmdSave"), QStringLiteral("Save"));
    place(cmdSave, 2760, 4320, 975, 375);
    cmdSave->setToolTip(QStringLiteral("Save setting as default"));
    cmdOK = makeButton(this, QStringLiteral("cmdOK"), QStringLiteral("OK"));
    place(cmdOK, 3840, 4320, 975, 375);
    cmdOK->setToolTip(QStringLiteral("Apply setting and close dialog"));
    cmdOK->setDefault(true);
    cmdCancel = makeButton(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"));
    place(cmdCancel, 4920, 4320, 975, 375);
    cmdCancel->setToolTip(QStringLiteral("Abandon changes and close dialog"));

    fraStage = makeFrame(fraStageSetting, QStringLiteral("fraStage"), QStringLiteral("Stage"));
    place(fraStage, 120, 180, 5595, 675);
    fraDuration = makeFrame(fraStageSetting, QStringLiteral("fraDuration"), QStringLiteral("Duration"));
    place(fraDuration, 120, 960, 2355, 675);
    fraColor = makeFrame(fraStageSetting, QStringLiteral("fraColor"), QStringLiteral("Color"));
    place(fraColor, 2580, 960, 3135, 675);
    fraSound = makeFrame(fraStageSetting, QStringLiteral("fraSound"), QStringLiteral("Sound File"));
    place(fraSound, 120, 1740, 5595, 675);
    chkSound = makeCheck(fraStageSetting, QStringLiteral("chkSound"), QStringLiteral("Enable sound"));
    place(chkSound, 300, 2460, 1515, 300);

    Label1 = makeLabel(fraStage, QStringLiteral("Label1"), QStringLiteral("Stage#"));
    place(Label1, 240, 300, 555, 255);
    txtStage = makeBox(fraStage, QStringLiteral("txtStage"), QStringLiteral("0"));
    place(txtStage, 840, 240, 375, 300);
    vscStage = new SpinBar(fraStage, QStringLiteral("vscStage"));
    place(vscStage->bar(), 1200, 240, 255, 300);
    vscStage->setTop(1);
    vscStage->setBottom(4);
    vscStage->setValue(1);
    Label2 = makeLabel(fraStage, QStringLiteral("Label2"), QStringLiteral("Description"));
    place(Label2, 1740, 300, 975, 255);
    txtDesc = makeBox(fraStage, QStringLiteral("txtDesc"), QStringLiteral("Text2"));
    place(txtDesc, 2760, 240, 2715, 300);

    const int unitLeft[2] = {840, 1920};
    const char *unitCaption[2] = {"min", "sec"};
    for (int i = 0; i < 2; ++i) {
        txtDuration[i] = makeBox(fraDuration, indexed("txtDuration", i), QStringLiteral("0"));
        place(txtDuration[i], 180 + 1080 * i, 240, 375, 300);
        vscDuration[i] = new SpinBar(fraDuration, indexed("vscDuration", i));
        place(vscDuration[i]->bar(), 540 + 1080 * i, 240, 255, 300);
        lblDuration[i + 1] = makeLabel(fraDuration, indexed("lblDuration", i + 1), QLatin1String(unitCaption[i]));
        place(lblDuration[i + 1], unitLeft[i], 240, 375, 255);
    }
    vscDuration[0]->setTop(99);
    vscDuration[0]->setBottom(0);
    vscDuration[1]->setTop(60);
    vscDuration[1]->setBottom(-1);
    vscDuration[1]->setValue(0);

    const char *colourCaption[2] = {"Background", "Foreground"};
    for (int i = 0; i < 2; ++i) {
        lblColor[i] = makeLabel(fraColor, indexed("lblColor", i), QLatin1String(colourCaption[i]));
        place(lblColor[i], 180 + 1500 * i, 300, 1035, 255);
        cmdColor[i] = make<ColorButton>(fraColor, indexed("cmdColor", i));
        cmdColor[i]->setAutoDefault(false);
        place(cmdColor[i], 1200 + 1500 * i, 240, 315, 300);
    }

    txtSound = makeBox(fraSound, QStringLiteral("txtSound"), QStringLiteral("Text1"));
    place(txtSound, 180, 240, 4275, 300);
    cmdSound = makeButton(fraSound, QStringLiteral("cmdSound"), QStringLiteral("..."));
    place(cmdSound, 4440, 240, 315, 300);
    cmdSound->setToolTip(QStringLiteral("Browse sound file"));
    cmdTest = makeButton(fraSound, QStringLiteral("cmdTest"), QStringLiteral("Test"));
    place(cmdTest, 4920, 240, 555, 300);

    cboFont = make<QComboBox>(fraFont, QStringLiteral("cboFont"));
    place(cboFont, 300, 240, 3195, 315);
    chkBold = makeCheck(fraFont, QStringLiteral("chkBold"), QStringLiteral("Bold"));
    place(chkBold, 780, 660, 735, 255);
    chkItalic = makeCheck(fraFont, QStringLiteral("chkItalic"), QStringLiteral("Italic"));
    place(chkItalic, 1800, 660, 735, 255);

    lblSample = make<QLabel>(fraSample, QStringLiteral("lblSample"));
    lblSample->setText(QStringLiteral("12:34"));
    lblSample->setAlignment(Qt::AlignCenter);
    lblSample->setAutoFillBackground(true);
    place(lblSample, 60, 360, 1935, 435);

    // Names for screen readers where no caption says what a control is.
    txtStage->setAccessibleName(QStringLiteral("Stage#"));
    vscStage->bar()->setAccessibleName(QStringLiteral("Stage#"));
    txtDesc->setAccessibleName(QStringLiteral("Description"));
    const char *unitName[2] = {"Minutes", "Seconds"};
    for (int i = 0; i < 2; ++i) {
        txtDuration[i]->setAccessibleName(QLatin1String(unitName[i]));
        vscDuration[i]->bar()->setAccessibleName(QLatin1String(unitName[i]));
        cmdColor[i]->setAccessibleName(lblColor[i]->text());
    }
    txtSound->setAccessibleName(QStringLiteral("Sound File"));
    cmdSound->setAccessibleName(cmdSound->toolTip());
    cboFont->setAccessibleName(QStringLiteral("Font"));

    // Keyboard order of the original form, whatever the order of creation.
    QWidget *const order[] = {cmdSave,        cmdOK,
                              cmdCancel,      cboFont,
                              chkBold,        chkItalic,
                              txtDesc,        vscStage->bar(),
                              txtStage,       cmdSound,
                              txtSound,       cmdTest,
                              cmdColor[0],    cmdColor[1],
                              txtDuration[0], vscDuration[0]->bar(),
                              txtDuration[1], vscDuration[1]->bar(),
                              chkSound};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }

    connect(cmdOK, &QPushButton::clicked, this, &fOpt::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &fOpt::cmdCancel_Click);
    connect(cmdSave, &QPushButton::clicked, this, &fOpt::cmdSave_Click);

    connect(vscStage, &SpinBar::changed, this, &fOpt::vscStage_Change);
    connect(txtStage, &QLineEdit::textChanged, this, &fOpt::txtStage_Change);
    for (int i = 0; i < 2; ++i) {
        connect(txtDuration[i], &QLineEdit::textChanged, this, [this, i] { txtDuration_Change(i); });
        connect(vscDuration[i], &SpinBar::changed, this, [this, i] { vscDuration_Change(i); });
        vscDuration[i]->bar()->installEventFilter(this);
        connect(cmdColor[i], &QPushButton::clicked, this, [this, i] { cmdColor_Click(i); });
    }
    connect(txtDesc, &QLineEdit::textEdited, this, &fOpt::txtDesc_Edited);
    connect(txtSound, &QLineEdit::textEdited, this, &fOpt::txtSound_Edited);

    connect(cmdSound, &QPushButton::clicked, this, &fOpt::cmdSound_Click);
    connect(cmdTest, &QPushButton::clicked, this, &fOpt::cmdTest_Click);
    connect(chkSound, &QCheckBox::toggled, this, &fOpt::chkSound_Click);
    connect(cboFont, &QComboBox::currentIndexChanged, this, &fOpt::cboFont_Click);
    connect(chkBold, &QCheckBox::toggled, this, &fOpt::chkBold_Click);
    connect(chkItalic, &QCheckBox::toggled, this, &fOpt::chkItalic_Click);
}

void fOpt::setDesignFont()
{
    // The layout is fixed in twips. Where the design face is missing and a substitute runs wider, the
    // captions would be cut off: shrink the substitute until they fit.
    for (double points = DialogPoints; points >= SmallestPoints; points -= 0.25) {
        setFont(designFont(points));
        txtStage->setFont(designFont(std::min(StageBoxPoints, points)));
        if (ClippedCaptions(*this).isEmpty()) {
            break;
        }
    }
    QFont sample = designFont(SamplePoints);
    lblSample->setFont(sample);
}

int fOpt::ShowDialog()
{
    model_.GetClockSetting(workSetting_);
    if (!created_) {
        Form_Load();
    }
    LoadControls();
    exec();
    if (dialogResult_ == DialogOk) {
        model_.SetClockSetting(workSetting_);
    }
    return dialogResult_;
}

void fOpt::Form_Load()
{
    created_ = true;
    if (mainWindow_ != nullptr) {
        // Centred in twips as single floats, like every other placement of the program's windows. Before
        // its first showing the dialog has no frame yet; it will get one like the main window's.
        const QRect main = mainWindow_->frameGeometry();
        QSize own = frameGeometry().size();
        if (own == size()) {
            own += main.size() - mainWindow_->geometry().size();
        }
        const float left =
            Units::toTwips(main.x()) + (Units::toTwips(main.width()) - Units::toTwips(own.width())) / 2.0f;
        const float top =
            Units::toTwips(main.y()) + (Units::toTwips(main.height()) - Units::toTwips(own.height())) / 2.0f;
        move(Units::toPixels(left), Units::toPixels(top));
    }
    FillFontList();
    focusFirst_ = true;
}

void fOpt::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (focusFirst_) {
        // Left alone, QDialog would hand the first focus to the default button.
        focusFirst_ = false;
        cmdSave->setFocus(Qt::OtherFocusReason);
    }
}

void fOpt::FillFontList()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // Filling selects the first entry; that must not pass for the user's choice of font.
    const QSignalBlocker blocker(cboFont);
    cboFont->clear();
    cboFont->addItems(ListableFontNames(QFontDatabase::families()));
    cboFont->setCurrentIndex(-1);
}

void fOpt::LoadControls()
{
    const int listIndex = cboFont->findText(workSetting_.Font.Name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A face that is not installed (the default "Arial" on many Linux desktops) still shows its name, greyed,
    // so the list does not look as if no font were chosen.
    cboFont->setPlaceholderText(workSetting_.Font.Name);
    if (listIndex >= 0) {
        cboFont->setCurrentIndex(listIndex);
    } else {
        // A face that is not installed: show no selection, and keep the name in the working copy.
        const QSignalBlocker blocker(cboFont);
        cboFont->setCurrentIndex(-1);
    }
    chkBold->setChecked(workSetting_.Font.Bold);
    chkItalic->setChecked(workSetting_.Font.Italic);
    // The handlers refresh the sample only when a control changes, but the working copy may name another
    // face than the one the sample showed when the dialog was last closed.
    UpdateSample();

    chkSound->setChecked(workSetting_.SoundEnabled);
    applySoundEnabled(chkSound->isChecked());

    vscStage->setBottom(1);
    vscStage->setTop(std::clamp<std::int32_t>(workSetting_.Count(), 1, std::numeric_limits<std::int16_t>::max()));
    vscStage->setValue(1);

    txtStage->setText(QStringLiteral("1"));
    selectedStage_ = 1;
    ShowStage();
}

StageSetting *fOpt::shownStage()
{
    if (selectedStage_ < 1 || selectedStage_ > workSetting_.Count()) {
        return nullptr;
    }
    return &workSetting_.stage(selectedStage_);
}

void fOpt::ShowStage()
{
    const StageSetting *shown = shownStage();
    if (shown == nullptr) {
        return;
    }
    const StageSetting stage = *shown;

    showingStage_ = true;
    txtDesc->setText(stage.Description);
    setSampleColours(stage.BackColor, stage.ForeColor);
    cmdColor[0]->setFaceColor(toQColor(stage.BackColor));
    cmdColor[1]->setFaceColor(toQColor(stage.ForeColor));
    const std::int32_t minutes = stage.Seconds / 60;
    txtDuration[0]->setText(QString::number(minutes));
    const double shownMinutes = numberIn(txtDuration[0]).value_or(minutes);
    txtDuration[1]->setText(NumberText::format(static_cast<double>(stage.Seconds) - 60.0 * shownMinutes));
    txtSound->setText(stage.SoundFile);
    showingStage_ = false;
}

void fOpt::cmdOK_Click()
{
    dialogResult_ = DialogOk;
    QDialog::done(QDialog::Accepted);
}

void fOpt::cmdCancel_Click()
{
    dialogResult_ = DialogCancel;
    QDialog::done(QDialog::Rejected);
}

void fOpt::reject()
{
    cmdCancel_Click();
}

void fOpt::closeEvent(QCloseEvent *event)
{
    // The close box throws the window away: the next opening centres it and reads the fonts again. The
    // edits are dropped as with Cancel; an OK of an earlier opening must not apply them.
    created_ = false;
    if (isVisible()) {
        dialogResult_ = DialogCancel;
        QDialog::done(QDialog::Rejected);
    }
    event->accept();
}

void fOpt::cmdSave_Click()
{
    SaveClockSetting(workSetting_, platform_.store);
    if (const std::optional<QString> failure = platform_.store.sync()) {
        platform_.messages.critical(
            this, applicationTitle(),
            QStringLiteral("The settings could not be saved to %1.\n%2").arg(platform_.store.location(), *failure));
    }
}

void fOpt::vscStage_Change()
{
    txtStage->setText(QString::number(vscStage->value()));
}

void fOpt::txtStage_Change()
{
    const std::optional<double> number = numberIn(txtStage);
    if (!number) {
        return;
    }
    // A number beyond 32 bits cannot name a stage; it is ignored like any other out-of-range entry.
    const std::optional<std::int32_t> stage = NumberText::toWhole32(*number);
    if (!stage || !vscStage->contains(*stage)) {
        return;
    }
    selectedStage_ = *stage;
    vscStage->setValue(*stage);
    ShowStage();
}

void fOpt::txtDuration_Change(int index)
{
    const std::optional<double> typed = numberIn(txtDuration[index]);
    if (!typed) {
        return;
    }
    if (!showingStage_) {
        storeTypedLength();
    }
    SpinBar *bar = vscDuration[index];
    if (bar->contains(*typed)) {
        if (const std::optional<std::int16_t> value = NumberText::toWhole16(*typed)) {
            bar->setValue(*value);
        }
    }
}

void fOpt::storeTypedLength()
{
    StageSetting *stage = shownStage();
    const std::optional<double> minutes = numberIn(txtDuration[0]);
    const std::optional<double> seconds = numberIn(txtDuration[1]);
    if (stage == nullptr || !minutes || !seconds) {
        return;
    }
    // A length beyond 32 bits is ignored; converting it would be undefined.
    if (const std::optional<std::int32_t> total = NumberText::totalSeconds(*minutes, *seconds)) {
        stage->Seconds = *total;
    }
}

void fOpt::vscDuration_Change(int index)
{
    SpinBar *secondsBar = vscDuration[1];
    // A minutes box that holds no number counts as 0 minutes when the seconds wrap.
    const double minutes = numberIn(txtDuration[0]).value_or(0.0);
    if (index == 1 && secondsBar->value() == 60) {
        txtDuration[0]->setText(NumberText::format(minutes + 1.0));
        secondsBar->setValue(0);
        return;
    }
    if (index == 1 && secondsBar->value() == -1) {
        if (minutes > vscDuration[0]->bottom()) {
            txtDuration[0]->setText(NumberText::format(minutes - 1.0));
            secondsBar->setValue(59);
        } else {
            // The arrows never take a length below 0:00.
            secondsBar->setValue(0);
        }
        return;
    }
    txtDuration[index]->setText(QString::number(vscDuration[index]->value()));
}

void fOpt::vscDuration_LostFocus(int)
{
    storeTypedLength();
}

bool fOpt::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        for (int i = 0; i < 2; ++i) {
            if (watched == vscDuration[i]->bar()) {
                vscDuration_LostFocus(i);
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void fOpt::showChooserError(int number, const QString &description)
{
    platform_.messages.critical(this, applicationTitle(),
                                QStringLiteral("Error #") + QString::number(number) + QStringLiteral(": ") +
                                    description);
}

void fOpt::cmdColor_Click(int index)
{
    const StageSetting *before = shownStage();
    if (before == nullptr) {
        return;
    }
    const Colour initial = index == 0 ? before->BackColor : before->ForeColor;
    std::optional<std::int32_t> chosen;
    try {
        chosen = platform_.colors.chooseColor(this, QStringLiteral("Choose Color"), initial);
    } catch (const ChooserError &error) {
        showChooserError(error.number(), error.description());
        return;
    }
    // The chooser ran its own event loop; look the stage up afresh.
    StageSetting *stage = shownStage();
    if (!chosen || stage == nullptr) {
        return;
    }
    if (index == 1) {
        stage->ForeColor = *chosen;
    } else {
        stage->BackColor = *chosen;
    }
    setSampleColours(stage->BackColor, stage->ForeColor);
    cmdColor[index]->setFaceColor(toQColor(*chosen));
}

void fOpt::setSampleColours(Colour back, Colour fore)
{
    QPalette palette = lblSample->palette();
    palette.setColor(QPalette::Window, toQColor(back));
    palette.setColor(QPalette::WindowText, toQColor(fore));
    lblSample->setPalette(palette);
}

void fOpt::cmdSound_Click()
{
    if (soundFolder_.isEmpty()) {
        soundFolder_ = platform_.programFolder;
    }
    const FileOpenRequest request{soundFolder_, QStringLiteral(".WAV"), QStringLiteral("Open a Sound File"),
                                  QStringLiteral("Wave File (*.WAV)"), QStringLiteral("*.WAV")};
    std::optional<QString> chosen;
    try {
        chosen = platform_.files.chooseOpenFile(this, request);
    } catch (const ChooserError &error) {
        showChooserError(error.number(), error.description());
        return;
    }
    StageSetting *stage = shownStage();
    if (!chosen || stage == nullptr) {
        return;
    }
    stage->SoundFile = *chosen;
    txtSound->setText(*chosen);
    soundFolder_ = GetFolder(*chosen);
}

void fOpt::cmdTest_Click()
{
    platform_.sound.play(txtSound->text());
}

void fOpt::applySoundEnabled(bool enabled)
{
    fraSound->setEnabled(enabled);
    txtSound->setEnabled(enabled);
    cmdSound->setEnabled(enabled);
    cmdTest->setEnabled(enabled);
}

void fOpt::chkSound_Click()
{
    workSetting_.SoundEnabled = chkSound->isChecked();
    applySoundEnabled(workSetting_.SoundEnabled);
}

void fOpt::cboFont_Click(int listIndex)
{
    // No selection says nothing about the face wanted.
    if (listIndex < 0) {
        return;
    }
    workSetting_.Font.Name = cboFont->itemText(listIndex);
    UpdateSample();
}

void fOpt::chkBold_Click()
{
    workSetting_.Font.Bold = chkBold->isChecked();
    UpdateSample();
}

void fOpt::chkItalic_Click()
{
    workSetting_.Font.Italic = chkItalic->isChecked();
    UpdateSample();
}

void fOpt::UpdateSample()
{
    // With no selection in the list (a face that is not installed) the working copy still names the face,
    // and the platform shows its nearest substitute.
    const QString face = cboFont->currentIndex() >= 0 ? cboFont->currentText() : workSetting_.Font.Name;
    QFont font = lblSample->font();
    font.setFamilies({face});
    font.setBold(chkBold->isChecked());
    font.setItalic(chkItalic->isChecked());
    lblSample->setFont(font);
}

void fOpt::txtDesc_Edited(const QString &text)
{
    if (StageSetting *stage = shownStage()) {
        stage->Description = text;
    }
}

void fOpt::txtSound_Edited(const QString &text)
{
    if (StageSetting *stage = shownStage()) {
        stage->SoundFile = text;
    }
}
