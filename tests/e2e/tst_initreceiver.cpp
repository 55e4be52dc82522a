// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "helperrun.h"

#include <QTest>

class TestInitReceiver : public QObject {
    Q_OBJECT

private slots:
    void initReceiver_data();
    void initReceiver();
    void shippedBinaryLoadsTheSystemLibrary();
};

void TestInitReceiver::initReceiver_data()
{
    // "@" stands for the test's scratch folder. Every node named in nodes
    // exists (a link to /dev/null); script is the virtual receiver's.
    QTest::addColumn<QStringList>("nodes");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QStringList>("sentTo"); // the targets that were sent the report, in order
    QTest::addColumn<QString>("report");

    const QString defaults = reportHex(
        "10 00 1C 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E 00 00 00 01");
    const QByteArray loaded = "已加载配置: @/pelmor.conf\n";
    const QByteArray toNode = "device_path=@/node\n";
    auto progress = [](const char *path) {
        return QByteArray("正在配置设备 @/") + path + " (speed=4, poll=1000Hz)...\n";
    };

    QTest::newRow("nothing attached, no node")
        << QStringList() << "" << toNode << 1 << loaded << QByteArray("未找到 C652 管理接口或 @/node\n")
        << QStringList() << defaults;
    QTest::newRow("no interface: the node is the one target")
        << QStringList { "node" } << "device @/node" << toNode << 0 << loaded + progress("node")
        << QByteArray() << QStringList { "@/node" } << defaults;
    QTest::newRow("no interface: the node refuses")
        << QStringList { "node" } << "device @/node\nfeature @/node fail\nerror @/node text Broken pipe"
        << toNode << 1 << loaded + progress("node") << QByteArray("  发送失败: send_feature: Broken pipe\n")
        << QStringList { "@/node" } << defaults;
    QTest::newRow("interfaces found: the node is not tried")
        << QStringList { "node", "if1", "if2" } << "device @/node\nenum 0 @/if0\nenum 1 @/if1\nenum 2 @/if2"
        << toNode << 0 << loaded + progress("if1") + progress("if2") << QByteArray()
        << QStringList { "@/if1", "@/if2" } << defaults;
    QTest::newRow("first two fail, third accepts")
        << QStringList { "if1", "if2", "if3" }
        << "enum 1 @/if1\nenum 2 @/if2\nenum 3 @/if3\nopen @/if1 fail\nfeature @/if2 fail\nerror @/if2 none"
        << toNode << 0 << loaded + progress("if1") + progress("if2") + progress("if3")
        << QByteArray("  打开失败: 无法打开设备: @/if1\n  发送失败: send_feature\n")
        << QStringList { "@/if2", "@/if3" } << defaults;
    QTest::newRow("every interface fails")
        << QStringList { "if1", "if2" }
        << "enum 1 @/if1\nenum 2 @/if2\nfeature @/if1 fail\nfeature @/if2 fail" << toNode << 1
        << loaded + progress("if1") + progress("if2")
        << QByteArray(
               "  发送失败: send_feature: Input/output error\n  发送失败: send_feature: Input/output error\n")
        << QStringList { "@/if1", "@/if2" } << defaults;
    QTest::newRow("a repeated path is tried twice")
        << QStringList { "if1" } << "enum 1 @/if1\nenum 1 @/if1" << toNode << 0
        << loaded + progress("if1") + progress("if1") << QByteArray() << QStringList { "@/if1", "@/if1" }
        << defaults;
    QTest::newRow("null paths and interface 0 are skipped")
        << QStringList { "if0", "if2" } << "enum 0 @/if0\nenum 1 -\nenum 2 @/if2" << toNode << 0
        << loaded + progress("if2") << QByteArray() << QStringList { "@/if2" } << defaults;
    QTest::newRow("interface gone before its open")
        << QStringList { "if1", "if2" } << "enum 1 @/if1\nenum 2 @/if2\nvanish @/if1 open 1" << toNode << 0
        << loaded + progress("if1") + progress("if2") << QByteArray("  打开失败: 无法打开设备: @/if1\n")
        << QStringList { "@/if2" } << defaults;
    QTest::newRow("interface unplugged inside the library's open")
        << QStringList { "if1", "if2" } << "enum 1 @/if1\nenum 2 @/if2\nvanish @/if1 descriptor 1" << toNode
        << 0 << loaded + progress("if1") + progress("if2") << QByteArray("  打开失败: 无法打开设备: @/if1\n")
        << QStringList { "@/if2" } << defaults;
    QTest::newRow("configured level and rate, not their bytes")
        << QStringList { "if1" } << "enum 1 @/if1"
        << QByteArray("speed=2\npoll_hz=250\nremap_wheel=off\nremap_gesture=off\n") << 0
        << loaded + "正在配置设备 @/if1 (speed=2, poll=250Hz)...\n"
        << QByteArray() << QStringList { "@/if1" }
        << reportHex("10 00 0F 00 04 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0C 0E 0D 2F 00 1E 00 "
                     "00 00 01");
}

void TestInitReceiver::initReceiver()
{
    QFETCH(QStringList, nodes);
    QFETCH(QString, script);
    QFETCH(QByteArray, config);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QStringList, sentTo);
    QFETCH(QString, report);

    VirtualReceiver receiver;
    const QString dir = receiver.dir();
    for (const QString &node : nodes)
        receiver.addNode(node);
    receiver.script(inScratch(script, dir));
    const QString configPath = receiver.writeFile(QStringLiteral("pelmor.conf"), inScratch(config, dir));

    const HelperRun run
        = runHelper({ QStringLiteral("--init-receiver"), QStringLiteral("--config"), configPath }, &receiver);
    QVERIFY(run.finished);
    COMPARE_LINES(run.out, inScratch(out, dir));
    COMPARE_LINES(run.err, inScratch(err, dir));
    QCOMPARE(run.exitCode, exitCode);
    // The one-second pause comes first on every run; no upper bound.
    QVERIFY2(run.elapsedMs >= 1000, qPrintable(QString::number(run.elapsedMs)));

    QStringList targets;
    for (const QStringList &feature : receiver.calls(QStringLiteral("feature"))) {
        targets << feature.at(2);
        QCOMPARE(feature.at(3), report);
    }
    for (QString &target : sentTo)
        target = inScratch(target, dir);
    QCOMPARE(targets, sentTo);
    QCOMPARE(receiver.calls(QStringLiteral("write")).size(), 0);

    // One start-up, and at most one device open at any moment.
    const QStringList calls = receiver.calls();
    QCOMPARE(calls.count(QStringLiteral("init\t->\t0")), 1);
    QVERIFY(receiver.mostOpenAtOnce() <= 1);
    QCOMPARE(calls.last(), QStringLiteral("exit\topen=0\tenumerations=0"));
}

void TestInitReceiver::shippedBinaryLoadsTheSystemLibrary()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), { helperBinary() });
    QVERIFY(ldd.waitForFinished());
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(libraries.contains(QLatin1String("libhidapi-hidraw.so.0 => /")), qPrintable(libraries));
    QVERIFY2(!libraries.contains(QLatin1String(PELMOR_VIRTUAL_RECEIVER_DIR)), qPrintable(libraries));
}

QTEST_GUILESS_MAIN(TestInitReceiver)
#include "tst_initreceiver.moc"
