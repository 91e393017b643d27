#include "platform/qtchoosers.h"

#include "platform/colours.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

void requireWidgets(const QString &what)
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()) == nullptr) {
        throw ChooserError(ChooserNoWindowSystem,
                           QStringLiteral("The %1 cannot be shown without a running window system.").arg(what));
    }
}

// The filter entry as the dialog shows it. QFileDialog reads the patterns from the parentheses, so a
// description that already names its pattern is shown exactly as given.
QString nameFilter(const FileOpenRequest &request)
{
    const QString inParentheses = QLatin1Char('(') + request.filterPattern + QLatin1Char(')');
    if (request.filterPattern.isEmpty() || request.filterDescription.contains(inParentheses)) {
        return request.filterDescription;
    }
    return request.filterDescription + QLatin1Char(' ') + inParentheses;
}

} // namespace

std::optional<std::int32_t> QtColorChooser::chooseColor(QWidget *parent, const QString &title, std::int32_t initial)
{
    requireWidgets(QStringLiteral("colour chooser"));
    QColorDialog dialog(toQColor(initial), parent);
    dialog.setWindowTitle(title);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QColor chosen = dialog.selectedColor();
    if (!chosen.isValid()) {
        return std::nullopt;
    }
    return fromQColor(chosen);
}

std::optional<QString> QtFileChooser::chooseOpenFile(QWidget *parent, const FileOpenRequest &request)
{
    requireWidgets(QStringLiteral("file-open dialog"));
    return chooseFile(parent, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtFileChooser::chooseSaveFile(QWidget *parent, const FileSaveRequest &request)
{
    requireWidgets(QStringLiteral("file-save dialog"));
    return chooseFile(parent, request, QFileDialog::AcceptSave);
}

std::optional<QString> QtFileChooser::chooseFile(QWidget *parent, const FileOpenRequest &request, int mode)
{
    QFileDialog dialog(parent, request.title, request.initialFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const auto accept = static_cast<QFileDialog::AcceptMode>(mode);
    dialog.setAcceptMode(accept);
    dialog.setFileMode(accept == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // Name filters match without letter case unless the filter says otherwise; make sure it does not.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilter(nameFilter(request));
    QString suffix = request.defaultExtension;
    if (suffix.startsWith(QLatin1Char('.'))) {
        suffix.remove(0, 1);
    }
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(files.first());
}

void QtMessageBoxes::information(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void QtMessageBoxes::critical(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}
