// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "fakehid.h"
#include "pelmorhid.h"
#include "pelmorhidopenguard.h"

#include <cerrno>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList recorded()
{
    QStringList lines;
    for (const std::string &line : FakeHid::calls())
        lines << QString::fromStdString(line);
    return lines;
}

QStringList recorded(const char *operation)
{
    QStringList lines;
    for (const QString &line : recorded()) {
        if (line.section(QLatin1Char('\t'), 0, 0) == QLatin1String(operation))
            lines << line;
    }
    return lines;
}

void script(const QString &text)
{
    std::string error;
    if (!FakeHid::loadScript(text.toStdString(), &error))
        qFatal("bad script: %s", error.c_str());
}

} // namespace

class TestHid : public QObject {
    Q_OBJECT

    QTemporaryDir scratch;
    int nodes = 0;

    // A node that passes the character-device check: a link to /dev/null.
    QString node(const QString &name)
    {
        const QString path = scratch.filePath(name);
        QFile::link(QStringLiteral("/dev/null"), path);
        return path;
    }

    // A device the virtual receiver knows, scripted with extra directives.
    QString openable(const QString &name, const QString &directives = QString())
    {
        const QString path = node(name);
        script(
            QStringLiteral("device %1\n").arg(path) + QString(directives).replace(QLatin1String("@"), path));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(scratch.isValid());
        FakeHid::reset();
    }

    // Must run first: the library can start only once per process.
    void libraryStartsOnce()
    {
        {
            PelmorHid first;
            PelmorHid second;
        }
        PelmorHid::listManagementPaths(0xC652);
        PelmorHid third;
        PelmorHid::ensureInit();
        QCOMPARE(FakeHid::initCount(), 1);
    }

    void init() { FakeHid::reset(); }

    void cleanup()
    {
        QCOMPARE(FakeHid::openHandles(), 0);
        QCOMPARE(FakeHid::liveEnumerations(), 0);
    }

    void closedHandleRefusesEverything()
    {
        PelmorHid hid;
        QCOMPARE(hid.errorString(), QString());
        QVERIFY(!hid.sendFeature(QByteArray(32, 1)));
        QCOMPARE(hid.errorString(), QStringLiteral("device not open"));
        QVERIFY(!hid.sendFeature(QByteArray()));
        QCOMPARE(hid.errorString(), QStringLiteral("device not open"));
        QVERIFY(!hid.sendOutput(QByteArray(1, 0)));
        QCOMPARE(hid.errorString(), QStringLiteral("device not open"));
        QVERIFY(hid.readFeature(0x10, 32).isEmpty());
        QCOMPARE(hid.errorString(), QStringLiteral("device not open"));
        QVERIFY(recorded().isEmpty());
    }

    void failedOpens_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("libraryAsked");
        QTest::newRow("missing path") << "missing" << false;
        QTest::newRow("regular file") << "file" << false;
        QTest::newRow("directory") << "directory" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("character device, not hidraw") << "zero" << false;
        QTest::newRow("library refuses") << "refused" << true;
        QTest::newRow("unknown to the library") << "unknown" << true;
    }

    void failedOpens()
    {
        QFETCH(QString, kind);
        QFETCH(bool, libraryAsked);
        QString path = scratch.filePath(kind + QStringLiteral("-node"));
        if (kind == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            script(QStringLiteral("device %1").arg(path)); // would open, were it asked
        } else if (kind == QLatin1String("directory")) {
            path = scratch.path();
        } else if (kind == QLatin1String("zero")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
            script(QStringLiteral("device %1").arg(path)); // would open, were it asked
        } else if (kind == QLatin1String("dangling")) {
            QVERIFY(QFile::link(scratch.filePath(QStringLiteral("nowhere")), path));
        } else if (kind == QLatin1String("refused")) {
            openable(kind + QStringLiteral("-node"), QStringLiteral("open @ fail"));
        } else if (kind == QLatin1String("unknown")) {
            node(kind + QStringLiteral("-node"));
        }

        PelmorHid hid;
        QVERIFY(!hid.openPath(path));
        QCOMPARE(hid.errorString(), QStringLiteral("无法打开设备: %1").arg(path));
        // Without the pre-check every path goes to the library, which fails it.
        QCOMPARE(recorded("open").size(), libraryAsked || !PELMOR_HIDAPI_OPEN_GUARD ? 1 : 0);
        QVERIFY(!hid.sendFeature(QByteArray(1, 0)));
        QCOMPARE(hid.errorString(), QStringLiteral("device not open"));
    }

    void openSetsBlockingMode()
    {
        const QString path = openable(QStringLiteral("blocking"));
        PelmorHid hid;
        QVERIFY(hid.openPath(path));
        QCOMPARE(hid.errorString(), QString());
        QCOMPARE(recorded(),
            (QStringList {
                QStringLiteral("open\t%1\t->\t#1").arg(path), QStringLiteral("nonblocking\t#1\t0") }));
    }

    void reopeningClosesFirst()
    {
        const QString first = openable(QStringLiteral("first"));
        const QString second = openable(QStringLiteral("second"), QStringLiteral("open @ fail"));
        PelmorHid hid;
        QVERIFY(hid.openPath(first));
        QVERIFY(!hid.openPath(second));
        QCOMPARE(FakeHid::openHandles(), 0);
        QCOMPARE(recorded().at(2), QStringLiteral("close\t#1\t%1").arg(first));
        QVERIFY(hid.openPath(first));
        QVERIFY(!hid.openPath(QString()));
        QCOMPARE(hid.errorString(), QStringLiteral("empty device path"));
        QCOMPARE(FakeHid::openHandles(), 0);
        QCOMPARE(FakeHid::maxOpenHandles(), 1);
    }

    void sendFailureTexts_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("errorDirective");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("errnoName"); // what the library leaves in errno
        QTest::addColumn<int>("expectedNumber");
        const QString longText(5000, QLatin1Char('x'));
        for (const char *operation : { "feature", "write" }) {
            const QString word
                = QLatin1String(operation) == QLatin1String("feature") ? "send_feature" : "send_output";
            QTest::addRow("%s, library text", operation)
                << operation << "text Broken pipe" << word + QStringLiteral(": Broken pipe") << "EPIPE"
                << EPIPE;
            QTest::addRow("%s, no text", operation) << operation << "none" << word << "EIO" << EIO;
            QTest::addRow("%s, empty text", operation) << operation << "empty" << word << "EINVAL" << EINVAL;
            QTest::addRow("%s, wide text", operation) << operation << QStringLiteral("text 设备 ✓ 𝄞")
                                                      << word + QStringLiteral(": 设备 ✓ 𝄞") << "EIO" << EIO;
            QTest::addRow("%s, long text", operation) << operation << QStringLiteral("text ") + longText
                                                      << word + QStringLiteral(": ") + longText << "0" << 0;
        }
    }

    void sendFailureTexts()
    {
        QFETCH(QString, operation);
        QFETCH(QString, errorDirective);
        QFETCH(QString, expected);
        QFETCH(QString, errnoName);
        QFETCH(int, expectedNumber);
        const QString path = openable(QStringLiteral("failing-%1").arg(++nodes),
            QStringLiteral("%1 @ fail\nerror @ %2\nerrno @ %3").arg(operation, errorDirective, errnoName));
        PelmorHid hid;
        QVERIFY(hid.openPath(path));
        const QByteArray report = QByteArray::fromHex("10aabb");
        const bool sent
            = operation == QLatin1String("feature") ? hid.sendFeature(report) : hid.sendOutput(report);
        QVERIFY(!sent);
        QCOMPARE(hid.errorString(), expected);
        QCOMPARE(hid.errorNumber(), expectedNumber);
        // A refused report leaves the device open.
        QCOMPARE(FakeHid::openHandles(), 1);
        const QStringList calls = recorded(operation == QLatin1String("feature") ? "feature" : "write");
        QCOMPARE(calls, QStringList { QStringLiteral("%1\t#1\t%2\t10aabb\t->\t-1").arg(operation, path) });
    }

    void successClearsTheText()
    {
        const QString path = openable(QStringLiteral("recovering"), QStringLiteral("feature @ fail"));
        PelmorHid hid;
        QVERIFY(hid.openPath(path));
        QVERIFY(!hid.sendFeature(QByteArray(32, 0)));
        QVERIFY(!hid.errorString().isEmpty());
        hid.close();
        QVERIFY2(!hid.errorString().isEmpty(), "close keeps the text");
        hid.close();
        QVERIFY(hid.openPath(path));
        QVERIFY(hid.sendOutput(QByteArray(32, 0)));
        QCOMPARE(hid.errorString(), QString());
        QCOMPARE(hid.errorNumber(), 0);
    }

    void shortCountIsSuccessAndEmptyReportsAreRefused()
    {
        const QString path = openable(QStringLiteral("short"), QStringLiteral("feature @ 3\nwrite @ 0"));
        PelmorHid hid;
        QVERIFY(hid.openPath(path));
        QVERIFY(hid.sendFeature(QByteArray(32, 7)));
        QVERIFY(hid.sendOutput(QByteArray(1, 0)));
        QVERIFY(!hid.sendFeature(QByteArray()));
        QCOMPARE(hid.errorString(), QStringLiteral("empty feature report"));
        QVERIFY(!hid.sendOutput(QByteArray()));
        QCOMPARE(hid.errorString(), QStringLiteral("empty output report"));
        QCOMPARE(recorded("feature").size() + recorded("write").size(), 2);
    }

    void readFeature_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("error");
        QTest::newRow("length 0") << 0 << "ok" << QByteArray() << "invalid feature length";
        QTest::newRow("length -1") << -1 << "ok" << QByteArray() << "invalid feature length";
        QTest::newRow("short read is cut") << 9 << "4" << QByteArray::fromHex("05a1a2a3") << "";
        QTest::newRow("zero keeps the buffer") << 9 << "0" << QByteArray::fromHex("050000000000000000") << "";
        QTest::newRow("full read") << 9 << "9" << QByteArray::fromHex("05a1a2a3a4a5a6a7a8") << "";
        QTest::newRow("overlong count") << 9 << "12" << QByteArray::fromHex("05a1a2a3a4a5a6a7a8") << "";
        QTest::newRow("failure") << 9 << "fail" << QByteArray() << "read_feature: Input/output error";
    }

    void readFeature()
    {
        QFETCH(int, length);
        QFETCH(QString, result);
        QFETCH(QByteArray, expected);
        QFETCH(QString, error);
        const QString path
            = openable(QStringLiteral("reader-%1").arg(++nodes), QStringLiteral("getfeature @ ") + result);
        PelmorHid hid;
        QVERIFY(hid.openPath(path));
        QCOMPARE(hid.readFeature(0x05, length).toHex(), expected.toHex());
        QCOMPARE(hid.errorString(), error);
        QCOMPARE(recorded("getfeature").size(), length > 0 ? 1 : 0);
    }

    void listManagementPaths_data()
    {
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing attached") << "" << QStringList();
        QTest::newRow("interface 0 left out, -1 kept, order kept")
            << "enum 2 /x/if2\nenum 0 /x/if0\nenum -1 /x/ifunknown\nenum 1 /x/if1"
            << QStringList { "/x/if2", "/x/ifunknown", "/x/if1" };
        QTest::newRow("null path skipped") << "enum 1 -\nenum 2 /x/if2" << QStringList { "/x/if2" };
        QTest::newRow("repeats kept") << "enum 1 /x/if1\nenum 1 /x/if1" << QStringList { "/x/if1", "/x/if1" };
        QTest::newRow("other products are not asked for")
            << "enum 1 /x/other 256f:c653\nenum 1 /y/other 046d:c652\nenum 1 /x/if1"
            << QStringList { "/x/if1" };
        QTest::newRow("UTF-8 path") << "enum 1 /x/接口" << QStringList { "/x/接口" };
    }

    void listManagementPaths()
    {
        QFETCH(QString, entries);
        QFETCH(QStringList, expected);
        script(entries);
        QCOMPARE(PelmorHid::listManagementPaths(0xC652), expected);
        const QStringList enumerations = recorded("enumerate");
        QCOMPARE(enumerations.size(), 1);
        QVERIFY(enumerations.first().startsWith(QLatin1String("enumerate\t256f\tc652\t")));
        QCOMPARE(recorded("free_enumeration"),
            QStringList { expected.isEmpty() && entries.isEmpty() ? "free_enumeration\tnull"
                                                                  : "free_enumeration\tlist" });
    }
};

QTEST_APPLESS_MAIN(TestHid)
#include "tst_hid.moc"
