// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "helperrun.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Waits up to timeoutMs for the receiver's record to hold count calls of
// operation.
bool waitForCalls(const VirtualReceiver &receiver, const QString &operation, int count, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (receiver.calls(operation).size() >= count)
            return true;
        QTest::qSleep(50);
    }
    return false;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private slots:
    void configurationSources_data();
    void configurationSources();
    void slowPipeIsReadToItsEnd();
    void infiniteStartupDelaySleepsWithoutTouchingDevices();
    void hugeIntervalSleepsAfterOneHeartbeat();
    void refusedTimingsKeepTheDefaults();
    void hostileArguments_data();
    void hostileArguments();
    void libraryFaults_data();
    void libraryFaults();
};

// Each source is given with --config to --init-receiver against one virtual
// interface; the progress line shows which speed level was loaded.
void TestHostile::configurationSources_data()
{
    QTest::addColumn<QString>("source"); // "@" is the scratch folder
    QTest::addColumn<QByteArray>("contents"); // written to source when not empty
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<int>("speed");

    QTest::newRow("a directory") << "@" << QByteArray() << false << 4;
    QTest::newRow("a path through a file") << "@/plain.conf/x" << QByteArray() << false << 4;
    if (geteuid() != 0) // root reads any file
        QTest::newRow("no read permission") << "@/locked.conf" << QByteArray("speed=1\n") << false << 4;
    QTest::newRow("binary garbage around a good line")
        << "@/garbage.conf" << QByteArray("\x00\xff\xfe\x80 speed=1\nspeed=3\n\xc3\x28=\x00\n", 22) << true
        << 3;
    QTest::newRow("a line of several megabytes") << "@/long-line.conf"
                                                 << "speed=2 " + QByteArray(3 * 1024 * 1024, 'x') + "\n"
                                                 << false << 4;
    QByteArray millionLines(1000000, '\n');
    millionLines.append("speed=2\n");
    QTest::newRow("a million lines") << "@/million.conf" << millionLines << true << 2;
    QTest::newRow("/dev/zero") << "/dev/zero" << QByteArray() << false << 4;
    QTest::newRow("/dev/urandom") << "/dev/urandom" << QByteArray() << false << 4;
}

void TestHostile::configurationSources()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, contents);
    QFETCH(bool, loaded);
    QFETCH(int, speed);

    VirtualReceiver receiver;
    const QString dir = receiver.dir();
    const QString interface = receiver.addNode(QStringLiteral("if1"));
    receiver.script(QStringLiteral("enum 1 ") + interface);
    receiver.writeFile(QStringLiteral("plain.conf"), "speed=1\n");
    const QString path = inScratch(source, dir);
    if (!contents.isEmpty())
        receiver.writeFile(QFileInfo(path).fileName(), contents);
    if (path.endsWith(QLatin1String("/locked.conf")))
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));

    const HelperRun run
        = runHelper({ QStringLiteral("--init-receiver"), QStringLiteral("--config"), path }, &receiver);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    const QByteArray local = path.toUtf8();
    const QByteArray progress
        = QStringLiteral("正在配置设备 %1 (speed=%2, poll=1000Hz)...\n").arg(interface).arg(speed).toUtf8();
    COMPARE_LINES(run.out, loaded ? "已加载配置: " + local + "\n" + progress : progress);
    COMPARE_LINES(run.err, loaded ? QByteArray() : "警告: 无法读取配置 " + local + "，使用内置默认值\n");
    QCOMPARE(run.exitCode, 0);
}

// A pipe whose writer pauses between lines must be read until the writer
// closes it, not until the first moment no data is waiting.
void TestHostile::slowPipeIsReadToItsEnd()
{
    VirtualReceiver receiver;
    const QString interface = receiver.addNode(QStringLiteral("if1"));
    receiver.script(QStringLiteral("enum 1 ") + interface);
    const QString fifo = receiver.dir() + QStringLiteral("/pipe.conf");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    QProcess writer;
    writer.start(QStringLiteral("sh"),
        { QStringLiteral("-c"),
            QStringLiteral("exec >\"$0\"; printf 'speed=3\\n'; sleep 0.5; "
                           "printf 'poll_hz=500\\n'"),
            fifo });
    const HelperRun run
        = runHelper({ QStringLiteral("--init-receiver"), QStringLiteral("--config"), fifo }, &receiver);
    QVERIFY(writer.waitForFinished());
    COMPARE_LINES(run.out,
        "已加载配置: " + fifo.toUtf8() + "\n正在配置设备 " + interface.toUtf8()
            + " (speed=3, poll=500Hz)...\n");
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exitCode, 0);
}

// An infinite start-up delay is clamped to the longest sleep there is: the
// tool waits, touches nothing and does not crash.
void TestHostile::infiniteStartupDelaySleepsWithoutTouchingDevices()
{
    VirtualReceiver receiver;
    const QString node = receiver.addNode(QStringLiteral("node"));
    receiver.script(QStringLiteral("device ") + node);
    const QString config = receiver.writeFile(
        QStringLiteral("pelmor.conf"), "heartbeat_startup_delay_sec=inf\ndevice_path=" + node.toUtf8());
    QProcess process;
    startHelper(&process, { QStringLiteral("--heartbeat"), QStringLiteral("--config"), config }, &receiver);
    QVERIFY(process.waitForStarted());
    QVERIFY2(!process.waitForFinished(1500), process.readAllStandardError().constData());
    QCOMPARE(receiver.calls(), QStringList());
    process.kill();
    process.waitForFinished();
}

void TestHostile::hugeIntervalSleepsAfterOneHeartbeat()
{
    VirtualReceiver receiver;
    const QString node = receiver.addNode(QStringLiteral("node"));
    receiver.script(QStringLiteral("device ") + node);
    const QString config = receiver.writeFile(QStringLiteral("pelmor.conf"),
        "heartbeat_startup_delay_sec=1e-300\nheartbeat_interval_sec=1e300\ndevice_path=" + node.toUtf8());
    QProcess process;
    startHelper(&process, { QStringLiteral("--heartbeat"), QStringLiteral("--config"), config }, &receiver);
    QVERIFY(process.waitForStarted());
    QVERIFY2(
        waitForCalls(receiver, QStringLiteral("write"), 1, 10000), qPrintable(receiver.calls().join('\n')));
    QVERIFY2(!process.waitForFinished(500), process.readAllStandardError().constData());
    QCOMPARE(receiver.calls(QStringLiteral("feature")).size(), 1);
    QCOMPARE(receiver.calls(QStringLiteral("write")).size(), 1);
    process.kill();
    process.waitForFinished();
}

void TestHostile::refusedTimingsKeepTheDefaults()
{
    VirtualReceiver receiver;
    const QString node = receiver.addNode(QStringLiteral("node"));
    receiver.script(QStringLiteral("device %1\nvanish %1 write 1").arg(node));
    const QString config = receiver.writeFile(QStringLiteral("pelmor.conf"),
        "heartbeat_interval_sec=nan\nheartbeat_interval_sec=-inf\n"
        "heartbeat_interval_sec=1e-300\nheartbeat_startup_delay_sec=nan\n"
        "heartbeat_startup_delay_sec=-inf\ndevice_path="
            + node.toUtf8());
    const HelperRun run
        = runHelper({ QStringLiteral("--heartbeat"), QStringLiteral("--config"), config }, &receiver);
    QVERIFY(run.out.contains("(间隔 2.00 秒)"));
    QVERIFY2(run.elapsedMs >= 2500, "the default delay and interval");
    QCOMPARE(run.exitCode, 0);
}

void TestHostile::hostileArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("program"); // "sh" to pass bytes Qt would not
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    QTest::newRow("invalid UTF-8 shows as replacement characters")
        << QStringList { "-c", "exec \"$0\" \"$(printf '\\377\\376')\"", helperBinary() } << QByteArray("sh")
        << 2 << QByteArray() << "未知参数: \xef\xbf\xbd\xef\xbf\xbd\n" + UsageText;
    QStringList many;
    for (int i = 0; i < 5000; ++i)
        many << QStringLiteral("--heartbeat") << QStringLiteral("--config") << QStringLiteral("%n%s");
    QTest::newRow("thousands of arguments")
        << (QStringList(many) << QStringLiteral("--help")) << QByteArray() << 0 << QByteArray() << UsageText;
    QTest::newRow("thousands of arguments, then an unknown one")
        << (QStringList(many) << QStringLiteral("%s%s%s%n")) << QByteArray() << 2 << QByteArray()
        << "未知参数: %s%s%s%n\n" + UsageText;
    const QString longPath = QStringLiteral("/nonexistent/%s/") + QString(100000, QLatin1Char('p'));
    QTest::newRow("a very long configuration path")
        << QStringList { "--init-receiver", "--config", longPath } << QByteArray() << 0
        << QByteArray("正在配置设备 @/if1 (speed=4, poll=1000Hz)...\n")
        << "警告: 无法读取配置 " + longPath.toUtf8() + "，使用内置默认值\n";
}

void TestHostile::hostileArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, program);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    VirtualReceiver receiver;
    receiver.addNode(QStringLiteral("if1"));
    receiver.script(inScratch(QStringLiteral("enum 1 @/if1"), receiver.dir()));
    const HelperRun run = runHelper(
        arguments, &receiver, 30000, program.isEmpty() ? QString() : QString::fromLatin1(program));
    QVERIFY(run.finished);
    COMPARE_LINES(run.out, inScratch(out, receiver.dir()));
    COMPARE_LINES(run.err, err);
    QCOMPARE(run.exitCode, exitCode);
}

void TestHostile::libraryFaults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("script"); // "@" is the scratch folder; the nodes are @/if1 and @/设备
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");

    const QByteArray loaded = "已加载配置: @/pelmor.conf\n";
    const QByteArray progress = "正在配置设备 @/if1 (speed=4, poll=1000Hz)...\n";
    QTest::newRow("library start-up fails")
        << "--init-receiver"
        << "init fail\nenum 1 @/if1" << 0 << loaded + progress << QByteArray();
    QTest::newRow("empty error text") << "--init-receiver"
                                      << "enum 1 @/if1\nfeature @/if1 fail\nerror @/if1 empty" << 1
                                      << loaded + progress << QByteArray("  发送失败: send_feature\n");
    const QByteArray longText(20000, 'e');
    QTest::newRow("long error text") << "--init-receiver"
                                     << QString::fromLatin1(
                                            "enum 1 @/if1\nfeature @/if1 fail\nerror @/if1 text " + longText)
                                     << 1 << loaded + progress
                                     << "  发送失败: send_feature: " + longText + "\n";
    QTest::newRow("format directives in an error text")
        << "--init-receiver"
        << "enum 1 @/if1\nfeature @/if1 fail\nerror @/if1 text %s%n%x" << 1 << loaded + progress
        << QByteArray("  发送失败: send_feature: %s%n%x\n");
    QTest::newRow("node gone between the presence check and the open")
        << "--heartbeat"
        << "device @/设备\nvanish @/设备 open 1" << 1 << loaded
        << QByteArray("打开设备失败: 无法打开设备: @/设备\n");
    QTest::newRow("non-ASCII node, every report refused")
        << "--heartbeat"
        << "device @/设备\nfeature @/设备 fail\nwrite @/设备 fail\nvanish @/设备 write 2" << 0
        << loaded
            + "正在发送 Feature 初始化配置 (speed=4, poll=1000Hz)...\n进入心跳维持模式 (间隔 0.06 秒)...\n"
              "设备已移除，退出心跳。\n"
        << QByteArray("send-feature 失败，尝试 send-output: send_feature: Input/output error\n"
                      "初始化失败: send_output: Input/output error\n"
                      "心跳失败: send_output: Input/output error\n");
}

void TestHostile::libraryFaults()
{
    QFETCH(QString, mode);
    QFETCH(QString, script);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    VirtualReceiver receiver;
    const QString dir = receiver.dir();
    receiver.addNode(QStringLiteral("if1"));
    receiver.addNode(QStringLiteral("设备"));
    receiver.script(inScratch(script, dir));
    const QString config = receiver.writeFile(QStringLiteral("pelmor.conf"),
        inScratch(
            QByteArray("device_path=@/设备\nheartbeat_startup_delay_sec=0\nheartbeat_interval_sec=0.06\n"),
            dir));
    const HelperRun run = runHelper({ mode, QStringLiteral("--config"), config }, &receiver);
    QVERIFY(run.finished);
    COMPARE_LINES(run.out, inScratch(out, dir));
    COMPARE_LINES(run.err, inScratch(err, dir));
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(receiver.calls().last(), QStringLiteral("exit\topen=0\tenumerations=0"));
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
