// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT
//
// The least program that does what pelmor-helper does in each benchmark
// scenario: the same Qt start-up, the same configuration file read with the
// plainest Qt calls, the same hidapi calls against the same receiver, the same
// output, and nothing else. The benchmark compares the tool with it.
//
// Usage: pelmor-floor help | usage | init CONFIG | heartbeat CONFIG
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QTextStream>
#include <QThread>

#include <hidapi.h>

#include <cstdio>
#include <cstring>

namespace {

const char Usage[] = "Usage:\n"
                     "  pelmor-helper --heartbeat [--config PATH]\n"
                     "  pelmor-helper --init-receiver [--config PATH]\n";

// The settings a scenario uses, read as key=value lines.
QMap<QString, QString> readSettings(const QString &path)
{
    QMap<QString, QString> settings;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return settings;
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        const QString line = stream.readLine();
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            settings.insert(line.left(equals), line.mid(equals + 1));
    }
    return settings;
}

// The 32-byte report of the benchmark's settings (level 4, 1000 Hz).
const unsigned char Report[32] = { 0x10, 0x00, 0x1C, 0x00, 0x01, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03,
    0x00, 0x0A, 0x0B, 0x0C, 0x0F, 0x0E, 0x0D, 0x10, 0x00, 0x1E, 0, 0, 0, 0x01 };

int initReceiver(const QString &config)
{
    readSettings(config);
    std::printf("已加载配置: %s\n", config.toLocal8Bit().constData());
    QThread::msleep(1000);
    hid_init();
    hid_device_info *devices = hid_enumerate(0x256F, 0xC652);
    for (hid_device_info *device = devices; device; device = device->next) {
        if (device->interface_number == 0 || !device->path)
            continue;
        std::printf("正在配置设备 %s (speed=%d, poll=%dHz)...\n", device->path, 4, 1000);
        if (hid_device *handle = hid_open_path(device->path)) {
            hid_set_nonblocking(handle, 0);
            hid_send_feature_report(handle, Report, sizeof Report);
            hid_close(handle);
        }
    }
    hid_free_enumeration(devices);
    return 0;
}

int heartbeat(const QString &config)
{
    const QMap<QString, QString> settings = readSettings(config);
    std::printf("已加载配置: %s\n", config.toLocal8Bit().constData());
    const QString node = settings.value(QStringLiteral("device_path"));
    const QByteArray path = node.toUtf8();
    const double interval = settings.value(QStringLiteral("heartbeat_interval_sec")).toDouble();
    hid_init();
    hid_device *handle = hid_open_path(path.constData());
    if (!handle)
        return 1;
    hid_set_nonblocking(handle, 0);
    std::printf("正在发送 Feature 初始化配置 (speed=%d, poll=%dHz)...\n", 4, 1000);
    hid_send_feature_report(handle, Report, sizeof Report);
    std::fwrite("初始化成功。\n", 1, std::strlen("初始化成功。\n"), stdout);
    hid_close(handle);
    std::printf("进入心跳维持模式 (间隔 %.2f 秒)...\n", interval);
    const unsigned char beat = 0x00;
    while (QFile::exists(node)) {
        if ((handle = hid_open_path(path.constData()))) {
            hid_set_nonblocking(handle, 0);
            hid_write(handle, &beat, 1);
        }
        QThread::msleep(static_cast<unsigned long>(interval * 1000.0));
        if (handle)
            hid_close(handle);
    }
    std::fwrite("设备已移除，退出心跳。\n", 1, std::strlen("设备已移除，退出心跳。\n"), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString scenario = arguments.value(1);
    if (scenario == QLatin1String("init"))
        return initReceiver(arguments.value(2));
    if (scenario == QLatin1String("heartbeat"))
        return heartbeat(arguments.value(2));
    if (scenario == QLatin1String("usage"))
        std::fprintf(stderr, "未知参数: %s\n", arguments.value(2).toLocal8Bit().constData());
    std::fwrite(Usage, 1, sizeof Usage - 1, stderr);
    return scenario == QLatin1String("help") ? 0 : 2;
}
