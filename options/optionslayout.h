#pragma once

class QWidget;

// The options dialog's fixed layout, as data: the dialog is built from this table, and its tests read it.
// Positions are in twips within the container; the table lists containers before what they hold, in the
// order the controls are created (which is also their stacking order).

enum class ControlKind
{
    Frame,  // QGroupBox; the caption is its title
    Label,  // QLabel, top left
    Box,    // QLineEdit of unlimited length; the caption is its first text
    Spin,   // SpinBar; its scroll bar carries the name
    Button, // QPushButton that Enter does not press
    Colour, // ColorButton, no caption
    Check,  // QCheckBox
    List,   // QComboBox
    Sample, // QLabel centred on its own background
};

struct ControlPlace
{
    const char *name;      // the object name
    const char *container; // the object name of the frame it sits in; null for the dialog itself
    ControlKind kind;
    int left;
    int top;
    int width;
    int height;
    const char *caption = "";
    const char *toolTip = "";
    // For screen readers where no caption says what the control is; empty for none.
    const char *accessibleName = "";
    // Place in the keyboard order, from 0; -1 for controls that take no focus.
    int tabPlace = -1;
};

// The dialog's client area.
inline constexpr int OptionsWidth = 6075;
inline constexpr int OptionsHeight = 4800;

// clang-format off
inline constexpr ControlPlace OptionsControls[] = {
    {"fraStageSetting", nullptr, ControlKind::Frame, 120, 180, 5835, 2895, "Setting"},
    {"fraFont", nullptr, ControlKind::Frame, 120, 3180, 3615, 1035, "Font"},
    {"fraSample", nullptr, ControlKind::Frame, 3900, 3180, 2055, 1035, "Sample"},
    {"cmdSave", nullptr, ControlKind::Button, 2760, 4320, 975, 375, "Save", "Save setting as default", "", 0},
    {"cmdOK", nullptr, ControlKind::Button, 3840, 4320, 975, 375, "OK", "Apply setting and close dialog", "", 1},
    {"cmdCancel", nullptr, ControlKind::Button, 4920, 4320, 975, 375, "Cancel", "Abandon changes and close dialog", "",
     2},
    {"fraStage", "fraStageSetting", ControlKind::Frame, 120, 180, 5595, 675, "Stage"},
    {"fraDuration", "fraStageSetting", ControlKind::Frame, 120, 960, 2355, 675, "Duration"},
    {"fraColor", "fraStageSetting", ControlKind::Frame, 2580, 960, 3135, 675, "Color"},
    {"fraSound", "fraStageSetting", ControlKind::Frame, 120, 1740, 5595, 675, "Sound File"},
    {"chkSound", "fraStageSetting", ControlKind::Check, 300, 2460, 1515, 300, "Enable sound", "", "", 18},
    {"Label1", "fraStage", ControlKind::Label, 240, 300, 555, 255, "Stage#"},
    {"txtStage", "fraStage", ControlKind::Box, 840, 240, 375, 300, "0", "", "Stage#", 8},
    {"vscStage", "fraStage", ControlKind::Spin, 1200, 240, 255, 300, "", "", "Stage#", 7},
    {"Label2", "fraStage", ControlKind::Label, 1740, 300, 975, 255, "Description"},
    {"txtDesc", "fraStage", ControlKind::Box, 2760, 240, 2715, 300, "Text2", "", "Description", 6},
    {"txtDuration(0)", "fraDuration", ControlKind::Box, 180, 240, 375, 300, "0", "", "Minutes", 14},
    {"vscDuration(0)", "fraDuration", ControlKind::Spin, 540, 240, 255, 300, "", "", "Minutes", 15},
    {"lblDuration(1)", "fraDuration", ControlKind::Label, 840, 240, 375, 255, "min"},
    {"txtDuration(1)", "fraDuration", ControlKind::Box, 1260, 240, 375, 300, "0", "", "Seconds", 16},
    {"vscDuration(1)", "fraDuration", ControlKind::Spin, 1620, 240, 255, 300, "", "", "Seconds", 17},
    {"lblDuration(2)", "fraDuration", ControlKind::Label, 1920, 240, 375, 255, "sec"},
    {"lblColor(0)", "fraColor", ControlKind::Label, 180, 300, 1035, 255, "Background"},
    {"cmdColor(0)", "fraColor", ControlKind::Colour, 1200, 240, 315, 300, "", "", "Background", 12},
    {"lblColor(1)", "fraColor", ControlKind::Label, 1680, 300, 1035, 255, "Foreground"},
    {"cmdColor(1)", "fraColor", ControlKind::Colour, 2700, 240, 315, 300, "", "", "Foreground", 13},
    {"txtSound", "fraSound", ControlKind::Box, 180, 240, 4275, 300, "Text1", "", "Sound File", 10},
    {"cmdSound", "fraSound", ControlKind::Button, 4440, 240, 315, 300, "...", "Browse sound file", "Browse sound file",
     9},
    {"cmdTest", "fraSound", ControlKind::Button, 4920, 240, 555, 300, "Test", "", "", 11},
    {"cboFont", "fraFont", ControlKind::List, 300, 240, 3195, 315, "", "", "Font", 3},
    {"chkBold", "fraFont", ControlKind::Check, 780, 660, 735, 255, "Bold", "", "", 4},
    {"chkItalic", "fraFont", ControlKind::Check, 1800, 660, 735, 255, "Italic", "", "", 5},
    {"lblSample", "fraSample", ControlKind::Sample, 60, 360, 1935, 435, "12:34"},
};
// clang-format on

// Creates every control of the table under `dialog`, placed, captioned and in keyboard order. The caller
// finds them by name.
void BuildOptionsControls(QWidget &dialog);
