// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORCONFIG_H
#define PELMORCONFIG_H

#include <QByteArray>
#include <QString>

struct PelmorServiceConfig;

// Locates and reads the optional key=value configuration file.
class PelmorConfig {
public:
    // Largest configuration source read; anything longer counts as unreadable,
    // so that a device file or a runaway pipe cannot exhaust memory.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    // The file to read: explicitPath when it exists, else appDir + "/pelmor.conf"
    // when that exists, else explicitPath when given, else the file beside the
    // executable. Never empty.
    static QString resolveConfigPath(const QString &explicitPath, const QString &appDir);

    // Resets *config to the defaults, then applies every usable line of the file
    // at path in order. Returns true when the file was opened and read to its
    // end; false when config is null (nothing changes), or when the file cannot
    // be opened or read, or is larger than MaxFileSize (config keeps the defaults).
    static bool load(const QString &path, PelmorServiceConfig *config);

private:
    static bool readBounded(const QString &path, QByteArray *contents);
    static void applyLine(const QString &line, PelmorServiceConfig *config);
};

#endif // PELMORCONFIG_H
