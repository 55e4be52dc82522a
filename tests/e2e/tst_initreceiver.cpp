// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "helperrun.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

namespace {
// Stand-ins for the configuration file's contents.
const QByteArray NoFile = "(no file)";
const QByteArray UnreadableFile = "(a folder in the file's place)";
} // namespace

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
    // exists (a link to /dev/null); script is the virtual receiver's. config
    // is written to @/pelmor.conf, or stands for NoFile or UnreadableFile.
    // --status runs against the same receivers: it must send nothing.
    QTest::addColumn<QString>("mode");
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
    const QString init = QStringLiteral("--init-receiver");
    auto progress = [](const char *path) {
        return QByteArray("正在配置设备 @/") + path + " (speed=4, poll=1000Hz)...\n";
    };

    QTest::newRow("nothing attached, no node") << init
        << QStringList() << "" << toNode << 1 << loaded << QByteArray("未找到 C652 管理接口或 @/node\n")
        << QStringList() << defaults;
    QTest::newRow("no interface: the node is the one target") << init
        << QStringList { "node" } << "device @/node" << toNode << 0 << loaded + progress("node")
        << QByteArray() << QStringList { "@/node" } << defaults;
    QTest::newRow("no interface: the node refuses") << init
        << QStringList { "node" } << "device @/node\nfeature @/node fail\nerror @/node text Broken pipe"
        << toNode << 1 << loaded + progress("node") << QByteArray("  发送失败: send_feature: Broken pipe\n")
        << QStringList { "@/node" } << defaults;
    QTest::newRow("interfaces found: the node is not tried") << init
        << QStringList { "node", "if1", "if2" } << "device @/node\nenum 0 @/if0\nenum 1 @/if1\nenum 2 @/if2"
        << toNode << 0 << loaded + progress("if1") + progress("if2") << QByteArray()
        << QStringList { "@/if1", "@/if2" } << defaults;
    QTest::newRow("first two fail, third accepts") << init
        << QStringList { "if1", "if2", "if3" }
        << "enum 1 @/if1\nenum 2 @/if2\nenum 3 @/if3\nopen @/if1 fail\nfeature @/if2 fail\nerror @/if2 none"
        << toNode << 0 << loaded + progress("if1") + progress("if2") + progress("if3")
        << QByteArray("  打开失败: 无法打开设备: @/if1\n  发送失败: send_feature\n")
        << QStringList { "@/if2", "@/if3" } << defaults;
    QTest::newRow("every interface fails") << init
        << QStringList { "if1", "if2" }
        << "enum 1 @/if1\nenum 2 @/if2\nfeature @/if1 fail\nfeature @/if2 fail" << toNode << 1
        << loaded + progress("if1") + progress("if2")
        << QByteArray(
               "  发送失败: send_feature: Input/output error\n  发送失败: send_feature: Input/output error\n")
        << QStringList { "@/if1", "@/if2" } << defaults;
    QTest::newRow("a repeated path is tried twice") << init
        << QStringList { "if1" } << "enum 1 @/if1\nenum 1 @/if1" << toNode << 0
        << loaded + progress("if1") + progress("if1") << QByteArray() << QStringList { "@/if1", "@/if1" }
        << defaults;
    QTest::newRow("null paths and interface 0 are skipped") << init
        << QStringList { "if0", "if2" } << "enum 0 @/if0\nenum 1 -\nenum 2 @/if2" << toNode << 0
        << loaded + progress("if2") << QByteArray() << QStringList { "@/if2" } << defaults;
    QTest::newRow("interface gone before its open") << init
        << QStringList { "if1", "if2" } << "enum 1 @/if1\nenum 2 @/if2\nvanish @/if1 open 1" << toNode << 0
        << loaded + progress("if1") + progress("if2") << QByteArray("  打开失败: 无法打开设备: @/if1\n")
        << QStringList { "@/if2" } << defaults;
    QTest::newRow("interface unplugged inside the library's open") << init
        << QStringList { "if1", "if2" } << "enum 1 @/if1\nenum 2 @/if2\nvanish @/if1 descriptor 1" << toNode
        << 0 << loaded + progress("if1") + progress("if2") << QByteArray("  打开失败: 无法打开设备: @/if1\n")
        << QStringList { "@/if2" } << defaults;
    QTest::newRow("configured level and rate, not their bytes") << init
        << QStringList { "if1" } << "enum 1 @/if1"
        << QByteArray("speed=2\npoll_hz=250\nremap_wheel=off\nremap_gesture=off\n") << 0
        << loaded + "正在配置设备 @/if1 (speed=2, poll=250Hz)...\n"
        << QByteArray() << QStringList { "@/if1" }
        << reportHex("10 00 0F 00 04 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0C 0E 0D 2F 00 1E 00 "
                     "00 00 01");

    const QString status = QStringLiteral("--status");
    auto statusHead = [](const QByteArray &file, const char *node, const char *settings, const char *report) {
        return "pelmor-helper " PELMOR_VERSION "\n配置文件: @/pelmor.conf (" + file
            + ")\n注意: 系统服务读取的是 /etc/pelmor/pelmor.conf，不是这个文件\n设置:\n" + settings
            + "  device_path=" + node + "\n  heartbeat_interval_sec=2\n  heartbeat_startup_delay_sec=0.5\n配置报告: "
            + report + "\n";
    };
    const char *defaultSettings = "  speed=4\n  polling_hz=1000\n  remap_wheel=on\n  remap_gesture=on\n";
    const char *defaultReport
        = "10 00 1c 00 01 ff 00 00 00 00 00 00 00 00 00 00 00 03 00 0a 0b 0c 0f 0e 0d 10 00 1e 00 00 00 01";
    const QByteArray defaultsFromNode = statusHead("已读取", "@/node", defaultSettings, defaultReport);
    const QByteArray noFile = "无法读取，使用内置默认值";
    QTest::newRow("status: interfaces found and opened")
        << status << QStringList { "if1", "if2" } << "enum 0 @/if0\nenum 1 @/if1\nenum 2 @/if2"
        << QByteArray("device_path=@/node\nspeed=2\npoll_hz=250\nremap_wheel=off\nremap_gesture=off\n") << 0
        << statusHead("已读取", "@/node", "  speed=2\n  polling_hz=250\n  remap_wheel=off\n  remap_gesture=off\n",
               "10 00 0f 00 04 ff 00 00 00 00 00 00 00 00 00 00 00 03 00 0a 0b 0c 0c 0e 0d 2f 00 1e 00 00 00 01")
            + "管理接口 (256f:c652):\n  @/if1: 可以打开\n  @/if2: 可以打开\n设备节点: @/node 不存在\n"
        << QByteArray() << QStringList() << defaults;
    QTest::newRow("status: none found, the node a link")
        << status << QStringList { "node" } << "device @/node" << toNode << 1
        << defaultsFromNode + "管理接口 (256f:c652): 未找到\n设备节点: @/node -> /dev/null\n" << QByteArray()
        << QStringList() << defaults;
    QTest::newRow("status: found, none opens")
        << status << QStringList { "if1", "if2" } << "enum 1 @/if1\nenum 2 @/if2\nopen @/if1 fail\nopen @/if2 fail"
        << toNode << 1
        << defaultsFromNode
            + "管理接口 (256f:c652):\n  @/if1: 无法打开: Permission denied\n  @/if2: 无法打开: Permission denied\n"
              "设备节点: @/node 不存在\n"
        << QByteArray() << QStringList() << defaults;
    const QByteArray onlyIf1 = "管理接口 (256f:c652):\n  @/if1: 可以打开\n设备节点: /dev/pelmor_config 不存在\n";
    QTest::newRow("status: no configuration file")
        << status << QStringList { "if1" } << "enum 1 @/if1" << NoFile << 0
        << statusHead(noFile, "/dev/pelmor_config", defaultSettings, defaultReport) + onlyIf1 << QByteArray()
        << QStringList() << defaults;
    QTest::newRow("status: configuration file unreadable")
        << status << QStringList { "if1" } << "enum 1 @/if1" << UnreadableFile << 0
        << statusHead(noFile, "/dev/pelmor_config", defaultSettings, defaultReport) + onlyIf1 << QByteArray()
        << QStringList() << defaults;
}

void TestInitReceiver::initReceiver()
{
    QFETCH(QString, mode);
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
    QString configPath = dir + QStringLiteral("/pelmor.conf");
    if (config == UnreadableFile)
        QVERIFY(QDir(dir).mkdir(QStringLiteral("pelmor.conf")));
    else if (config != NoFile)
        receiver.writeFile(QStringLiteral("pelmor.conf"), inScratch(config, dir));
    // Without a file the node is the default one, which a receiver plugged
    // into this machine would make exist.
    if (out.contains("设备节点: /dev/pelmor_config") && QFileInfo(QStringLiteral("/dev/pelmor_config")).isSymLink())
        QSKIP("a receiver is plugged into this machine: /dev/pelmor_config exists");

    const HelperRun run = runHelper({ mode, QStringLiteral("--config"), configPath }, &receiver);
    QVERIFY(run.finished);
    COMPARE_LINES(run.out, inScratch(out, dir));
    COMPARE_LINES(run.err, inScratch(err, dir));
    QCOMPARE(run.exitCode, exitCode);
    // The one-second pause comes first on every configuration run; no upper bound.
    if (mode == QLatin1String("--init-receiver"))
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
