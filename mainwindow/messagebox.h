#pragma once

#include <QDialog>

class QLineEdit;

// The one-line box in which the chair writes a message to the speaker. Modeless towards the clock: opened
// with open(), it closes and deletes itself; `accepted` says the text is to be shown.
class MessageBox final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MessageBox)

public:
    MessageBox(const QString &current, QWidget *parent);
    QString text() const;

private:
    QLineEdit *edit_ = nullptr;
};
