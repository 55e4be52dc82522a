// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORSTATUS_H
#define PELMORSTATUS_H

#include <QString>

struct PelmorServiceConfig;

// Where the settings of a run came from, as the entry point found them.
struct PelmorConfigSource {
    QString path; // the file that was read, or would have been
    bool loaded = false; // whether it could be read
    QString systemPath; // the file the installed units read
};

// --status: what a configuration run would do here and now, without doing
// any of it. Opens each management interface to see whether this user may,
// and closes it again; sends nothing, writes nothing.
class PelmorStatus {
public:
    // Prints the version, the configuration file, the settings and the report
    // they make, every management interface with whether it opens, and where
    // the device node points, all on standard output. Returns 0 when at least
    // one management interface was found and opened, 1 otherwise.
    static int run(const PelmorServiceConfig &config, const PelmorConfigSource &source, const char *version);

private:
    static void printConfigSource(const PelmorConfigSource &source);
    static void printSettings(const PelmorServiceConfig &config);
    static int printInterfaces();
    static void printDeviceNode(const QString &path);
};

#endif // PELMORSTATUS_H
