// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "helperrun.h"

#include <QDir>
#include <QTest>

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QByteArray>("out");

        QTest::newRow("no arguments") << QStringList() << 2 << UsageText << QByteArray();
        QTest::newRow("--help") << QStringList { "--help" } << 0 << UsageText << QByteArray();
        QTest::newRow("-h") << QStringList { "-h" } << 0 << UsageText << QByteArray();
        QTest::newRow("help after a mode runs nothing")
            << QStringList { "--heartbeat", "--help" } << 0 << UsageText << QByteArray();
        QTest::newRow("help before an unknown argument")
            << QStringList { "--help", "--bogus" } << 0 << UsageText << QByteArray();
        QTest::newRow("both modes") << QStringList { "--heartbeat", "--init-receiver" } << 2 << UsageText
                                    << QByteArray();
        QTest::newRow("status and a mode")
            << QStringList { "--status", "--init-receiver" } << 2 << UsageText << QByteArray();
        QTest::newRow("config but no mode")
            << QStringList { "--config", "/nonexistent.conf" } << 2 << UsageText << QByteArray();
        QTest::newRow("config as last argument") << QStringList { "--heartbeat", "--config" } << 2
                                                 << "未知参数: --config\n" + UsageText << QByteArray();
        QTest::newRow("unknown before help")
            << QStringList { "--bogus", "--help" } << 2 << "未知参数: --bogus\n" + UsageText << QByteArray();
        QTest::newRow("upper case") << QStringList { "--HEARTBEAT" } << 2
                                    << "未知参数: --HEARTBEAT\n" + UsageText << QByteArray();
        QTest::newRow("config joined by '='") << QStringList { "--init-receiver", "--config=a.conf" } << 2
                                              << "未知参数: --config=a.conf\n" + UsageText << QByteArray();
        QTest::newRow("empty argument")
            << QStringList { "" } << 2 << "未知参数: \n" + UsageText << QByteArray();
        QTest::newRow("format directives are text")
            << QStringList { "%s%n%x%%" } << 2 << "未知参数: %s%n%x%%\n" + UsageText << QByteArray();
        QTest::newRow("--version") << QStringList { "--version" } << 0 << QByteArray()
                                   << QByteArray("pelmor-helper " PELMOR_VERSION "\n");
        QTest::newRow("--version ends the walk") << QStringList { "--init-receiver", "--version",
            "--bogus" } << 0 << QByteArray() << QByteArray("pelmor-helper " PELMOR_VERSION "\n");
        QTest::newRow("unknown before --version") << QStringList { "--bogus", "--version" } << 2
                                                  << "未知参数: --bogus\n" + UsageText << QByteArray();
        QTest::newRow("non-ASCII") << QStringList { "--心跳" } << 2 << "未知参数: --心跳\n" + UsageText
                                   << QByteArray();
    }

    // Usage errors, help and the version end the run before any file or
    // device is looked at: the virtual receiver sees no call at all.
    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, err);
        QFETCH(QByteArray, out);
        VirtualReceiver receiver;
        const HelperRun run = runHelper(arguments, &receiver);
        QVERIFY(run.finished);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        COMPARE_LINES(run.err, err);
        QCOMPARE(run.out, out);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(receiver.calls(), QStringList());
    }

    void configLocation_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("besideExists");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");

        const QByteArray progress3 = "正在配置设备 @/if1 (speed=3, poll=1000Hz)...\n";
        const QByteArray progress5 = "正在配置设备 @/if1 (speed=5, poll=1000Hz)...\n";
        const QByteArray progress4 = "正在配置设备 @/if1 (speed=4, poll=1000Hz)...\n";
        QTest::newRow("given file is loaded")
            << QStringList { "--init-receiver", "--config", "@/level3.conf" } << true
            << "已加载配置: @/level3.conf\n" + progress3 << QByteArray();
        QTest::newRow("later --config wins")
            << QStringList { "--config", "@/level3.conf", "--config", "@/level5.conf", "--init-receiver" }
            << false << "已加载配置: @/level5.conf\n" + progress5 << QByteArray();
        QTest::newRow("missing given file yields to the one beside the binary")
            << QStringList { "--init-receiver", "--config", "@/absent.conf" } << true
            << "已加载配置: @/bin/pelmor.conf\n" + progress5 << QByteArray();
        QTest::newRow("missing everywhere: the given path is named")
            << QStringList { "--init-receiver", "--config", "@/absent.conf" } << false << progress4
            << QByteArray("警告: 无法读取配置 @/absent.conf，使用内置默认值\n");
        QTest::newRow("no --config, none beside")
            << QStringList { "--init-receiver" } << false << progress4
            << QByteArray("警告: 无法读取配置 @/bin/pelmor.conf，使用内置默认值\n");
        QTest::newRow("no --config, one beside")
            << QStringList { "--init-receiver" } << true << "已加载配置: @/bin/pelmor.conf\n" + progress5
            << QByteArray();
        QTest::newRow("an option as the config path")
            << QStringList { "--config", "--heartbeat", "--init-receiver" } << false << progress4
            << QByteArray("警告: 无法读取配置 --heartbeat，使用内置默认值\n");
    }

    void configLocation()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, besideExists);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        VirtualReceiver receiver;
        const QString dir = receiver.dir();
        receiver.addNode(QStringLiteral("if1"));
        receiver.script(inScratch(QStringLiteral("enum 1 @/if1"), dir));
        receiver.writeFile(QStringLiteral("level3.conf"), "speed=3\n");
        receiver.writeFile(QStringLiteral("level5.conf"), "speed=5\n");
        QVERIFY(QDir(dir).mkdir(QStringLiteral("bin")));
        const QString binary = copyHelperTo(dir + QStringLiteral("/bin"));
        if (besideExists)
            receiver.writeFile(QStringLiteral("bin/pelmor.conf"), "speed=5\n");
        for (QString &argument : arguments)
            argument = inScratch(argument, dir);

        const HelperRun run = runHelper(arguments, &receiver, 30000, binary);
        COMPARE_LINES(run.out, inScratch(out, dir));
        COMPARE_LINES(run.err, inScratch(err, dir));
        QCOMPARE(run.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
