// The simulated adapter: its devices, plug and unplug, injected faults, and
// the back-end table that serves the host-USB layer from them.
#include "zel_host_usb_sim.h"

#include <stdio.h>
#include <string.h>

#include <new>

#include "zel_host_internal.h"
#include "zel_host_usb_backend.h"
#include "zel_host_usb_sim_internal.h"

using namespace zel_sim;

namespace {

std::mutex g_registry;  // guards g_devices and g_next_id; taken before a device's lock
// Host threads look devices up until the process ends: never destroyed.
zel_host_lasting<std::vector<Device *>> g_devices;
uint32_t g_next_id;

void path_of(const Device &d, char *out) {
    char rest[24];
    snprintf(rest, sizeof rest, "slot_%u", d.id);
    zel_host_usb_format_path(out, "sim", d.config.vid, d.config.pid, rest);
}

// The registered device named by `path`, or null.
Device *lookup(const char *path) {
    std::lock_guard<std::mutex> reg(g_registry);
    char mine[ZEL_HOST_USB_PATH_MAX];
    for (Device *d : *g_devices) {
        path_of(*d, mine);
        if (strcmp(mine, path) == 0) return d;
    }
    return nullptr;
}

Open *as_open(void *device) { return static_cast<Open *>(device); }

// The endpoint descriptor of `endpoint` in the current setting of
// interface `index`, or null.
const uint8_t *endpoint_of(const Device &d, uint8_t index, uint8_t endpoint) {
    if (index >= d.interface_count) return nullptr;
    for (int p = 0;; p++) {
        const uint8_t *ep = nullptr;
        if (!zel_host_usb_find_interface(
                d.config_desc.data(), (uint32_t)d.config_desc.size(), index, d.alt[index], p, &ep))
            return nullptr;
        if (ep[2] == endpoint) return ep;
    }
}

// The checks every request makes first: 0 to go on, else the answer.
int admit(const Open &o) {
    Device &d = *o.dev;
    if (!alive(o)) return ZEL_HOST_USB_ENODEV;
    if (d.fail_count > 0) {
        d.fail_count--;
        return d.fail_code;
    }
    return 0;
}

// ---- back-end table ----

int sim_find(uint16_t vid, uint16_t pid, zel_host_usb_found_t *out, int max) {
    std::lock_guard<std::mutex> reg(g_registry);
    int count = 0;
    for (Device *d : *g_devices) {
        std::lock_guard<std::mutex> lock(d->m);
        if (!d->plugged || d->config.vid != vid || (pid != 0 && d->config.pid != pid)) continue;
        if (count < max) {
            zel_host_usb_found_t &f = out[count];
            f = zel_host_usb_found_t{};
            f.vid = d->config.vid;
            f.pid = d->config.pid;
            f.driver = d->installed ? ZEL_HOST_USB_DRIVER_OURS : ZEL_HOST_USB_DRIVER_KERNEL;
            f.speed = d->config.speed;
            if (!d->installed)
                zel_host_usb_copy_text(f.driver_name, sizeof f.driver_name, d->config.msc ? "usb-storage" : "usbhid");
            path_of(*d, f.path);
        }
        count++;
    }
    return count;
}

int sim_install(const char *path, char *text, size_t text_size) {
    Device *d = lookup(path);
    int r = ZEL_HOST_USB_ENODEV;
    const char *why = nullptr;
    if (d) {
        std::lock_guard<std::mutex> lock(d->m);
        if (!d->plugged) {
            r = ZEL_HOST_USB_ENODEV;
        } else if (d->install_code != 0) {
            r = d->install_code;
            if (!d->install_text.empty()) why = d->install_text.c_str();
            zel_host_usb_copy_text(text, text_size, why ? why : zel_host_usb_strerror(r));
            return r;
        } else {
            d->installed = true;
            d->installs++;
            r = 0;
        }
    }
    zel_host_usb_copy_text(text, text_size, zel_host_usb_strerror(r));
    return r;
}

int sim_open(const char *path, void **device) {
    Device *d = lookup(path);
    if (!d) return ZEL_HOST_USB_ENODEV;
    std::lock_guard<std::mutex> lock(d->m);
    if (!d->plugged) return ZEL_HOST_USB_ENODEV;
    if (d->open_code != 0) return d->open_code;
    if (!d->installed) return ZEL_HOST_USB_EBUSY;
    Open *o = new (std::nothrow) Open{d, d->plug_epoch, false};
    if (!o) return ZEL_HOST_USB_ENOMEM;
    d->open_count++;
    *device = o;
    return 0;
}

void sim_cancel(void *device) {
    Open *o = as_open(device);
    std::lock_guard<std::mutex> lock(o->dev->m);
    o->cancelled = true;
    o->dev->changed.notify_all();
}

void sim_close(void *device) {
    Open *o = as_open(device);
    Device *d = o->dev;
    bool last;
    {
        std::lock_guard<std::mutex> lock(d->m);
        last = --d->open_count == 0 && d->destroyed;
    }
    delete o;
    if (last) delete d;
}

int sim_speed(void *device) {
    Open *o = as_open(device);
    std::lock_guard<std::mutex> lock(o->dev->m);
    return alive(*o) ? o->dev->config.speed : ZEL_HOST_USB_ENODEV;
}

int sim_interface_count(void *device) {
    Open *o = as_open(device);
    std::lock_guard<std::mutex> lock(o->dev->m);
    return alive(*o) ? o->dev->interface_count : ZEL_HOST_USB_ENODEV;
}

int sim_query_interface(void *device, uint8_t index, uint8_t alt, zel_host_usb_interface_desc_t *out) {
    Open *o = as_open(device);
    Device &d = *o->dev;
    std::lock_guard<std::mutex> lock(d.m);
    if (!alive(*o)) return ZEL_HOST_USB_ENODEV;
    if (index >= d.interface_count) return ZEL_HOST_USB_ENOENT;
    const uint8_t *iface =
        zel_host_usb_find_interface(d.config_desc.data(), (uint32_t)d.config_desc.size(), index, alt, -1, nullptr);
    if (!iface) return ZEL_HOST_USB_ENOENT;
    memcpy(out, iface, sizeof *out);
    return 0;
}

int sim_query_pipe(void *device, uint8_t index, uint8_t alt, uint8_t pipe, zel_host_usb_pipe_info_t *out) {
    Open *o = as_open(device);
    Device &d = *o->dev;
    std::lock_guard<std::mutex> lock(d.m);
    if (!alive(*o)) return ZEL_HOST_USB_ENODEV;
    if (index >= d.interface_count) return ZEL_HOST_USB_ENOENT;
    const uint8_t *ep = nullptr;
    if (!zel_host_usb_find_interface(d.config_desc.data(), (uint32_t)d.config_desc.size(), index, alt, pipe, &ep))
        return ZEL_HOST_USB_ENOENT;
    *out = zel_host_usb_pipe_info_t{(uint8_t)(ep[3] & 3), ep[2], (uint16_t)(ep[4] | ep[5] << 8), ep[6]};
    return 0;
}

int sim_control(void *device, const zel_host_usb_setup_t *setup, void *data, uint32_t) {
    Open *o = as_open(device);
    std::lock_guard<std::mutex> lock(o->dev->m);
    if (const int r = admit(*o)) return r;
    return standard_control(*o->dev, *setup, static_cast<uint8_t *>(data));
}

int sim_transfer(void *device, uint8_t index, uint8_t endpoint, void *buffer, uint32_t length, uint32_t timeout_ms) {
    Open *o = as_open(device);
    Device &d = *o->dev;
    Lock lock(d.m);
    if (const int r = admit(*o)) return r;
    if (d.configuration == 0) return ZEL_HOST_USB_EIO;
    if (index >= d.interface_count) return ZEL_HOST_USB_ENOENT;
    if (!endpoint_of(d, index, endpoint)) return ZEL_HOST_USB_EINVAL;
    if (is_halted(d, endpoint)) return ZEL_HOST_USB_EPIPE;
    auto *bytes = static_cast<uint8_t *>(buffer);
    const bool in = (endpoint & 0x80) != 0;
    switch (d.interfaces[index].function) {
    case Function::MASS_STORAGE:
        if (endpoint == d.bot_in) return bot_in(lock, *o, bytes, length, timeout_ms);
        if (endpoint == d.bot_out) return bot_out(lock, *o, bytes, length, timeout_ms);
        break;
    case Function::HID: return in ? hid_in(lock, *o, endpoint, bytes, length, timeout_ms) : hid_out(d, bytes, length);
    default: break;
    }
    // An endpoint without a function: OUT data is taken, IN never comes.
    if (!in) return (int)length;
    const int r = wait_for(lock, *o, timeout_ms, [] { return false; });
    return r;
}

int sim_reset_pipe(void *device, uint8_t index, uint8_t endpoint) {
    Open *o = as_open(device);
    Device &d = *o->dev;
    std::lock_guard<std::mutex> lock(d.m);
    if (!alive(*o)) return ZEL_HOST_USB_ENODEV;
    if (!endpoint_of(d, index, endpoint)) return ZEL_HOST_USB_EINVAL;
    d.halted &= ~halt_bit(endpoint);
    d.changed.notify_all();
    return 0;
}

int sim_set_alt(void *device, uint8_t index, uint8_t alt) {
    Open *o = as_open(device);
    std::lock_guard<std::mutex> lock(o->dev->m);
    if (const int r = admit(*o)) return r;
    return select_alt(*o->dev, index, alt);
}

// Plug and unplug report themselves (zel_host_usb_changed), watched or not.
int sim_notify_start() { return 0; }
void sim_notify_stop() {}

}  // namespace

namespace zel_sim {

uint32_t take_short(Device &d, uint8_t endpoint, uint32_t wanted) {
    if (!d.short_armed || d.short_endpoint != endpoint || wanted == 0) return wanted;
    d.short_armed = false;
    return wanted < d.short_bytes ? wanted : d.short_bytes;
}

}  // namespace zel_sim

extern const zel_host_usb_backend_t zel_host_usb_sim_backend = {
    .name = "sim",
    .find = sim_find,
    .install = sim_install,
    .open = sim_open,
    .cancel = sim_cancel,
    .close = sim_close,
    .speed = sim_speed,
    .interface_count = sim_interface_count,
    .query_interface = sim_query_interface,
    .query_pipe = sim_query_pipe,
    .control = sim_control,
    .transfer = sim_transfer,
    .reset_pipe = sim_reset_pipe,
    .set_alt = sim_set_alt,
    .notify_start = sim_notify_start,
    .notify_stop = sim_notify_stop,
};

namespace {

// The back end alone: the program makes and plugs its devices itself.
constexpr zel_host_usb_simulator_t kSimulator = {
    .backend = &zel_host_usb_sim_backend,
    .plug_from_env = nullptr,
};

}  // namespace

extern "C" {

void zel_host_usb_sim_offer(void) { zel_host_usb_offer_sim(&kSimulator); }

void zel_host_usb_sim_config_init(zel_host_usb_sim_config_t *config, uint16_t vid, uint16_t pid) {
    *config = zel_host_usb_sim_config_t{};
    config->vid = vid;
    config->pid = pid;
    config->bcd_device = 0x0100;
    config->speed = ZEL_HOST_USB_SPEED_HIGH;
    config->driver_installed = 1;
    config->msc = 1;
    config->manufacturer = "Trellow";
    config->product = "USB Adapter";
    config->serial = "0001";
}

zel_host_usb_sim_dev_t *zel_host_usb_sim_create(const zel_host_usb_sim_config_t *config) {
    if (!config) return nullptr;
    Device *d = new (std::nothrow) Device;
    if (!d) return nullptr;
    d->config = *config;
    const char *texts[3] = {config->manufacturer, config->product, config->serial};
    for (int i = 0; i < 3; i++) d->strings[i] = texts[i] ? texts[i] : "";
    // The device keeps its own copies of the strings and descriptors.
    d->config.manufacturer = d->config.product = d->config.serial = nullptr;
    if (!build_descriptors(*d)) {
        delete d;
        return nullptr;
    }
    d->config.device_desc = d->config.config_desc = nullptr;
    d->installed = config->driver_installed != 0;
    std::lock_guard<std::mutex> reg(g_registry);
    d->id = g_next_id++;
    g_devices->push_back(d);
    return d;
}

void zel_host_usb_sim_destroy(zel_host_usb_sim_dev_t *dev) {
    if (!dev) return;
    (void)zel_host_usb_sim_unplug(dev);  // EINVAL: unplugged already
    {
        std::lock_guard<std::mutex> reg(g_registry);
        for (size_t i = 0; i < g_devices->size(); i++)
            if ((*g_devices)[i] == dev) g_devices->erase(g_devices->begin() + (long)i);
    }
    {
        // A handle still open keeps the record until its close.
        std::lock_guard<std::mutex> lock(dev->m);
        dev->destroyed = true;
        if (dev->open_count > 0) return;
    }
    delete dev;
}

int zel_host_usb_sim_plug(zel_host_usb_sim_dev_t *dev) {
    {
        std::lock_guard<std::mutex> lock(dev->m);
        if (dev->plugged) return ZEL_HOST_USB_EINVAL;
        dev->plugged = true;
        dev->plug_epoch++;
        dev->configuration = dev->config_desc[5];
        memset(dev->alt, 0, sizeof dev->alt);
        dev->halted = 0;
        dev->hid.input.clear();
        bot_reset(*dev);
    }
    zel_host_usb_changed();
    return 0;
}

int zel_host_usb_sim_unplug(zel_host_usb_sim_dev_t *dev) {
    {
        std::lock_guard<std::mutex> lock(dev->m);
        if (!dev->plugged) return ZEL_HOST_USB_EINVAL;
        dev->plugged = false;
        bot_reset(*dev);  // wakes every waiting transfer, which finds the device gone
    }
    zel_host_usb_changed();
    return 0;
}

int zel_host_usb_sim_hid_input(zel_host_usb_sim_dev_t *dev, const void *report, uint32_t length) {
    if (!report || length == 0 || length > kHidReportMax) return ZEL_HOST_USB_EINVAL;
    std::lock_guard<std::mutex> lock(dev->m);
    if (dev->hid.input.size() >= kHidQueueMax) return ZEL_HOST_USB_ENOMEM;
    const auto *p = static_cast<const uint8_t *>(report);
    dev->hid.input.emplace_back(p, p + length);
    dev->changed.notify_all();
    return 0;
}

int zel_host_usb_sim_hid_output(zel_host_usb_sim_dev_t *dev, void *out, uint32_t size) {
    std::lock_guard<std::mutex> lock(dev->m);
    const uint32_t n = (uint32_t)dev->hid.output.size() < size ? (uint32_t)dev->hid.output.size() : size;
    if (n) memcpy(out, dev->hid.output.data(), n);
    return (int)dev->hid.output.size();
}

int zel_host_usb_sim_stall(zel_host_usb_sim_dev_t *dev, uint8_t endpoint) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->halted |= halt_bit(endpoint);
    bot_halt_changed(*dev);
    dev->changed.notify_all();
    return 0;
}

void zel_host_usb_sim_fail_transfers(zel_host_usb_sim_dev_t *dev, uint32_t count, int code) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->fail_count = code < 0 ? count : 0;
    dev->fail_code = code;
}

void zel_host_usb_sim_short_transfer(zel_host_usb_sim_dev_t *dev, uint8_t endpoint, uint32_t bytes) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->short_armed = (endpoint & 0x80) != 0;
    dev->short_endpoint = endpoint;
    dev->short_bytes = bytes;
}

void zel_host_usb_sim_status_faults(zel_host_usb_sim_dev_t *dev, uint32_t stalls, uint32_t corrupt) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->status_stalls = stalls;
    dev->status_corrupt = corrupt;
}

void zel_host_usb_sim_hold_status(zel_host_usb_sim_dev_t *dev, bool hold) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->status_held = hold;
    dev->changed.notify_all();
}

void zel_host_usb_sim_fail_install(zel_host_usb_sim_dev_t *dev, int code, const char *text) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->install_code = code;
    dev->install_text = text ? text : "";
}

void zel_host_usb_sim_fail_open(zel_host_usb_sim_dev_t *dev, int code) {
    std::lock_guard<std::mutex> lock(dev->m);
    dev->open_code = code;
}

void zel_host_usb_sim_get_status(zel_host_usb_sim_dev_t *dev, zel_host_usb_sim_status_t *out) {
    std::lock_guard<std::mutex> lock(dev->m);
    *out = zel_host_usb_sim_status_t{};
    out->plugged = dev->plugged;
    out->driver_installed = dev->installed;
    out->configuration = dev->configuration;
    out->open_count = (uint8_t)dev->open_count;
    memcpy(out->alt, dev->alt, sizeof out->alt);
    out->halted = dev->halted;
    out->commands = dev->commands;
    out->bot_resets = dev->bot_resets;
    out->installs = dev->installs;
    out->failures_left = dev->fail_count;
}

}  // extern "C"
