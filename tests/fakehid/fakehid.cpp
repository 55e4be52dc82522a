// SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
// SPDX-License-Identifier: MIT

#include "fakehid.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

struct hid_device_ {
    int id = 0;
    std::string path;
    bool errorIsNull = false;
    std::wstring lastError;
};

namespace {

const char *const DefaultErrorText = "Input/output error";

struct Results {
    std::vector<std::string> list;
    size_t used = 0;

    // The next scripted result; the last one repeats, fallback when none.
    std::string next(const std::string &fallback)
    {
        if (list.empty())
            return fallback;
        const std::string &result = list[std::min(used, list.size() - 1)];
        ++used;
        return result;
    }
};

struct Device {
    std::map<std::string, Results> results; // by operation
    std::map<std::string, int> counts; // calls so far, by operation
    std::string vanishOperation;
    int vanishAt = 0;
    std::string errorMode = "text";
    std::string errorText = DefaultErrorText;
    int errorNumber = EIO; // errno after a failed send, as write() or ioctl() left it
};

struct Entry {
    int interfaceNumber;
    std::string path;
    bool nullPath;
    unsigned short vendorId;
    unsigned short productId;
};

struct State {
    bool environmentRead = false;
    // Only a test that links the fake reads the record in memory; a process
    // started by a test keeps it in the log file alone, so that a long run
    // does not grow.
    bool recordInMemory = false;
    bool initFails = false;
    std::vector<Entry> entries;
    std::map<std::string, Device> devices;
    std::vector<std::string> calls;
    std::string logPath;
    int initCount = 0;
    int openHandles = 0;
    int maxOpenHandles = 0;
    int liveEnumerations = 0;
    int nextId = 1;
    std::string openingPath; // the path hid_open_path() is opening, if any

    ~State()
    {
        if (!logPath.empty())
            record({ "exit", "open=" + std::to_string(openHandles),
                "enumerations=" + std::to_string(liveEnumerations) });
    }

    void record(const std::vector<std::string> &fields)
    {
        std::string line;
        for (const std::string &field : fields)
            line += (line.empty() ? "" : "\t") + field;
        if (recordInMemory)
            calls.push_back(line);
        if (logPath.empty())
            return;
        if (FILE *log = std::fopen(logPath.c_str(), "a")) {
            std::fprintf(log, "%s\n", line.c_str());
            std::fclose(log);
        }
    }
};

State &state()
{
    static State instance;
    return instance;
}

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "fakehid: %s\n", why.c_str());
    std::abort();
}

std::string hex(const unsigned char *data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

bool parseLine(const std::string &line, std::string *error)
{
    std::istringstream words(line);
    std::string directive;
    if (!(words >> directive) || directive[0] == '#')
        return true;
    State &s = state();
    std::string path;
    if (directive == "init") {
        std::string how;
        words >> how;
        s.initFails = how == "fail";
        return true;
    }
    if (directive == "enum") {
        Entry entry { 0, "", false, 0x256F, 0xC652 };
        std::string ids;
        if (!(words >> entry.interfaceNumber >> entry.path))
            return *error = "enum needs IFACE PATH", false;
        if (words >> ids) {
            unsigned vid = 0, pid = 0;
            if (std::sscanf(ids.c_str(), "%x:%x", &vid, &pid) != 2)
                return *error = "bad VID:PID " + ids, false;
            entry.vendorId = static_cast<unsigned short>(vid);
            entry.productId = static_cast<unsigned short>(pid);
        }
        entry.nullPath = entry.path == "-";
        if (!entry.nullPath)
            s.devices[entry.path];
        s.entries.push_back(entry);
        return true;
    }
    if (!(words >> path))
        return *error = directive + " needs a PATH", false;
    Device &device = s.devices[path];
    if (directive == "device")
        return true;
    if (directive == "open" || directive == "feature" || directive == "write" || directive == "getfeature") {
        std::string result;
        while (words >> result)
            device.results[directive].list.push_back(result);
        return true;
    }
    if (directive == "error") {
        words >> device.errorMode;
        std::getline(words >> std::ws, device.errorText);
        return true;
    }
    if (directive == "errno") {
        static const std::map<std::string, int> Numbers { { "EINVAL", EINVAL }, { "EIO", EIO },
            { "EPIPE", EPIPE }, { "ENODEV", ENODEV }, { "0", 0 } };
        std::string name;
        words >> name;
        const auto number = Numbers.find(name);
        if (number == Numbers.end())
            return *error = "errno needs EINVAL, EIO, EPIPE, ENODEV or 0", false;
        device.errorNumber = number->second;
        return true;
    }
    if (directive == "vanish") {
        if (!(words >> device.vanishOperation >> device.vanishAt))
            return *error = "vanish needs PATH OPERATION COUNT", false;
        return true;
    }
    return *error = "unknown directive " + directive, false;
}

// In a process started by a test, the script comes from the environment.
State &loaded()
{
    State &s = state();
    if (s.environmentRead)
        return s;
    s.environmentRead = true;
    if (const char *log = std::getenv("FAKEHID_LOG"))
        s.logPath = log;
    if (const char *script = std::getenv("FAKEHID_SCRIPT")) {
        std::ifstream file(script);
        if (!file)
            fail(std::string("cannot read script ") + script);
        std::stringstream text;
        text << file.rdbuf();
        std::string error;
        if (!FakeHid::loadScript(text.str(), &error))
            fail(error);
    }
    return s;
}

// Counts a call of operation on device and unlinks the path when the script
// says it vanishes at this call. Returns true when it vanished now.
bool countCall(const std::string &path, Device &device, const std::string &operation)
{
    const int count = ++device.counts[operation];
    if (device.vanishOperation != operation || device.vanishAt != count)
        return false;
    ::unlink(path.c_str());
    return true;
}

// Script text is UTF-8; hidapi's error texts are wide (UCS-4 on Linux).
std::wstring widen(const std::string &utf8)
{
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        unsigned long code = extra ? lead & (0x3F >> extra) : lead;
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        wide += static_cast<wchar_t>(code);
        i += 1 + extra;
    }
    return wide;
}

void setError(hid_device *dev)
{
    const Device &device = state().devices[dev->path];
    dev->errorIsNull = device.errorMode == "none";
    const std::string text = device.errorMode == "text" ? device.errorText : std::string();
    dev->lastError = widen(text);
}

// The shared shape of the calls that send a report.
int sendReport(const char *operation, hid_device *dev, const unsigned char *data, size_t length)
{
    State &s = loaded();
    if (!dev)
        fail(std::string(operation) + " on a null handle");
    Device &device = s.devices[dev->path];
    const std::string result = device.results[operation].next("ok");
    int returned = static_cast<int>(length);
    if (result == "fail")
        returned = -1;
    else if (result != "ok")
        returned = std::atoi(result.c_str());
    if (returned < 0)
        setError(dev);
    s.record({ operation, "#" + std::to_string(dev->id), dev->path, hex(data, length), "->",
        std::to_string(returned) });
    countCall(dev->path, device, operation);
    // Last, so that nothing above overwrites it: what hidapi's caller finds.
    if (returned < 0)
        errno = device.errorNumber;
    return returned;
}

} // namespace

namespace FakeHid {

void reset()
{
    State &s = state();
    s = State();
    s.environmentRead = true;
    s.recordInMemory = true;
}

bool loadScript(const std::string &script, std::string *error)
{
    std::string ignored;
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        if (!parseLine(line, error ? error : &ignored))
            return false;
    }
    return true;
}

const std::vector<std::string> &calls()
{
    return state().calls;
}

int initCount()
{
    return state().initCount;
}

int openHandles()
{
    return state().openHandles;
}

int maxOpenHandles()
{
    return state().maxOpenHandles;
}

int liveEnumerations()
{
    return state().liveEnumerations;
}

} // namespace FakeHid

extern "C" {

int HID_API_EXPORT hid_init(void)
{
    State &s = loaded();
    ++s.initCount;
    const int result = s.initFails ? -1 : 0;
    s.record({ "init", "->", std::to_string(result) });
    return result;
}

int HID_API_EXPORT hid_exit(void)
{
    return 0;
}

struct hid_device_info HID_API_EXPORT *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    State &s = loaded();
    hid_device_info *head = nullptr;
    hid_device_info **tail = &head;
    int count = 0;
    for (const Entry &entry : s.entries) {
        if ((vendor_id && vendor_id != entry.vendorId) || (product_id && product_id != entry.productId))
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = entry.nullPath ? nullptr : strdup(entry.path.c_str());
        info->vendor_id = entry.vendorId;
        info->product_id = entry.productId;
        info->interface_number = entry.interfaceNumber;
        info->bus_type = HID_API_BUS_USB;
        *tail = info;
        tail = &info->next;
        ++count;
    }
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x\t%04x", vendor_id, product_id);
    s.record({ "enumerate", ids, "->", std::to_string(count) });
    if (head)
        ++s.liveEnumerations;
    return head;
}

void HID_API_EXPORT hid_free_enumeration(struct hid_device_info *devs)
{
    State &s = loaded();
    s.record({ "free_enumeration", devs ? "list" : "null" });
    if (devs)
        --s.liveEnumerations;
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device HID_API_EXPORT *hid_open_path(const char *path)
{
    State &s = loaded();
    const std::string name = path ? path : "";
    if (name.rfind("/dev/hidraw", 0) == 0)
        fail("refusing to touch real hardware at " + name);
    auto known = s.devices.find(name);
    bool opens = known != s.devices.end();
    bool refused = false;
    if (opens) {
        refused = known->second.results["open"].next("ok") != "ok";
        opens = !refused;
        if (countCall(name, known->second, "open"))
            opens = false;
    }
    if (opens) {
        // What the system's hidapi does once open() has worked: asks the node
        // for its descriptor size. When that fails, hidapi before 0.14 writes
        // into the device it has just freed and the process crashes, and the
        // virtual receiver stops it as loudly; later ones fail the open.
        const int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
        int size = 0;
        s.openingPath = name;
        const bool answered = fd >= 0 && ::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0;
        s.openingPath.clear();
        if (fd >= 0)
            ::close(fd);
#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0)
        if (fd >= 0 && !answered)
            fail("the descriptor size request failed inside hid_open_path: this hidapi would crash on "
                + name);
#endif
        opens = answered;
    }
    if (!opens) {
        // A scripted refusal is what a user without access to the node gets.
        if (refused)
            errno = EACCES;
        s.record({ "open", name, "->", "null" });
        return nullptr;
    }
    auto *dev = new hid_device_;
    dev->id = s.nextId++;
    dev->path = name;
    ++s.openHandles;
    s.maxOpenHandles = std::max(s.maxOpenHandles, s.openHandles);
    s.record({ "open", name, "->", "#" + std::to_string(dev->id) });
    return dev;
}

hid_device HID_API_EXPORT *hid_open(unsigned short, unsigned short, const wchar_t *)
{
    fail("hid_open is not used by the tool");
}

int HID_API_EXPORT hid_set_nonblocking(hid_device *dev, int nonblock)
{
    if (!dev)
        fail("hid_set_nonblocking on a null handle");
    loaded().record({ "nonblocking", "#" + std::to_string(dev->id), std::to_string(nonblock) });
    return 0;
}

int HID_API_EXPORT hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length)
{
    return sendReport("feature", dev, data, length);
}

int HID_API_EXPORT hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    return sendReport("write", dev, data, length);
}

int HID_API_EXPORT hid_get_feature_report(hid_device *dev, unsigned char *data, size_t length)
{
    State &s = loaded();
    if (!dev)
        fail("hid_get_feature_report on a null handle");
    Device &device = s.devices[dev->path];
    const std::string result = device.results["getfeature"].next("ok");
    int returned = static_cast<int>(length);
    if (result == "fail")
        returned = -1;
    else if (result != "ok")
        returned = std::atoi(result.c_str());
    if (returned < 0) {
        setError(dev);
    } else {
        // The report ID stays; the receiver's bytes follow it.
        for (size_t i = 1; i < length && i < static_cast<size_t>(returned); ++i)
            data[i] = static_cast<unsigned char>(0xA0 + i);
    }
    s.record({ "getfeature", "#" + std::to_string(dev->id), dev->path, std::to_string(length), "->",
        std::to_string(returned) });
    return returned;
}

const wchar_t HID_API_EXPORT *hid_error(hid_device *dev)
{
    if (!dev)
        return L"Success";
    if (dev->errorIsNull)
        return nullptr;
    return dev->lastError.c_str();
}

// The receiver's nodes are links to /dev/null. Where the tool asks such a
// node the hidraw driver's descriptor-size question, it gets the driver's
// answer; every other ioctl goes to the C library.
int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    // A node that vanishes inside hid_open_path(), between its open() and
    // this request: the kernel answers ENODEV for an unplugged device.
    State &s = state();
    if (request == HIDIOCGRDESCSIZE && !s.openingPath.empty()
        && countCall(s.openingPath, s.devices[s.openingPath], "descriptor")) {
        errno = ENODEV;
        return -1;
    }
    struct stat info;
    if (request == HIDIOCGRDESCSIZE && fstat(fd, &info) == 0 && S_ISCHR(info.st_mode)
        && info.st_rdev == makedev(1, 3)) {
        *static_cast<int *>(argument) = 64;
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto next = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, argument);
}

void HID_API_EXPORT hid_close(hid_device *dev)
{
    State &s = loaded();
    if (!dev)
        return;
    s.record({ "close", "#" + std::to_string(dev->id), dev->path });
    --s.openHandles;
    delete dev;
}

} // extern "C"
