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

// A WebSocket viewer's handshake and first frame, through the system's sockets: the test maps no network
// library of its own.
QByteArray firstView(std::uint16_t port, const QString &token)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        const QByteArray request = "GET /api/v1/ws?token=" + token.toLatin1() +
                                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        ::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
        char buffer[4096];
        ssize_t n = 0;
        while (!answer.contains("\"state\"") && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, n);
        }
    }
    ::close(fd);
    return answer;
}

// A server whose announcement the test sets; one address and loopback.
class FakeServer final : public RemoteServer
{
public:
    std::optional<QString> listen(const Config &) override { return std::nullopt; }
    void close() override {}
    void publish(const ClockSnapshot &) override {}
    QStringList linkHosts() const override { return {QStringLiteral("192.168.1.20"), QStringLiteral("127.0.0.1")}; }
    QImage qrCode(const QString &) const override
    {
        QImage white(29, 29, QImage::Format_Mono);
        white.fill(0);
        return white;
    }
    void announce(const AnnouncedService &) override {}
    void withdraw(const QString &) override {}
    Announcement announcement() const override { return now; }
    void setAnnouncementListener(std::function<void()> listener) override { changed = std::move(listener); }
    std::optional<QString> listenOsc(const OscConfig &) override { return std::nullopt; }
    void closeOsc() override {}

    Announcement now;
    std::function<void()> changed;
};

// "/kestrim/toggle" to loopback, by the C library: Qt Network stays unmapped until the module maps it.
void sendToggle(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    ::sendto(fd, "/kestrim/toggle\0,\0\0\0", 20, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    ::close(fd);
}

} // namespace

Q_DECLARE_METATYPE(Announcement::State)

// The whole program's library, with sharing off, maps no network library; switching sharing on loads them.
class TestRemoteModule final : public QObject
{
    Q_OBJECT

private slots:
    void networkIsLoadedWhenSharingIsFirstOn()
    {
        // A bus that is not there: no daemon to announce by, and the machine's own bus left alone.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket");
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
        // A viewer served over plain HTTP brings in no TLS library.
        const QByteArray viewed = firstView(47'001, sharing.settings().viewerToken);
        QVERIFY2(viewed.startsWith("HTTP/1.1 101 ") && viewed.contains("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="), viewed);
        for (const char *library : {"libssl", "libcrypto", "/tls/", "libQt6WebSockets"}) {
            QVERIFY2(!mapped(library), library);
        }
        QVERIFY(!sharing.server()->qrCode(QStringLiteral("http://127.0.0.1:47001/?token=x")).isNull());
        {
            ShareDialog dialog(sharing);
            const QStringList links = dialog.links();
            QVERIFY(links.size() >= 2 && links.size() % 2 == 0);
            QVERIFY(links.contains(QStringLiteral("http://127.0.0.1:47001/?token=") + sharing.settings().viewerToken));
            QVERIFY(links.contains(QStringLiteral("http://127.0.0.1:47001/?token=") + sharing.settings().controlToken));
            QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("shareStatus"))->text(), "Shared on port 47001.");
            QTRY_COMPARE(dialog.findChild<QLabel *>(QStringLiteral("shareAnnounced"))->text(),
                         "Not announced on the network by name: no avahi-daemon is running.");
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

    // The announced name comes first among the addresses, and is chosen until the person picks another.
    void dialog_offersTheAnnouncedNameFirst_data()
    {
        QTest::addColumn<Announcement::State>("state");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("picked");
        QTest::addColumn<QStringList>("hosts");
        QTest::addColumn<QString>("said");
        const QStringList addresses{QStringLiteral("192.168.1.20"), QStringLiteral("127.0.0.1")};
        const QStringList named = QStringList{QStringLiteral("stage-pc.local")} + addresses;
        using S = Announcement::State;
        QTest::newRow("announced") << S::Announced << "Kestrim on stage-pc" << false << named
                                   << "Announced as \"Kestrim on stage-pc\".";
        QTest::newRow("renamed") << S::Announced << "Kestrim on stage-pc #2" << false << named
                                 << "Announced as \"Kestrim on stage-pc #2\": \"Kestrim on stage-pc\" is taken on this "
                                    "network.";
        QTest::newRow("address picked") << S::Announced << "Kestrim on stage-pc" << true << named
                                        << "Announced as \"Kestrim on stage-pc\".";
        QTest::newRow("no daemon") << S::Unavailable << QString() << false << addresses
                                   << "Not announced on the network by name: no avahi-daemon is running.";
    }
    void dialog_offersTheAnnouncedNameFirst()
    {
        QFETCH(Announcement::State, state);
        QFETCH(QString, name);
        QFETCH(bool, picked);
        QFETCH(QStringList, hosts);
        QFETCH(QString, said);
        MapStore store;
        FakeServer *server = nullptr;
        RemoteSharing sharing(
            store, {},
            [&server](PerformAction, QString &) {
                auto made = std::make_unique<FakeServer>();
                server = made.get();
                return std::unique_ptr<RemoteServer>(std::move(made));
            },
            QString());
        sharing.load();
        QVERIFY(!sharing.apply(true, 47'002));
        ShareDialog dialog(sharing);
        auto *address = dialog.findChild<QComboBox *>(QStringLiteral("shareAddress"));
        const auto *announced = dialog.findChild<QLabel *>(QStringLiteral("shareAnnounced"));
        QVERIFY(address->currentText() == "192.168.1.20" && announced->text().isEmpty());
        if (picked) {
            address->setCurrentIndex(1);
            emit address->activated(1);
        }

        server->now = {state, name, QStringLiteral("Kestrim on stage-pc"),
                       state == Announcement::State::Announced ? QStringLiteral("stage-pc.local") : QString(),
                       QStringLiteral("no avahi-daemon is running")};
        server->changed();
        QStringList shown;
        for (int i = 0; i < address->count(); ++i) {
            shown << address->itemText(i);
        }
        QCOMPARE(shown, hosts);
        QCOMPARE(announced->text(), said);
        QCOMPARE(address->currentText(), picked ? "127.0.0.1" : hosts.constFirst());
        const QString link = "http://" + address->currentText() + ":47002/?token=" + sharing.settings().viewerToken;
        QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("shareViewerLink"))->text(), link);
        QCOMPARE(dialog.links().size(), 2 * hosts.size());
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
