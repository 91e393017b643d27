#include "mainwindow/messagebox.h"

#include "clock/clocksession.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

MessageBox::MessageBox(const QString &current, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("MessageBox"));
    setWindowTitle(QStringLiteral("Message to Speaker"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("Shown under the digits until it is cleared:"), this);
    edit_ = new QLineEdit(current, this);
    edit_->setObjectName(QStringLiteral("txtMessage"));
    edit_->setAccessibleName(QStringLiteral("Message to Speaker"));
    edit_->setMaxLength(static_cast<int>(ClockSession::MaxMessageLength));
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 50);
    label->setBuddy(edit_);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    const auto fillOk = [this, buttons] {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!edit_->text().trimmed().isEmpty());
    };
    connect(edit_, &QLineEdit::textChanged, this, fillOk);
    fillOk();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
}

QString MessageBox::text() const
{
    return edit_->text();
}
