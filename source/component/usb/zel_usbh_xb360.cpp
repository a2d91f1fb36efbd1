// The "xb360" class: the Xbox 360 pad on its vendor-specific interface 0.
#include <string.h>

#include "zel_usbh_xb360.h"

namespace {

constexpr uint16_t kFlags = ZEL_USBH_MATCH_IFS_CLASS | ZEL_USBH_MATCH_IFS_SUBCLASS | ZEL_USBH_MATCH_IFS_PROTOCOL;

const zel_usbh_dev_id_t kXb360Ids[] = {
    {kFlags, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x5D, 0x01},
    {kFlags, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x5D, 0x81},
};

const uint8_t kOutput[ZEL_XB360_OUTPUT_LEN] = {0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

zel_usbh_xb360_t *of_agent(zel_eda_t *agent) {
    return reinterpret_cast<zel_usbh_xb360_t *>(zel_usbh_hid_of_agent(agent));
}

}  // namespace

extern "C" {

const zel_usbh_class_drv_t zel_usbh_xb360_class = {
    .name = "xb360",
    .id_count = sizeof kXb360Ids / sizeof kXb360Ids[0],
    .ids = kXb360Ids,
    .probe = zel_usbh_xb360_probe,
    .disconnect = zel_usbh_hid_gamepad_disconnect,
};

void *zel_usbh_xb360_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry) {
    if (zel_usbh_parser_alt(entry)->desc->bInterfaceNumber != 0) return nullptr;
    auto *pad = static_cast<zel_usbh_xb360_t *>(zel_usbh_hid_probe(host, dev, entry, sizeof(zel_usbh_xb360_t), true));
    if (!pad) return nullptr;
    memcpy(pad->output, kOutput, sizeof kOutput);
    pad->hid.class_handler = zel_usbh_xb360_evthandler;
    return pad;
}

void zel_usbh_xb360_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_xb360_t *pad = of_agent(agent);
    zel_usbh_hid_t *hid = &pad->hid;
    if (zel_usbh_hid_recovery_event(hid, evt)) return;
    if (evt == ZEL_EVT_INIT) {
        // No control request of its own: the mutex goes at once, and with
        // it the report descriptor left on the control URB.
        zel_usbh_urb_free_buffer(&hid->dev->ctrl);
        zel_eda_sync_release(&hid->dev->mutex, nullptr);  // held here
        zel_usbh_hid_read_next(hid, ZEL_XB360_REPORT_LEN);
        // Fails without the endpoint or a URB: the first output report is then not sent.
        (void)zel_usbh_hid_send_report(hid, pad->output, ZEL_XB360_OUTPUT_LEN);
    } else if (evt == ZEL_EVT_MSG) {
        const auto *urb = static_cast<const zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg());
        if (zel_usbh_hid_is_urb(&hid->int_in, urb)) {
            if (zel_usbh_hid_read_failed(hid, urb)) return;
            if (urb->actual_length == ZEL_XB360_REPORT_LEN) zel_usbh_hid_deliver(hid, urb);
            zel_usbh_hid_read_next(hid, ZEL_XB360_REPORT_LEN);
        } else if (zel_usbh_hid_is_urb(&hid->int_out, urb)) {
            pad->output_done = 1;
        }
    }
}

}  // extern "C"
