#pragma once

#include "platform/choosers.h"

#include <cstdint>

// The real choosers and message boxes, on Qt's dialogs. Each shows a modal dialog and returns when it is
// closed.

// The number of the ChooserError raised when no widget application is running, so no dialog can be shown.
inline constexpr int ChooserNoWindowSystem = 1;

class QtColorChooser final : public ColorChooser
{
public:
    std::optional<std::int32_t> chooseColor(QWidget *parent, const QString &title, std::int32_t initial) override;
};

// Always Qt's own file dialog: desktop-native ones match the pattern with letter case on this file system,
// and "*.WAV" must also find "bell.wav".
class QtFileChooser final : public FileChooser
{
public:
    std::optional<QString> chooseOpenFile(QWidget *parent, const FileOpenRequest &request) override;
    std::optional<QString> chooseSaveFile(QWidget *parent, const FileSaveRequest &request) override;

private:
    // `mode` is a QFileDialog::AcceptMode, kept out of this header.
    static std::optional<QString> chooseFile(QWidget *parent, const FileOpenRequest &request, int mode);
};

class QtMessageBoxes final : public MessageBoxes
{
public:
    void information(QWidget *parent, const QString &title, const QString &text) override;
    void critical(QWidget *parent, const QString &title, const QString &text) override;
};
