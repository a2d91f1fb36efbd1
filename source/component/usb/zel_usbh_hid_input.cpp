// The "hid" class: generic input from any HID interface.
#include "zel_heap.h"
#include "zel_usbh_hid.h"

namespace {

// The class's context: the base, and whether reads go on.
struct zel_usbh_hid_input_t {
    zel_usbh_hid_t hid;
    uint8_t running;
};

const zel_usbh_dev_id_t kHidIds[] = {
    {ZEL_USBH_MATCH_IFS_CLASS, 0, 0, 0, 0, 0, 0, 0, ZEL_USB_CLASS_HID, 0, 0},
};

zel_usbh_hid_input_t *of_agent(zel_eda_t *agent) {
    return reinterpret_cast<zel_usbh_hid_input_t *>(zel_usbh_hid_of_agent(agent));
}

// The input report's length from the report descriptor: 64 for every
// descriptor in this system.
uint32_t input_report_length(const uint8_t *, uint32_t) { return ZEL_HID_REPORT_LEN; }

void on_start(zel_usbh_hid_input_t *in) {
    zel_usbh_hid_t *hid = &in->hid;
    zel_usbh_dev_t *dev = hid->dev;
    if (zel_usbh_urb_get_status(&dev->ctrl) != 0) {
        zel_eda_sync_release(&dev->mutex, nullptr);  // held here
        zel_usbh_remove_interface(hid->host, dev, hid->ifs);
        return;
    }
    const uint32_t desc_length = zel_usbh_urb_get_actual_length(&dev->ctrl);
    auto *desc = static_cast<uint8_t *>(zel_usbh_urb_take_buffer(&dev->ctrl));
    zel_eda_sync_release(&dev->mutex, nullptr);  // held here
    const uint32_t length = input_report_length(desc, desc_length);
    zel_heap_free(desc);
    in->running = 1;
    zel_usbh_hid_read_next(hid, length);
}

void input_evthandler(zel_eda_t *agent, zel_evt_t evt);

void *input_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry) {
    auto *in =
        static_cast<zel_usbh_hid_input_t *>(zel_usbh_hid_probe(host, dev, entry, sizeof(zel_usbh_hid_input_t), true));
    if (in) in->hid.class_handler = input_evthandler;
    return in;
}

void input_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_hid_input_t *in = of_agent(agent);
    zel_usbh_hid_t *hid = &in->hid;
    if (zel_usbh_hid_recovery_event(hid, evt)) return;
    if (evt == ZEL_EVT_INIT) {
        on_start(in);
    } else if (evt == ZEL_EVT_MSG) {
        const auto *urb = static_cast<const zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg());
        if (!zel_usbh_hid_is_urb(&hid->int_in, urb) || zel_usbh_hid_read_failed(hid, urb)) return;
        zel_usbh_hid_deliver(hid, urb);
        // The same URB with the same buffer, for as long as the class runs.
        if (in->running) zel_usbh_hid_read_next(hid, 0);
    }
}

void input_disconnect(zel_usbh_t *, zel_usbh_dev_t *, void *param) {
    auto *in = static_cast<zel_usbh_hid_input_t *>(param);
    if (!in) return;
    in->running = 0;
    zel_usbh_hid_disconnect(&in->hid);
}

}  // namespace

extern "C" const zel_usbh_class_drv_t zel_usbh_hid_class = {
    .name = "hid",
    .id_count = sizeof kHidIds / sizeof kHidIds[0],
    .ids = kHidIds,
    .probe = input_probe,
    .disconnect = input_disconnect,
};
