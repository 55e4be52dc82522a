// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT
//
// Fuzzes the configuration loader with whole files: whatever the bytes, load()
// must succeed on a readable file and leave every setting within the values
// the tool accepts.
#include "pelmorconfig.h"
#include "pelmorserviceconfig.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

const std::string &scratchFile()
{
    static const std::string path = [] {
        char name[] = "/tmp/pelmor-fuzz-config-XXXXXX";
        const int fd = mkstemp(name);
        check(fd >= 0, "scratch file");
        close(fd);
        return std::string(name);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &path = scratchFile();
    FILE *file = std::fopen(path.c_str(), "wb");
    check(file && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0, "write input");

    PelmorServiceConfig config;
    const bool loaded = PelmorConfig::load(QString::fromStdString(path), &config);
    check(loaded == (static_cast<qint64>(size) <= PelmorConfig::MaxFileSize), "a readable file loads");

    const int level = config.bulk.speedIndex;
    const int hz = config.bulk.pollHz;
    check(level >= 1 && level <= 5, "speed level 1 to 5");
    check(hz == 125 || hz == 250 || hz == 500 || hz == 1000, "a known polling rate");
    check(config.heartbeatIntervalSec > 0.05, "interval above 0.05 s, never NaN");
    check(config.heartbeatStartupDelaySec >= 0, "delay 0 or more, never NaN");
    return 0;
}
