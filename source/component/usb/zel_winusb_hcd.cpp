// winusb_hcd, kernel side: the driver table, start, devices and URBs, and
// the driver agent that dispatches URBs and reports connect and disconnect.
#include "zel_heap.h"
#include "zel_winusb_hcd_internal.h"

namespace winusb_hcd {

namespace {

// The one slot: the adapter's ids; file 0 until the driver has started.
constexpr zel_winusb_hcd_dev_t make_dev() {
    zel_winusb_hcd_dev_t d{};
    d.vid = ZEL_WINUSB_HCD_VID;
    d.pid = ZEL_WINUSB_HCD_PID;
    d.file = ZEL_WINUSB_FILE_NOT_STARTED;
    return d;
}

}  // namespace

Driver g_drv;
constinit zel_winusb_hcd_dev_t g_dev = make_dev();

namespace {

int32_t return_zero(void) { return 0; }

void start_urb(zel_winusb_hcd_urb_t *u) {
    u->state = ZEL_WINUSB_URB_STARTED;
    zel_host_request_send(&u->request);
}

void release_urb(zel_winusb_hcd_urb_t *u) {
    zel_evt_unreserve(&u->done_node);
    zel_evt_unreserve(&u->owner_node);
    zel_usbh_hcd_urb_free_buffer(&u->common);
    zel_heap_free(u);
}

bool is_set_address(const zel_usbh_hcd_urb_t *urb) {
    return zel_pipe_type(urb->pipe) == ZEL_USB_XFER_CONTROL && urb->setup.bmRequestType == 0x00 &&
           urb->setup.bRequest == ZEL_USB_REQ_SET_ADDRESS;
}

// A URB is released only by its thread's last message: the thread ends
// only while no completion of the URB is outstanding (the idle flag), so
// that message is the last one the agent gets of it. A URB freed before it
// was taken off the submit queue is left to that message here, whether it
// is still to come (its thread is woken) or already queued behind this
// event (its thread has ended).
void dispatch(zel_winusb_hcd_urb_t *u) {
    if (load(u->free_requested)) {
        if (load(u->thread_alive)) zel_host_request_send(&u->request);
        return;
    }
    zel_usbh_hcd_urb_t *urb = &u->common;
    if (is_set_address(urb)) {
        // WinUSB keeps the address to itself: the request never reaches the
        // device. Its completion is outstanding as one from its thread
        // would be, so a free that comes meanwhile ends the thread after it.
        g_dev.address = (uint8_t)(zel_get_unaligned_le16(&urb->setup.wValue) & 0xFF);
        urb->status = 0;
        urb->actual_length = 0;
        u->state = ZEL_WINUSB_URB_STARTED;
        store<uint8_t>(u->idle, 0);
        zel_dlist_append(&g_dev.queue, &u->dev_node);
        // With the node its submit took for the completion's hand-over.
        (void)zel_eda_post_reserved(
            &g_drv.agent, ZEL_EVT_MSG, urb, false, &u->done_node);  // fails only for an ended agent
        return;
    }
    if (zel_pipe_is_in(urb->pipe)) {
        start_urb(u);
        return;
    }
    zel_dlist_append(&g_dev.queue, &u->dev_node);
    if (g_dev.queue.head == &u->dev_node) start_urb(u);
}

void take_submitted() {
    do {
        zel_dlist_node_t *node = zel_dlist_dequeue(&g_drv.submit);
        if (node) dispatch(ZEL_CONTAINER_OF(node, zel_winusb_hcd_urb_t, submit_node));
    } while (zel_eda_sync_decrease(&g_drv.urb_sem, -1) == 0);
}

// The URB leaves the device queue; when it was the one in progress, the
// next OUT URB starts.
void leave_dev_queue(zel_winusb_hcd_urb_t *u) {
    if (zel_pipe_is_in(u->common.pipe) || !zel_dlist_is_in(&g_dev.queue, &u->dev_node)) return;
    const bool was_head = g_dev.queue.head == &u->dev_node;
    zel_dlist_remove(&g_dev.queue, &u->dev_node);
    if (was_head && g_dev.queue.head) start_urb(ZEL_CONTAINER_OF(g_dev.queue.head, zel_winusb_hcd_urb_t, dev_node));
}

void on_completed(zel_winusb_hcd_urb_t *u) {
    leave_dev_queue(u);
    if (!load(u->free_requested)) {
        u->state = ZEL_WINUSB_URB_IDLE;
        // With the node its submit took for the owner's message.
        (void)zel_eda_post_reserved(
            u->common.owner, ZEL_EVT_MSG, &u->common, false, &u->owner_node);  // fails only for an ended owner
        store<uint8_t>(u->idle, 1);
        return;
    }
    if (zel_dlist_is_in(&g_drv.submit, &u->submit_node)) zel_dlist_remove(&g_drv.submit, &u->submit_node);
    if (load(u->thread_alive)) {
        zel_host_request_send(&u->request);
        store<uint8_t>(u->idle, 1);
    } else {
        release_urb(u);  // the thread's last message
    }
}

// The device left. The OUT URBs queued behind the one in progress would
// never start: each ends now with the answer of a device that is gone, so
// that no owner waits for it. A started URB ends on its own (its transfer
// fails with the device), and one whose free was asked for ends with its
// thread's exit.
void empty_dev_queue() {
    while (zel_dlist_node_t *node = zel_dlist_dequeue(&g_dev.queue)) {
        zel_winusb_hcd_urb_t *u = ZEL_CONTAINER_OF(node, zel_winusb_hcd_urb_t, dev_node);
        if (u->state != ZEL_WINUSB_URB_QUEUED || load(u->free_requested)) continue;
        u->common.status = ZEL_HOST_USB_ENODEV;
        u->common.actual_length = 0;
        on_completed(u);
    }
}

void on_connect(uint32_t slot) {
    if (g_dev.state == ZEL_WINUSB_STATE_CONNECTED) return;
    g_drv.pending |= 1u << slot;
    (void)zel_eda_wake(&g_drv.agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
}

void on_connect_pending() {
    if (!g_drv.pending || g_drv.host->enum_dev) return;
    const uint32_t slot = (uint32_t)zel_ffs32(g_drv.pending);
    store(g_drv.slot, slot);  // the device thread reports with it
    g_drv.pending &= ~(1u << slot);
    g_dev.address = 0;
    g_dev.dev = zel_usbh_new_device(g_drv.host, (uint8_t)load(g_dev.speed));
    g_dev.state = ZEL_WINUSB_STATE_CONNECTED;
}

void release_handles() {
    set_flags(ZEL_WINUSB_FLAG_RELEASE);
    zel_host_request_send(&g_dev.request);
}

void on_disconnect(uint32_t slot) {
    if (g_dev.state == ZEL_WINUSB_STATE_CONNECTED) {
        g_dev.state = ZEL_WINUSB_STATE_NOT_CONNECTED;
        zel_usbh_dev_t *dev = g_dev.dev;
        g_dev.dev = nullptr;
        if (dev) zel_usbh_disconnect_device(g_drv.host, dev);
        empty_dev_queue();
        clear_flags(ZEL_WINUSB_FLAG_DISCONNECT);
        release_handles();
        return;
    }
    // Gone before the core saw it: forget the pending connect and let go of
    // the handles, so that the next scan searches again. With nothing open
    // the scan runs now: a device plugged while this disconnect was pending
    // had its own scan put off until here.
    g_drv.pending &= ~(1u << slot);
    clear_flags(ZEL_WINUSB_FLAG_DISCONNECT);
    if (load(g_dev.file) > 0)
        release_handles();
    else
        zel_host_request_send(&g_drv.rescan);
}

void agent_handler(zel_eda_t *, zel_evt_t evt) {
    switch (evt) {
    case ZEL_EVT_INIT:
        zel_dlist_init(&g_drv.submit);
        (void)zel_eda_sync_init(&g_drv.urb_sem, 0, 0x7FFF);  // cannot fail
        (void)zel_eda_sync_decrease(&g_drv.urb_sem, -1);     // count 0: answers 1, the agent waits for a URB
        return;
    case ZEL_EVT_SYNC: take_submitted(); return;
    case ZEL_EVT_MSG: on_completed(urb_of(static_cast<zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg()))); return;
    case ZEL_EVT_WAKE: on_connect_pending(); return;
    default: break;
    }
    if ((evt & 0xFF00) == ZEL_WINUSB_EVT_CONNECT)
        on_connect(evt & 0x1F);
    else if ((evt & 0xFF00) == ZEL_WINUSB_EVT_DISCONNECT)
        on_disconnect(evt & 0x1F);
}

}  // namespace

void post_from_host(zel_host_thread_t *self, zel_eda_t *agent, zel_evt_t evt, void *msg) {
    // A host thread may wait: while no event node can be had it tries again
    // a millisecond later, so no connect, disconnect or start report is lost.
    for (;;) {
        zel_host_irq_enter(self);
        const int32_t r = msg ? zel_eda_post_msg(agent, msg) : zel_eda_post_evt(agent, evt);
        zel_host_irq_leave(self, 0);
        if (r != ZEL_ERR_NO_MEMORY) return;  // posted, or the agent has ended
        zel_host_sleep_ms(1);
    }
}

}  // namespace winusb_hcd

using namespace winusb_hcd;

extern "C" {

const zel_usbh_hcd_drv_t zel_winusb_hcd_drv = {
    .init = zel_winusb_hcd_init,
    .unused = {return_zero, return_zero, return_zero, return_zero},
    .alloc_device = zel_winusb_hcd_alloc_device,
    .free_device = zel_winusb_hcd_free_device,
    .alloc_urb = zel_winusb_hcd_alloc_urb,
    .free_urb = zel_winusb_hcd_free_urb,
    .submit_urb = zel_winusb_hcd_submit_urb,
    .relink_urb = zel_winusb_hcd_submit_urb,
    .reset_dev = zel_winusb_hcd_reset_dev,
    .is_dev_reset = zel_winusb_hcd_is_dev_reset,
};

zel_winusb_hcd_dev_t *zel_winusb_hcd_get_dev(void) { return &g_dev; }

int32_t zel_winusb_hcd_init(zel_eda_t *agent, zel_evt_t evt, zel_usbh_t *host) {
    if (evt == ZEL_WINUSB_EVT_STARTED) return 0;
    if (evt != ZEL_EVT_INIT) return 1;
    g_drv.host = host;
    g_drv.pending = 0;
    store<uint32_t>(g_drv.slot, 0);
    g_drv.priority = host->hcd_param ? host->hcd_param->priority : 0;
    g_drv.agent.handler.plain = agent_handler;
    (void)zel_eda_start(&g_drv.agent, -1, 0);  // fails only without event nodes
    zel_host_request_init(&g_drv.rescan);
    zel_host_request_send(&g_drv.rescan);
    g_drv.caller = agent;
    zel_host_thread_start(&g_drv.init_thread, "winusb_hcd_init", init_thread, g_drv.priority);
    return 1;
}

int32_t zel_winusb_hcd_alloc_device(zel_usbh_t *, zel_usbh_dev_t *dev) {
    dev->hcd_ctx = &g_dev;
    return 0;
}

void zel_winusb_hcd_free_device(zel_usbh_t *, zel_usbh_dev_t *dev) { dev->hcd_ctx = nullptr; }

zel_usbh_hcd_urb_t *zel_winusb_hcd_alloc_urb(zel_usbh_t *) {
    auto *u = static_cast<zel_winusb_hcd_urb_t *>(zel_heap_calloc(1, sizeof(zel_winusb_hcd_urb_t)));
    if (!u) return nullptr;
    zel_host_request_init(&u->request);
    u->thread_alive = 1;
    u->idle = 1;
    if (zel_host_thread_start(&u->thread, "winusb_hcd_urb", urb_thread, g_drv.priority) == 0) {
        zel_host_request_fini(&u->request);
        zel_heap_free(u);
        return nullptr;
    }
    return &u->common;
}

void zel_winusb_hcd_free_urb(zel_usbh_t *, zel_usbh_hcd_urb_t *urb) {
    zel_winusb_hcd_urb_t *u = urb_of(urb);
    if (load(u->free_requested)) return;
    store<uint8_t>(u->free_requested, 1);  // the URB's thread reads it outside the kernel
    if (load(u->thread_alive)) zel_host_request_send(&u->request);
}

int32_t zel_winusb_hcd_submit_urb(zel_usbh_t *, zel_usbh_hcd_urb_t *urb) {
    zel_winusb_hcd_urb_t *u = urb_of(urb);
    // The completion's nodes first: without them nothing is queued. (One
    // taken alone stays with the URB for the next submit.)
    if (zel_evt_reserve(&u->done_node) != 0 || zel_evt_reserve(&u->owner_node) != 0) return ZEL_ERR_NO_MEMORY;
    u->submit_node = {nullptr, nullptr};
    u->dev_node = {nullptr, nullptr};
    zel_dlist_append(&g_drv.submit, &u->submit_node);
    u->state = ZEL_WINUSB_URB_QUEUED;
    (void)zel_eda_sync_increase(&g_drv.urb_sem);  // fails only past 32767 URBs (its waiter holds the node of its wake)
    return 0;
}

int32_t zel_winusb_hcd_reset_dev(zel_usbh_t *, zel_usbh_dev_t *) {
    set_flags(ZEL_WINUSB_FLAG_RESET);
    zel_host_request_send(&g_dev.request);
    return 0;
}

bool zel_winusb_hcd_is_dev_reset(zel_usbh_t *, zel_usbh_dev_t *) { return has_flags(ZEL_WINUSB_FLAG_RESET); }

}  // extern "C"
