// The "nspro" class: the Switch Pro controller on a HID interface, started
// by a hand-shake on its interrupt endpoints.
#include "zel_usbh_nspro.h"

namespace {

const zel_usbh_dev_id_t kNsproIds[] = {
    {ZEL_USBH_MATCH_VENDOR | ZEL_USBH_MATCH_PRODUCT | ZEL_USBH_MATCH_IFS_CLASS, 0x057E, 0x2009, 0, 0, 0, 0, 0,
        ZEL_USB_CLASS_HID, 0, 0},
};

constexpr uint8_t kReplyTag = 0x81;
constexpr uint8_t kCommandTag = 0x80;
constexpr uint8_t kStatus = 0x01;       // the controller's status report
constexpr uint8_t kHandshake = 0x02;    // answer to the hand-shake
constexpr uint8_t kEnable = 0x04;       // reports without the hand-shake
constexpr uint32_t kStatusLength = 10;  // up to the fields kept from the status report

zel_usbh_nspro_t *of_agent(zel_eda_t *agent) {
    return reinterpret_cast<zel_usbh_nspro_t *>(zel_usbh_hid_of_agent(agent));
}

void send_command(zel_usbh_nspro_t *pad, uint8_t command) {
    pad->output[0] = kCommandTag;
    pad->output[1] = command;
    // Fails without the endpoint or a URB: the command is then not sent.
    (void)zel_usbh_hid_send_report(&pad->hid, pad->output, ZEL_NSPRO_OUTPUT_LEN);
}

bool is_reply(const zel_usbh_hcd_urb_t *urb, uint8_t kind, uint32_t min_length) {
    const auto *r = static_cast<const uint8_t *>(urb->buffer);
    return urb->status == 0 && urb->actual_length >= min_length && r[0] == kReplyTag && r[1] == kind;
}

void on_report(zel_usbh_nspro_t *pad, const zel_usbh_hcd_urb_t *urb) {
    const auto *r = static_cast<const uint8_t *>(urb->buffer);
    switch (static_cast<zel_usbh_nspro_state_t>(pad->state)) {
    case ZEL_NSPRO_HELLO:
        if (is_reply(urb, kStatus, kStatusLength)) {
            pad->status_byte3 = r[3];
            pad->status_word = zel_get_unaligned_le32(r + 4);
            pad->status_half = zel_get_unaligned_le16(r + 8);
            pad->state = ZEL_NSPRO_ENABLE;
            send_command(pad, kHandshake);
        }
        break;
    case ZEL_NSPRO_ENABLE:
        if (is_reply(urb, kHandshake, 2)) {
            pad->state = ZEL_NSPRO_RUNNING;
            send_command(pad, kEnable);
        }
        break;
    case ZEL_NSPRO_RUNNING:
        if (urb->status == 0) zel_usbh_hid_deliver(&pad->hid, urb);
        break;
    }
}

void on_transfer(zel_usbh_nspro_t *pad, const zel_usbh_hcd_urb_t *urb) {
    zel_usbh_hid_t *hid = &pad->hid;
    if (zel_usbh_hid_is_ctrl_urb(hid, urb)) {
        pad->state = ZEL_NSPRO_HELLO;
        zel_eda_sync_release(&hid->dev->mutex, nullptr);  // held here
        zel_usbh_hid_read_next(hid, ZEL_HID_REPORT_LEN);
    } else if (zel_usbh_hid_is_urb(&hid->int_in, urb)) {
        if (!urb->buffer || zel_usbh_hid_read_failed(hid, urb)) return;
        on_report(pad, urb);
        zel_usbh_hid_read_next(hid, ZEL_HID_REPORT_LEN);
    } else if (zel_usbh_hid_is_urb(&hid->int_out, urb)) {
        if (pad->state == ZEL_NSPRO_RUNNING) pad->output_idle = 1;
    }
}

}  // namespace

extern "C" {

const zel_usbh_class_drv_t zel_usbh_nspro_class = {
    .name = "nspro",
    .id_count = sizeof kNsproIds / sizeof kNsproIds[0],
    .ids = kNsproIds,
    .probe = zel_usbh_nspro_probe,
    .disconnect = zel_usbh_hid_gamepad_disconnect,
};

void *zel_usbh_nspro_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry) {
    auto *pad = static_cast<zel_usbh_nspro_t *>(zel_usbh_hid_probe(host, dev, entry, sizeof(zel_usbh_nspro_t), true));
    if (pad) pad->hid.class_handler = zel_usbh_nspro_evthandler;
    return pad;
}

void zel_usbh_nspro_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_nspro_t *pad = of_agent(agent);
    if (zel_usbh_hid_recovery_event(&pad->hid, evt)) return;
    if (evt == ZEL_EVT_INIT) {
        zel_usbh_hid_t *hid = &pad->hid;
        zel_usbh_urb_free_buffer(&hid->dev->ctrl);  // the report descriptor
        if (zel_usbh_hid_set_idle(hid, 0, 0) != 0) {
            zel_eda_sync_release(&hid->dev->mutex, nullptr);  // held here
            zel_usbh_remove_interface(hid->host, hid->dev, hid->ifs);
        }
    } else if (evt == ZEL_EVT_MSG) {
        on_transfer(pad, static_cast<const zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg()));
    }
}

}  // extern "C"
