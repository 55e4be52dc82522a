// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORCOMMANDLINE_H
#define PELMORCOMMANDLINE_H

#include <QString>
#include <QStringList>

// What the command line asks for. parse() only decides; the entry point
// prints and exits accordingly.
struct PelmorCommandLine {
    enum class Outcome {
        Run, // a mode (or --status) and an optional configuration path
        Help, // -h or --help: usage on standard error, status 0
        Version, // --version: "pelmor-helper X.Y.Z" on standard output, status 0
        UnknownArgument, // name unknownArgument, then usage, status 2
        UsageError, // no argument, or not exactly one of the modes and --status: usage, status 2
    };

    Outcome outcome = Outcome::UsageError;
    bool heartbeat = false;
    bool initReceiver = false;
    bool status = false;
    QString configPath; // empty when --config was not given
    QString unknownArgument;

    // Walks the user's arguments (the program name excluded) from left to
    // right. Every comparison is exact and case-sensitive; the argument after
    // --config is taken verbatim.
    static PelmorCommandLine parse(const QStringList &userArguments);
};

#endif // PELMORCOMMANDLINE_H
