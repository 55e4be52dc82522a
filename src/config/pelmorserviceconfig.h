// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#ifndef PELMORSERVICECONFIG_H
#define PELMORSERVICECONFIG_H

#include "pelmorprotocol.h"

#include <QString>

// The one settings record of a run. A default-constructed record holds the
// built-in defaults; PelmorConfig::load resets to the same values by
// assigning a fresh record, so the defaults live here only.
struct PelmorServiceConfig {
    QString devicePath = QStringLiteral("/dev/pelmor_config");
    double heartbeatIntervalSec = 2.0;
    double heartbeatStartupDelaySec = 0.5;
    PelmorProtocol::BulkConfig bulk;
};

#endif // PELMORSERVICECONFIG_H
