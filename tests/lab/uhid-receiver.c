// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

/*
 * uhid-receiver: an emulated pelmor receiver (USB 256f:c652) on /dev/uhid,
 * for the lab's virtual machine. The kernel gives it a real hidraw node, so
 * every report the tool sends crosses the real hidraw driver.
 *
 * Usage: uhid-receiver [-n NAME] [-r] [-c COUNT] | -d
 *   -n NAME   name used in the log and as the device's name
 *   -r        refuse every report (error reply to SET_REPORT and GET_REPORT)
 *   -c COUNT  destroy the device after COUNT reports have been received
 *   -d        write the report descriptor to standard output and end: the
 *             whole-system lab's USB gadget takes it from here, so that both
 *             emulated receivers describe themselves the same way
 * SIGTERM, SIGINT and SIGUSR1 destroy the device and end the program.
 *
 * Every report received is logged on standard output, one line each:
 *   NAME SET_REPORT type=feature id=0x10 size=32 data=10001c...
 *   NAME OUTPUT type=output size=N data=...
 * and "NAME ready" once the device exists, "NAME destroyed" at the end.
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const unsigned char descriptor[] = {
    0x06, 0x00, 0xFF, /* Usage Page (vendor defined 0xFF00) */
    0x09, 0x01,       /* Usage (1) */
    0xA1, 0x01,       /* Collection (Application) */
    0x15, 0x00,       /*   Logical Minimum (0) */
    0x26, 0xFF, 0x00, /*   Logical Maximum (255) */
    0x75, 0x08,       /*   Report Size (8) */
    0x85, 0x10,       /*   Report ID (0x10): the 32-byte configuration */
    0x95, 0x1F,       /*   Report Count (31) */
    0x09, 0x02,       /*   Usage (2) */
    0xB1, 0x02,       /*   Feature (Data, Var, Abs) */
    0x85, 0x11,       /*   Report ID (0x11): an output report */
    0x95, 0x1F,       /*   Report Count (31) */
    0x09, 0x03,       /*   Usage (3) */
    0x91, 0x02,       /*   Output (Data, Var, Abs) */
    0x85, 0x12,       /*   Report ID (0x12): an input report, the kind a */
    0x95, 0x1F,       /*   Report Count (31)   USB HID function sends on */
    0x09, 0x04,       /*   Usage (4)           its interrupt IN endpoint; */
    0x81, 0x02,       /*   Input (Data, Var, Abs) the tool never reads one */
    0xC0,             /* End Collection */
};

static volatile sig_atomic_t stopping;

static void on_signal(int signo)
{
    (void)signo;
    stopping = 1;
}

static int send_event(int fd, const struct uhid_event *ev)
{
    ssize_t n = write(fd, ev, sizeof(*ev));
    if (n != (ssize_t)sizeof(*ev)) {
        perror("uhid write");
        return -1;
    }
    return 0;
}

static void log_data(const char *name, const char *what, const char *type, int id, const unsigned char *data,
                     unsigned size)
{
    printf("%s %s type=%s", name, what, type);
    if (id >= 0)
        printf(" id=0x%02x", id);
    printf(" size=%u data=", size);
    for (unsigned i = 0; i < size; ++i)
        printf("%02x", data[i]);
    printf("\n");
    fflush(stdout);
}

static const char *type_name(unsigned char rtype)
{
    switch (rtype) {
    case UHID_FEATURE_REPORT:
        return "feature";
    case UHID_OUTPUT_REPORT:
        return "output";
    default:
        return "input";
    }
}

int main(int argc, char **argv)
{
    const char *name = "receiver";
    int refuse = 0;
    long limit = -1;
    int opt;
    while ((opt = getopt(argc, argv, "n:rc:d")) != -1) {
        switch (opt) {
        case 'd': return fwrite(descriptor, sizeof descriptor, 1, stdout) == 1 && fflush(stdout) == 0 ? 0 : 1;
        case 'n': name = optarg; break;
        case 'r': refuse = 1; break;
        case 'c': limit = strtol(optarg, NULL, 10); break;
        default:
            fprintf(stderr, "usage: %s [-n NAME] [-r] [-c COUNT] | -d\n", argv[0]);
            return 2;
        }
    }

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_signal; /* no SA_RESTART: poll() returns EINTR */
    sigaction(SIGTERM, &action, NULL);
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGUSR1, &action, NULL);

    int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        perror("/dev/uhid");
        return 1;
    }

    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    ev.type = UHID_CREATE2;
    snprintf((char *)ev.u.create2.name, sizeof ev.u.create2.name, "pelmor emulated receiver %s", name);
    memcpy(ev.u.create2.rd_data, descriptor, sizeof descriptor);
    ev.u.create2.rd_size = sizeof descriptor;
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = 0x256F;
    ev.u.create2.product = 0xC652;
    if (send_event(fd, &ev))
        return 1;
    printf("%s ready\n", name);
    fflush(stdout);

    long received = 0;
    while (!stopping && (limit < 0 || received < limit)) {
        struct pollfd pfd = {.fd = fd, .events = POLLIN};
        if (poll(&pfd, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            perror("poll");
            break;
        }
        memset(&ev, 0, sizeof ev);
        if (read(fd, &ev, sizeof ev) <= 0)
            continue;
        struct uhid_event reply;
        memset(&reply, 0, sizeof reply);
        switch (ev.type) {
        case UHID_OUTPUT:
            log_data(name, "OUTPUT", type_name(ev.u.output.rtype), -1, ev.u.output.data, ev.u.output.size);
            ++received;
            break;
        case UHID_SET_REPORT:
            log_data(name, "SET_REPORT", type_name(ev.u.set_report.rtype), ev.u.set_report.rnum,
                     ev.u.set_report.data, ev.u.set_report.size);
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
            reply.u.set_report_reply.err = refuse ? EIO : 0;
            send_event(fd, &reply);
            ++received;
            break;
        case UHID_GET_REPORT:
            printf("%s GET_REPORT type=%s id=0x%02x\n", name, type_name(ev.u.get_report.rtype),
                   ev.u.get_report.rnum);
            fflush(stdout);
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            reply.u.get_report_reply.err = refuse ? EIO : 0;
            reply.u.get_report_reply.size = refuse ? 0 : 32;
            reply.u.get_report_reply.data[0] = ev.u.get_report.rnum;
            send_event(fd, &reply);
            ++received;
            break;
        default:
            break; /* START, STOP, OPEN, CLOSE */
        }
    }

    memset(&ev, 0, sizeof ev);
    ev.type = UHID_DESTROY;
    send_event(fd, &ev);
    close(fd);
    printf("%s destroyed\n", name);
    fflush(stdout);
    return 0;
}
