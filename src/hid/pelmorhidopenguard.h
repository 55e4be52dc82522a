// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORHIDOPENGUARD_H
#define PELMORHIDOPENGUARD_H

#include <hidapi.h>

// hidapi before 0.14 crashes when the descriptor-size request that
// hid_open_path() makes after its open() fails: it writes into the device it
// has just freed. Two ways to get there, and the two workarounds for them:
// - a path that is not a hidraw node (a regular file, /dev/null, a serial
//   port): PelmorHid::openPath() checks that the path answers that request
//   before it hands the path to the library;
// - a device unplugged between the open() and the request, which no check
//   beforehand can rule out, and the heartbeat opens the node every interval:
//   the shipped binary puts an ioctl() in front of the C library's
//   (pelmorhidopenguard.cpp). While openPath() is inside hid_open_path(), an
//   ENODEV answer to that request becomes an empty descriptor and is noted
//   here; openPath() then closes the handle and reports the open as failed,
//   as if the device had gone a moment earlier.
// hidapi 0.14 returns NULL there instead, so neither is built against it.
#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0)
#define PELMOR_HIDAPI_OPEN_GUARD 1
#else
#define PELMOR_HIDAPI_OPEN_GUARD 0
#endif

struct PelmorHidOpenGuard {
    static inline bool opening = false; // inside hid_open_path()
    static inline bool vanished = false; // the device went during it
};

#endif // PELMORHIDOPENGUARD_H
