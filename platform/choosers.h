#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>

class QWidget;

// A chooser that could not be shown or failed while shown. Cancelling is not a failure: the choosers
// report it as an empty result.
class ChooserError : public std::runtime_error
{
public:
    ChooserError(int number, const QString &description)
        : std::runtime_error(description.toStdString())
        , number_(number)
        , description_(description)
    {}
    int number() const { return number_; }
    QString description() const { return description_; }

private:
    int number_;
    QString description_;
};

// The platform's colour chooser. Colours are 0x00BBGGRR.
class ColorChooser
{
public:
    virtual ~ColorChooser() = default;
    // Opens on `initial`; returns the chosen colour, or nothing when cancelled. Throws ChooserError.
    virtual std::optional<std::int32_t> chooseColor(QWidget *parent, const QString &title, std::int32_t initial) = 0;
};

struct FileOpenRequest
{
    QString initialFolder;     // native form
    QString defaultExtension;  // ".WAV"
    QString title;             // "Open a Sound File"
    QString filterDescription; // "Wave File (*.WAV)"
    QString filterPattern;     // "*.WAV", matched without regard to letter case
};

// A file to write: the same fields, the title "Save the Report".
using FileSaveRequest = FileOpenRequest;

// The platform's file-open and file-save dialogs.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // Returns the full path (native form) of the chosen file, or nothing when cancelled. Throws ChooserError.
    virtual std::optional<QString> chooseOpenFile(QWidget *parent, const FileOpenRequest &request) = 0;
    // The same for a file to write, which may not exist yet; the default extension is added to a name
    // without one. Replacing an existing file is confirmed in the dialog.
    virtual std::optional<QString> chooseSaveFile(QWidget *parent, const FileSaveRequest &request) = 0;
};

// Modal message boxes with one OK button.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    virtual void information(QWidget *parent, const QString &title, const QString &text) = 0;
    virtual void critical(QWidget *parent, const QString &title, const QString &text) = 0;
};

// The file `chooser` gives for opening (`save` false) or saving, or nothing when the user cancelled or the
// dialog could not be shown; the latter is said in a message box.
std::optional<QString> chooseFileOrSay(FileChooser &chooser, MessageBoxes &messages, QWidget *parent,
                                       const FileOpenRequest &request, bool save);
