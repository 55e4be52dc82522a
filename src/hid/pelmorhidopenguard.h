// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORHIDOPENGUARD_H
#define PELMORHIDOPENGUARD_H

// hidapi 0.13 crashes when a device vanishes between the open() of
// hid_open_path() and its descriptor-size request: on that failure it writes
// into the device it has just freed. An unplug can land there, and the
// heartbeat opens the node every interval. So the shipped binary puts an
// ioctl() in front of the C library's (pelmorhidopenguard.cpp): while
// PelmorHid::openPath() is inside hid_open_path(), an ENODEV answer to that
// request becomes an empty descriptor and is noted here, and openPath() then
// closes the handle and reports the open as failed, as if the device had
// gone a moment earlier.
struct PelmorHidOpenGuard {
    static inline bool opening = false; // inside hid_open_path()
    static inline bool vanished = false; // the device went during it
};

#endif // PELMORHIDOPENGUARD_H
