// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorstatus.h"

#include "pelmorhid.h"
#include "pelmorprotocol.h"
#include "pelmorservice.h"
#include "pelmorserviceconfig.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

namespace {

QByteArray local(const QString &text)
{
    return text.toLocal8Bit();
}

const char *onOff(bool on)
{
    return on ? "on" : "off";
}

// The same file whichever way it was named: links and "." or ".." resolved
// where the file exists, the absolute path cleaned where it does not.
QString comparablePath(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

} // namespace

int PelmorStatus::run(const PelmorServiceConfig &config, const PelmorConfigSource &source, const char *version)
{
    std::fprintf(stdout, "pelmor-helper %s\n", version);
    printConfigSource(source);
    printSettings(config);
    const int openable = printInterfaces();
    printDeviceNode(config.devicePath);
    return openable > 0 ? 0 : 1;
}

void PelmorStatus::printConfigSource(const PelmorConfigSource &source)
{
    std::fprintf(stdout, source.loaded ? "配置文件: %s (已读取)\n" : "配置文件: %s (无法读取，使用内置默认值)\n",
        local(source.path).constData());
    // A user trying the tool by hand gets the file beside the executable,
    // not the one the units apply at every plug-in.
    if (!source.systemPath.isEmpty() && comparablePath(source.path) != comparablePath(source.systemPath))
        std::fprintf(stdout, "注意: 系统服务读取的是 %s，不是这个文件\n", local(source.systemPath).constData());
}

// The settings as configuration lines, so that any of them can be copied
// into the file as it stands.
void PelmorStatus::printSettings(const PelmorServiceConfig &config)
{
    const PelmorProtocol::BulkConfig &bulk = config.bulk;
    std::fprintf(stdout,
        "设置:\n  speed=%d\n  polling_hz=%d\n  remap_wheel=%s\n  remap_gesture=%s\n  device_path=%s\n"
        "  heartbeat_interval_sec=%s\n  heartbeat_startup_delay_sec=%s\n",
        bulk.speedIndex, bulk.pollHz, onOff(bulk.remapWheel), onOff(bulk.remapGesture),
        local(config.devicePath).constData(), local(QString::number(config.heartbeatIntervalSec)).constData(),
        local(QString::number(config.heartbeatStartupDelaySec)).constData());
    const QByteArray report = PelmorProtocol::buildBulkPacket(bulk);
    std::fprintf(stdout, "配置报告: %s\n", report.toHex(' ').constData());
}

// Returns how many interfaces opened.
int PelmorStatus::printInterfaces()
{
    const QList<QString> paths = PelmorHid::listManagementPaths(PelmorService::ReceiverProductId);
    std::fprintf(stdout, "管理接口 (%04x:%04x):%s\n", PelmorHid::VendorId, PelmorService::ReceiverProductId,
        paths.isEmpty() ? " 未找到" : "");
    int openable = 0;
    for (const QString &path : paths) {
        PelmorHid hid;
        if (hid.openPath(path)) {
            ++openable;
            std::fprintf(stdout, "  %s: 可以打开\n", local(path).constData());
        } else if (hid.errorNumber() != 0) {
            std::fprintf(stdout, "  %s: 无法打开: %s\n", local(path).constData(), std::strerror(hid.errorNumber()));
        } else {
            std::fprintf(stdout, "  %s: 无法打开\n", local(path).constData());
        }
    }
    return openable;
}

void PelmorStatus::printDeviceNode(const QString &path)
{
    const QFileInfo node(path);
    const QByteArray name = local(path);
    if (path.isEmpty())
        std::fprintf(stdout, "设备节点: 未设置\n");
    else if (node.isSymLink())
        std::fprintf(stdout, node.exists() ? "设备节点: %s -> %s\n" : "设备节点: %s -> %s (不存在)\n",
            name.constData(), local(node.symLinkTarget()).constData());
    else if (node.exists())
        std::fprintf(stdout, "设备节点: %s (不是链接)\n", name.constData());
    else
        std::fprintf(stdout, "设备节点: %s 不存在\n", name.constData());
}
