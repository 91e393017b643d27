#include "options/colorbutton.h"
#include "options/numbertext.h"
#include "options/optionsdialog.h"
#include "options/spinbar.h"
#include "platform/choosers.h"
#include "platform/colours.h"
#include "platform/soundplayer.h"
#include "settings/persistence.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

// The stage on show and the handlers that put the user's edits into the working copy.

namespace {

// The number in a box, or nothing when its text holds none.
std::optional<double> numberIn(const QLineEdit *box)
{
    return NumberText::parseLocal(box->text());
}

} // namespace

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
