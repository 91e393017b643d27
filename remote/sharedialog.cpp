#include "remote/sharedialog.h"

#include "remote/remotesharing.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
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
    , announced_(new QLabel(this))
    , renew_(new QPushButton(tr("New Links"), this))
    , address_(new QComboBox(this))
    , linkArea_(new QWidget(this))
    , linkLayout_(new QHBoxLayout(linkArea_))
{
    setWindowTitle(tr("Share on Network"));
    setObjectName(QStringLiteral("shareDialog"));
    switch_->setObjectName(QStringLiteral("shareSwitch"));
    port_->setObjectName(QStringLiteral("sharePort"));
    status_->setObjectName(QStringLiteral("shareStatus"));
    announced_->setObjectName(QStringLiteral("shareAnnounced"));
    renew_->setObjectName(QStringLiteral("shareNewLinks"));
    address_->setObjectName(QStringLiteral("shareAddress"));
    linkArea_->setObjectName(QStringLiteral("shareLinks"));
    port_->setRange(RemoteSettings::LowestPort, RemoteSettings::HighestPort);
    port_->setValue(sharing.settings().port);
    switch_->setChecked(sharing.settings().enabled);
    status_->setWordWrap(true);
    announced_->setWordWrap(true);

    auto *note = new QLabel(tr("Anyone who has a link sees the clock (viewer link) or drives it (control link). "
                               "The links travel unencrypted on this network: give them only to people you "
                               "trust, and use New Links to withdraw them."),
                            this);
    note->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(switch_);
    form->addRow(tr("Port:"), port_);
    // One address at a time, so that both codes are in sight at once, without scrolling, on any screen.
    form->addRow(tr("Address:"), address_);

    // Return in the port box must never withdraw the links that are handed out: New Links only by a click.
    renew_->setAutoDefault(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(renew_, QDialogButtonBox::ActionRole);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(status_);
    layout->addWidget(announced_);
    layout->addWidget(note);
    layout->addWidget(linkArea_, 1);
    layout->addWidget(buttons);
    // The links' text fields take what width there is; the codes set the dialog's.
    setMinimumWidth(2 * QrPixels + 120);

    connect(switch_, &QCheckBox::toggled, this, &ShareDialog::apply);
    connect(port_, &QSpinBox::editingFinished, this, [this] {
        if (port_->value() != sharing_.settings().port) {
            apply();
        }
    });
    connect(address_, &QComboBox::currentIndexChanged, this, &ShareDialog::showLinks);
    connect(address_, &QComboBox::activated, this, [this] { addressPicked_ = true; });
    connect(&sharing, &RemoteSharing::announcementChanged, this, &ShareDialog::showAddresses);
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
    showAddresses();
}

void ShareDialog::showAddresses()
{
    const RemoteSettings &settings = sharing_.settings();
    const Announcement announcement = sharing_.announcement();
    QStringList hosts;
    if (sharing_.listening()) {
        // The announced name first: a link with it survives the laptop's next address. Loopback comes last:
        // a phone reaches the laptop by one of its other addresses.
        if (announcement.state == Announcement::State::Announced && !announcement.hostName.isEmpty()) {
            hosts << announcement.hostName;
        }
        hosts << sharing_.server()->linkHosts();
    }
    switch (sharing_.listening() ? announcement.state : Announcement::State::Off) {
    case Announcement::State::Off:
        announced_->clear();
        break;
    case Announcement::State::Announcing:
        announced_->setText(tr("Announcing on the network by name..."));
        break;
    case Announcement::State::Announced:
        announced_->setText(announcement.name == announcement.firstName
                                ? tr("Announced as \"%1\".").arg(announcement.name)
                                : tr("Announced as \"%1\": \"%2\" is taken on this network.")
                                      .arg(announcement.name, announcement.firstName));
        break;
    case Announcement::State::Unavailable:
        announced_->setText(tr("Not announced on the network by name: %1.").arg(announcement.problem));
        break;
    }
    announced_->setVisible(!announced_->text().isEmpty());

    links_.clear();
    const QString chosen = address_->currentText();
    const QSignalBlocker quiet(address_);
    address_->clear();
    for (const QString &host : hosts) {
        const QString base = QStringLiteral("http://%1:%2/").arg(host).arg(settings.port);
        links_ << base + QStringLiteral("?token=") + settings.viewerToken
               << base + QStringLiteral("?token=") + settings.controlToken;
        address_->addItem(host);
    }
    address_->setCurrentIndex(addressPicked_ ? std::max(0, address_->findText(chosen)) : 0);
    address_->setEnabled(address_->count() > 1);
    showLinks();
}

void ShareDialog::showLinks()
{
    while (QLayoutItem *item = linkLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const qsizetype at = 2 * qsizetype(std::max(0, address_->currentIndex()));
    if (at + 1 >= links_.size()) {
        return;
    }
    addLink(tr("Viewer link"), links_.at(at), QStringLiteral("Viewer"));
    addLink(tr("Control link"), links_.at(at + 1), QStringLiteral("Control"));
}

void ShareDialog::addLink(const QString &title, const QString &link, const QString &name)
{
    auto *column = new QWidget(linkArea_);
    column->setObjectName(QStringLiteral("share") + name);
    auto *heading = new QLabel(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()), column);
    auto *code = new QLabel(column);
    code->setObjectName(QStringLiteral("share") + name + QStringLiteral("Code"));
    code->setAccessibleName(tr("QR code of the %1").arg(title.toLower()));
    const QImage image = sharing_.server()->qrCode(link);
    if (!image.isNull()) {
        // Whole pixels a module, so that every module is the same size for the camera.
        const int side = image.width() * std::max(1, QrPixels / image.width());
        code->setPixmap(QPixmap::fromImage(image.scaled(side, side, Qt::KeepAspectRatio, Qt::FastTransformation)));
    }
    // A link has no blanks to wrap at: a read-only field shows it whole within the column and selects it whole.
    auto *text = new QLineEdit(link, column);
    text->setObjectName(QStringLiteral("share") + name + QStringLiteral("Link"));
    text->setAccessibleName(title);
    text->setReadOnly(true);
    text->setCursorPosition(0);
    auto *copy = new QPushButton(tr("Copy"), column);
    copy->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this, [link] { QGuiApplication::clipboard()->setText(link); });
    auto *layout = new QVBoxLayout(column);
    layout->addWidget(heading);
    layout->addWidget(code, 0, Qt::AlignHCenter);
    layout->addWidget(text);
    layout->addWidget(copy, 0, Qt::AlignLeft);
    layout->addStretch();
    linkLayout_->addWidget(column, 1);
}
