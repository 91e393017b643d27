#include "platform/choosers.h"

#include "platform/platform.h"

std::optional<QString> chooseFileOrSay(FileChooser &chooser, MessageBoxes &messages, QWidget *parent,
                                       const FileOpenRequest &request, bool save)
{
    try {
        return save ? chooser.chooseSaveFile(parent, request) : chooser.chooseOpenFile(parent, request);
    } catch (const ChooserError &error) {
        messages.critical(parent, applicationTitle(), QString::fromUtf8(error.what()));
        return std::nullopt;
    }
}
