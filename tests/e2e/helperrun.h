// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef HELPERRUN_H
#define HELPERRUN_H

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A virtual receiver for one test: a scratch folder that holds device nodes
// (links to /dev/null, which pass the tool's character-device check and can
// be removed to unplug them), the script of the fake HID library and its
// record of calls.
class VirtualReceiver {
public:
    VirtualReceiver();

    QString dir() const { return scratch.path(); }
    // Creates a node named name and returns its path.
    QString addNode(const QString &name);
    // Appends one directive to the fake library's script.
    void script(const QString &directive);
    // Writes a file into the scratch folder and returns its path.
    QString writeFile(const QString &name, const QByteArray &contents);

    // The record of calls, one tab-separated line each.
    QStringList calls() const;
    // The fields of every recorded call of operation.
    QList<QStringList> calls(const QString &operation) const;
    // The most devices the binary held open at one moment.
    int mostOpenAtOnce() const;
    QString scriptPath() const;
    QString logPath() const;

private:
    QTemporaryDir scratch;
};

// The usage text, as the tool writes it to standard error.
extern const QByteArray UsageText;

struct HelperRun {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;
    bool finished = false;
};

// Runs the shipped pelmor-helper binary with arguments, in the C.UTF-8
// locale, against receiver when given (against the real library otherwise).
HelperRun runHelper(const QStringList &arguments, const VirtualReceiver *receiver = nullptr,
    int timeoutMs = 30000, const QString &program = QString());

// Starts the binary (or program) like runHelper, without waiting for it.
void startHelper(QProcess *process, const QStringList &arguments, const VirtualReceiver *receiver,
    const QString &program = QString());

// The path of the shipped binary.
QString helperBinary();

// A copy of the shipped binary in folder, so that a test decides what lies
// beside it. Returns the copy's path.
QString copyHelperTo(const QString &folder);

// text with every "@" replaced by folder: test tables name scratch paths so.
QString inScratch(QString text, const QString &folder);
QByteArray inScratch(const QByteArray &text, const QString &folder);

// Hex text of bytes, as the virtual receiver records them.
QString hexOf(const QByteArray &bytes);
// The same for a report written as spaced hex, e.g. "10 00 1C".
QString reportHex(const char *spacedHex);

// Compares two outputs line by line, so that a failure names the line.
#define COMPARE_LINES(actual, expected)                                                                      \
    QCOMPARE(QString::fromUtf8(actual).split(QLatin1Char('\n')),                                             \
        QString::fromUtf8(expected).split(QLatin1Char('\n')))

#endif // HELPERRUN_H
