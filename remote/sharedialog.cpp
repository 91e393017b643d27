#include "remote/sharedialog.h"

#include "remote/remotesharing.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Big enough for a phone's camera at arm's length, small enough for two codes side by side.
constexpr int QrPixels = 180;

} // namespace

ShareDialog::ShareDialog(RemoteSharing &sharing, QWidget *parent)
    : QDialog(parent)
    , sharing_(sharing)
    , switch_(new QCheckBox(tr("Show the clock on other devices"), this))
    , port_(new QSpinBox(this))
    , status_(new QLabel(this))
    , renew_(new QPushButton(tr("New Links"), this))
    , linkArea_(new QWidget(this)) // the scroll area below takes it over
    , linkLayout_(new QVBoxLayout(linkArea_))
{
    setWindowTitle(tr("Share on Network"));
    setObjectName(QStringLiteral("shareDialog"));
    switch_->setObjectName(QStringLiteral("shareSwitch"));
    port_->setObjectName(QStringLiteral("sharePort"));
    status_->setObjectName(QStringLiteral("shareStatus"));
    renew_->setObjectName(QStringLiteral("shareNewLinks"));
    port_->setRange(RemoteSettings::LowestPort, RemoteSettings::HighestPort);
    port_->setValue(sharing.settings().port);
    switch_->setChecked(sharing.settings().enabled);
    status_->setWordWrap(true);

    auto *note = new QLabel(tr("Anyone who has a link sees the clock (viewer link) or drives it (control link). "
                               "The links travel unencrypted on this network: give them only to people you "
                               "trust, and use New Links to withdraw them."),
                            this);
    note->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(switch_);
    form->addRow(tr("Port:"), port_);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setWidget(linkArea_);
    scroll->setMinimumSize(2 * QrPixels + 80, QrPixels + 120);

    // Return in the port box must never withdraw the links that are handed out: New Links only by a click.
    renew_->setAutoDefault(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(renew_, QDialogButtonBox::ActionRole);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(note);
    layout->addWidget(scroll, 1);
    layout->addWidget(buttons);

    connect(switch_, &QCheckBox::toggled, this, &ShareDialog::apply);
    connect(port_, &QSpinBox::editingFinished, this, [this] {
        if (port_->value() != sharing_.settings().port) {
            apply();
        }
    });
    connect(renew_, &QPushButton::clicked, this, &ShareDialog::renew);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    showState(sharing.settings().enabled && !sharing.listening() ? std::optional(sharing.problem()) : std::nullopt);
}

void ShareDialog::apply()
{
    showState(sharing_.apply(switch_->isChecked(), port_->value()));
}

void ShareDialog::renew()
{
    showState(sharing_.renewTokens());
}

void ShareDialog::showState(const std::optional<QString> &problem)
{
    const RemoteSettings &settings = sharing_.settings();
    if (problem) {
        status_->setText(tr("Not shared: %1.").arg(*problem));
    } else if (sharing_.listening()) {
        status_->setText(tr("Shared on port %1.").arg(settings.port));
    } else {
        status_->setText(tr("Not shared."));
    }
    renew_->setEnabled(sharing_.listening());

    while (QLayoutItem *item = linkLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    links_.clear();
    if (!sharing_.listening()) {
        return;
    }
    for (const QString &host : sharing_.server()->linkHosts()) {
        const QString base = QStringLiteral("http://%1:%2/").arg(host).arg(settings.port);
        addLink(tr("Viewer link (%1)").arg(host), base + QStringLiteral("?token=") + settings.viewerToken);
        addLink(tr("Control link (%1)").arg(host), base + QStringLiteral("?token=") + settings.controlToken);
    }
    linkLayout_->addStretch();
}

void ShareDialog::addLink(const QString &title, const QString &link)
{
    links_.append(link);
    auto *row = new QWidget;
    auto *text = new QLabel(QStringLiteral("<b>%1</b><br>%2").arg(title.toHtmlEscaped(), link.toHtmlEscaped()), row);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setWordWrap(true);
    auto *code = new QLabel(row);
    const QImage image = sharing_.server()->qrCode(link);
    if (!image.isNull()) {
        // Whole pixels a module, so that every module is the same size for the camera.
        const int side = image.width() * std::max(1, QrPixels / image.width());
        code->setPixmap(QPixmap::fromImage(image.scaled(side, side, Qt::KeepAspectRatio, Qt::FastTransformation)));
    }
    auto *copy = new QPushButton(tr("Copy"), row);
    connect(copy, &QPushButton::clicked, this, [link] { QGuiApplication::clipboard()->setText(link); });
    auto *side = new QVBoxLayout;
    side->addWidget(text);
    side->addWidget(copy, 0, Qt::AlignLeft);
    side->addStretch();
    auto *layout = new QHBoxLayout(row);
    layout->addWidget(code);
    layout->addLayout(side, 1);
    linkLayout_->addWidget(row);
}
