// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "pelmorcommandline.h"
#include "pelmorconfig.h"
#include "pelmorservice.h"
#include "pelmorstatus.h"
#include "pelmorserviceconfig.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char UsageText[] = "Usage:\n"
                         "  pelmor-helper --heartbeat [--config PATH]\n"
                         "  pelmor-helper --init-receiver [--config PATH]\n";

void printUsage()
{
    std::fwrite(UsageText, 1, sizeof UsageText - 1, stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelmor-helper"));

    const QStringList userArguments = QCoreApplication::arguments().mid(1);
    const PelmorCommandLine commandLine = PelmorCommandLine::parse(userArguments);
    switch (commandLine.outcome) {
    case PelmorCommandLine::Outcome::Help:
        printUsage();
        return 0;
    case PelmorCommandLine::Outcome::Version:
        std::fputs("pelmor-helper " PELMOR_VERSION "\n", stdout);
        return 0;
    case PelmorCommandLine::Outcome::UnknownArgument:
        std::fprintf(stderr, "未知参数: %s\n", commandLine.unknownArgument.toLocal8Bit().constData());
        printUsage();
        return 2;
    case PelmorCommandLine::Outcome::UsageError:
        printUsage();
        return 2;
    case PelmorCommandLine::Outcome::Run:
        break;
    }

    const QString appDir = QCoreApplication::applicationDirPath();
    const QString configPath = PelmorConfig::resolveConfigPath(commandLine.configPath, appDir);
    PelmorServiceConfig config;
    const bool loaded = PelmorConfig::load(configPath, &config);
    if (commandLine.status)
        return PelmorStatus::run(config, { configPath, loaded, QStringLiteral(PELMOR_SYSTEM_CONFIG) }, PELMOR_VERSION);
    if (loaded)
        std::fprintf(stdout, "已加载配置: %s\n", configPath.toLocal8Bit().constData());
    else
        std::fprintf(stderr, "警告: 无法读取配置 %s，使用内置默认值\n", configPath.toLocal8Bit().constData());

    return commandLine.heartbeat ? PelmorService::runHeartbeat(config)
                                 : PelmorService::runInitReceiver(config);
}
