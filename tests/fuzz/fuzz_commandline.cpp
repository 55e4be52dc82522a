// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT
//
// Fuzzes the argument walk: the input is split at NUL bytes into arguments.
// Whatever they are, the outcome must agree with what was given.
#include "pelmorcommandline.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QStringList arguments;
    if (size > 0) {
        const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
        for (const QByteArray &argument : bytes.split('\0'))
            arguments << QString::fromUtf8(argument);
    }

    const PelmorCommandLine result = PelmorCommandLine::parse(arguments);
    using Outcome = PelmorCommandLine::Outcome;
    switch (result.outcome) {
    case Outcome::Run:
        check(result.heartbeat != result.initReceiver, "exactly one mode runs");
        check(arguments.contains(
                  result.heartbeat ? QStringLiteral("--heartbeat") : QStringLiteral("--init-receiver")),
            "the mode was asked for");
        break;
    case Outcome::Help:
        check(arguments.contains(QStringLiteral("-h")) || arguments.contains(QStringLiteral("--help")),
            "help was asked for");
        break;
    case Outcome::Version:
        check(arguments.contains(QStringLiteral("--version")), "the version was asked for");
        break;
    case Outcome::UnknownArgument:
        check(arguments.contains(result.unknownArgument), "the unknown argument was given");
        break;
    case Outcome::UsageError:
        check(arguments.isEmpty() || result.heartbeat == result.initReceiver, "a usage error has a cause");
        break;
    }
    check(result.configPath.isEmpty() || arguments.contains(result.configPath), "the path was given");
    return 0;
}
