// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorcommandline.h"

#include <QTest>

using Outcome = PelmorCommandLine::Outcome;
Q_DECLARE_METATYPE(PelmorCommandLine::Outcome)

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("mode"); // "heartbeat", "init", "status" or empty
        QTest::addColumn<QString>("configPath");
        QTest::addColumn<QString>("unknown");

        const QString none;
        QTest::newRow("no arguments") << QStringList() << Outcome::UsageError << none << none << none;
        QTest::newRow("heartbeat") << QStringList { "--heartbeat" } << Outcome::Run << "heartbeat" << none
                                   << none;
        QTest::newRow("init-receiver")
            << QStringList { "--init-receiver" } << Outcome::Run << "init" << none << none;
        QTest::newRow("heartbeat twice")
            << QStringList { "--heartbeat", "--heartbeat" } << Outcome::Run << "heartbeat" << none << none;
        QTest::newRow("both modes") << QStringList { "--heartbeat", "--init-receiver" } << Outcome::UsageError
                                    << none << none << none;
        QTest::newRow("status") << QStringList { "--config", "a.conf", "--status" } << Outcome::Run << "status"
                                << "a.conf" << none;
        QTest::newRow("status and a mode") << QStringList { "--status", "--heartbeat" } << Outcome::UsageError
                                           << none << none << none;
        QTest::newRow("config without mode")
            << QStringList { "--config", "a.conf" } << Outcome::UsageError << none << "a.conf" << none;
        QTest::newRow("help") << QStringList { "--help" } << Outcome::Help << none << none << none;
        QTest::newRow("-h after mode")
            << QStringList { "--heartbeat", "-h" } << Outcome::Help << none << none << none;
        QTest::newRow("help before unknown")
            << QStringList { "--help", "--bogus" } << Outcome::Help << none << none << none;
        QTest::newRow("unknown before help")
            << QStringList { "--bogus", "--help" } << Outcome::UnknownArgument << none << none << "--bogus";
        QTest::newRow("version ends the walk")
            << QStringList { "--version", "--bogus" } << Outcome::Version << none << none << none;
        QTest::newRow("version after a mode") << QStringList { "--init-receiver", "--heartbeat", "--version" }
                                              << Outcome::Version << none << none << none;
        QTest::newRow("unknown before version") << QStringList { "--bogus", "--version" }
                                                << Outcome::UnknownArgument << none << none << "--bogus";
        QTest::newRow("config takes --version verbatim")
            << QStringList { "--config", "--version", "--heartbeat" } << Outcome::Run << "heartbeat"
            << "--version" << none;
        QTest::newRow("-V and -v are unknown")
            << QStringList { "-V" } << Outcome::UnknownArgument << none << none << "-V";
        QTest::newRow("config as last argument") << QStringList { "--heartbeat", "--config" }
                                                 << Outcome::UnknownArgument << none << none << "--config";
        QTest::newRow("config takes an option verbatim")
            << QStringList { "--config", "--heartbeat", "--init-receiver" } << Outcome::Run << "init"
            << "--heartbeat" << none;
        QTest::newRow("config takes -h verbatim")
            << QStringList { "--config", "-h", "--heartbeat" } << Outcome::Run << "heartbeat"
            << "-h" << none;
        QTest::newRow("config takes empty")
            << QStringList { "--config", "", "--heartbeat" } << Outcome::Run << "heartbeat"
            << "" << none;
        QTest::newRow("later config wins")
            << QStringList { "--config", "a", "--config", "b", "--heartbeat" } << Outcome::Run << "heartbeat"
            << "b" << none;
        QTest::newRow("upper case") << QStringList { "--HEARTBEAT" } << Outcome::UnknownArgument << none
                                    << none << "--HEARTBEAT";
        QTest::newRow("config joined by '='") << QStringList { "--init-receiver", "--config=a" }
                                              << Outcome::UnknownArgument << none << none << "--config=a";
        QTest::newRow("empty argument")
            << QStringList { "" } << Outcome::UnknownArgument << none << none << "";
        QTest::newRow("percent signs")
            << QStringList { "%s%n%x" } << Outcome::UnknownArgument << none << none << "%s%n%x";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Outcome, outcome);
        QFETCH(QString, mode);
        QFETCH(QString, configPath);
        QFETCH(QString, unknown);

        const PelmorCommandLine result = PelmorCommandLine::parse(arguments);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.unknownArgument, unknown);
        if (outcome == Outcome::Run) {
            QCOMPARE(result.heartbeat, mode == QLatin1String("heartbeat"));
            QCOMPARE(result.initReceiver, mode == QLatin1String("init"));
            QCOMPARE(result.status, mode == QLatin1String("status"));
            QCOMPARE(result.configPath, configPath);
        }
    }

    void manyArgumentsAreWalked()
    {
        QStringList arguments;
        for (int i = 0; i < 10000; ++i)
            arguments << QStringLiteral("--config") << QString::number(i);
        arguments << QStringLiteral("--heartbeat");
        const PelmorCommandLine result = PelmorCommandLine::parse(arguments);
        QCOMPARE(result.outcome, Outcome::Run);
        QCOMPARE(result.configPath, QStringLiteral("9999"));
    }
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
