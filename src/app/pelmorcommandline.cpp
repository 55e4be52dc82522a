// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorcommandline.h"

PelmorCommandLine PelmorCommandLine::parse(const QStringList &userArguments)
{
    PelmorCommandLine result;
    if (userArguments.isEmpty())
        return result;

    for (int i = 0; i < userArguments.size(); ++i) {
        const QString &argument = userArguments.at(i);
        if (argument == QLatin1String("--heartbeat")) {
            result.heartbeat = true;
        } else if (argument == QLatin1String("--init-receiver")) {
            result.initReceiver = true;
        } else if (argument == QLatin1String("--status")) {
            result.status = true;
        } else if (argument == QLatin1String("--config") && i + 1 < userArguments.size()) {
            result.configPath = userArguments.at(++i);
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            result.outcome = Outcome::Help;
            return result;
        } else if (argument == QLatin1String("--version")) {
            result.outcome = Outcome::Version;
            return result;
        } else {
            result.outcome = Outcome::UnknownArgument;
            result.unknownArgument = argument;
            return result;
        }
    }
    const int chosen = int(result.heartbeat) + int(result.initReceiver) + int(result.status);
    result.outcome = chosen == 1 ? Outcome::Run : Outcome::UsageError;
    return result;
}
