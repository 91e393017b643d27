// Which desktop connection the program asks Qt for, from what the environment offers.

#include "platform/qtplatform.h"

#include <QTest>

class TestQtPlatform final : public QObject
{
    Q_OBJECT

private slots:
    void chooseQtPlatform_prefersX11OnlyWhenTheUserDidNotChoose_data()
    {
        QTest::addColumn<QByteArray>("qtPlatform");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("x11");
        QTest::addColumn<QByteArray>("chosen"); // empty: Qt's own choice
        QTest::newRow("Wayland session with XWayland")
            << QByteArray() << QByteArray("wayland-0") << QByteArray(":0") << QByteArray("xcb;wayland");
        QTest::newRow("Wayland only") << QByteArray() << QByteArray("wayland-0") << QByteArray() << QByteArray();
        QTest::newRow("X11 only") << QByteArray() << QByteArray() << QByteArray(":0") << QByteArray();
        QTest::newRow("no display") << QByteArray() << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("user chose Wayland")
            << QByteArray("wayland") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray();
        QTest::newRow("user chose offscreen")
            << QByteArray("offscreen") << QByteArray("wayland-0") << QByteArray(":0") << QByteArray();
    }

    void chooseQtPlatform_prefersX11OnlyWhenTheUserDidNotChoose()
    {
        QFETCH(QByteArray, qtPlatform);
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, x11);
        QFETCH(QByteArray, chosen);
        QCOMPARE(chooseQtPlatform({qtPlatform, wayland, x11}).value_or(QByteArray()), chosen);
    }
};

QTEST_GUILESS_MAIN(TestQtPlatform)
#include "tst_qtplatform.moc"
