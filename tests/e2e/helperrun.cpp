// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "helperrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

const QByteArray UsageText = "Usage:\n"
                             "  pelmor-helper --heartbeat [--config PATH]\n"
                             "  pelmor-helper --init-receiver [--config PATH]\n";

VirtualReceiver::VirtualReceiver()
{
    // Nothing attached until a test scripts it.
    writeFile(QStringLiteral("receiver.script"), "# virtual receiver\n");
}

QString VirtualReceiver::addNode(const QString &name)
{
    const QString path = scratch.filePath(name);
    QFile::link(QStringLiteral("/dev/null"), path);
    return path;
}

void VirtualReceiver::script(const QString &directive)
{
    QFile file(scriptPath());
    if (!file.open(QIODevice::Append))
        qFatal("cannot write the script %s", qPrintable(file.fileName()));
    file.write(directive.toUtf8() + '\n');
}

QString VirtualReceiver::writeFile(const QString &name, const QByteArray &contents)
{
    const QString path = scratch.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(contents);
    return path;
}

QStringList VirtualReceiver::calls() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<QStringList> VirtualReceiver::calls(const QString &operation) const
{
    QList<QStringList> matching;
    for (const QString &line : calls()) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.first() == operation)
            matching.append(fields);
    }
    return matching;
}

int VirtualReceiver::mostOpenAtOnce() const
{
    int open = 0;
    int most = 0;
    for (const QString &call : calls()) {
        if (call.startsWith(QLatin1String("open\t")) && !call.endsWith(QLatin1String("null")))
            most = qMax(most, ++open);
        else if (call.startsWith(QLatin1String("close\t")))
            --open;
    }
    return most;
}

QString VirtualReceiver::scriptPath() const
{
    return scratch.filePath(QStringLiteral("receiver.script"));
}

QString VirtualReceiver::logPath() const
{
    return scratch.filePath(QStringLiteral("receiver.log"));
}

QString helperBinary()
{
    return QStringLiteral(PELMOR_HELPER_BINARY);
}

QString copyHelperTo(const QString &folder)
{
    const QString copy = folder + QStringLiteral("/pelmor-helper");
    QFile::remove(copy);
    if (!QFile::copy(helperBinary(), copy))
        qFatal("cannot copy the binary to %s", qPrintable(folder));
    return copy;
}

QString inScratch(QString text, const QString &folder)
{
    return text.replace(QLatin1Char('@'), folder);
}

QByteArray inScratch(const QByteArray &text, const QString &folder)
{
    return QByteArray(text).replace('@', folder.toUtf8());
}

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

QProcessEnvironment helperEnvironment(const VirtualReceiver *receiver)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.remove(QStringLiteral("FAKEHID_SCRIPT"));
    environment.remove(QStringLiteral("FAKEHID_LOG"));
    if (receiver) {
        const QString previous = environment.value(QStringLiteral("LD_LIBRARY_PATH"));
        const QString fake = QStringLiteral(PELMOR_VIRTUAL_RECEIVER_DIR);
        environment.insert(QStringLiteral("LD_LIBRARY_PATH"),
            previous.isEmpty() ? fake : fake + QLatin1Char(':') + previous);
        environment.insert(QStringLiteral("FAKEHID_SCRIPT"), receiver->scriptPath());
        environment.insert(QStringLiteral("FAKEHID_LOG"), receiver->logPath());
    }
    return environment;
}

void startHelper(
    QProcess *process, const QStringList &arguments, const VirtualReceiver *receiver, const QString &program)
{
    process->setProcessEnvironment(helperEnvironment(receiver));
    // PELMOR_TEST_WRAPPER runs the binary under a checker, e.g. valgrind.
    QStringList command = QProcessEnvironment::systemEnvironment()
                              .value(QStringLiteral("PELMOR_TEST_WRAPPER"))
                              .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    command << (program.isEmpty() ? helperBinary() : program) << arguments;
    process->start(command.takeFirst(), command);
}

QString reportHex(const char *spacedHex)
{
    return hexOf(QByteArray::fromHex(spacedHex));
}

HelperRun runHelper(
    const QStringList &arguments, const VirtualReceiver *receiver, int timeoutMs, const QString &program)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    startHelper(&process, arguments, receiver, program);
    HelperRun run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.elapsedMs = timer.elapsed();
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
