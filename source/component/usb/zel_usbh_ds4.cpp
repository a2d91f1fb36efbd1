// The "ds4" class: DualShock 4 and compatible pads on a HID interface.
#include <string.h>

#include "zel_usbh_ds4.h"

namespace {

constexpr uint16_t kFlags = ZEL_USBH_MATCH_VENDOR | ZEL_USBH_MATCH_PRODUCT | ZEL_USBH_MATCH_IFS_CLASS;

const zel_usbh_dev_id_t kDs4Ids[] = {
    {kFlags, 0x054C, 0x05C4, 0, 0, 0, 0, 0, ZEL_USB_CLASS_HID, 0, 0},
    {kFlags, 0x054C, 0x05C5, 0, 0, 0, 0, 0, ZEL_USB_CLASS_HID, 0, 0},
    {kFlags, 0x054C, 0x09CC, 0, 0, 0, 0, 0, ZEL_USB_CLASS_HID, 0, 0},
    {kFlags, 0x054C, 0x0BA0, 0, 0, 0, 0, 0, ZEL_USB_CLASS_HID, 0, 0},
    {kFlags, 0x0738, 0x8250, 0, 0, 0, 0, 0, ZEL_USB_CLASS_HID, 0, 0},
};

const uint8_t kOutputHead[] = {0x05, 0xFF, 0xFF, 0xFF};

zel_usbh_ds4_t *of_agent(zel_eda_t *agent) { return reinterpret_cast<zel_usbh_ds4_t *>(zel_usbh_hid_of_agent(agent)); }

void on_start(zel_usbh_ds4_t *pad) {
    zel_usbh_hid_t *hid = &pad->hid;
    zel_usbh_urb_free_buffer(&hid->dev->ctrl);  // the report descriptor
    pad->state = ZEL_DS4_SET_IDLE;
    if (zel_usbh_hid_set_idle(hid, 0, 0) != 0) {
        zel_eda_sync_release(&hid->dev->mutex, nullptr);  // held here
        zel_usbh_remove_interface(hid->host, hid->dev, hid->ifs);
    }
}

void on_transfer(zel_usbh_ds4_t *pad, const zel_usbh_hcd_urb_t *urb) {
    zel_usbh_hid_t *hid = &pad->hid;
    if (pad->state == ZEL_DS4_SET_IDLE) {
        if (!zel_usbh_hid_is_ctrl_urb(hid, urb)) return;
        // SET_IDLE ended, whatever its status.
        zel_eda_sync_release(&hid->dev->mutex, nullptr);  // held here
        pad->state = ZEL_DS4_RUNNING;
        zel_usbh_hid_read_next(hid, ZEL_HID_REPORT_LEN);
    } else if (zel_usbh_hid_is_urb(&hid->int_in, urb)) {
        if (zel_usbh_hid_read_failed(hid, urb)) return;
        if (urb->actual_length == ZEL_HID_REPORT_LEN) zel_usbh_hid_deliver(hid, urb);
        zel_usbh_hid_read_next(hid, ZEL_HID_REPORT_LEN);
    } else if (zel_usbh_hid_is_urb(&hid->int_out, urb)) {
        pad->output_done = 1;
    }
}

}  // namespace

extern "C" {

const zel_usbh_class_drv_t zel_usbh_ds4_class = {
    .name = "ds4",
    .id_count = sizeof kDs4Ids / sizeof kDs4Ids[0],
    .ids = kDs4Ids,
    .probe = zel_usbh_ds4_probe,
    .disconnect = zel_usbh_hid_gamepad_disconnect,
};

void *zel_usbh_ds4_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry) {
    auto *pad = static_cast<zel_usbh_ds4_t *>(zel_usbh_hid_probe(host, dev, entry, sizeof(zel_usbh_ds4_t), true));
    if (!pad) return nullptr;
    memcpy(pad->output, kOutputHead, sizeof kOutputHead);
    pad->output_done = 1;
    pad->hid.class_handler = zel_usbh_ds4_evthandler;
    return pad;
}

void zel_usbh_ds4_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_ds4_t *pad = of_agent(agent);
    if (zel_usbh_hid_recovery_event(&pad->hid, evt)) return;
    if (evt == ZEL_EVT_INIT)
        on_start(pad);
    else if (evt == ZEL_EVT_MSG)
        on_transfer(pad, static_cast<const zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg()));
    else if (evt == ZEL_EVT_WAKE && pad->output_done) {
        // One output report at a time: the URB is not submitted twice.
        pad->output_done = 0;
        if (zel_usbh_hid_send_report(&pad->hid, pad->output, ZEL_DS4_OUTPUT_LEN) != 0) pad->output_done = 1;
    }
}

}  // extern "C"
