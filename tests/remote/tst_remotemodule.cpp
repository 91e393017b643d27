#include "remote/remotesharing.h"
#include "remote/sharedialog.h"
#include "settings/persistence.h"
#include "support/fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool mapped(const char *name)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(name);
}

// "/kestrim/toggle" to loopback, by the C library: Qt Network stays unmapped until the module maps it.
void sendToggle(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    ::sendto(fd, "/kestrim/toggle\0,\0\0\0", 20, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    ::close(fd);
}

} // namespace

// The whole program's library, with sharing off, maps no network library; switching sharing on loads them.
class TestRemoteModule final : public QObject
{
    Q_OBJECT

private slots:
    void networkIsLoadedWhenSharingIsFirstOn()
    {
        for (const char *library : {"libQt6Network", "libQt6WebSockets", "libqrencode", "liblo", "kestrim-remote"}) {
            QVERIFY2(!mapped(library), library);
        }
        MapStore store;
        store.set(QStringLiteral("Remote"), QStringLiteral("Port"), QStringLiteral("1"));
        RemoteSharing refused(store, {}, QStringLiteral(KESTRIM_REMOTE_MODULE), QString());
        QVERIFY_THROWS_EXCEPTION(StoredValueError, refused.load());

        store.values.clear();
        RemoteSharing missing(store, {}, QStringLiteral("/nonexistent/kestrim-remote.so"), QString());
        missing.load();
        QVERIFY(missing.apply(true, 47'000).has_value());
        QVERIFY(!missing.listening());

        RemoteSharing sharing(store, {}, QStringLiteral(KESTRIM_REMOTE_MODULE), QString());
        sharing.load();
        QCOMPARE(sharing.settings().enabled, true); // the failed start above was saved switched on
        QVERIFY(!sharing.server());
        const std::optional<QString> problem = sharing.apply(true, 47'001);
        QVERIFY2(!problem, qPrintable(problem.value_or(QString())));
        QVERIFY(sharing.listening());
        QVERIFY(mapped("kestrim-remote") && mapped("libQt6Network") && mapped("libqrencode") && mapped("liblo"));
        QVERIFY(!sharing.server()->qrCode(QStringLiteral("http://127.0.0.1:47001/?token=x")).isNull());
        {
            ShareDialog dialog(sharing);
            const QStringList links = dialog.links();
            QVERIFY(links.size() >= 2 && links.size() % 2 == 0);
            QVERIFY(links.contains(QStringLiteral("http://127.0.0.1:47001/?token=") + sharing.settings().viewerToken));
            QVERIFY(links.contains(QStringLiteral("http://127.0.0.1:47001/?token=") + sharing.settings().controlToken));
            QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("shareStatus"))->text(), "Shared on port 47001.");
            // Both codes of the chosen address in sight on a 1280x1024 screen, nothing wider than the dialog,
            // and loopback, which no phone reaches, offered last.
            auto *address = dialog.findChild<QComboBox *>(QStringLiteral("shareAddress"));
            QCOMPARE(address->count(), links.size() / 2);
            QVERIFY(address->count() == 1 || address->itemText(0) != QStringLiteral("127.0.0.1"));
            address->setCurrentIndex(address->findText(QStringLiteral("127.0.0.1")));
            QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("shareControlLink"))->text(),
                     links.at(2 * address->currentIndex() + 1));
            QVERIFY(links.at(2 * address->currentIndex() + 1).startsWith(QStringLiteral("http://127.0.0.1:")));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QVERIFY(dialog.width() <= 1280 && dialog.height() <= 1024 - 80);
            for (const char *code : {"shareViewerCode", "shareControlCode"}) {
                const QLabel *label = dialog.findChild<QLabel *>(QLatin1String(code));
                QVERIFY(label->isVisible() && !label->pixmap().isNull());
                QVERIFY(dialog.rect().contains(QRect(label->mapTo(&dialog, QPoint()), label->size())));
            }
            for (const QWidget *child : dialog.findChildren<QWidget *>()) {
                if (child->isVisible())
                    QVERIFY2(QRect(child->mapTo(&dialog, QPoint()), child->size()).right() < dialog.width(),
                             qPrintable(child->objectName()));
            }
        }
        const QString oldViewer = sharing.settings().viewerToken;
        QVERIFY(isToken(oldViewer));
        QVERIFY(!sharing.renewTokens());
        QVERIFY(sharing.settings().viewerToken != oldViewer);
        QCOMPARE(*store.get(QStringLiteral("Remote"), QStringLiteral("ViewerToken")), sharing.settings().viewerToken);

        // The port is taken by the first: said, not fatal.
        RemoteSharing second(store, {}, QStringLiteral(KESTRIM_REMOTE_MODULE), QString());
        second.load();
        const std::optional<QString> taken = second.apply(true, 47'001);
        QVERIFY(taken && taken->contains(QStringLiteral("47001")));
    }

    // OSC without sharing: the module's server is made for it alone, and the dialog drives it, refusing what
    // the next start would refuse.
    void osc_isOnWithoutSharingAndAppliedFromTheDialog()
    {
        MapStore store;
        QList<ClockCommand> performed;
        const auto perform = [&performed](ClockCommand command, const QString &) {
            performed.append(command);
            return ActionOutcome{};
        };
        RemoteSharing sharing(store, perform, QStringLiteral(KESTRIM_REMOTE_MODULE), QString());
        sharing.load();
        sharing.startIfEnabled();
        QVERIFY(!sharing.server() && store.values.isEmpty());
        ShareDialog dialog(sharing);
        auto *port = dialog.findChild<QSpinBox *>(QStringLiteral("oscPort"));
        auto *allow = dialog.findChild<QLineEdit *>(QStringLiteral("oscAllow"));
        auto *status = dialog.findChild<QLabel *>(QStringLiteral("oscStatus"));
        port->setValue(47'011);
        dialog.findChild<QCheckBox *>(QStringLiteral("oscSwitch"))->setChecked(true);
        QVERIFY(sharing.oscListening() && !sharing.listening() && sharing.server());
        QCOMPARE(status->text(), "Taking OSC on UDP port 47011 from this machine only.");
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("oscToken"))->text(), sharing.settings().controlToken);
        sendToggle(47'011);
        QTRY_COMPARE(performed, QList<ClockCommand>{ClockCommand::Toggle});

        allow->setText(QStringLiteral("10.0.0.1, desk"));
        QMetaObject::invokeMethod(allow, &QLineEdit::editingFinished);
        QVERIFY(status->text().startsWith(QStringLiteral("OSC unchanged: \"desk\"")));
        port->setValue(sharing.settings().port);
        QMetaObject::invokeMethod(port, &QSpinBox::editingFinished);
        QCOMPARE(port->value(), 47'011);
        QCOMPARE(ReadRemoteSettings(store), sharing.settings());
        QCOMPARE(sharing.settings().oscAllow, QString());
    }
};

QTEST_MAIN(TestRemoteModule)
#include "tst_remotemodule.moc"
