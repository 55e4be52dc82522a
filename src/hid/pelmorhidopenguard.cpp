// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT
//
// Linked into the shipped binary only, in front of the C library's ioctl():
// see pelmorhidopenguard.h. Every request is passed on; the one answer it
// changes is ENODEV to the descriptor-size request that hidapi makes inside
// PelmorHid::openPath(). Against a hidapi that needs no guard, this file
// defines nothing.

#include "pelmorhidopenguard.h"

#if PELMOR_HIDAPI_OPEN_GUARD

#include <cerrno>
#include <cstdarg>

#include <dlfcn.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto next = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    const int result = next(fd, request, argument);
    if (result < 0 && errno == ENODEV && request == HIDIOCGRDESCSIZE && PelmorHidOpenGuard::opening) {
        PelmorHidOpenGuard::vanished = true;
        *static_cast<int *>(argument) = 0;
        return 0;
    }
    return result;
}

#endif // PELMOR_HIDAPI_OPEN_GUARD
