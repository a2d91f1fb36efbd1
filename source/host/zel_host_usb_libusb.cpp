// Host USB over libusb-1.0: real devices of the machine.
//
// Transfers are libusb's synchronous calls, cut into slices of at most
// kSliceMs so that a close is honoured within one slice even while a read
// waits without limit. A slice that times out with nothing moved is simply
// repeated; one that moved data ends the transfer short. Device changes come
// from libusb's hotplug callbacks where the platform has them, else from
// polling the device list.
//
// libusb is reached only through the table of calls in use
// (zel_host_usb_libusb_calls.h).
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "zel_host_internal.h"
#include "zel_host_usb_backend.h"
#include "zel_host_usb_libusb_calls.h"

namespace {

constexpr unsigned kSliceMs = 200;
constexpr unsigned kPollMs = 500;
// A control request cannot be cut into slices: "no limit" is this long.
constexpr unsigned kControlDefaultMs = 5000;
constexpr int kMaxInterfaces = 8;

std::atomic<const zel_host_usb_libusb_calls_t *> g_calls{&zel_host_usb_libusb_real_calls};

const zel_host_usb_libusb_calls_t &lu() { return *g_calls.load(std::memory_order_acquire); }

std::mutex g_ctx_mutex;
libusb_context *g_ctx;
int g_ctx_error;

// The libusb session, made at first use and kept for the life of the
// process; null (with the reason in `*error`) when the host has no USB.
libusb_context *context(int *error) {
    std::lock_guard<std::mutex> lock(g_ctx_mutex);
    if (!g_ctx && g_ctx_error == 0) {
        const int r = lu().init(&g_ctx);
        if (r < 0) {
            g_ctx = nullptr;
            g_ctx_error = r;
        }
    }
    if (error) *error = g_ctx_error;
    return g_ctx;
}

int map_error(int r) {
    switch (r) {
    case LIBUSB_SUCCESS: return 0;
    case LIBUSB_ERROR_INVALID_PARAM: return ZEL_HOST_USB_EINVAL;
    case LIBUSB_ERROR_ACCESS: return ZEL_HOST_USB_EACCES;
    case LIBUSB_ERROR_NO_DEVICE: return ZEL_HOST_USB_ENODEV;
    case LIBUSB_ERROR_NOT_FOUND: return ZEL_HOST_USB_ENOENT;
    case LIBUSB_ERROR_BUSY: return ZEL_HOST_USB_EBUSY;
    case LIBUSB_ERROR_TIMEOUT: return ZEL_HOST_USB_ETIMEDOUT;
    case LIBUSB_ERROR_OVERFLOW: return ZEL_HOST_USB_EOVERFLOW;
    case LIBUSB_ERROR_PIPE: return ZEL_HOST_USB_EPIPE;
    case LIBUSB_ERROR_NO_MEM: return ZEL_HOST_USB_ENOMEM;
    case LIBUSB_ERROR_NOT_SUPPORTED: return ZEL_HOST_USB_ENOTSUP;
    default: return ZEL_HOST_USB_EIO;
    }
}

uint8_t map_speed(int speed) {
    switch (speed) {
    case LIBUSB_SPEED_LOW: return ZEL_HOST_USB_SPEED_LOW;
    case LIBUSB_SPEED_FULL: return ZEL_HOST_USB_SPEED_FULL;
    case LIBUSB_SPEED_HIGH: return ZEL_HOST_USB_SPEED_HIGH;
    case LIBUSB_SPEED_UNKNOWN: return ZEL_HOST_USB_SPEED_UNKNOWN;
    default: return ZEL_HOST_USB_SPEED_SUPER;
    }
}

// "<bus>-<port>.<port>..." as the kernel names the device in sysfs; false
// for a root hub (no ports).
bool sysfs_name(libusb_device *dev, char *out, size_t size) {
    uint8_t ports[8];
    const int n = lu().get_port_numbers(dev, ports, sizeof ports);
    if (n <= 0) return false;
    int at = snprintf(out, size, "%u-%u", lu().get_bus_number(dev), ports[0]);
    for (int i = 1; i < n && at > 0 && (size_t)at < size; i++) at += snprintf(out + at, size - at, ".%u", ports[i]);
    return at > 0 && (size_t)at < size;
}

void path_of(libusb_device *dev, const libusb_device_descriptor &desc, char *out) {
    char name[48];
    char rest[64];
    if (!sysfs_name(dev, name, sizeof name)) snprintf(name, sizeof name, "%u", lu().get_bus_number(dev));
    snprintf(rest, sizeof rest, "port_%s&addr_%u", name, lu().get_device_address(dev));
    zel_host_usb_format_path(out, "libusb", desc.idVendor, desc.idProduct, rest);
}

// Opens the device. A host that does not let this user open it gets one
// line on stderr per device, for otherwise the adapter just looks absent.
int open_handle(libusb_device *dev, libusb_device_handle **handle) {
    const int r = lu().open(dev, handle);
    if (r != LIBUSB_ERROR_ACCESS) return r;
    static std::mutex reported_mutex;
    static zel_host_lasting<std::set<uint32_t>> reported;  // in use until the process ends
    const uint8_t bus = lu().get_bus_number(dev);
    const uint8_t address = lu().get_device_address(dev);
    libusb_device_descriptor desc{};
    lu().get_device_descriptor(dev, &desc);
    const uint32_t key = (uint32_t)bus << 24 | (uint32_t)address << 16 | desc.idVendor;
    std::lock_guard<std::mutex> lock(reported_mutex);
    if (reported->insert(key).second)
        fprintf(stderr,
            "USB device %04x:%04x (bus %u, address %u): no permission to open it; give this user access to the "
            "device (for example with a udev rule) or run as a user who has it\n",
            desc.idVendor, desc.idProduct, bus, address);
    return r;
}

// The name of the kernel driver bound to the device's interface `number`
// (configuration `config`), read from sysfs; "" when none.
void driver_name(libusb_device *dev, uint8_t config, uint8_t number, char *out, size_t size) {
    char name[48];
    char link[160];
    char target[160];
    zel_host_usb_copy_text(out, size, "");
    if (!sysfs_name(dev, name, sizeof name)) return;
    snprintf(link, sizeof link, "/sys/bus/usb/devices/%s:%u.%u/driver", name, config, number);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return;
    target[n] = 0;
    const char *base = strrchr(target, '/');
    zel_host_usb_copy_text(out, size, base ? base + 1 : target);
}

// Who holds the device: a kernel driver on any interface of the active
// configuration, or nobody. Needs to open the device; unknown when the
// host does not let us.
void driver_state(libusb_device *dev, zel_host_usb_found_t &f) {
    libusb_device_handle *h = nullptr;
    libusb_config_descriptor *config = nullptr;
    f.driver = ZEL_HOST_USB_DRIVER_UNKNOWN;
    if (open_handle(dev, &h) != 0) return;
    if (lu().get_active_config_descriptor(dev, &config) == 0) {
        f.driver = ZEL_HOST_USB_DRIVER_OURS;
        for (int i = 0; i < config->bNumInterfaces; i++) {
            const uint8_t number = config->interface[i].altsetting[0].bInterfaceNumber;
            if (lu().kernel_driver_active(h, number) == 1) {
                f.driver = ZEL_HOST_USB_DRIVER_KERNEL;
                driver_name(dev, config->bConfigurationValue, number, f.driver_name, sizeof f.driver_name);
                break;
            }
        }
        lu().free_config_descriptor(config);
    }
    lu().close(h);
}

// The device at `path`, referenced (libusb_unref_device when done), or null.
libusb_device *device_at(const char *path) {
    libusb_context *ctx = context(nullptr);
    libusb_device **list = nullptr;
    if (!ctx) return nullptr;
    const ssize_t n = lu().get_device_list(ctx, &list);
    libusb_device *found = nullptr;
    for (ssize_t i = 0; i < n && !found; i++) {
        libusb_device_descriptor desc;
        char mine[ZEL_HOST_USB_PATH_MAX];
        if (lu().get_device_descriptor(list[i], &desc) != 0) continue;
        path_of(list[i], desc, mine);
        if (strcmp(mine, path) == 0) found = lu().ref_device(list[i]);
    }
    if (n >= 0) lu().free_device_list(list, 1);
    return found;
}

// ---- open devices ----

// `lock` guards the configuration and the claimed interfaces, which a
// SET_CONFIGURATION may change while other threads look things up. A
// configuration replaced so is kept until the close, as a look-up may still
// read it.
struct Device {
    libusb_device_handle *h;
    libusb_config_descriptor *config;
    uint8_t numbers[kMaxInterfaces];  // bInterfaceNumber per interface index
    int count;
    std::atomic<bool> cancelled;
    mutable std::mutex lock;
    std::vector<libusb_config_descriptor *> retired;
};

Device *as_dev(void *device) { return static_cast<Device *>(device); }

const libusb_interface_descriptor *setting(const Device &d, uint8_t index, uint8_t alt) {
    std::lock_guard<std::mutex> lock(d.lock);
    if (index >= d.count) return nullptr;
    const libusb_interface &iface = d.config->interface[index];
    return alt < iface.num_altsetting ? &iface.altsetting[alt] : nullptr;
}

// The transfer type of `endpoint` in any setting of interface `index`; -1
// when the interface has no such endpoint.
int endpoint_type(const Device &d, uint8_t index, uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(d.lock);
    if (index >= d.count) return -1;
    const libusb_interface &iface = d.config->interface[index];
    for (int a = 0; a < iface.num_altsetting; a++)
        for (int e = 0; e < iface.altsetting[a].bNumEndpoints; e++)
            if (iface.altsetting[a].endpoint[e].bEndpointAddress == endpoint)
                return iface.altsetting[a].endpoint[e].bmAttributes & 3;
    return -1;
}

int lu_find(uint16_t vid, uint16_t pid, zel_host_usb_found_t *out, int max) {
    libusb_context *ctx = context(nullptr);
    if (!ctx) return 0;  // a host without USB has no device to find
    libusb_device **list = nullptr;
    const ssize_t n = lu().get_device_list(ctx, &list);
    if (n < 0) return map_error((int)n);
    int count = 0;
    for (ssize_t i = 0; i < n; i++) {
        libusb_device_descriptor desc;
        if (lu().get_device_descriptor(list[i], &desc) != 0) continue;
        if (desc.idVendor != vid || (pid != 0 && desc.idProduct != pid)) continue;
        if (count < max) {
            zel_host_usb_found_t &f = out[count];
            f = zel_host_usb_found_t{};
            f.vid = desc.idVendor;
            f.pid = desc.idProduct;
            f.speed = map_speed(lu().get_device_speed(list[i]));
            path_of(list[i], desc, f.path);
            driver_state(list[i], f);
        }
        count++;
    }
    lu().free_device_list(list, 1);
    return count;
}

int lu_install(const char *path, char *text, size_t text_size) {
    libusb_device *dev = device_at(path);
    libusb_device_handle *h = nullptr;
    libusb_config_descriptor *config = nullptr;
    int r = ZEL_HOST_USB_ENODEV;
    if (dev) r = map_error(open_handle(dev, &h));
    if (r == 0) r = map_error(lu().get_active_config_descriptor(dev, &config));
    for (int i = 0; r == 0 && i < config->bNumInterfaces; i++) {
        const uint8_t number = config->interface[i].altsetting[0].bInterfaceNumber;
        if (lu().kernel_driver_active(h, number) == 1) r = map_error(lu().detach_kernel_driver(h, number));
    }
    if (config) lu().free_config_descriptor(config);
    if (h) lu().close(h);
    if (dev) lu().unref_device(dev);
    zel_host_usb_copy_text(text, text_size, zel_host_usb_strerror(r));
    return r;
}

// Claims the interfaces of the configuration, up to kMaxInterfaces; stops at
// the first that cannot be claimed. The caller holds the lock.
int claim_all(Device *d) {
    d->count = 0;
    int r = 0;
    for (int i = 0; r == 0 && i < d->config->bNumInterfaces && i < kMaxInterfaces; i++) {
        const uint8_t number = d->config->interface[i].altsetting[0].bInterfaceNumber;
        r = map_error(lu().claim_interface(d->h, number));
        if (r == 0) d->numbers[d->count++] = number;
    }
    return r;
}

int lu_open(const char *path, void **device) {
    libusb_device *dev = device_at(path);
    if (!dev) return ZEL_HOST_USB_ENODEV;
    Device *d = new (std::nothrow) Device{};
    int r = d ? map_error(open_handle(dev, &d->h)) : ZEL_HOST_USB_ENOMEM;
    if (r == 0) r = map_error(lu().get_active_config_descriptor(dev, &d->config));
    lu().unref_device(dev);
    if (r == 0 && d->config->bNumInterfaces == 0) r = ZEL_HOST_USB_ENOENT;
    if (r == 0) {
        std::lock_guard<std::mutex> lock(d->lock);
        r = claim_all(d);
    }
    if (r == 0) {
        *device = d;
        return 0;
    }
    if (d) {
        for (int i = 0; i < d->count; i++) lu().release_interface(d->h, d->numbers[i]);
        if (d->config) lu().free_config_descriptor(d->config);
        if (d->h) lu().close(d->h);
        delete d;
    }
    return r;
}

void lu_cancel(void *device) { as_dev(device)->cancelled = true; }

void lu_close(void *device) {
    Device *d = as_dev(device);
    for (int i = 0; i < d->count; i++) lu().release_interface(d->h, d->numbers[i]);
    lu().free_config_descriptor(d->config);
    for (libusb_config_descriptor *c : d->retired) lu().free_config_descriptor(c);
    lu().close(d->h);
    delete d;
}

int lu_speed(void *device) {
    Device *d = as_dev(device);
    int config = 0;
    // Asking the device itself is what finds out that it has gone.
    const int r = lu().get_configuration(d->h, &config);
    if (r != 0) return map_error(r);
    return map_speed(lu().get_device_speed(lu().get_device(d->h)));
}

int lu_interface_count(void *device) {
    Device *d = as_dev(device);
    std::lock_guard<std::mutex> lock(d->lock);
    return d->count;
}

// SET_CONFIGURATION through libusb, which then resets its own view of the
// endpoints too. libusb sets or resets a configuration only while none of
// its interfaces is claimed: they are released first and claimed again
// after, those of the new configuration when it changed.
int lu_set_configuration(Device *d, uint8_t value) {
    std::lock_guard<std::mutex> lock(d->lock);
    for (int i = 0; i < d->count; i++) lu().release_interface(d->h, d->numbers[i]);
    d->count = 0;
    int r = map_error(lu().set_configuration(d->h, value == 0 ? -1 : value));
    if (value == 0) return r;  // unconfigured: nothing to claim
    if (r == 0 && value != d->config->bConfigurationValue) {
        libusb_config_descriptor *now = nullptr;
        r = map_error(lu().get_active_config_descriptor(lu().get_device(d->h), &now));
        if (r == 0) {
            d->retired.push_back(d->config);
            d->config = now;
        }
    }
    const int claimed = claim_all(d);
    return r != 0 ? r : claimed;
}

int lu_query_interface(void *device, uint8_t index, uint8_t alt, zel_host_usb_interface_desc_t *out) {
    const libusb_interface_descriptor *s = setting(*as_dev(device), index, alt);
    if (!s) return ZEL_HOST_USB_ENOENT;
    *out = zel_host_usb_interface_desc_t{s->bLength, s->bDescriptorType, s->bInterfaceNumber, s->bAlternateSetting,
        s->bNumEndpoints, s->bInterfaceClass, s->bInterfaceSubClass, s->bInterfaceProtocol, s->iInterface};
    return 0;
}

int lu_query_pipe(void *device, uint8_t index, uint8_t alt, uint8_t pipe, zel_host_usb_pipe_info_t *out) {
    const libusb_interface_descriptor *s = setting(*as_dev(device), index, alt);
    if (!s || pipe >= s->bNumEndpoints) return ZEL_HOST_USB_ENOENT;
    const libusb_endpoint_descriptor &e = s->endpoint[pipe];
    *out = zel_host_usb_pipe_info_t{(uint8_t)(e.bmAttributes & 3), e.bEndpointAddress, e.wMaxPacketSize, e.bInterval};
    return 0;
}

int lu_set_alt(void *device, uint8_t index, uint8_t alt) {
    Device *d = as_dev(device);
    std::unique_lock<std::mutex> lock(d->lock);
    if (index >= d->count) return ZEL_HOST_USB_ENOENT;
    const uint8_t number = d->numbers[index];
    lock.unlock();
    return map_error(lu().set_interface_alt_setting(d->h, number, alt));
}

// The index of the claimed interface `number`, or -1.
int index_of(Device *d, uint8_t number) {
    std::lock_guard<std::mutex> lock(d->lock);
    for (int i = 0; i < d->count; i++)
        if (d->numbers[i] == number) return i;
    return -1;
}

int lu_control(void *device, const zel_host_usb_setup_t *s, void *data, uint32_t timeout_ms) {
    Device *d = as_dev(device);
    if (d->cancelled) return ZEL_HOST_USB_ENODEV;
    // The requests that change the host's own view go through libusb's calls.
    if (s->bmRequestType == 0x02 && s->bRequest == 1 && s->wValue == 0)
        return map_error(lu().clear_halt(d->h, (uint8_t)s->wIndex));
    if (s->bmRequestType == 0x01 && s->bRequest == 11) {
        const int i = index_of(d, (uint8_t)s->wIndex);
        return i < 0 ? ZEL_HOST_USB_ENOENT : lu_set_alt(device, (uint8_t)i, (uint8_t)s->wValue);
    }
    if (s->bmRequestType == 0x00 && s->bRequest == 9) return lu_set_configuration(d, (uint8_t)s->wValue);
    const int r = lu().control_transfer(d->h, s->bmRequestType, s->bRequest, s->wValue, s->wIndex,
        static_cast<unsigned char *>(data), s->wLength, timeout_ms ? timeout_ms : kControlDefaultMs);
    return r < 0 ? map_error(r) : r;
}

int lu_transfer(void *device, uint8_t index, uint8_t endpoint, void *buffer, uint32_t length, uint32_t timeout_ms) {
    Device *d = as_dev(device);
    const int type = endpoint_type(*d, index, endpoint);
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) return ZEL_HOST_USB_EINVAL;
    auto *bytes = static_cast<unsigned char *>(buffer);
    uint32_t left = timeout_ms;
    for (;;) {
        if (d->cancelled) return ZEL_HOST_USB_ENODEV;
        const unsigned slice = (timeout_ms == 0 || left > kSliceMs) ? kSliceMs : left;
        int moved = 0;
        const int r = type == LIBUSB_TRANSFER_TYPE_BULK
                          ? lu().bulk_transfer(d->h, endpoint, bytes, (int)length, &moved, slice)
                          : lu().interrupt_transfer(d->h, endpoint, bytes, (int)length, &moved, slice);
        if (r == 0 || moved > 0) return moved;
        if (r != LIBUSB_ERROR_TIMEOUT) return map_error(r);
        if (timeout_ms != 0) {
            left -= slice;
            if (left == 0) return ZEL_HOST_USB_ETIMEDOUT;
        }
    }
}

int lu_reset_pipe(void *device, uint8_t index, uint8_t endpoint) {
    Device *d = as_dev(device);
    if (endpoint_type(*d, index, endpoint) < 0) return ZEL_HOST_USB_EINVAL;
    return map_error(lu().clear_halt(d->h, endpoint));
}

// ---- device changes ----

// Joinable while the watch runs; never destroyed, so an exit leaves it be.
zel_host_lasting<std::thread> g_watch;
std::atomic<bool> g_watch_stop;
libusb_hotplug_callback_handle g_hotplug;
bool g_hotplug_on;

int hotplug_event(libusb_context *, libusb_device *, libusb_hotplug_event, void *) {
    zel_host_usb_changed();
    return 0;  // stay registered
}

// A cheap fingerprint of the attached devices, for hosts without hotplug.
uint64_t device_fingerprint(libusb_context *ctx) {
    libusb_device **list = nullptr;
    const ssize_t n = lu().get_device_list(ctx, &list);
    if (n < 0) return 0;
    uint64_t sum = (uint64_t)n;
    for (ssize_t i = 0; i < n; i++)
        sum = sum * 1099511628211ull + ((uint64_t)lu().get_bus_number(list[i]) << 8 | lu().get_device_address(list[i]));
    lu().free_device_list(list, 1);
    return sum;
}

// `seen`: the fingerprint when the watch began, so that a change made right
// after the start is not taken for the starting state.
void watch_thread(libusb_context *ctx, uint64_t seen) {
    pthread_setname_np(pthread_self(), "host_usb_libusb");
    while (!g_watch_stop) {
        if (!ctx) {
            // A host without USB: nothing will ever change.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        } else if (g_hotplug_on) {
            timeval tv{0, (suseconds_t)kSliceMs * 1000};
            lu().handle_events_timeout_completed(ctx, &tv, nullptr);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            const uint64_t now = device_fingerprint(ctx);
            if (now != seen) zel_host_usb_changed();
            seen = now;
        }
    }
}

int lu_notify_start() {
    libusb_context *ctx = context(nullptr);
    g_hotplug_on = false;
    if (ctx && lu().has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        g_hotplug_on = lu().hotplug_register_callback(ctx, events, LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY,
                           LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, hotplug_event, nullptr, &g_hotplug) == 0;
    }
    g_watch_stop = false;
    const uint64_t seen = g_hotplug_on || !ctx ? 0 : device_fingerprint(ctx);
    try {
        *g_watch = std::thread(watch_thread, ctx, seen);
    } catch (...) {
        if (g_hotplug_on) lu().hotplug_deregister_callback(ctx, g_hotplug);
        return ZEL_HOST_USB_ENOMEM;
    }
    return 0;
}

void lu_notify_stop() {
    libusb_context *ctx = context(nullptr);
    g_watch_stop = true;
    if (g_hotplug_on) lu().interrupt_event_handler(ctx);
    g_watch->join();
    if (g_hotplug_on) lu().hotplug_deregister_callback(ctx, g_hotplug);
    g_hotplug_on = false;
}

}  // namespace

extern const zel_host_usb_backend_t zel_host_usb_libusb_backend = {
    .name = "libusb",
    .find = lu_find,
    .install = lu_install,
    .open = lu_open,
    .cancel = lu_cancel,
    .close = lu_close,
    .speed = lu_speed,
    .interface_count = lu_interface_count,
    .query_interface = lu_query_interface,
    .query_pipe = lu_query_pipe,
    .control = lu_control,
    .transfer = lu_transfer,
    .reset_pipe = lu_reset_pipe,
    .set_alt = lu_set_alt,
    .notify_start = lu_notify_start,
    .notify_stop = lu_notify_stop,
};

extern const zel_host_usb_libusb_calls_t zel_host_usb_libusb_real_calls = {
    libusb_init,
    libusb_get_device_list,
    libusb_free_device_list,
    libusb_ref_device,
    libusb_unref_device,
    libusb_get_device_descriptor,
    libusb_get_bus_number,
    libusb_get_device_address,
    libusb_get_port_numbers,
    libusb_get_device_speed,
    libusb_open,
    libusb_close,
    libusb_get_device,
    libusb_get_active_config_descriptor,
    libusb_free_config_descriptor,
    libusb_kernel_driver_active,
    libusb_detach_kernel_driver,
    libusb_claim_interface,
    libusb_release_interface,
    libusb_set_interface_alt_setting,
    libusb_set_configuration,
    libusb_get_configuration,
    libusb_clear_halt,
    libusb_control_transfer,
    libusb_bulk_transfer,
    libusb_interrupt_transfer,
    libusb_has_capability,
    libusb_hotplug_register_callback,
    libusb_hotplug_deregister_callback,
    libusb_handle_events_timeout_completed,
    libusb_interrupt_event_handler,
};

#if ZEL_HOST_TEST_HOOKS
void zel_host_usb_libusb_use_calls(const zel_host_usb_libusb_calls_t *calls) {
    std::lock_guard<std::mutex> lock(g_ctx_mutex);
    g_calls.store(calls ? calls : &zel_host_usb_libusb_real_calls, std::memory_order_release);
    g_ctx = nullptr;
    g_ctx_error = 0;
}
#endif
