// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORSERVICE_H
#define PELMORSERVICE_H

#include <QtGlobal>

struct PelmorServiceConfig;

// The two run modes. Each prints its own progress and failures and returns
// the process exit status.
class PelmorService {
public:
    static constexpr unsigned short ReceiverProductId = 0xC652;
    static constexpr unsigned long InitPauseMs = 1000;

    // --heartbeat: after the start-up delay, configures the device node once,
    // then writes the one-byte heartbeat report every interval while the node
    // exists. When a write is refused with EINVAL (the hidraw driver's answer
    // to a report that short), it says so once and writes no more heartbeats,
    // but still opens the node every interval until it is gone. Returns 1
    // when the node is missing or cannot be opened at start, 0 once it has
    // disappeared; does not return otherwise.
    static int runHeartbeat(const PelmorServiceConfig &config);

    // --init-receiver: after a one-second pause, sends the bulk configuration
    // report as a feature report to every management interface of the
    // receiver, or to the device node when none is found. Returns 0 when at
    // least one target accepted it, 1 otherwise.
    static int runInitReceiver(const PelmorServiceConfig &config);

    // A wait in seconds as whole milliseconds, truncated toward zero. 0 for
    // zero, negative or NaN; the largest count for values too large to
    // represent, infinity included.
    static quint64 millisecondsFromSeconds(double seconds);

private:
    static void sleepSeconds(double seconds);
};

#endif // PELMORSERVICE_H
