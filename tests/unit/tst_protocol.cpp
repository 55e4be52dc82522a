// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorprotocol.h"

#include <QTest>

using BulkConfig = PelmorProtocol::BulkConfig;
Q_DECLARE_METATYPE(PelmorProtocol::BulkConfig)

namespace {

BulkConfig bulk(int speed, int hz, bool wheel, bool gesture)
{
    BulkConfig config;
    config.speedIndex = speed;
    config.pollHz = hz;
    config.remapWheel = wheel;
    config.remapGesture = gesture;
    return config;
}

template<typename Key, typename Value> QList<QPair<int, int>> rows(const QMap<Key, Value> &map)
{
    QList<QPair<int, int>> result;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        result.append({ int(it.key()), int(it.value()) });
    return result;
}

QByteArray report(const char *spacedHex)
{
    return QByteArray::fromHex(spacedHex);
}

const int ZeroFill[] = { 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 18, 26, 28, 29, 30 };

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT

private slots:
    void tablesIterateInKeyOrder()
    {
        using Rows = QList<QPair<int, int>>;
        QCOMPARE(rows(PelmorProtocol::speedByteMap()),
            (Rows { { 1, 0x0A }, { 2, 0x0F }, { 3, 0x14 }, { 4, 0x1C }, { 5, 0x23 } }));
        QCOMPARE(rows(PelmorProtocol::speedIndexFromByte()),
            (Rows { { 0x0A, 1 }, { 0x0F, 2 }, { 0x14, 3 }, { 0x1C, 4 }, { 0x23, 5 } }));
        QCOMPARE(rows(PelmorProtocol::pollByteMap()),
            (Rows { { 125, 0x08 }, { 250, 0x04 }, { 500, 0x02 }, { 1000, 0x01 } }));
        QCOMPARE(rows(PelmorProtocol::pollHzFromByte()),
            (Rows { { 0x01, 1000 }, { 0x02, 500 }, { 0x04, 250 }, { 0x08, 125 } }));
    }

    void unknownKeysAreAbsent()
    {
        for (unsigned char byte : { 0x00, 0x10, 0xFF }) {
            QVERIFY(!PelmorProtocol::speedIndexFromByte().contains(byte));
            QVERIFY(!PelmorProtocol::pollHzFromByte().contains(byte));
        }
        for (int hz : { 0, 100, 2000 })
            QVERIFY(!PelmorProtocol::pollByteMap().contains(hz));
        for (int level : { 0, 6, -1 })
            QVERIFY(!PelmorProtocol::speedByteMap().contains(level));
    }

    void tablesAreFreshOnEveryCall()
    {
        auto first = PelmorProtocol::speedByteMap();
        first.insert(9, 0x99);
        first[1] = 0x00;
        QCOMPARE(PelmorProtocol::speedByteMap().value(1), static_cast<unsigned char>(0x0A));
        QVERIFY(!PelmorProtocol::speedByteMap().contains(9));
        auto inverse = PelmorProtocol::pollHzFromByte();
        inverse.clear();
        QCOMPARE(PelmorProtocol::pollHzFromByte().size(), 4);
    }

    void bulkPacket_data()
    {
        QTest::addColumn<BulkConfig>("config");
        QTest::addColumn<QByteArray>("expected");
        // Bytes 6 to 16 are always zero; written out to keep each row whole.
        QTest::newRow("defaults") << BulkConfig()
                                  << report("10 00 1C 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B "
                                            "0C 0F 0E 0D 10 00 1E 00 00 00 01");
        QTest::newRow("level 3, 1000 Hz, both on")
            << bulk(3, 1000, true, true)
            << report("10 00 14 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E "
                      "00 00 00 01");
        QTest::newRow("level 5, 125 Hz, both off")
            << bulk(5, 125, false, false)
            << report("10 00 23 00 08 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0C 0E 0D 2F 00 1E "
                      "00 00 00 01");
        QTest::newRow("unknown level 9 falls back to level 3")
            << bulk(9, 1000, true, true)
            << report("10 00 14 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E "
                      "00 00 00 01");
        QTest::newRow("level -1 and 300 Hz fall back")
            << bulk(-1, 300, true, true)
            << report("10 00 14 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E "
                      "00 00 00 01");
        QTest::newRow("level 1, 2000 Hz falls back to 1000")
            << bulk(1, 2000, true, true)
            << report("10 00 0A 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E "
                      "00 00 00 01");
        QTest::newRow("level 2, 250 Hz, wheel only")
            << bulk(2, 250, true, false)
            << report("10 00 0F 00 04 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 2F 00 1E "
                      "00 00 00 01");
        QTest::newRow("level 4, 500 Hz, gesture only")
            << bulk(4, 500, false, true)
            << report("10 00 1C 00 02 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0C 0E 0D 10 00 1E "
                      "00 00 00 01");
    }

    void bulkPacket()
    {
        QFETCH(BulkConfig, config);
        QFETCH(QByteArray, expected);
        QCOMPARE(expected.size(), 32);
        QCOMPARE(PelmorProtocol::buildBulkPacket(config).toHex(' '), expected.toHex(' '));
    }

    void zeroFillStaysZero_data()
    {
        QTest::addColumn<BulkConfig>("config");
        QTest::newRow("defaults") << BulkConfig();
        QTest::newRow("all off, odd values") << bulk(0, 0, false, false);
        QTest::newRow("extremes") << bulk(INT_MIN, INT_MAX, true, false);
    }

    void zeroFillStaysZero()
    {
        QFETCH(BulkConfig, config);
        const QByteArray packet = PelmorProtocol::buildBulkPacket(config);
        QCOMPARE(packet.size(), 32);
        for (int offset : ZeroFill)
            QVERIFY2(packet.at(offset) == 0, qPrintable(QStringLiteral("offset %1").arg(offset)));
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
