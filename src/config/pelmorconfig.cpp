// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorconfig.h"

#include "pelmorprotocol.h"
#include "pelmorserviceconfig.h"

#include <QFile>
#include <QTextStream>

namespace {

// Shortest heartbeat interval accepted, exclusive.
constexpr double MinIntervalSec = 0.05;

bool isKey(const QString &key, const char *name)
{
    return key == QLatin1String(name);
}

// A device byte written in hexadecimal, with or without one "0x" prefix.
// Only the low eight bits count, so 0x114 names the same byte as 0x14.
bool parseDeviceByte(QString value, unsigned char *byte)
{
    if (value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value.remove(0, 2);
    bool ok = false;
    const int number = value.toInt(&ok, 16);
    if (!ok)
        return false;
    *byte = static_cast<unsigned char>(number);
    return true;
}

// Off for "0", "false" and "off" (any case); on for everything else.
bool parseSwitch(const QString &value)
{
    return !(value == QLatin1String("0") || value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0
        || value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0);
}

} // namespace

QString PelmorConfig::resolveConfigPath(const QString &explicitPath, const QString &appDir)
{
    if (!explicitPath.isEmpty() && QFile::exists(explicitPath))
        return explicitPath;
    const QString besideExecutable = appDir + QLatin1String("/pelmor.conf");
    if (QFile::exists(besideExecutable))
        return besideExecutable;
    return explicitPath.isEmpty() ? besideExecutable : explicitPath;
}

bool PelmorConfig::load(const QString &path, PelmorServiceConfig *config)
{
    if (!config)
        return false;
    *config = PelmorServiceConfig();

    QByteArray contents;
    if (!readBounded(path, &contents))
        return false;

    QTextStream stream(&contents, QIODevice::ReadOnly);
    while (!stream.atEnd())
        applyLine(stream.readLine(), config);
    return true;
}

// Reads the whole source, up to MaxFileSize bytes. Reads until a read reports
// end of file, so a pipe whose writer is slow is still read to its end.
bool PelmorConfig::readBounded(const QString &path, QByteArray *contents)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    char chunk[64 * 1024];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (contents->size() + got > MaxFileSize)
            return false;
        contents->append(chunk, static_cast<int>(got));
    }
}

void PelmorConfig::applyLine(const QString &rawLine, PelmorServiceConfig *config)
{
    const QString line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return;
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return;
    const QString key = line.left(equals).trimmed().toLower();
    const QString value = line.mid(equals + 1).trimmed();
    PelmorProtocol::BulkConfig &bulk = config->bulk;
    bool ok = false;
    unsigned char byte = 0;

    if (isKey(key, "device_path") || isKey(key, "dev_path")) {
        config->devicePath = value;
    } else if (isKey(key, "heartbeat_interval_sec")) {
        const double seconds = value.toDouble(&ok);
        if (ok && seconds > MinIntervalSec)
            config->heartbeatIntervalSec = seconds;
    } else if (isKey(key, "heartbeat_startup_delay_sec")) {
        const double seconds = value.toDouble(&ok);
        if (ok && seconds >= 0)
            config->heartbeatStartupDelaySec = seconds;
    } else if (isKey(key, "speed")) {
        const int level = value.toInt(&ok, 10);
        if (ok && level >= 1 && level <= 5)
            bulk.speedIndex = level;
    } else if (isKey(key, "speed_byte") || isKey(key, "val_speed")) {
        if (parseDeviceByte(value, &byte)) {
            const QMap<unsigned char, int> levels = PelmorProtocol::speedIndexFromByte();
            if (levels.contains(byte))
                bulk.speedIndex = levels.value(byte);
        }
    } else if (isKey(key, "polling_hz") || isKey(key, "poll_hz")) {
        const int hz = value.toInt(&ok, 10);
        if (ok && PelmorProtocol::pollByteMap().contains(hz))
            bulk.pollHz = hz;
    } else if (isKey(key, "val_polling")) {
        if (parseDeviceByte(value, &byte)) {
            const QMap<unsigned char, int> rates = PelmorProtocol::pollHzFromByte();
            if (rates.contains(byte))
                bulk.pollHz = rates.value(byte);
        }
    } else if (isKey(key, "remap_wheel")) {
        bulk.remapWheel = parseSwitch(value);
    } else if (isKey(key, "remap_gesture")) {
        bulk.remapGesture = parseSwitch(value);
    }
}
