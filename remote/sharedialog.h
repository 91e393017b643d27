#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class RemoteSharing;

// "Share on Network...": the switch, the port, the address of this machine to link to (its announced name,
// "laptop.local", while announced, else the first address other than loopback, at first), and for it the
// viewer and the control link side by side, each as selectable text with its QR code and a Copy button;
// below, OSC's switch, port and allowed senders. Every change takes effect and is saved at once; "New Links"
// withdraws the old links.
class ShareDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareDialog)

public:
    explicit ShareDialog(RemoteSharing &sharing, QWidget *parent = nullptr);

    // The links of every address that can be chosen, viewer and control for each address in turn.
    QStringList links() const { return links_; }

private:
    void apply();
    void applyOsc();
    void renew();
    void showState(const std::optional<QString> &problem);
    void showAddresses();
    void showLinks();
    void showOsc(const std::optional<QString> &problem);
    void addLink(const QString &title, const QString &link, const QString &name);

    RemoteSharing &sharing_;
    QCheckBox *switch_;
    QSpinBox *port_;
    QLabel *status_;
    QLabel *announced_;
    QPushButton *renew_;
    QComboBox *address_;
    QWidget *linkArea_;
    QHBoxLayout *linkLayout_;
    QStringList links_;
    // Whether the person picked an address; until then the first is shown, the name once it is announced.
    bool addressPicked_ = false;
    QCheckBox *oscSwitch_;
    QSpinBox *oscPort_;
    QLineEdit *oscAllow_;
    QLabel *oscStatus_;
    QLineEdit *oscToken_;
};
