#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class RemoteSharing;

// "Share on Network...": the switch, the port, and for each address of this machine the viewer and the
// control link, each as selectable text with its QR code and a Copy button. Every change takes effect and
// is saved at once; "New Links" withdraws the old links.
class ShareDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareDialog)

public:
    explicit ShareDialog(RemoteSharing &sharing, QWidget *parent = nullptr);

    // The links shown now, viewer and control for each address in turn.
    QStringList links() const { return links_; }

private:
    void apply();
    void renew();
    void showState(const std::optional<QString> &problem);
    void addLink(const QString &title, const QString &link);

    RemoteSharing &sharing_;
    QCheckBox *switch_;
    QSpinBox *port_;
    QLabel *status_;
    QPushButton *renew_;
    QWidget *linkArea_;
    QVBoxLayout *linkLayout_;
    QStringList links_;
};
