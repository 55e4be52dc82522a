// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORHID_H
#define PELMORHID_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <hidapi.h>

// One open HID device of the receiver, addressed by its hidraw path, with the
// text of its last failure. Nothing here prints or throws: every operation
// reports failure through its result and errorString(). Destroying the object
// closes the device.
class PelmorHid {
public:
    static constexpr unsigned short VendorId = 0x256F;

    // A closed handle with an empty error text; starts the HID library once
    // per process.
    PelmorHid();
    ~PelmorHid();
    PelmorHid(const PelmorHid &) = delete;
    PelmorHid &operator=(const PelmorHid &) = delete;

    // Starts the HID library the first time it is called in the process;
    // later calls do nothing. A failed start-up is not retried.
    static void ensureInit();

    // Closes any open device, then opens path in blocking mode. Returns true
    // when the device is open. On false the handle is closed and errorString()
    // is "empty device path", or "无法打开设备: <path>" when the path is not a
    // hidraw node or the library cannot open it; errorNumber() is then what
    // the open left in errno (EACCES for a user without access, for instance).
    bool openPath(const QString &path);

    // Closes the device if one is open. Leaves errorString() as it is.
    void close();

    // Sends report, report ID in its first byte, as one feature report.
    // Returns true when the library accepted it (a short count included);
    // false with "device not open", "empty feature report" or
    // "send_feature[: <library text>]".
    bool sendFeature(const QByteArray &report);

    // Writes report, report ID in its first byte, as one output report.
    // Returns true when the library accepted it (a short count included);
    // false with "device not open", "empty output report" or
    // "send_output[: <library text>]".
    bool sendOutput(const QByteArray &report);

    // Reads feature report reportId into a buffer of length bytes (ID byte
    // included). Returns the bytes the library reported, or the whole buffer
    // when it reported 0 or length or more; an empty array on failure, with
    // "device not open", "invalid feature length" or
    // "read_feature[: <library text>]".
    QByteArray readFeature(unsigned char reportId, int length);

    // Paths of the receiver's management interfaces (vendor VendorId, the
    // given product, interface number not 0), in enumeration order, repeats
    // kept. Empty when there are none. Leaves no error text anywhere.
    static QList<QString> listManagementPaths(unsigned short productId);

    // The text of the last failure; empty right after a success.
    QString errorString() const;

    // The errno that the last failed open or send left (EINVAL when the
    // hidraw driver refused a report, EACCES when this user may not open the
    // node, for instance); 0 after any other call, and when none was set. Decide on this, not on the text,
    // which the C library translates.
    int errorNumber() const;

private:
    bool sendReport(const QByteArray &report, int (*send)(hid_device *, const unsigned char *, size_t),
        const char *emptyText, const char *context);
    void captureError(const char *context);

    hid_device *handle = nullptr;
    QString lastError;
    int lastErrorNumber = 0;
};

#endif // PELMORHID_H
