#include "options/optionsdialog.h"

#include "options/colorbutton.h"
#include "options/numbertext.h"
#include "options/optionslayout.h"
#include "options/spinbar.h"
#include "platform/choosers.h"
#include "platform/settingsstore.h"
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

template <typename Control>
Control *control(const QWidget &dialog, const char *name)
{
    Control *found = dialog.findChild<Control *>(QLatin1String(name));
    Q_ASSERT(found != nullptr);
    return found;
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
    setFixedSize(Units::toPixels(OptionsWidth), Units::toPixels(OptionsHeight));
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
    BuildOptionsControls(*this);
    fraStageSetting = control<QGroupBox>(*this, "fraStageSetting");
    fraStage = control<QGroupBox>(*this, "fraStage");
    fraDuration = control<QGroupBox>(*this, "fraDuration");
    fraColor = control<QGroupBox>(*this, "fraColor");
    fraSound = control<QGroupBox>(*this, "fraSound");
    fraFont = control<QGroupBox>(*this, "fraFont");
    fraSample = control<QGroupBox>(*this, "fraSample");
    Label1 = control<QLabel>(*this, "Label1");
    Label2 = control<QLabel>(*this, "Label2");
    txtStage = control<QLineEdit>(*this, "txtStage");
    vscStage = control<SpinBar>(*this, "vscStage");
    txtDesc = control<QLineEdit>(*this, "txtDesc");
    txtDuration = {control<QLineEdit>(*this, "txtDuration(0)"), control<QLineEdit>(*this, "txtDuration(1)")};
    vscDuration = {control<SpinBar>(*this, "vscDuration(0)"), control<SpinBar>(*this, "vscDuration(1)")};
    lblDuration = {nullptr, control<QLabel>(*this, "lblDuration(1)"), control<QLabel>(*this, "lblDuration(2)")};
    lblColor = {control<QLabel>(*this, "lblColor(0)"), control<QLabel>(*this, "lblColor(1)")};
    cmdColor = {control<ColorButton>(*this, "cmdColor(0)"), control<ColorButton>(*this, "cmdColor(1)")};
    txtSound = control<QLineEdit>(*this, "txtSound");
    cmdSound = control<QPushButton>(*this, "cmdSound");
    cmdTest = control<QPushButton>(*this, "cmdTest");
    chkSound = control<QCheckBox>(*this, "chkSound");
    cboFont = control<QComboBox>(*this, "cboFont");
    chkBold = control<QCheckBox>(*this, "chkBold");
    chkItalic = control<QCheckBox>(*this, "chkItalic");
    lblSample = control<QLabel>(*this, "lblSample");
    cmdSave = control<QPushButton>(*this, "cmdSave");
    cmdOK = control<QPushButton>(*this, "cmdOK");
    cmdCancel = control<QPushButton>(*this, "cmdCancel");

    cmdOK->setDefault(true);
    vscStage->setTop(1);
    vscStage->setBottom(4);
    vscStage->setValue(1);
    // The seconds bar reaches one step past a minute each way: the handler turns those steps into a carry
    // into the minutes or a borrow from them.
    vscDuration[0]->setTop(99);
    vscDuration[0]->setBottom(0);
    vscDuration[1]->setTop(60);
    vscDuration[1]->setBottom(-1);
    vscDuration[1]->setValue(0);
    connectControls();
}

void fOpt::connectControls()
{
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
