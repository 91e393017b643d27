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
    , oscSwitch_(new QCheckBox(tr("Take OSC commands from the stage desk"), this))
    , oscPort_(new QSpinBox(this))
    , oscAllow_(new QLineEdit(this))
    , oscStatus_(new QLabel(this))
    , oscToken_(new QLineEdit(this))
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
    oscSwitch_->setObjectName(QStringLiteral("oscSwitch"));
    oscPort_->setObjectName(QStringLiteral("oscPort"));
    oscAllow_->setObjectName(QStringLiteral("oscAllow"));
    oscStatus_->setObjectName(QStringLiteral("oscStatus"));
    oscToken_->setObjectName(QStringLiteral("oscToken"));
    oscPort_->setRange(RemoteSettings::LowestPort, RemoteSettings::HighestPort);
    oscPort_->setValue(sharing.settings().oscPort);
    oscSwitch_->setChecked(sharing.settings().oscEnabled);
    oscAllow_->setText(sharing.settings().oscAllow);
    oscAllow_->setPlaceholderText(tr("this machine only"));
    oscAllow_->setToolTip(tr("Addresses separated by commas, such as 192.168.1.30, 10.0.0.0/8, ::1"));
    oscStatus_->setWordWrap(true);
    oscToken_->setReadOnly(true);
    oscToken_->setAccessibleName(tr("Token for OSC from other addresses"));

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

    // OSC: commands only, and without a secret of its own, so it names who may send them.
    auto *osc = new QFormLayout;
    osc->addRow(oscSwitch_);
    osc->addRow(tr("OSC port:"), oscPort_);
    osc->addRow(tr("Allowed senders:"), oscAllow_);
    osc->addRow(tr("Token for others:"), oscToken_);
    osc->addRow(oscStatus_);

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
    layout->addLayout(osc);
    layout->addWidget(buttons);
    // The links' text fields take what width there is; the codes set the dialog's.
    setMinimumWidth(2 * QrPixels + 120);

    connect(switch_, &QCheckBox::toggled, this, &ShareDialog::apply);
    connect(port_, &QSpinBox::editingFinished, this, [this] {
        if (port_->value() != sharing_.settings().port) {
            apply();
        }
    });
    connect(oscSwitch_, &QCheckBox::toggled, this, &ShareDialog::applyOsc);
    connect(oscPort_, &QSpinBox::editingFinished, this, [this] {
        if (oscPort_->value() != sharing_.settings().oscPort) {
            applyOsc();
        }
    });
    connect(oscAllow_, &QLineEdit::editingFinished, this, [this] {
        if (oscAllow_->text() != sharing_.settings().oscAllow) {
            applyOsc();
        }
    });
    connect(address_, &QComboBox::currentIndexChanged, this, &ShareDialog::showLinks);
    connect(address_, &QComboBox::activated, this, [this] { addressPicked_ = true; });
    connect(&sharing, &RemoteSharing::announcementChanged, this, &ShareDialog::showAddresses);
    connect(renew_, &QPushButton::clicked, this, &ShareDialog::renew);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    showState(sharing.settings().enabled && !sharing.listening() ? std::optional(sharing.problem()) : std::nullopt);
    showOsc(sharing.settings().oscEnabled && !sharing.oscListening() ? std::optional(sharing.oscProblem())
                                                                     : std::nullopt);
}

void ShareDialog::apply()
{
    const std::optional<QString> problem = sharing_.apply(switch_->isChecked(), port_->value());
    const QSignalBlocker quietSwitch(switch_);
    const QSignalBlocker quietPort(port_);
    switch_->setChecked(sharing_.settings().enabled);
    port_->setValue(sharing_.settings().port);
    showState(problem);
    showOsc(sharing_.settings().oscEnabled && !sharing_.oscListening() ? std::optional(sharing_.oscProblem())
                                                                       : std::nullopt);
}

void ShareDialog::applyOsc()
{
    const std::optional<QString> problem =
        sharing_.applyOsc(oscSwitch_->isChecked(), oscPort_->value(), oscAllow_->text());
    showOsc(problem);
    // The links' tokens may be new.
    showState(sharing_.settings().enabled && !sharing_.listening() ? std::optional(sharing_.problem()) : std::nullopt);
}

void ShareDialog::renew()
{
    showState(sharing_.renewTokens());
    showOsc(sharing_.settings().oscEnabled && !sharing_.oscListening() ? std::optional(sharing_.oscProblem())
                                                                       : std::nullopt);
}

void ShareDialog::showOsc(const std::optional<QString> &problem)
{
    const RemoteSettings &settings = sharing_.settings();
    // What was refused is shown as it stands; the switch and the port say what is in force.
    const QSignalBlocker quietSwitch(oscSwitch_);
    const QSignalBlocker quietPort(oscPort_);
    oscSwitch_->setChecked(settings.oscEnabled);
    oscPort_->setValue(settings.oscPort);
    if (problem) {
        // A refused change leaves OSC as it was, on or off.
        oscStatus_->setText((sharing_.oscListening() ? tr("OSC unchanged: %1.") : tr("No OSC: %1.")).arg(*problem));
    } else if (sharing_.oscListening()) {
        oscStatus_->setText(
            settings.oscAllow.trimmed().isEmpty()
                ? tr("Taking OSC on UDP port %1 from this machine only.").arg(settings.oscPort)
                : tr("Taking OSC on UDP port %1 from %2.").arg(settings.oscPort).arg(settings.oscAllow));
    } else {
        oscStatus_->setText(tr("No OSC."));
    }
    // From any other sender, a command's first argument is the control link's token.
    oscToken_->setText(sharing_.oscListening() ? settings.controlToken : QString());
    oscToken_->setEnabled(sharing_.oscListening());
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
    renew_->setEnabled(sharing_.listening() || sharing_.oscListening());
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
