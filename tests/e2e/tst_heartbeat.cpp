// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "helperrun.h"

#include <QFile>
#include <QTest>

namespace {

const QByteArray Loaded = "已加载配置: @/pelmor.conf\n";
const QByteArray Sending = "正在发送 Feature 初始化配置 (speed=4, poll=1000Hz)...\n";
const QByteArray Entering = "进入心跳维持模式 (间隔 0.06 秒)...\n";
const QByteArray Removed = "设备已移除，退出心跳。\n";
const QString Defaults = reportHex(
    "10 00 1C 00 01 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E 00 00 00 01");
const QString Level1At125Hz = reportHex(
    "10 00 0A 00 08 FF 00 00 00 00 00 00 00 00 00 00 00 03 00 0A 0B 0C 0F 0E 0D 10 00 1E 00 00 00 01");

} // namespace

class TestHeartbeat : public QObject {
    Q_OBJECT

private slots:
    void heartbeat_data();
    void heartbeat();
    void notHidrawWithTheSystemLibrary_data();
    void notHidrawWithTheSystemLibrary();
    void intervalIsPrintedWithTwoDecimals();
};

void TestHeartbeat::heartbeat_data()
{
    // "@" stands for the scratch folder; the device node is @/node, a link
    // to /dev/null that the virtual receiver removes when its script says.
    QTest::addColumn<bool>("nodeExists");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("settings"); // besides the device path and timings
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<QStringList>("writes"); // hex of each output report, in order
    QTest::addColumn<int>("cycles"); // intervals slept at least

    QTest::newRow("node missing after the delay")
        << false << "" << QByteArray() << 1 << Loaded << QByteArray("错误: 未找到设备节点 @/node\n")
        << QStringList() << 0;
    QTest::newRow("empty device path never exists")
        << false << "" << QByteArray("device_path=\n") << 1 << Loaded << QByteArray("错误: 未找到设备节点 \n")
        << QStringList() << 0;
    QTest::newRow("open fails at the start")
        << true << "device @/node\nopen @/node fail" << QByteArray() << 1 << Loaded
        << QByteArray("打开设备失败: 无法打开设备: @/node\n") << QStringList() << 0;
    QTest::newRow("configured, three heartbeats, unplugged")
        << true << "device @/node\nvanish @/node write 3" << QByteArray() << 0
        << Loaded + Sending + "初始化成功。\n" + Entering + Removed << QByteArray()
        << QStringList { "00", "00", "00" } << 3;
    QTest::newRow("feature refused, output accepted")
        << true << "device @/node\nfeature @/node fail\nvanish @/node write 2" << QByteArray() << 0
        << Loaded + Sending + "初始化成功。\n" + Entering + Removed
        << QByteArray("send-feature 失败，尝试 send-output: send_feature: Input/output error\n")
        << QStringList { Defaults, "00" } << 1;
    QTest::newRow("both refused, the loop goes on")
        << true << "device @/node\nfeature @/node fail\nwrite @/node fail fail ok\nvanish @/node write 3"
        << QByteArray() << 0 << Loaded + Sending + Entering + Removed
        << QByteArray("send-feature 失败，尝试 send-output: send_feature: Input/output error\n"
                      "初始化失败: send_output: Input/output error\n"
                      "心跳失败: send_output: Input/output error\n")
        << QStringList { Defaults, "00", "00" } << 2;
    QTest::newRow("failed opens in the loop are silent and still wait")
        << true << "device @/node\nopen @/node ok fail fail ok\nvanish @/node write 2" << QByteArray() << 0
        << Loaded + Sending + "初始化成功。\n" + Entering + Removed << QByteArray()
        << QStringList { "00", "00" } << 4;
    // What hidraw does: every one-byte write fails with EINVAL. Said once,
    // then no more writes; the node is still opened every interval, and the
    // run still ends when it goes (here at the fourth open).
    QTest::newRow("heartbeat refused with EINVAL: said once, then no writes")
        << true
        << "device @/node\nwrite @/node fail\nerrno @/node EINVAL\nerror @/node text Invalid argument\n"
           "vanish @/node open 4"
        << QByteArray() << 0 << Loaded + Sending + "初始化成功。\n" + Entering + Removed
        << QByteArray("心跳失败: send_output: Invalid argument\n心跳报告被拒绝 (报告过短)，不再发送心跳。\n")
        << QStringList { "00" } << 3;
    // The decision rests on the error number, not on the (translated) text.
    QTest::newRow("other refusals are said every cycle, whatever the text")
        << true
        << "device @/node\nwrite @/node fail\nerrno @/node EPIPE\nerror @/node text Invalid argument\n"
           "vanish @/node write 2"
        << QByteArray() << 0 << Loaded + Sending + "初始化成功。\n" + Entering + Removed
        << QByteArray("心跳失败: send_output: Invalid argument\n心跳失败: send_output: Invalid argument\n")
        << QStringList { "00", "00" } << 2;
    QTest::newRow("an EINVAL refusal of the configuration stops nothing")
        << true
        << "device @/node\nfeature @/node fail\nwrite @/node fail ok\nerrno @/node EINVAL\nvanish @/node "
           "write 3"
        << QByteArray() << 0 << Loaded + Sending + Entering + Removed
        << QByteArray("send-feature 失败，尝试 send-output: send_feature: Input/output error\n"
                      "初始化失败: send_output: Input/output error\n")
        << QStringList { Defaults, "00", "00" } << 2;
    // Unplugged inside the library's open, after its open() and before its
    // descriptor request: the system's hidapi would crash there. The cycle's
    // open fails silently, as for a node that went a moment earlier.
    QTest::newRow("unplugged inside the library's open")
        << true << "device @/node\nvanish @/node descriptor 3" << QByteArray() << 0
        << Loaded + Sending + "初始化成功。\n" + Entering + Removed << QByteArray() << QStringList { "00" }
        << 2;
    QTest::newRow("configured level and rate are printed")
        << true << "device @/node\nvanish @/node write 1" << QByteArray("speed=1\npoll_hz=125\n") << 0
        << Loaded + "正在发送 Feature 初始化配置 (speed=1, poll=125Hz)...\n" + "初始化成功。\n" + Entering
            + Removed
        << QByteArray() << QStringList { "00" } << 1;
}

void TestHeartbeat::heartbeat()
{
    QFETCH(bool, nodeExists);
    QFETCH(QString, script);
    QFETCH(QByteArray, settings);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(QStringList, writes);
    QFETCH(int, cycles);

    VirtualReceiver receiver;
    const QString dir = receiver.dir();
    if (nodeExists)
        receiver.addNode(QStringLiteral("node"));
    receiver.script(inScratch(script, dir));
    const QString config = receiver.writeFile(QStringLiteral("pelmor.conf"),
        inScratch(
            "device_path=@/node\nheartbeat_interval_sec=0.06\nheartbeat_startup_delay_sec=0\n" + settings,
            dir));

    const HelperRun run
        = runHelper({ QStringLiteral("--heartbeat"), QStringLiteral("--config"), config }, &receiver);
    QVERIFY(run.finished);
    COMPARE_LINES(run.out, inScratch(out, dir));
    COMPARE_LINES(run.err, inScratch(err, dir));
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.elapsedMs >= cycles * 60, qPrintable(QString::number(run.elapsedMs)));

    // The configuration goes once, as a feature report; then every output
    // report is written on a handle of its own, closed before the next opens.
    const QList<QStringList> features = receiver.calls(QStringLiteral("feature"));
    QCOMPARE(features.size(), out.contains("正在发送") ? 1 : 0);
    for (const QStringList &feature : features)
        QCOMPARE(feature.at(3), settings.isEmpty() ? Defaults : Level1At125Hz);

    QStringList written;
    QStringList handles;
    for (const QStringList &write : receiver.calls(QStringLiteral("write"))) {
        written << write.at(3);
        handles << write.at(1);
    }
    QCOMPARE(written, writes);
    QCOMPARE(QSet<QString>(handles.begin(), handles.end()).size(), handles.size());
    if (!writes.isEmpty() && writes.first() == Defaults)
        QCOMPARE(handles.first(), features.first().at(1)); // the fallback uses the same open handle

    QVERIFY(receiver.mostOpenAtOnce() <= 1);
    if (!receiver.calls().isEmpty())
        QCOMPARE(receiver.calls().last(), QStringLiteral("exit\topen=0\tenumerations=0"));
}

// The system's hidapi crashes when asked to open a path that is not a hidraw
// node; the tool must refuse such a path itself.
void TestHeartbeat::notHidrawWithTheSystemLibrary_data()
{
    QTest::addColumn<QString>("device"); // "@" is the scratch folder
    QTest::newRow("regular file") << "@/not-a-device";
    QTest::newRow("/dev/null") << "/dev/null";
    QTest::newRow("/dev/zero") << "/dev/zero";
}

void TestHeartbeat::notHidrawWithTheSystemLibrary()
{
    QFETCH(QString, device);
    VirtualReceiver scratch;
    scratch.writeFile(QStringLiteral("not-a-device"), "plain text\n");
    device = inScratch(device, scratch.dir());
    const QString config = scratch.writeFile(QStringLiteral("pelmor.conf"),
        "heartbeat_startup_delay_sec=0\ndevice_path=" + device.toUtf8() + "\n");
    const HelperRun run = runHelper({ QStringLiteral("--heartbeat"), QStringLiteral("--config"), config });
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    COMPARE_LINES(run.err, "打开设备失败: 无法打开设备: " + device.toUtf8() + "\n");
    QCOMPARE(run.exitCode, 1);
}

void TestHeartbeat::intervalIsPrintedWithTwoDecimals()
{
    VirtualReceiver receiver;
    const QString node = receiver.addNode(QStringLiteral("node"));
    receiver.script(QStringLiteral("device %1\nvanish %1 write 1").arg(node));
    const QString config = receiver.writeFile(
        QStringLiteral("pelmor.conf"), "heartbeat_startup_delay_sec=0\ndevice_path=" + node.toUtf8() + "\n");
    const HelperRun run
        = runHelper({ QStringLiteral("--heartbeat"), QStringLiteral("--config"), config }, &receiver);
    QVERIFY(run.out.contains("进入心跳维持模式 (间隔 2.00 秒)...\n"));
    QVERIFY2(run.elapsedMs >= 2000, "the default interval is two seconds");
    QCOMPARE(run.exitCode, 0);
}

QTEST_GUILESS_MAIN(TestHeartbeat)
#include "tst_heartbeat.moc"
