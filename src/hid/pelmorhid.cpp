// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorhid.h"

#include "pelmorhidopenguard.h"

#include <QMutex>
#include <QMutexLocker>

#include <cerrno>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool g_hidInited = false;
// Constant-initialised, so it exists before any static constructor could
// reach ensureInit().
QMutex g_hidInitMutex;

#if PELMOR_HIDAPI_OPEN_GUARD
// Whether path is a character device that answers the hidraw driver's
// descriptor-size request (see pelmorhidopenguard.h for why it is asked).
bool isHidrawNode(const QByteArray &path)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int descriptorSize = 0;
    const bool hidraw = ::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize) == 0;
    ::close(fd);
    return hidraw;
}

// Opens path with the library, or returns null, guarded as
// pelmorhidopenguard.h explains.
hid_device *openWithLibrary(const QByteArray &path)
{
    if (!isHidrawNode(path))
        return nullptr;
    PelmorHidOpenGuard::opening = true;
    PelmorHidOpenGuard::vanished = false;
    hid_device *device = hid_open_path(path.constData());
    PelmorHidOpenGuard::opening = false;
    if (device && PelmorHidOpenGuard::vanished) {
        hid_close(device);
        device = nullptr;
    }
    return device;
}
#else
hid_device *openWithLibrary(const QByteArray &path)
{
    return hid_open_path(path.constData());
}
#endif

} // namespace

PelmorHid::PelmorHid()
{
    ensureInit();
}

PelmorHid::~PelmorHid()
{
    close();
}

void PelmorHid::ensureInit()
{
    QMutexLocker locker(&g_hidInitMutex);
    if (!g_hidInited) {
        hid_init();
        g_hidInited = true;
    }
}

bool PelmorHid::openPath(const QString &path)
{
    close();
    lastError.clear();
    lastErrorNumber = 0;
    if (path.isEmpty()) {
        lastError = QStringLiteral("empty device path");
        return false;
    }
    errno = 0;
    handle = openWithLibrary(path.toUtf8());
    if (!handle) {
        // Taken first: building the text may change errno.
        lastErrorNumber = errno;
        lastError = QStringLiteral("无法打开设备: %1").arg(path);
        return false;
    }
    hid_set_nonblocking(handle, 0);
    return true;
}

void PelmorHid::close()
{
    if (handle) {
        hid_close(handle);
        handle = nullptr;
    }
}

bool PelmorHid::sendFeature(const QByteArray &report)
{
    return sendReport(report, hid_send_feature_report, "empty feature report", "send_feature");
}

bool PelmorHid::sendOutput(const QByteArray &report)
{
    return sendReport(report, hid_write, "empty output report", "send_output");
}

bool PelmorHid::sendReport(const QByteArray &report, int (*send)(hid_device *, const unsigned char *, size_t),
    const char *emptyText, const char *context)
{
    lastError.clear();
    lastErrorNumber = 0;
    if (!handle) {
        lastError = QStringLiteral("device not open");
        return false;
    }
    if (report.isEmpty()) {
        lastError = QLatin1String(emptyText);
        return false;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(report.constData());
    errno = 0;
    if (send(handle, bytes, static_cast<size_t>(report.size())) < 0) {
        // Taken first: building the text may change errno.
        const int number = errno;
        captureError(context);
        lastErrorNumber = number;
        return false;
    }
    return true;
}

QByteArray PelmorHid::readFeature(unsigned char reportId, int length)
{
    lastError.clear();
    lastErrorNumber = 0;
    if (!handle) {
        lastError = QStringLiteral("device not open");
        return QByteArray();
    }
    if (length <= 0) {
        lastError = QStringLiteral("invalid feature length");
        return QByteArray();
    }
    QByteArray buffer(length, 0);
    buffer[0] = static_cast<char>(reportId);
    auto *bytes = reinterpret_cast<unsigned char *>(buffer.data());
    const int got = hid_get_feature_report(handle, bytes, static_cast<size_t>(length));
    if (got < 0) {
        captureError("read_feature");
        return QByteArray();
    }
    if (got > 0 && got < length)
        buffer.truncate(got);
    return buffer;
}

QList<QString> PelmorHid::listManagementPaths(unsigned short productId)
{
    ensureInit();
    QList<QString> paths;
    hid_device_info *devices = hid_enumerate(VendorId, productId);
    for (const hid_device_info *device = devices; device; device = device->next) {
        // Interface 0 is the mouse itself; a negative number means the
        // library could not tell, and such an interface is kept.
        if (device->interface_number != 0 && device->path)
            paths.append(QString::fromUtf8(device->path));
    }
    hid_free_enumeration(devices);
    return paths;
}

QString PelmorHid::errorString() const
{
    return lastError;
}

int PelmorHid::errorNumber() const
{
    return lastErrorNumber;
}

void PelmorHid::captureError(const char *context)
{
    const wchar_t *libraryText = hid_error(handle);
    const bool hasContext = context && *context;
    if (libraryText && *libraryText) {
        const QString text = QString::fromUcs4(reinterpret_cast<const char32_t *>(libraryText), -1);
        lastError = hasContext ? QLatin1String(context) + QLatin1String(": ") + text : text;
    } else {
        lastError = hasContext ? QString(QLatin1String(context)) : QStringLiteral("unknown HID error");
    }
}
