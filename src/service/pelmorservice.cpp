// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorservice.h"

#include "pelmorhid.h"
#include "pelmorprotocol.h"
#include "pelmorserviceconfig.h"

#include <QFile>
#include <QList>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// The heartbeat report: report number 0, no data bytes.
constexpr char HeartbeatByte = 0x00;
constexpr int HeartbeatReportSize = 1;

QByteArray local(const QString &text)
{
    return text.toLocal8Bit();
}

void writeFixed(FILE *stream, const char *text)
{
    std::fwrite(text, 1, std::strlen(text), stream);
}

} // namespace

quint64 PelmorService::millisecondsFromSeconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    // 2^64 exactly; every double below it truncates to a representable count.
    constexpr double Limit = 18446744073709551616.0;
    const double milliseconds = seconds * 1000.0;
    if (!(milliseconds < Limit))
        return std::numeric_limits<quint64>::max();
    return static_cast<quint64>(milliseconds);
}

void PelmorService::sleepSeconds(double seconds)
{
    // Some Qt versions turn a wait of centuries into an invalid time and
    // return at once (Qt 6.8 overflows its nanosecond count), which would
    // make the heartbeat loop spin. A day at a time is well within every one.
    constexpr quint64 LongestStepMs = 24ULL * 60 * 60 * 1000;
    for (quint64 left = millisecondsFromSeconds(seconds); left > 0;) {
        const quint64 step = qMin(left, LongestStepMs);
        QThread::msleep(static_cast<unsigned long>(step));
        left -= step;
    }
}

int PelmorService::runHeartbeat(const PelmorServiceConfig &config)
{
    sleepSeconds(config.heartbeatStartupDelaySec);

    if (!QFile::exists(config.devicePath)) {
        std::fprintf(stderr, "错误: 未找到设备节点 %s\n", local(config.devicePath).constData());
        return 1;
    }

    {
        PelmorHid hid;
        if (!hid.openPath(config.devicePath)) {
            std::fprintf(stderr, "打开设备失败: %s\n", local(hid.errorString()).constData());
            return 1;
        }
        std::fprintf(stdout, "正在发送 Feature 初始化配置 (speed=%d, poll=%dHz)...\n", config.bulk.speedIndex,
            config.bulk.pollHz);
        const QByteArray packet = PelmorProtocol::buildBulkPacket(config.bulk);
        bool configured = hid.sendFeature(packet);
        if (!configured) {
            std::fprintf(
                stderr, "send-feature 失败，尝试 send-output: %s\n", local(hid.errorString()).constData());
            configured = hid.sendOutput(packet);
        }
        if (configured)
            writeFixed(stdout, "初始化成功。\n");
        else
            std::fprintf(stderr, "初始化失败: %s\n", local(hid.errorString()).constData());
    }

    std::fprintf(stdout, "进入心跳维持模式 (间隔 %.2f 秒)...\n", config.heartbeatIntervalSec);
    const QByteArray heartbeat(HeartbeatReportSize, HeartbeatByte);
    // The hidraw driver refuses every write shorter than two bytes with
    // EINVAL: once it has refused the heartbeat, no later write can succeed,
    // and each one would only add a line here and a warning to the kernel log.
    bool refusedAsTooShort = false;
    for (;;) {
        if (!QFile::exists(config.devicePath)) {
            writeFixed(stdout, "设备已移除，退出心跳。\n");
            return 0;
        }
        PelmorHid hid;
        if (hid.openPath(config.devicePath) && !refusedAsTooShort && !hid.sendOutput(heartbeat)) {
            std::fprintf(stderr, "心跳失败: %s\n", local(hid.errorString()).constData());
            if (hid.errorNumber() == EINVAL) {
                writeFixed(stderr, "心跳报告被拒绝 (报告过短)，不再发送心跳。\n");
                refusedAsTooShort = true;
            }
        }
        // The handle stays open across the sleep and is closed when the
        // cycle's scope ends.
        sleepSeconds(config.heartbeatIntervalSec);
    }
}

int PelmorService::runInitReceiver(const PelmorServiceConfig &config)
{
    QThread::msleep(InitPauseMs);

    QList<QString> targets = PelmorHid::listManagementPaths(ReceiverProductId);
    if (targets.isEmpty() && QFile::exists(config.devicePath))
        targets.append(config.devicePath);
    if (targets.isEmpty()) {
        std::fprintf(stderr, "未找到 C652 管理接口或 %s\n", local(config.devicePath).constData());
        return 1;
    }

    const QByteArray packet = PelmorProtocol::buildBulkPacket(config.bulk);
    int accepted = 0;
    for (const QString &path : targets) {
        std::fprintf(stdout, "正在配置设备 %s (speed=%d, poll=%dHz)...\n", local(path).constData(),
            config.bulk.speedIndex, config.bulk.pollHz);
        PelmorHid hid;
        if (!hid.openPath(path))
            std::fprintf(stderr, "  打开失败: %s\n", local(hid.errorString()).constData());
        else if (hid.sendFeature(packet))
            ++accepted;
        else
            std::fprintf(stderr, "  发送失败: %s\n", local(hid.errorString()).constData());
    }
    return accepted > 0 ? 0 : 1;
}
