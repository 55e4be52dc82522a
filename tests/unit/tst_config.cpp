// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorconfig.h"
#include "pelmorserviceconfig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

Q_DECLARE_METATYPE(PelmorServiceConfig)

namespace {

// A record that differs from the defaults only where the modifier says.
template<typename Modify> PelmorServiceConfig with(Modify modify)
{
    PelmorServiceConfig config;
    modify(config);
    return config;
}

PelmorServiceConfig defaults()
{
    return PelmorServiceConfig();
}

PelmorServiceConfig speed(int level)
{
    return with([=](PelmorServiceConfig &c) { c.bulk.speedIndex = level; });
}

PelmorServiceConfig poll(int hz)
{
    return with([=](PelmorServiceConfig &c) { c.bulk.pollHz = hz; });
}

PelmorServiceConfig wheel(bool on)
{
    return with([=](PelmorServiceConfig &c) { c.bulk.remapWheel = on; });
}

PelmorServiceConfig device(const QString &path)
{
    return with([=](PelmorServiceConfig &c) { c.devicePath = path; });
}

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(PELMOR_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return file.readAll();
}

void compareRecords(const PelmorServiceConfig &actual, const PelmorServiceConfig &expected)
{
    QCOMPARE(actual.devicePath, expected.devicePath);
    QCOMPARE(actual.heartbeatIntervalSec, expected.heartbeatIntervalSec);
    QCOMPARE(actual.heartbeatStartupDelaySec, expected.heartbeatStartupDelaySec);
    QCOMPARE(actual.bulk.speedIndex, expected.bulk.speedIndex);
    QCOMPARE(actual.bulk.pollHz, expected.bulk.pollHz);
    QCOMPARE(actual.bulk.remapWheel, expected.bulk.remapWheel);
    QCOMPARE(actual.bulk.remapGesture, expected.bulk.remapGesture);
}

// A record far from the defaults, to prove that load resets it.
PelmorServiceConfig scribbled()
{
    return with([](PelmorServiceConfig &c) {
        c.devicePath = QStringLiteral("/somewhere/else");
        c.heartbeatIntervalSec = 9;
        c.heartbeatStartupDelaySec = 9;
        c.bulk = { 1, 125, false, false };
    });
}

} // namespace

class TestConfig : public QObject {
    Q_OBJECT

    QTemporaryDir scratch;

    QString write(const QString &name, const QByteArray &contents)
    {
        const QString path = scratch.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        // Files are decoded in the locale's encoding; pin it for the test
        // (Qt 6 decodes UTF-8 whatever the locale).
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
#endif
        QVERIFY(scratch.isValid());
    }

    void defaultRecord()
    {
        const PelmorServiceConfig config;
        QCOMPARE(config.devicePath, QStringLiteral("/dev/pelmor_config"));
        QCOMPARE(config.heartbeatIntervalSec, 2.0);
        QCOMPARE(config.heartbeatStartupDelaySec, 0.5);
        QCOMPARE(config.bulk.speedIndex, 4);
        QCOMPARE(config.bulk.pollHz, 1000);
        QVERIFY(config.bulk.remapWheel);
        QVERIFY(config.bulk.remapGesture);
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<PelmorServiceConfig>("expected");

        QTest::newRow("empty file") << QByteArray() << defaults();
        QTest::newRow("blank lines and comments")
            << QByteArray("\n   \n# speed=1\n\t # indented speed=1\n") << defaults();
        QTest::newRow("no '=', '=' first, section") << QByteArray("speed 1\n=1\n[speed=1]\n") << speed(4);

        QTest::newRow("speed, upper-case key, spaces") << QByteArray("  SPEED  =  5  \n") << speed(5);
        QTest::newRow("speed 6 refused") << QByteArray("speed=6\n") << defaults();
        QTest::newRow("speed 0 refused") << QByteArray("speed=0\n") << defaults();
        QTest::newRow("speed 3.0 refused") << QByteArray("speed=3.0\n") << defaults();
        QTest::newRow("speed word refused") << QByteArray("speed=fast\n") << defaults();
        QTest::newRow("speed hex refused") << QByteArray("speed=0x3\n") << defaults();
        QTest::newRow("speed with remark refused") << QByteArray("speed=3 # slow\n") << defaults();
        QTest::newRow("key with inner space ignored") << QByteArray("spe ed=1\n") << defaults();

        QTest::newRow("speed_byte 0x14") << QByteArray("speed_byte=0x14\n") << speed(3);
        QTest::newRow("speed_byte 14") << QByteArray("speed_byte=14\n") << speed(3);
        QTest::newRow("val_speed 0X23") << QByteArray("val_speed=0X23\n") << speed(5);
        QTest::newRow("speed_byte 0x15 refused") << QByteArray("speed_byte=0x15\n") << defaults();
        QTest::newRow("speed_byte 0x114 uses low byte") << QByteArray("speed_byte=0x114\n") << speed(3);
        QTest::newRow("speed_byte bare prefix refused") << QByteArray("speed_byte=0x\n") << defaults();

        QTest::newRow("poll_hz 500") << QByteArray("poll_hz=500\n") << poll(500);
        QTest::newRow("polling_hz 125") << QByteArray("polling_hz=125\n") << poll(125);
        QTest::newRow("poll_hz 300 refused") << QByteArray("poll_hz=300\n") << defaults();
        QTest::newRow("poll_hz hex refused") << QByteArray("poll_hz=0x1F4\n") << defaults();
        QTest::newRow("val_polling 0x02") << QByteArray("val_polling=0x02\n") << poll(500);
        QTest::newRow("val_polling 2") << QByteArray("val_polling=2\n") << poll(500);
        QTest::newRow("val_polling 0x03 refused") << QByteArray("val_polling=0x03\n") << defaults();

        auto interval
            = [](double s) { return with([=](PelmorServiceConfig &c) { c.heartbeatIntervalSec = s; }); };
        auto delay
            = [](double s) { return with([=](PelmorServiceConfig &c) { c.heartbeatStartupDelaySec = s; }); };
        QTest::newRow("interval 0.05 refused") << QByteArray("heartbeat_interval_sec=0.05\n") << defaults();
        QTest::newRow("interval 0.06") << QByteArray("heartbeat_interval_sec=0.06\n") << interval(0.06);
        QTest::newRow("interval -1 refused") << QByteArray("heartbeat_interval_sec=-1\n") << defaults();
        QTest::newRow("interval nan refused") << QByteArray("heartbeat_interval_sec=nan\n") << defaults();
        QTest::newRow("delay 0") << QByteArray("heartbeat_startup_delay_sec=0\n") << delay(0);
        QTest::newRow("delay -0.1 refused") << QByteArray("heartbeat_startup_delay_sec=-0.1\n") << defaults();

        for (const char *off : { "OFF", "False", "0" })
            QTest::addRow("remap_wheel %s", off) << QByteArray("remap_wheel=") + off << wheel(false);
        for (const char *on : { "no", "00", "1", "" })
            QTest::addRow("remap_wheel '%s'", on)
                << QByteArray("remap_wheel=0\nremap_wheel=") + on << wheel(true);
        QTest::newRow("remap_gesture off") << QByteArray(
            "remap_gesture=off\n") << with([](PelmorServiceConfig &c) { c.bulk.remapGesture = false; });

        QTest::newRow("device_path empty") << QByteArray("device_path=\n") << device(QString());
        QTest::newRow("device_path keeps '=' and '#'")
            << QByteArray("device_path=/dev/a=b#c\n") << device(QStringLiteral("/dev/a=b#c"));
        QTest::newRow("dev_path after device_path wins")
            << QByteArray("device_path=/dev/one\ndev_path=/dev/two\n") << device(QStringLiteral("/dev/two"));

        QTest::newRow("speed then speed_byte") << QByteArray("speed=2\nspeed_byte=0x23\n") << speed(5);
        QTest::newRow("refused later speed keeps earlier") << QByteArray("speed=2\nspeed=9\n") << speed(2);

        const PelmorServiceConfig hostile = with([](PelmorServiceConfig &c) {
            c.devicePath = QStringLiteral("\"/dev/quoted path\"");
            c.heartbeatIntervalSec = 0.25;
            c.heartbeatStartupDelaySec = 0;
            c.bulk = { 5, 250, false, true };
        });
        QTest::newRow("fixture hostile.conf") << fixture("hostile.conf") << hostile;
        QTest::newRow("fixture hostile-crlf.conf") << fixture("hostile-crlf.conf") << hostile;
        QTest::newRow("fixture utf8.conf")
            << fixture("utf8.conf") << device(QStringLiteral("/dev/鼠标/配置 ①"));
    }

    void load()
    {
        QFETCH(QByteArray, contents);
        QFETCH(PelmorServiceConfig, expected);
        PelmorServiceConfig config = scribbled();
        QVERIFY(PelmorConfig::load(write(QStringLiteral("case.conf"), contents), &config));
        compareRecords(config, expected);
    }

    void unreadableSourcesGiveDefaults_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing file") << scratch.filePath(QStringLiteral("absent.conf"));
        QTest::newRow("directory") << scratch.path();
        QTest::newRow("empty path") << QString();
        QTest::newRow("over 1 MiB") << write(
            QStringLiteral("big.conf"), "speed=1\n" + QByteArray(PelmorConfig::MaxFileSize, '#'));
    }

    void unreadableSourcesGiveDefaults()
    {
        QFETCH(QString, path);
        PelmorServiceConfig config = scribbled();
        QVERIFY(!PelmorConfig::load(path, &config));
        compareRecords(config, defaults());
    }

    void exactlyOneMebibyteIsRead()
    {
        QByteArray contents = "speed=1\n";
        contents += QByteArray(PelmorConfig::MaxFileSize - contents.size(), '#');
        PelmorServiceConfig config;
        QVERIFY(PelmorConfig::load(write(QStringLiteral("limit.conf"), contents), &config));
        QCOMPARE(config.bulk.speedIndex, 1);
    }

    void nullRecordIsRefused()
    {
        QVERIFY(!PelmorConfig::load(write(QStringLiteral("ok.conf"), "speed=1\n"), nullptr));
    }

    void resolveConfigPath_data()
    {
        QTest::addColumn<bool>("giveExplicit");
        QTest::addColumn<bool>("explicitExists");
        QTest::addColumn<bool>("besideExists");
        QTest::addColumn<QString>("expected");
        QTest::newRow("explicit exists") << true << true << true << "explicit";
        QTest::newRow("explicit missing, beside exists") << true << false << true << "beside";
        QTest::newRow("both missing: the asked-for path") << true << false << false << "explicit";
        QTest::newRow("none given, beside exists") << false << false << true << "beside";
        QTest::newRow("none given, beside missing") << false << false << false << "beside";
    }

    void resolveConfigPath()
    {
        QFETCH(bool, giveExplicit);
        QFETCH(bool, explicitExists);
        QFETCH(bool, besideExists);
        QFETCH(QString, expected);
        QTemporaryDir appDir;
        const QString beside = appDir.path() + QStringLiteral("/pelmor.conf");
        const QString explicitPath = scratch.filePath(QStringLiteral("explicit.conf"));
        QFile::remove(explicitPath);
        if (explicitExists)
            write(QStringLiteral("explicit.conf"), "");
        if (besideExists)
            QVERIFY(QFile(beside).open(QIODevice::WriteOnly));
        const QString result
            = PelmorConfig::resolveConfigPath(giveExplicit ? explicitPath : QString(), appDir.path());
        QCOMPARE(result, expected == QLatin1String("explicit") ? explicitPath : beside);
    }
};

QTEST_APPLESS_MAIN(TestConfig)
#include "tst_config.moc"
