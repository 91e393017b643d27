#pragma once

#include "platform/platform.h"
#include "settings/clocksetting.h"

#include <QDialog>
#include <QStringList>

#include <array>
#include <cstdint>

class ColorButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SpinBar;

// What ShowDialog reports.
inline constexpr int DialogNotClosed = 0; // never closed with OK or Cancel yet
inline constexpr int DialogOk = 1;        // the working copy is now in force
inline constexpr int DialogCancel = 2;    // the working copy was dropped (also for the close box)

// The names that FillFontList shows out of the screen's font families: every name except the vertical
// variants, which start with "@".
QStringList ListableFontNames(const QStringList &families);

// The object names of the labels, check boxes, buttons and frames under `root` whose caption does not fit
// the control in its present font: the layout is fixed, so a wider face than the design's cuts text off.
QStringList ClippedCaptions(const QWidget &root);

// The options dialog. One object lives for the whole run; ShowDialog opens it on a fresh working copy of
// the configuration in force, and only OK puts that copy back into force. Save writes the working copy to
// the settings store at any time without applying it.
//
// Every accepted edit goes straight into the working copy. The stage on show is picked with the stage box
// and its spin bar; the length is edited as minutes and seconds, each a box with a spin bar, the seconds
// carrying into the minutes at 60 and borrowing below 0.
class fOpt final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(fOpt)

public:
    // `mainWindow` is where the dialog is centred when its window is created; it is not the dialog's
    // parent (the dialog is shown without an owner and is application-modal). It may be null.
    fOpt(SettingsModel &model, const Platform &platform, QWidget *mainWindow);
    ~fOpt() override;

    // Opens the dialog modally on a copy of the configuration in force and returns when it is closed:
    // DialogOk after the working copy was put in force, DialogCancel otherwise.
    int ShowDialog();

    const ClockSetting &WorkSetting() const { return workSetting_; }
    std::int32_t SelectedStage() const { return selectedStage_; }
    int DialogResult() const { return dialogResult_; }
    // Where the next sound-file browse opens; empty until the first browse of the run.
    QString SoundFolder() const { return soundFolder_; }

    // Esc and the cancel button.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void connectControls();
    void setDesignFont();

    void Form_Load();
    void FillFontList();
    void LoadControls();
    void ShowStage();

    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdSave_Click();

    void vscStage_Change();
    void txtStage_Change();
    void txtDuration_Change(int index);
    void vscDuration_Change(int index);
    void vscDuration_LostFocus(int index);

    void cmdColor_Click(int index);
    void cmdSound_Click();
    void cmdTest_Click();
    void chkSound_Click();
    void cboFont_Click(int listIndex);
    void chkBold_Click();
    void chkItalic_Click();
    void UpdateSample();

    void txtDesc_Edited(const QString &text);
    void txtSound_Edited(const QString &text);

    // The stage on show, or null when none is (before the first opening).
    StageSetting *shownStage();
    // Stores the length typed into the two duration boxes, when both hold numbers and the sum fits.
    void storeTypedLength();
    void setSampleColours(Colour back, Colour fore);
    void applySoundEnabled(bool enabled);
    void showChooserError(int number, const QString &description);

    SettingsModel &model_;
    Platform platform_;
    QWidget *mainWindow_;

    std::int32_t selectedStage_ = 0;
    bool showingStage_ = false;
    ClockSetting workSetting_;
    int dialogResult_ = DialogNotClosed;
    QString soundFolder_;
    // False until the first opening and again after the close box: the next opening centres the dialog
    // and reads the screen fonts afresh.
    bool created_ = false;
    // Set when the window is created: its first showing puts the focus on the first control.
    bool focusFirst_ = false;

    QGroupBox *fraStageSetting = nullptr;
    QGroupBox *fraStage = nullptr;
    QGroupBox *fraDuration = nullptr;
    QGroupBox *fraColor = nullptr;
    QGroupBox *fraSound = nullptr;
    QGroupBox *fraFont = nullptr;
    QGroupBox *fraSample = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtStage = nullptr;
    SpinBar *vscStage = nullptr;
    QLineEdit *txtDesc = nullptr;
    std::array<QLineEdit *, 2> txtDuration{};
    std::array<SpinBar *, 2> vscDuration{};
    std::array<QLabel *, 3> lblDuration{}; // 1 "min", 2 "sec"; there is no 0
    std::array<QLabel *, 2> lblColor{};
    std::array<ColorButton *, 2> cmdColor{};
    QLineEdit *txtSound = nullptr;
    QPushButton *cmdSound = nullptr;
    QPushButton *cmdTest = nullptr;
    QCheckBox *chkSound = nullptr;
    QComboBox *cboFont = nullptr;
    QCheckBox *chkBold = nullptr;
    QCheckBox *chkItalic = nullptr;
    QLabel *lblSample = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};
