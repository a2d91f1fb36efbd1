// The kernel's side of the libusb-style API: the class callback, the
// watcher and event threads, the event descriptor, the device list and
// control transfers.
#include "zel_linux_libusb.h"

#include "zel_heap.h"
#include "zel_linux_libusb_slots.h"
#include "zel_linux_process.h"
#include "zel_thread.h"
#include "zel_trace.h"

namespace {

constexpr uint16_t kMaxTimeoutMs = 0xFFFF;

zel_linux_libusb_state_t &S = zel_linux_libusb;

libusb_device *of_node(zel_dlist_node_t *node) { return ZEL_CONTAINER_OF(node, libusb_device, node); }

bool has_event_fd() { return S.event_fd_tested >= 0 && S.event_fd_record; }

void raise_readable() {
    if (has_event_fd()) zel_linux_fd_set_events(S.event_fd_record->priv, ZEL_LINUX_EV_READ);
}

bool hotplug_matches(const zel_linux_libusb_hotplug_t *h, const zel_usbh_libusb_dev_t *r, int event) {
    return (h->events & event) && (h->vendor_id == ZEL_LINUX_LIBUSB_ANY || h->vendor_id == r->idVendor) &&
           (h->product_id == ZEL_LINUX_LIBUSB_ANY || h->product_id == r->idProduct) &&
           (h->device_class == ZEL_LINUX_LIBUSB_ANY || h->device_class == r->bDeviceClass);
}

void notify(libusb_device *dev, int event) {
    for (zel_linux_libusb_hotplug_t *h = S.hotplug; h; h = h->next)
        if (hotplug_matches(h, dev->record, event)) h->callback(h->context, dev, event, h->user_data);
}

// The device's control URB, its class record and the device itself.
void release(libusb_device *dev) {
    zel_usbh_libusb_dev_t *r = dev->record;
    zel_usbh_free_urb(r->host, &r->urb);
    r->link = nullptr;
    zel_usbh_libusb_close(r);
    zel_heap_free(dev);
}

libusb_device *hold(libusb_device *dev) {
    dev->refs++;
    return dev;
}

void let_go(libusb_device *dev) {
    if (--dev->refs == 0) release(dev);
}

void on_attach(zel_usbh_libusb_dev_t *r) {
    if (zel_usbh_libusb_open(r) != 0) return;
    auto *dev = static_cast<libusb_device *>(zel_heap_calloc(1, sizeof(libusb_device)));
    if (!dev) {
        // Left out of the list; the record goes at its disconnect.
        zel_usbh_libusb_close(r);
        (void)zel_eda_sync_increase(
            &S.watcher_sem);  // fails only when signalled already (its waiter holds the node of its wake)
        return;
    }
    dev->record = r;
    r->link = dev;
    dev->attach_pending = 1;
    dev->refs = 1;                                      // the layer's, until the watcher has handled the departure
    (void)zel_eda_sync_init(&dev->control_lock, 1, 1);  // cannot fail
    dev->in[0].pipe = zel_usbh_get_pipe(r->dev, ZEL_USB_DIR_IN, ZEL_USB_XFER_CONTROL, r->bMaxPacketSize0, 0);
    dev->out[0].pipe = zel_usbh_get_pipe(r->dev, 0x00, ZEL_USB_XFER_CONTROL, r->bMaxPacketSize0, 0);
    zel_dlist_append(&S.attach_queue, &dev->node);
    (void)zel_eda_sync_increase(
        &S.watcher_sem);  // fails only when signalled already (its waiter holds the node of its wake)
}

void on_detach(zel_usbh_libusb_dev_t *r) {
    auto *dev = static_cast<libusb_device *>(r->link);
    if (!dev) return;
    dev->detached = 1;  // the USB device record goes once this callback returns
    if (dev->attach_pending) {
        // Nobody has seen it: it goes now, and the class frees its record.
        zel_dlist_remove(&S.attach_queue, &dev->node);
        r->link = nullptr;
        zel_usbh_libusb_close(r);
        zel_heap_free(dev);
        return;
    }
    zel_dlist_remove(&S.devices, &dev->node);
    zel_dlist_append(&S.detach_queue, &dev->node);
    (void)zel_eda_sync_increase(
        &S.watcher_sem);  // fails only when signalled already (its waiter holds the node of its wake)
}

void handle_detached() {
    while (zel_dlist_node_t *n = zel_dlist_dequeue(&S.detach_queue)) {
        libusb_device *dev = of_node(n);
        S.count--;
        notify(dev, ZEL_LINUX_LIBUSB_HOTPLUG_LEFT);
        dev->detached = 1;
        let_go(dev);
    }
}

void handle_attached() {
    while (zel_dlist_node_t *n = zel_dlist_dequeue(&S.attach_queue)) {
        libusb_device *dev = of_node(n);
        zel_dlist_append(&S.devices, &dev->node);
        dev->attach_pending = 0;
        S.count++;
        notify(dev, ZEL_LINUX_LIBUSB_HOTPLUG_ARRIVED);
    }
}

zel_linux_libusb_ep_t *slot_of(libusb_device *dev, uint8_t address) {
    return (address & ZEL_USB_DIR_IN) ? &dev->in[address & 15] : &dev->out[address & 15];
}

// The exit hook of the watcher's process: the watcher ends, so that the
// process's exit can join it.
void stop_watcher() {
    S.watcher_stop = 1;
    (void)zel_thread_sync_increase(
        &S.watcher_sem);  // fails only when signalled already (its waiter holds the node of its wake)
    if (S.next_at_exit) S.next_at_exit();
}

}  // namespace

extern "C" {

zel_linux_libusb_state_t zel_linux_libusb = {
    0, {}, {}, {}, {}, 0, nullptr, -1, -1, nullptr, 0, {}, 0, {}, 0, nullptr, nullptr};

const zel_linux_fd_op_t zel_linux_libusb_fd_op = {
    .priv_size = 0,
    .init = nullptr,
    .fcntl = nullptr,
    .read = nullptr,
    .write = nullptr,
    .close = zel_linux_libusb_fd_close,
    .eof = nullptr,
};

int zel_linux_libusb_startup(void) {
    if (S.started) return 0;
    zel_linux_process_t *process = zel_linux_get_cur_process();
    if (!process) return -1;
    S.started = 1;
    S.watcher_stop = 0;
    (void)zel_eda_sync_init(&S.watcher_sem, 0, 1);  // cannot fail
    zel_linux_pthread_t thread;
    if (zel_linux_pthread_create(&thread, nullptr, zel_linux_libusb_thread, nullptr) != 0) {
        S.started = 0;
        return -1;
    }
    S.next_at_exit = process->at_exit;
    process->at_exit = stop_watcher;
    return 0;
}

void zel_linux_libusb_on_dev_evt(void *, zel_usbh_libusb_dev_t *record, int event) {
    if (event == ZEL_USBH_LIBUSB_ARRIVED)
        on_attach(record);
    else
        on_detach(record);
}

void *zel_linux_libusb_thread(void *) {
    zel_usbh_libusb_set_evthandler(nullptr, zel_linux_libusb_on_dev_evt);
    for (;;) {
        (void)zel_thread_sync_decrease(&S.watcher_sem, -1);  // whatever woke it, the loop looks again
        if (S.watcher_stop) break;
        handle_detached();
        handle_attached();
        raise_readable();
    }
    zel_usbh_libusb_set_evthandler(nullptr, nullptr);
    S.started = 0;
    return nullptr;
}

void *zel_linux_libusb_event_thread(void *) {
    for (;;) {
        (void)zel_thread_sync_decrease(&S.event_sem, -1);  // whatever woke it, the loop looks again
        while (zel_dlist_node_t *n = zel_dlist_dequeue(&S.completions)) {
            auto *xfer = ZEL_CONTAINER_OF(n, zel_linux_libusb_xfer_t, node);
            libusb_device *dev = xfer->device;
            dev->pending--;
            xfer->callback(xfer);
            let_go(dev);
            raise_readable();
        }
        if (S.event_exit) zel_linux_pthread_exit(nullptr);
    }
}

int zel_linux_libusb_fd_close(zel_linux_fd_t *) {
    S.event_fd = -1;
    S.event_fd_tested = -1;
    S.event_fd_record = nullptr;
    S.event_owner = nullptr;
    return 0;
}

int libusb_init(libusb_context **) {
    if (S.event_fd >= 0) return LIBUSB_SUCCESS;
    zel_linux_fd_t *fd = nullptr;
    const int number = zel_linux_fd_create(&fd, &zel_linux_libusb_fd_op);
    if (number < 0) return LIBUSB_ERROR_NO_MEM;
    S.event_exit = 0;
    (void)zel_eda_sync_init(&S.event_sem, 0, 1);  // cannot fail
    zel_dlist_init(&S.completions);
    // Taken before the thread starts: the start lets other threads run, and
    // a second caller meanwhile shares this descriptor and thread.
    S.event_fd = number;
    S.event_fd_tested = number;
    S.event_fd_record = fd;
    S.event_owner = zel_linux_get_cur_process();
    if (zel_linux_pthread_create(&S.event_thread, nullptr, zel_linux_libusb_event_thread, nullptr) != 0) {
        S.event_fd = -1;
        S.event_fd_tested = -1;
        S.event_fd_record = nullptr;
        S.event_owner = nullptr;
        zel_linux_close(number);
        return LIBUSB_ERROR_NO_MEM;
    }
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context *) {
    // The descriptor is a number of its owner's table, the thread one of
    // its owner's threads: only the owner ends them.
    if (S.event_fd < 0 || S.event_owner != zel_linux_get_cur_process()) return;
    S.event_exit = 1;
    (void)zel_thread_sync_increase(
        &S.event_sem);  // fails only when signalled already (its waiter holds the node of its wake)
    zel_linux_pthread_join(S.event_thread, nullptr);
    const int number = S.event_fd;
    S.event_fd = -1;
    S.event_fd_tested = -1;
    S.event_fd_record = nullptr;
    S.event_owner = nullptr;
    zel_linux_close(number);
}

long libusb_get_device_list(libusb_context *, libusb_device ***list) {
    const long count = S.count;
    if (!list) return count;
    *list = nullptr;
    if (count < 1) return count;
    auto **array = static_cast<libusb_device **>(zel_linux_malloc((size_t)(count + 1) * sizeof(libusb_device *)));
    if (!array) return 0;
    long i = 0;
    for (zel_dlist_node_t *n = S.devices.head; n && i < count; n = n->next) array[i++] = of_node(n);
    array[i] = nullptr;
    for (long k = 0; k < i; k++) hold(array[k]);
    *list = array;
    return i;
}

libusb_device *libusb_ref_device(libusb_device *device) { return hold(device); }

void libusb_unref_device(libusb_device *device) {
    if (device) let_go(device);
}

int libusb_open(libusb_device *device, libusb_device_handle **handle) {
    *handle = hold(device);
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle *handle) {
    if (handle) let_go(handle);
}

uint8_t libusb_get_device_address(libusb_device *device) { return device->record->address; }

// One control transfer on the device's URB; the caller holds the device's
// control lock.
static int control_locked(libusb_device *dev, uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
    unsigned char *data, uint16_t wLength, unsigned int timeout) {
    if (dev->detached) return LIBUSB_ERROR_IO;
    zel_usbh_libusb_dev_t *r = dev->record;
    if (!zel_usbh_urb_is_alloced(&r->urb) && zel_usbh_alloc_urb(r->host, r->dev, &r->urb) != 0)
        return LIBUSB_ERROR_NO_MEM;
    zel_usbh_urb_set_pipe(&r->urb, (bmRequestType & ZEL_USB_DIR_IN) ? dev->in[0].pipe : dev->out[0].pipe);
    zel_usbh_hcd_urb_t *urb = r->urb.urb;
    urb->setup = {bmRequestType, bRequest, wValue, wIndex, wLength};
    zel_usbh_urb_set_buffer(&r->urb, data, wLength);
    urb->timeout = static_cast<uint16_t>(timeout > kMaxTimeoutMs ? kMaxTimeoutMs : timeout);
    if (zel_usbh_submit_urb(r->host, &r->urb) != 0) {
        zel_usbh_urb_set_buffer(&r->urb, nullptr, 0);
        return LIBUSB_ERROR_IO;
    }
    do {
        zel_thread_wait_for_evt(ZEL_EVT_MSG);
    } while (zel_eda_get_cur_msg() != urb);
    const int result = urb->status != 0 ? LIBUSB_ERROR_IO : static_cast<int>(urb->actual_length);
    zel_usbh_urb_set_buffer(&r->urb, nullptr, 0);
    return result;
}

int libusb_control_transfer(libusb_device_handle *dev, uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
    uint16_t wIndex, unsigned char *data, uint16_t wLength, unsigned int timeout) {
    if (dev->detached) return LIBUSB_ERROR_IO;
    // The device stays while the transfer runs, also when its caller lets
    // go meanwhile; its one URB serves one caller at a time.
    hold(dev);
    if (zel_thread_sync_decrease(&dev->control_lock, -1) != ZEL_SYNC_OBTAINED) {
        let_go(dev);
        return LIBUSB_ERROR_IO;
    }
    const int result = control_locked(dev, bmRequestType, bRequest, wValue, wIndex, data, wLength, timeout);
    zel_eda_sync_release(&dev->control_lock, nullptr);  // held here
    let_go(dev);
    return result;
}

bool zel_linux_libusb_is_active_config(libusb_device *device, uint8_t index) {
    if (device->detached) return false;  // its USB device record is gone
    return zel_usbh_dev_config_index(device->record->dev) == index;
}

void zel_linux_libusb_clear_slots(libusb_device *device, int first, int last) {
    for (int i = first < 1 ? 1 : first; i <= last && i < ZEL_LINUX_LIBUSB_EP_SLOTS; i++) {
        device->in[i].pipe = {};
        device->out[i].pipe = {};
    }
}

void zel_linux_libusb_set_slot(libusb_device *device, const uint8_t *endpoint_desc) {
    if (device->detached) return;  // its USB device record is gone
    const auto *ep = reinterpret_cast<const zel_usb_endpoint_desc_t *>(endpoint_desc);
    if ((ep->bEndpointAddress & 15) == 0) {
        // Slot 0 stays the control pipe: a device that names endpoint 0 in
        // a configuration would otherwise turn every later control request
        // into a bulk or interrupt transfer.
        zel_trace(2, "libusb: device %u: endpoint %02Xh skipped, endpoint 0 is the control pipe\r\n",
            device->record->address, ep->bEndpointAddress);
        return;
    }
    slot_of(device, ep->bEndpointAddress)->pipe = zel_usbh_get_pipe_from_ep_desc(device->record->dev, ep);
}

}  // extern "C"
