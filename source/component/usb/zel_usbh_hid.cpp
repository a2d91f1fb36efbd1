// The HID base: probe, the agent's start-up (device mutex, report
// descriptor), interrupt transfers and disconnect.
#include "zel_heap.h"
#include "zel_timer.h"
#include "zel_trace.h"
#include "zel_usbh_hid.h"

namespace {

// Recovery of the interrupt-in endpoint.
enum zel_usbh_hid_in_state_t {
    ZEL_HID_IN_READING = 0,      // a read is running (or the class decides)
    ZEL_HID_IN_CLEARING = 1,     // a read failed: CLEAR_FEATURE(ENDPOINT_HALT) under way
    ZEL_HID_IN_BACKING_OFF = 2,  // reads keep failing: the next one waits
    ZEL_HID_IN_REFUSED = 3       // a read could not be started: it is asked for again later
};

// Steps of the base handler.
enum zel_usbh_hid_step_t {
    ZEL_HID_WAIT_MUTEX = 0,  // the agent waits for the device mutex
    ZEL_HID_REPORT_DESC = 1  // GET_DESCRIPTOR(report) is under way
};

void no_report(zel_usbh_hid_t *, const uint8_t *, uint32_t) {}

bool is_interrupt(const zel_usb_endpoint_desc_t *ep) { return (ep->bmAttributes & 3u) == ZEL_USB_XFER_INT; }

// Sets up the interrupt handles from the setting's endpoint descriptors,
// each 7 bytes after the one before; false for a descriptor of another size
// or one that runs past the setting.
bool take_endpoints(zel_usbh_hid_t *hid, zel_usbh_dev_t *dev, const zel_usbh_ifs_alt_t *alt) {
    const auto *start = reinterpret_cast<const uint8_t *>(alt->desc);
    const auto *p = reinterpret_cast<const uint8_t *>(alt->first_ep);
    for (uint8_t i = 0; p && i < alt->ep_count; i++, p += sizeof(zel_usb_endpoint_desc_t)) {
        const auto offset = static_cast<uint32_t>(p - start);
        if (offset + sizeof(zel_usb_endpoint_desc_t) > alt->total_length) return false;
        const auto *ep = reinterpret_cast<const zel_usb_endpoint_desc_t *>(p);
        if (ep->bLength != sizeof(zel_usb_endpoint_desc_t) || ep->bDescriptorType != ZEL_USB_DT_ENDPOINT) return false;
        if (!is_interrupt(ep)) continue;
        zel_usbh_urb_t *handle = (ep->bEndpointAddress & ZEL_USB_DIR_IN) ? &hid->int_in : &hid->int_out;
        if (handle->word == 0) zel_usbh_urb_prepare(handle, dev, ep);
    }
    return true;
}

// Gives the agent to the class handler, which starts on 257.
void hand_over(zel_usbh_hid_t *hid) {
    (void)zel_eda_set_evthandler(&hid->agent, hid->class_handler);  // cannot fail
    (void)zel_eda_wake(&hid->agent, ZEL_EVT_INIT);                  // its own next event: it holds the node
}

void fetch_report_descriptor(zel_usbh_hid_t *hid) {
    if (hid->report_desc_len == 0) {
        hand_over(hid);
        return;
    }
    hid->step = ZEL_HID_REPORT_DESC;
    if (zel_usbh_get_class_descriptor(
            hid->host, hid->dev, hid->ifs->number, ZEL_USB_DT_REPORT, 0, hid->report_desc_len) != 0) {
        // The device's other interfaces may still start.
        zel_usbh_urb_free_buffer(&hid->dev->ctrl);
        zel_eda_sync_release(&hid->dev->mutex, nullptr);  // held here
        zel_usbh_remove_interface(hid->host, hid->dev, hid->ifs);
    }
}

int32_t submit(zel_usbh_hid_t *hid, zel_usbh_urb_t *handle, void *buffer, uint32_t length) {
    if (handle->word == 0) return ZEL_USBH_ERR_FAIL;  // the interface has no such endpoint
    if (!zel_usbh_urb_is_alloced(handle)) {
        const int32_t r = zel_usbh_alloc_urb(hid->host, hid->dev, handle);
        if (r != 0) return r;
    }
    if (length > 0) {
        if (buffer)
            zel_usbh_urb_set_buffer(handle, buffer, length);
        else if (!zel_usbh_urb_alloc_buffer(handle, length))
            return ZEL_ERR_NO_MEMORY;
    }
    return zel_usbh_submit_urb_ex(hid->host, handle, 0, &hid->agent);
}

// ---- recovery of the interrupt-in endpoint ----

void wait_ms(uint32_t ms) {
    (void)zel_eda_set_timer(zel_timer_ms_to_tick(ms));  // ms is never 0: cannot fail
}

const char *class_name(const zel_usbh_hid_t *hid) { return hid->ifs->drv ? hid->ifs->drv->name : "hid"; }

void read_again(zel_usbh_hid_t *hid) { zel_usbh_hid_read_next(hid, 0); }

// The halt is cleared; the next read goes at once after a single failure,
// later ones wait longer each time.
void after_clearing(zel_usbh_hid_t *hid) {
    const uint32_t ms = zel_usbh_retry_ms(hid->in_errors);
    if (ms == 0) {
        read_again(hid);
        return;
    }
    hid->in_state = ZEL_HID_IN_BACKING_OFF;
    wait_ms(ms);
}

void clear_halt(zel_usbh_hid_t *hid) {
    hid->in_state = ZEL_HID_IN_CLEARING;
    const uint8_t ep = (uint8_t)(zel_pipe_ep(zel_usbh_urb_get_pipe(&hid->int_in)) | ZEL_USB_DIR_IN);
    const zel_usbh_setup_t setup = {0x02, ZEL_USB_REQ_CLEAR_FEATURE, ZEL_USB_ENDPOINT_HALT, ep, 0};
    if (zel_usbh_control_msg_own(hid->host, hid->dev, &hid->clear_urb, &setup, &hid->agent) != 0) after_clearing(hid);
}

}  // namespace

extern "C" {

void zel_usbh_hid_read_next(zel_usbh_hid_t *hid, uint32_t length) {
    hid->in_state = ZEL_HID_IN_READING;
    const int32_t r = zel_usbh_hid_recv_report(hid, nullptr, length);
    if (r == 0) return;
    // Counted as a failed read: the same back-off, but never at once.
    if (hid->in_errors < 0xFF) hid->in_errors++;
    const uint32_t ms = zel_usbh_refused_retry_ms(hid->in_errors);
    zel_trace(2, "%s: interface %u: interrupt-in read not started (%d), again in %u ms\r\n", class_name(hid),
        (unsigned)hid->ifs->number, (int)r, (unsigned)ms);
    hid->in_length = length;
    hid->in_state = ZEL_HID_IN_REFUSED;
    wait_ms(ms);
}

bool zel_usbh_hid_read_failed(zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb) {
    if (urb->status == 0) {
        hid->in_errors = 0;
        return false;
    }
    if (hid->in_errors < 0xFF) hid->in_errors++;
    clear_halt(hid);
    return true;
}

bool zel_usbh_hid_recovery_event(zel_usbh_hid_t *hid, zel_evt_t evt) {
    switch (static_cast<zel_usbh_hid_in_state_t>(hid->in_state)) {
    case ZEL_HID_IN_READING: return false;
    case ZEL_HID_IN_CLEARING: {
        const auto *urb = static_cast<const zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg());
        if (evt != ZEL_EVT_MSG || !zel_usbh_hid_is_urb(&hid->clear_urb, urb)) return false;
        after_clearing(hid);
        return true;
    }
    case ZEL_HID_IN_BACKING_OFF:
        if (evt != ZEL_EVT_TIMER) return false;
        read_again(hid);
        return true;
    case ZEL_HID_IN_REFUSED:
        if (evt != ZEL_EVT_TIMER) return false;
        zel_usbh_hid_read_next(hid, hid->in_length);
        return true;
    }
    return false;
}

zel_usbh_hid_report_hook_t zel_usbh_hid_report_hook = no_report;

void *zel_usbh_hid_probe(
    zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry, uint32_t context_size, bool need_hid_desc) {
    const zel_usbh_ifs_alt_t *alt = zel_usbh_parser_alt(entry);
    const zel_usb_hid_desc_t *hid_desc = nullptr;
    const void *found = nullptr;
    if (zel_usbh_find_desc(alt->desc, alt->total_length, ZEL_USB_DT_HID, &found) == 0) {
        // Up to wDescriptorLength of the first class descriptor.
        hid_desc = static_cast<const zel_usb_hid_desc_t *>(found);
        if (hid_desc->bLength < sizeof(zel_usb_hid_desc_t)) hid_desc = nullptr;
    }
    if (need_hid_desc && !hid_desc) return nullptr;
    auto *hid = static_cast<zel_usbh_hid_t *>(zel_heap_calloc(1, context_size));
    if (!hid) return nullptr;
    if (!take_endpoints(hid, dev, alt) || hid->int_in.word == 0) {
        zel_heap_free(hid);
        return nullptr;
    }
    hid->host = host;
    hid->dev = dev;
    hid->ifs = entry->ifs;
    hid->report_desc_len = hid_desc ? zel_get_unaligned_le16(&hid_desc->wDescriptorLength) : 0;
    hid->step = ZEL_HID_WAIT_MUTEX;
    hid->agent.handler.plain = zel_usbh_hid_evthandler;
    hid->agent.on_terminate = zel_usbh_hid_free;
    (void)zel_eda_start(&hid->agent, -1, 0);  // fails only without event nodes
    return hid;
}

void zel_usbh_hid_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_hid_t *hid = zel_usbh_hid_of_agent(agent);
    switch (static_cast<zel_usbh_hid_step_t>(hid->step)) {
    case ZEL_HID_WAIT_MUTEX:
        if (evt == ZEL_EVT_INIT) {
            if (zel_eda_sync_decrease(&hid->dev->mutex, -1) != 0) return;  // 262 follows
        } else if (evt != ZEL_EVT_SYNC || zel_eda_sync_get_reason(&hid->dev->mutex, evt) != ZEL_SYNC_OBTAINED) {
            return;
        }
        fetch_report_descriptor(hid);
        break;
    case ZEL_HID_REPORT_DESC:
        // Whatever its status: the class handler looks at it.
        if (evt == ZEL_EVT_MSG &&
            zel_usbh_hid_is_ctrl_urb(hid, static_cast<zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg())))
            hand_over(hid);
        break;
    }
}

void zel_usbh_hid_free(zel_eda_t *agent) { zel_heap_free(zel_usbh_hid_of_agent(agent)); }

int32_t zel_usbh_hid_set_idle(zel_usbh_hid_t *hid, uint8_t report_id, uint8_t duration) {
    const zel_usbh_setup_t setup = {
        0x21, ZEL_HID_REQ_SET_IDLE, (uint16_t)(duration << 8 | report_id), hid->ifs->number, 0};
    return zel_usbh_control_msg(hid->host, hid->dev, &setup);
}

int32_t zel_usbh_hid_send_report(zel_usbh_hid_t *hid, void *buffer, uint32_t length) {
    return submit(hid, &hid->int_out, buffer, length);
}

int32_t zel_usbh_hid_recv_report(zel_usbh_hid_t *hid, void *buffer, uint32_t length) {
    return submit(hid, &hid->int_in, buffer, length);
}

bool zel_usbh_hid_is_urb(const zel_usbh_urb_t *handle, const zel_usbh_hcd_urb_t *urb) {
    return zel_usbh_urb_is_alloced(handle) && handle->urb == urb;
}

bool zel_usbh_hid_is_ctrl_urb(const zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb) {
    return (hid->dev->speed & ZEL_USBH_DEV_CTRL_URB) && hid->dev->ctrl.urb == urb;
}

void zel_usbh_hid_deliver(zel_usbh_hid_t *hid, const zel_usbh_hcd_urb_t *urb) {
    zel_usbh_hid_report_hook(hid, static_cast<const uint8_t *>(urb->buffer), urb->actual_length);
}

void zel_usbh_hid_disconnect(zel_usbh_hid_t *hid) {
    if (!hid) return;
    zel_usbh_free_urb(hid->host, &hid->int_in);
    zel_usbh_free_urb(hid->host, &hid->int_out);
    zel_usbh_free_urb(hid->host, &hid->clear_urb);
    (void)zel_eda_fini(&hid->agent);  // cannot fail
}

void zel_usbh_hid_gamepad_disconnect(zel_usbh_t *, zel_usbh_dev_t *, void *param) {
    zel_usbh_hid_disconnect(static_cast<zel_usbh_hid_t *>(param));
}

}  // extern "C"
