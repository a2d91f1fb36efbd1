// Host USB front end: back-end choice, handles and their transfers in
// flight, result texts, and the device-change notification thread.
#include "zel_host_usb.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "zel_host_internal.h"
#include "zel_host_usb_backend.h"

namespace {

constexpr int kSlots = 16;
constexpr int kFindMax = 16;

// One open device. `handle` is 0 when the slot is free; `closing` once a
// close has started, after which no new transfer may enter.
struct Slot {
    uint32_t handle;
    const zel_host_usb_backend_t *be;
    void *device;
    int in_flight;
    bool closing;
};

// Host threads use these until the process ends: never destroyed
// (zel_host_lasting), and a mutex has no destructor.
std::mutex g_mutex;  // guards the back-end choice and the slots
zel_host_lasting<std::condition_variable> g_drained;
Slot g_slots[kSlots];
uint32_t g_generation;
int g_open;
const zel_host_usb_backend_t *g_backend;
bool g_notifying;
const zel_host_usb_simulator_t *g_sim;  // offered by a program that links the simulated adapter

bool sim_asked() {
    const char *env = getenv("ZEL_USB");
    return env && strcmp(env, "sim") == 0;
}

const zel_host_usb_backend_t *chosen_locked() {
    if (!g_backend) {
        const bool sim = sim_asked();
        const char *env = getenv("ZEL_USB");
        if (env && *env && !sim && strcmp(env, "libusb") != 0)
            fprintf(
                stderr, "ZEL_USB=%s is not known (\"libusb\" or \"sim\"): the machine's USB devices are used\n", env);
        if (sim && !g_sim)
            fprintf(stderr, "ZEL_USB=sim: this build has no simulated adapter (cmake -DZEL_USB_SIM=ON builds it "
                            "in); the machine's USB devices are used\n");
        g_backend = sim && g_sim ? g_sim->backend : &zel_host_usb_libusb_backend;
    }
    return g_backend;
}

const zel_host_usb_backend_t *chosen() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return chosen_locked();
}

// A handle in use by one call; the close of the handle waits for it.
class Use {
public:
    explicit Use(zel_host_usb_handle_t handle) {
        std::lock_guard<std::mutex> lock(g_mutex);
        const uint32_t index = (handle & 0xFFu) - 1;
        if (handle == 0 || index >= kSlots) return;
        Slot &s = g_slots[index];
        if (s.handle != handle || s.closing) return;
        s.in_flight++;
        slot_ = &s;
    }
    ~Use() {
        if (!slot_) return;
        std::lock_guard<std::mutex> lock(g_mutex);
        if (--slot_->in_flight == 0 && slot_->closing) g_drained->notify_all();
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;
    explicit operator bool() const { return slot_ != nullptr; }
    const zel_host_usb_backend_t *be() const { return slot_->be; }
    void *device() const { return slot_->device; }

private:
    Slot *slot_ = nullptr;
};

// ---- notification ----

struct Hook {
    int id;
    zel_host_usb_notify_hook_t fn;
    void *arg;
};

std::mutex g_reg_mutex;   // serialises register and unregister
std::mutex g_hook_mutex;  // held while hooks run
Hook g_hooks[ZEL_HOST_USB_NOTIFY_MAX];
int g_next_hook_id = 1;
const zel_host_usb_backend_t *g_notify_be;

std::mutex g_wake_mutex;
zel_host_lasting<std::condition_variable> g_wake;
bool g_changed;
bool g_stop;
// Joinable while the notification runs: an exit then leaves it be.
zel_host_lasting<std::thread> g_thread;

void notify_thread() {
    pthread_setname_np(pthread_self(), "host_usb_notify");
    std::unique_lock<std::mutex> lock(g_wake_mutex);
    for (;;) {
        g_wake->wait(lock, [] { return g_changed || g_stop; });
        if (g_stop) return;
        g_changed = false;
        lock.unlock();
        {
            std::lock_guard<std::mutex> hooks(g_hook_mutex);
            for (const Hook &h : g_hooks)
                if (h.fn) h.fn(h.arg);
        }
        lock.lock();
    }
}

bool any_hook() {
    for (const Hook &h : g_hooks)
        if (h.fn) return true;
    return false;
}

}  // namespace

const char *zel_host_usb_strerror(int code) {
    switch (code) {
    case ZEL_HOST_USB_OK: return "Success";
    case ZEL_HOST_USB_ENOENT: return "No such interface, setting or pipe";
    case ZEL_HOST_USB_EIO: return "Input/output error";
    case ZEL_HOST_USB_ENOMEM: return "Out of memory";
    case ZEL_HOST_USB_EACCES: return "Access denied";
    case ZEL_HOST_USB_EBUSY: return "Device is held by another driver";
    case ZEL_HOST_USB_ENODEV: return "No such device (it may have been disconnected)";
    case ZEL_HOST_USB_EINVAL: return "Invalid argument";
    case ZEL_HOST_USB_EPIPE: return "Endpoint stalled";
    case ZEL_HOST_USB_EOVERFLOW: return "Device sent more data than requested";
    case ZEL_HOST_USB_ENOTSUP: return "Operation not supported";
    case ZEL_HOST_USB_ETIMEDOUT: return "Transfer timed out";
    default: return code > 0 ? "Success" : "Unknown error";
    }
}

void zel_host_usb_copy_text(char *out, size_t size, const char *text) {
    if (!out || size == 0) return;
    snprintf(out, size, "%s", text ? text : "");
}

void zel_host_usb_format_path(char *out, const char *prefix, uint16_t vid, uint16_t pid, const char *rest) {
    snprintf(out, ZEL_HOST_USB_PATH_MAX, "%s:vid_%04x&pid_%04x&%s", prefix, vid, pid, rest);
}

void zel_host_usb_offer_sim(const zel_host_usb_simulator_t *sim) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_sim = sim;
}

int zel_host_usb_plug_from_env(void) {
    const zel_host_usb_simulator_t *sim;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        sim = g_sim;
    }
    if (sim && sim->plug_from_env) return sim->plug_from_env();
    const char *image = getenv("ZEL_USB_SIM_DISK");
    if (!image || !*image) return 0;
    if (!sim && sim_asked())
        (void)chosen();  // the choice says in one line that there is no simulated adapter
    else
        fprintf(stderr, "ZEL_USB_SIM_DISK is set but this program has no simulated adapter to plug\n");
    return 0;
}

zel_host_usb_kind_t zel_host_usb_kind(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const zel_host_usb_backend_t *be = chosen_locked();
    return g_sim && be == g_sim->backend ? ZEL_HOST_USB_SIM : ZEL_HOST_USB_LIBUSB;
}

int zel_host_usb_use(zel_host_usb_kind_t kind) {
    if (kind != ZEL_HOST_USB_SIM && kind != ZEL_HOST_USB_LIBUSB) return ZEL_HOST_USB_EINVAL;
    std::lock_guard<std::mutex> lock(g_mutex);
    const zel_host_usb_backend_t *be = kind == ZEL_HOST_USB_LIBUSB ? &zel_host_usb_libusb_backend
                                       : g_sim                     ? g_sim->backend
                                                                   : nullptr;
    if (!be) return ZEL_HOST_USB_ENOTSUP;
    if (g_open > 0 || g_notifying) return chosen_locked() == be ? 0 : ZEL_HOST_USB_EBUSY;
    g_backend = be;
    return 0;
}

int zel_host_usb_find(uint16_t vid, uint16_t pid, zel_host_usb_found_t *out, int max) {
    if (max < 0 || (max > 0 && !out)) return ZEL_HOST_USB_EINVAL;
    return chosen()->find(vid, pid, out, max);
}

int zel_host_usb_driver_find(uint16_t vid, uint16_t pid, bool force, zel_host_usb_found_t *out) {
    if (!out) return ZEL_HOST_USB_EINVAL;
    zel_host_usb_found_t found[kFindMax];
    const int n = chosen()->find(vid, pid, found, kFindMax);
    if (n < 0) return n;
    for (int i = 0; i < n && i < kFindMax; i++) {
        if (force || found[i].driver != ZEL_HOST_USB_DRIVER_OURS) {
            *out = found[i];
            return 1;
        }
    }
    return 0;
}

int zel_host_usb_driver_install(const char *path, char *text, size_t text_size) {
    if (!path) {
        zel_host_usb_copy_text(text, text_size, zel_host_usb_strerror(ZEL_HOST_USB_EINVAL));
        return ZEL_HOST_USB_EINVAL;
    }
    return chosen()->install(path, text, text_size);
}

int zel_host_usb_open(const char *path, zel_host_usb_handle_t *out) {
    if (!path || !out) return ZEL_HOST_USB_EINVAL;
    *out = 0;
    const zel_host_usb_backend_t *be;
    int index = -1;
    {
        // Reserve a slot first, so that the back end's device never has to
        // be closed again for want of one.
        std::lock_guard<std::mutex> lock(g_mutex);
        be = chosen_locked();
        for (int i = 0; i < kSlots && index < 0; i++)
            if (g_slots[i].handle == 0 && !g_slots[i].closing) index = i;
        if (index < 0) return ZEL_HOST_USB_ENOMEM;
        g_slots[index].closing = true;  // reserved: no handle matches it yet
        g_open++;
    }
    void *device = nullptr;
    const int r = be->open(path, &device);
    std::lock_guard<std::mutex> lock(g_mutex);
    Slot &s = g_slots[index];
    if (r != 0) {
        s = Slot{};
        g_open--;
        return r;
    }
    g_generation = (g_generation + 1) & 0x7FFFFFu;  // handles stay below 2^31
    if (g_generation == 0) g_generation = 1;
    s = Slot{(g_generation << 8) | (uint32_t)(index + 1), be, device, 0, false};
    *out = s.handle;
    return 0;
}

void zel_host_usb_close(zel_host_usb_handle_t handle) {
    const uint32_t index = (handle & 0xFFu) - 1;
    if (handle == 0 || index >= kSlots) return;
    Slot *s = &g_slots[index];
    std::unique_lock<std::mutex> lock(g_mutex);
    if (s->handle != handle || s->closing) return;
    s->closing = true;
    const zel_host_usb_backend_t *be = s->be;
    void *device = s->device;
    lock.unlock();
    be->cancel(device);
    lock.lock();
    g_drained->wait(lock, [s] { return s->in_flight == 0; });
    lock.unlock();
    be->close(device);
    lock.lock();
    *s = Slot{};
    g_open--;
}

int zel_host_usb_speed(zel_host_usb_handle_t handle) {
    Use u(handle);
    return u ? u.be()->speed(u.device()) : ZEL_HOST_USB_ENODEV;
}

int zel_host_usb_interface_count(zel_host_usb_handle_t handle) {
    Use u(handle);
    return u ? u.be()->interface_count(u.device()) : ZEL_HOST_USB_ENODEV;
}

int zel_host_usb_query_interface(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t alt, zel_host_usb_interface_desc_t *out) {
    if (!out) return ZEL_HOST_USB_EINVAL;
    Use u(handle);
    return u ? u.be()->query_interface(u.device(), index, alt, out) : ZEL_HOST_USB_ENODEV;
}

int zel_host_usb_query_pipe(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t alt, uint8_t pipe, zel_host_usb_pipe_info_t *out) {
    if (!out) return ZEL_HOST_USB_EINVAL;
    Use u(handle);
    return u ? u.be()->query_pipe(u.device(), index, alt, pipe, out) : ZEL_HOST_USB_ENODEV;
}

int zel_host_usb_control(
    zel_host_usb_handle_t handle, const zel_host_usb_setup_t *setup, void *data, uint32_t timeout_ms) {
    if (!setup || (setup->wLength > 0 && !data)) return ZEL_HOST_USB_EINVAL;
    Use u(handle);
    return u ? u.be()->control(u.device(), setup, data, timeout_ms) : ZEL_HOST_USB_ENODEV;
}

static int pipe_transfer(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint, void *buffer, uint32_t length, uint32_t timeout_ms) {
    if ((length > 0 && !buffer) || length > 0x7FFFFFFFu || (endpoint & 0x0F) == 0) return ZEL_HOST_USB_EINVAL;
    Use u(handle);
    return u ? u.be()->transfer(u.device(), index, endpoint, buffer, length, timeout_ms) : ZEL_HOST_USB_ENODEV;
}

int zel_host_usb_read_pipe(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint, void *buffer, uint32_t length, uint32_t timeout_ms) {
    if (!(endpoint & 0x80)) return ZEL_HOST_USB_EINVAL;
    return pipe_transfer(handle, index, endpoint, buffer, length, timeout_ms);
}

int zel_host_usb_write_pipe(zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint, const void *buffer,
    uint32_t length, uint32_t timeout_ms) {
    if (endpoint & 0x80) return ZEL_HOST_USB_EINVAL;
    return pipe_transfer(handle, index, endpoint, const_cast<void *>(buffer), length, timeout_ms);
}

int zel_host_usb_reset_pipe(zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint) {
    Use u(handle);
    return u ? u.be()->reset_pipe(u.device(), index, endpoint) : ZEL_HOST_USB_ENODEV;
}

int zel_host_usb_set_alt(zel_host_usb_handle_t handle, uint8_t index, uint8_t alt) {
    Use u(handle);
    return u ? u.be()->set_alt(u.device(), index, alt) : ZEL_HOST_USB_ENODEV;
}

void zel_host_usb_changed(void) {
    std::lock_guard<std::mutex> lock(g_wake_mutex);
    g_changed = true;
    g_wake->notify_all();
}

int zel_host_usb_notify_register(zel_host_usb_notify_hook_t hook, void *arg) {
    if (!hook) return ZEL_HOST_USB_EINVAL;
    std::lock_guard<std::mutex> reg(g_reg_mutex);
    Hook *slot = nullptr;
    for (Hook &h : g_hooks)
        if (!h.fn && !slot) slot = &h;
    if (!slot) return ZEL_HOST_USB_ENOMEM;
    if (!any_hook()) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_notify_be = chosen_locked();
            g_notifying = true;
        }
        const int r = g_notify_be->notify_start();
        if (r != 0) {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_notifying = false;
            return r;
        }
        g_changed = false;
        g_stop = false;
        try {
            *g_thread = std::thread(notify_thread);
        } catch (...) {
            g_notify_be->notify_stop();
            std::lock_guard<std::mutex> lock(g_mutex);
            g_notifying = false;
            return ZEL_HOST_USB_ENOMEM;
        }
    }
    std::lock_guard<std::mutex> hooks(g_hook_mutex);
    *slot = Hook{g_next_hook_id++, hook, arg};
    if (g_next_hook_id <= 0) g_next_hook_id = 1;
    return slot->id;
}

void zel_host_usb_notify_unregister(int id) {
    std::lock_guard<std::mutex> reg(g_reg_mutex);
    bool removed = false;
    {
        std::lock_guard<std::mutex> hooks(g_hook_mutex);
        for (Hook &h : g_hooks)
            if (h.fn && h.id == id) {
                h = Hook{};
                removed = true;
            }
    }
    if (!removed || any_hook()) return;
    g_notify_be->notify_stop();
    {
        std::lock_guard<std::mutex> lock(g_wake_mutex);
        g_stop = true;
        g_wake->notify_all();
    }
    g_thread->join();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_notifying = false;
}
