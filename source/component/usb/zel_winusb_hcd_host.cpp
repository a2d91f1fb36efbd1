// winusb_hcd, host side: the init thread (device search, driver
// installation, open, presence tests), the device thread, and the URB
// threads that carry out transfers through the host-USB layer.
#include <string.h>

#include "zel_heap.h"
#include "zel_host_lock.h"
#include "zel_trace.h"
#include "zel_usbh_hooks.h"
#include "zel_util.h"
#include "zel_winusb_hcd_internal.h"

namespace winusb_hcd {

namespace {

constexpr int kFoundMax = 8;
constexpr uint32_t kIdlePollMs = 1;
constexpr int16_t kNoSuchPipe = ZEL_HOST_USB_ENOENT;
static_assert(ZEL_HOST_USB_ETIMEDOUT == ZEL_USBH_ERR_TIMEOUT, "a timed-out transfer reaches the classes as such");

// Guards the endpoint map and the interface handles against the init thread
// and SET_INTERFACE on URB threads.
zel_host_lock_t g_map_lock;

zel_host_usb_handle_t file_handle() {
    const intptr_t f = load(g_dev.file);
    return f > 0 ? (zel_host_usb_handle_t)f : 0;
}

void trace_host_error(const char *what, int code) {
    zel_trace(1, "%s: %d %s\r\n", what, -code, zel_host_usb_strerror(code));
}

void call_install_hook(bool begin, int result, const char *text) {
    zel_host_irq_enter(&g_drv.init_thread);
    if (begin)
        on_driver_install_begin(g_dev.vid, g_dev.pid);
    else
        on_driver_install_end(g_dev.vid, g_dev.pid, result, text);
    zel_host_irq_leave(&g_drv.init_thread, 0);
}

// Installs the driver for the first device of the ids that needs it (any
// such device when forced). The hooks get the configured ids.
void install_driver(bool force) {
    zel_host_usb_found_t found;
    if (zel_host_usb_driver_find(g_dev.vid, g_dev.pid, force, &found) <= 0) return;
    call_install_hook(true, 0, nullptr);
    char text[128] = "";
    const int r = zel_host_usb_driver_install(found.path, text, sizeof text);
    text[sizeof text - 1] = 0;
    call_install_hook(false, r, text);
}

bool path_matches(const char *path) {
    char want[16];
    zel_sprintf(want, "vid_%04x", g_dev.vid);
    if (!strstr(path, want)) return false;
    if (g_dev.pid == 0) return true;
    zel_sprintf(want, "pid_%04x", g_dev.pid);
    return strstr(path, want) != nullptr;
}

enum class Open { OPENED, NOT_OURS, NONE };

// Searches the attached devices of the ids and opens the first one that
// opens. A device held by another driver stops the search (*code set).
Open open_device(zel_host_usb_handle_t *out, int *code) {
    zel_host_usb_found_t found[kFoundMax];
    const int n = zel_host_usb_find(g_dev.vid, g_dev.pid, found, kFoundMax);
    for (int i = 0; i < n && i < kFoundMax; i++) {
        found[i].path[ZEL_HOST_USB_PATH_MAX - 1] = 0;
        if (!path_matches(found[i].path)) continue;
        zel_trace(4, "Device path: %s\r\n", found[i].path);
        const int r = zel_host_usb_open(found[i].path, out);
        if (r == 0) return Open::OPENED;
        if (r == ZEL_HOST_USB_EBUSY) {
            *code = r;
            return Open::NOT_OURS;
        }
        trace_host_error("Fail to open device", r);
    }
    return Open::NONE;
}

void clear_map_locked() {
    for (auto &e : g_dev.ep_map) e = {ZEL_WINUSB_HCD_NO_IFS, {}};
}

void record_speed(zel_host_usb_handle_t file) {
    const int s = zel_host_usb_speed(file);
    if (s < 0) return;
    store<uint32_t>(g_dev.speed, (s >= ZEL_HOST_USB_SPEED_LOW && s <= ZEL_HOST_USB_SPEED_HIGH) ? (uint32_t)s : 0u);
}

// A device is open: map its interfaces and pipes, learn its speed, report it.
void take_device(zel_host_usb_handle_t file) {
    {
        zel_host_lock_guard lock(g_map_lock);
        clear_map_locked();
        for (auto &h : g_dev.ifs) h = 0;
        store<intptr_t>(g_dev.file, (intptr_t)file);
        g_dev.ifs[0] = 1;
        g_dev.ifs_count = 1;
    }
    map_interface(file, 0, 0);
    const int count = zel_host_usb_interface_count(file);
    for (int i = 0; i < ZEL_WINUSB_HCD_IFS_MAX - 1 && i + 1 < count; i++) {
        {
            zel_host_lock_guard lock(g_map_lock);
            g_dev.ifs[i + 1] = (uintptr_t)(i + 2);
            g_dev.ifs_count++;
        }
        map_interface(file, (uint8_t)(i + 1), 0);
    }
    record_speed(file);
    set_flags(ZEL_WINUSB_FLAG_CONNECT);
    zel_host_request_send(&g_dev.request);
}

void search() {
    install_driver(false);
    zel_host_usb_handle_t file = 0;
    int code = 0;
    Open o = open_device(&file, &code);
    if (o == Open::NOT_OURS) {
        trace_host_error("Fail to initialize winusb", code);
        install_driver(true);
        o = open_device(&file, &code);
    }
    if (o == Open::OPENED) take_device(file);
}

// A device is open: only the presence test. None is open but the old one
// is still being let go (release, or a disconnect not yet handled): that
// step asks for a rescan once it is done, so a device plugged meanwhile is
// searched for then. Otherwise: search.
void rescan() {
    const intptr_t f = load(g_dev.file);
    if (f == ZEL_WINUSB_FILE_NOT_STARTED) return;
    if (f > 0) {
        if (zel_host_usb_speed(file_handle()) < 0) {
            set_flags(ZEL_WINUSB_FLAG_DISCONNECT);
            zel_host_request_send(&g_dev.request);
        }
        return;
    }
    if (has_flags(ZEL_WINUSB_FLAG_RELEASE | ZEL_WINUSB_FLAG_DISCONNECT)) return;
    search();
}

void on_device_change(void *) { zel_host_request_send(&g_drv.rescan); }

void release() {
    zel_host_usb_handle_t file = file_handle();
    {
        zel_host_lock_guard lock(g_map_lock);
        for (auto &h : g_dev.ifs) h = 0;
        store<intptr_t>(g_dev.file, ZEL_WINUSB_FILE_NONE);
    }
    if (file) zel_host_usb_close(file);
    clear_flags(ZEL_WINUSB_FLAG_RELEASE);
    // A device plugged while the old one was let go is found now.
    zel_host_request_send(&g_drv.rescan);
}

// ---- transfers ----

struct Target {
    uint8_t ifs;
    bool present;
};

Target pipe_target(uint8_t ep, bool in) {
    zel_host_lock_guard lock(g_map_lock);
    const uint8_t ifs = g_dev.ep_map[(ep & 15) | (in ? 16 : 0)].ifs;
    return {ifs, ifs < ZEL_WINUSB_HCD_IFS_MAX && g_dev.ifs[ifs] != 0};
}

bool interface_present(uint8_t index) {
    zel_host_lock_guard lock(g_map_lock);
    return index < ZEL_WINUSB_HCD_IFS_MAX && g_dev.ifs[index] != 0;
}

void complete(zel_usbh_hcd_urb_t *urb, int r) {
    urb->status = (int16_t)(r < 0 ? r : 0);
    urb->actual_length = r < 0 ? 0 : (uint32_t)r;
}

void control(zel_host_usb_handle_t file, zel_usbh_hcd_urb_t *urb) {
    const zel_usbh_setup_t &s = urb->setup;
    const uint16_t value = zel_get_unaligned_le16(&s.wValue);
    const uint16_t index = zel_get_unaligned_le16(&s.wIndex);
    const uint16_t length = zel_get_unaligned_le16(&s.wLength);
    if (s.bmRequestType == 0x01 && s.bRequest == ZEL_USB_REQ_SET_INTERFACE) {
        const uint8_t ifs = (uint8_t)index;
        if (!interface_present(ifs)) return complete(urb, kNoSuchPipe);
        const int r = zel_host_usb_set_alt(file, ifs, (uint8_t)value);
        if (r == 0) map_interface(file, ifs, (uint8_t)value);
        return complete(urb, r < 0 ? r : 0);
    }
    if (s.bmRequestType == 0x02 && s.bRequest == ZEL_USB_REQ_CLEAR_FEATURE && value == ZEL_USB_ENDPOINT_HALT) {
        const uint8_t ep = (uint8_t)index;
        const Target t = pipe_target(ep, (ep & ZEL_USB_DIR_IN) != 0);
        // The clear counts as done either way: a pipe that stays halted fails
        // its next transfer, and that failure reaches the class.
        if (t.present) (void)zel_host_usb_reset_pipe(file, t.ifs, ep);
        return complete(urb, 0);
    }
    if (length > urb->transfer_length || (length && !urb->buffer)) return complete(urb, ZEL_USBH_ERR_HCD);
    complete(urb, zel_host_usb_control(file, &s, urb->buffer, 0));
}

void transfer(zel_usbh_hcd_urb_t *urb) {
    const zel_host_usb_handle_t file = file_handle();
    if (load(g_dev.file) == ZEL_WINUSB_FILE_NOT_STARTED) return complete(urb, ZEL_USBH_ERR_HCD);
    const uint8_t ep = zel_pipe_ep(urb->pipe);
    const bool in = zel_pipe_is_in(urb->pipe);
    switch (zel_pipe_type(urb->pipe)) {
    case ZEL_USB_XFER_CONTROL:
        if (ep != 0) return complete(urb, ZEL_USBH_ERR_HCD);
        return control(file, urb);
    case ZEL_USB_XFER_BULK:
    case ZEL_USB_XFER_INT: {
        if (urb->transfer_length && !urb->buffer) return complete(urb, ZEL_USBH_ERR_HCD);
        const Target t = pipe_target(ep, in);
        if (!t.present) return complete(urb, kNoSuchPipe);
        // The URB's timeout (0: none) bounds the wait for the device.
        if (in)
            return complete(urb, zel_host_usb_read_pipe(file, t.ifs, (uint8_t)(ep | ZEL_USB_DIR_IN), urb->buffer,
                                     urb->transfer_length, urb->timeout));
        return complete(urb, zel_host_usb_write_pipe(file, t.ifs, ep, urb->buffer, urb->transfer_length, urb->timeout));
    }
    default:  // isochronous transfers are not carried out
        return complete(urb, ZEL_USBH_ERR_HCD);
    }
}

}  // namespace

void map_interface(zel_host_usb_handle_t file, uint8_t index, uint8_t alt) {
    zel_host_usb_interface_desc_t desc;
    if (zel_host_usb_query_interface(file, index, alt, &desc) != 0) return;
    zel_host_lock_guard lock(g_map_lock);
    for (uint8_t p = 0; p < desc.bNumEndpoints; p++) {
        zel_host_usb_pipe_info_t info;
        if (zel_host_usb_query_pipe(file, index, alt, p, &info) != 0) break;
        zel_winusb_hcd_ep_t &e = g_dev.ep_map[(info.id & 15) | ((info.id & ZEL_USB_DIR_IN) ? 16 : 0)];
        e.ifs = index;
        e.info = info;
    }
}

void init_thread(zel_host_thread_t *self) {
    g_dev.state = ZEL_WINUSB_STATE_NOT_CONNECTED;
    store<uint8_t>(g_dev.flags, 0);
    store<intptr_t>(g_dev.file, ZEL_WINUSB_FILE_NONE);
    zel_dlist_init(&g_dev.queue);
    zel_host_request_init(&g_dev.request);
    zel_host_thread_start(&g_dev.thread, "winusb_hcd_dev", dev_thread, g_drv.priority);
    g_drv.notify_id = zel_host_usb_notify_register(on_device_change, nullptr);
    zel_trace(4, "create_windows: %d\n", g_drv.notify_id < 0 ? -g_drv.notify_id : 0);
    post_from_host(self, g_drv.caller, ZEL_WINUSB_EVT_STARTED, nullptr);
    for (;;) {
        zel_host_request_pend(&g_drv.rescan);
        rescan();
    }
}

void dev_thread(zel_host_thread_t *self) {
    for (;;) {
        zel_host_request_pend(&g_dev.request);
        if (has_flags(ZEL_WINUSB_FLAG_CONNECT)) {
            clear_flags(ZEL_WINUSB_FLAG_CONNECT);
            post_from_host(self, &g_drv.agent, (zel_evt_t)(ZEL_WINUSB_EVT_CONNECT | load(g_drv.slot)), nullptr);
        }
        if (has_flags(ZEL_WINUSB_FLAG_DISCONNECT))
            post_from_host(self, &g_drv.agent, (zel_evt_t)(ZEL_WINUSB_EVT_DISCONNECT | load(g_drv.slot)), nullptr);
        if (has_flags(ZEL_WINUSB_FLAG_RELEASE)) release();
        if (has_flags(ZEL_WINUSB_FLAG_RESET)) clear_flags(ZEL_WINUSB_FLAG_RESET);
    }
}

void urb_thread(zel_host_thread_t *self) {
    zel_winusb_hcd_urb_t *u = ZEL_CONTAINER_OF(self, zel_winusb_hcd_urb_t, thread);
    for (;;) {
        zel_host_request_pend(&u->request);
        // A new transfer never starts before the agent has passed the
        // previous completion on.
        while (!load(u->idle)) zel_host_sleep_ms(kIdlePollMs);
        if (load(u->free_requested)) break;
        transfer(&u->common);
        zel_host_irq_enter(self);
        store<uint8_t>(u->idle, 0);
        // With the node the submit took for this hand-over.
        (void)zel_eda_post_reserved(
            &g_drv.agent, ZEL_EVT_MSG, &u->common, false, &u->done_node);  // fails only for an ended agent
        zel_host_irq_leave(self, 0);
    }
    // The agent frees the record on this last message: nothing of it is
    // touched after the post. Its node is had before anything changes; while
    // none can be had the thread tries again a millisecond later.
    for (;;) {
        zel_host_irq_enter(self);
        if (zel_evt_reserve(&u->done_node) == 0) break;
        zel_host_irq_leave(self, 0);
        zel_host_sleep_ms(1);
    }
    zel_host_request_fini(&u->request);
    store<uint8_t>(u->thread_alive, 0);
    store<uint8_t>(u->idle, 0);
    (void)zel_eda_post_reserved(
        &g_drv.agent, ZEL_EVT_MSG, &u->common, false, &u->done_node);  // fails only for an ended agent
    zel_host_irq_leave(self, 0);
}

}  // namespace winusb_hcd
