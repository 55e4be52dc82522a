// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "fakehid.h"
#include "pelmorservice.h"
#include "pelmorserviceconfig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

class TestService : public QObject {
    Q_OBJECT

private slots:
    void millisecondsFromSeconds_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<quint64>("expected");
        const quint64 most = std::numeric_limits<quint64>::max();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("zero") << 0.0 << quint64(0);
        QTest::newRow("negative") << -1.0 << quint64(0);
        QTest::newRow("minus infinity") << -inf << quint64(0);
        QTest::newRow("nan") << std::nan("") << quint64(0);
        QTest::newRow("tiny") << 1e-300 << quint64(0);
        QTest::newRow("truncates 0.0509") << 0.0509 << quint64(50);
        QTest::newRow("half a second") << 0.5 << quint64(500);
        QTest::newRow("default interval") << 2.0 << quint64(2000);
        QTest::newRow("1e16 s, exact and below 2^64 ms") << 1e16 << quint64(10000000000000000000ULL);
        QTest::newRow("2^64 ms") << 18446744073709551.616 << most;
        QTest::newRow("1e300") << 1e300 << most;
        QTest::newRow("infinity") << inf << most;
    }

    void millisecondsFromSeconds()
    {
        QFETCH(double, seconds);
        QFETCH(quint64, expected);
        QCOMPARE(PelmorService::millisecondsFromSeconds(seconds), expected);
    }

    // In process, so the fake's counters show every handle's life.
    void initReceiverHoldsOneDeviceAtATime()
    {
        QTemporaryDir scratch;
        FakeHid::reset();
        std::string script;
        for (const char *name : { "a", "b", "c" }) {
            const QString path = scratch.filePath(QLatin1String(name));
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
            script += "enum 1 " + path.toStdString() + "\n";
        }
        script += "feature " + scratch.filePath(QStringLiteral("b")).toStdString() + " fail\n";
        QVERIFY(FakeHid::loadScript(script));
        QCOMPARE(PelmorService::runInitReceiver(PelmorServiceConfig()), 0);
        QCOMPARE(FakeHid::maxOpenHandles(), 1);
        QCOMPARE(FakeHid::openHandles(), 0);
        QCOMPARE(FakeHid::liveEnumerations(), 0);
    }
};

QTEST_APPLESS_MAIN(TestService)
#include "tst_service.moc"
