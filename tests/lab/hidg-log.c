// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT
//
// The lab's ear on one HID function of the emulated receiver: logs every
// report the host sends to /dev/hidgN, one line each, as
// "SECONDS.NANOSECONDS HEX" (wall-clock time, so that the lab's scripts can
// compare it with `date +%s.%N`). The node exists only while the gadget is
// bound, and a new one comes with every bind: the reader waits for it, and
// reopens it when the node it holds is no longer the one at the path.
// Usage: hidg-log /dev/hidgN LOGFILE

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int same_node(int fd, const char *path)
{
    struct stat held, current;
    return fstat(fd, &held) == 0 && stat(path, &current) == 0 && held.st_ino == current.st_ino
        && held.st_rdev == current.st_rdev;
}

static void log_report(FILE *log, const unsigned char *data, ssize_t length)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    fprintf(log, "%lld.%09ld ", (long long)now.tv_sec, now.tv_nsec);
    for (ssize_t i = 0; i < length; ++i)
        fprintf(log, "%02x", data[i]);
    fputc('\n', log);
    fflush(log);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s /dev/hidgN LOGFILE\n", argv[0]);
        return 2;
    }
    FILE *log = fopen(argv[2], "a");
    if (!log) {
        perror(argv[2]);
        return 1;
    }
    const struct timespec pause = { 0, 20 * 1000 * 1000 };
    for (;;) {
        const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            nanosleep(&pause, NULL);
            continue;
        }
        for (;;) {
            struct pollfd wait = { fd, POLLIN, 0 };
            const int ready = poll(&wait, 1, 50);
            if (ready < 0 && errno != EINTR)
                break;
            if (ready > 0) {
                if (!(wait.revents & POLLIN))
                    break;
                unsigned char report[256];
                const ssize_t got = read(fd, report, sizeof report);
                if (got > 0)
                    log_report(log, report, got);
                else if (got == 0 || (errno != EINTR && errno != EAGAIN))
                    break;
            } else if (ready == 0 && !same_node(fd, argv[1])) {
                break;
            }
        }
        close(fd);
        nanosleep(&pause, NULL);
    }
}
