// The "libusb" class driver: interface 0 of every device that no other
// class has bound, published through one callback.
#include "zel_heap.h"
#include "zel_usbh_enum.h"
#include "zel_usbh_libusb.h"

namespace {

// bcdDevice at least 0: every device.
const zel_usbh_dev_id_t kLibusbIds[] = {
    {ZEL_USBH_MATCH_BCD_LO, 0, 0, 0x0000, 0, 0, 0, 0, 0, 0, 0},
};

zel_usbh_libusb_evthandler_t g_callback;
void *g_param;

void report(zel_usbh_libusb_dev_t *record, int event) {
    if (g_callback) g_callback(g_param, record, event);
}

// The record and a control URB its user left allocated.
void release(zel_usbh_libusb_dev_t *record) {
    zel_usbh_free_urb(record->host, &record->urb);
    zel_heap_free(record);
}

}  // namespace

extern "C" {

const zel_usbh_class_drv_t zel_usbh_libusb_class = {
    .name = "libusb",
    .id_count = sizeof kLibusbIds / sizeof kLibusbIds[0],
    .ids = kLibusbIds,
    .probe = zel_usbh_libusb_probe,
    .disconnect = zel_usbh_libusb_disconnect,
};

void *zel_usbh_libusb_probe(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_parser_t *entry) {
    zel_usbh_enum_t *ctx = host->enum_ctx;
    if (entry->ifs->number != 0 || !ctx || !ctx->dev_desc) return nullptr;
    auto *r = static_cast<zel_usbh_libusb_dev_t *>(zel_heap_calloc(1, sizeof(zel_usbh_libusb_dev_t)));
    if (!r) return nullptr;
    const zel_usb_device_desc_t *d = ctx->dev_desc;
    r->host = host;
    r->dev = dev;
    r->urb.pipe.word = ZEL_PIPE_VALID;
    r->idVendor = zel_get_unaligned_le16(&d->idVendor);
    r->idProduct = zel_get_unaligned_le16(&d->idProduct);
    r->bDeviceClass = d->bDeviceClass;
    r->bDeviceSubClass = d->bDeviceSubClass;
    r->bDeviceProtocol = d->bDeviceProtocol;
    r->bMaxPacketSize0 = d->bMaxPacketSize0;
    r->address = dev->address;
    report(r, ZEL_USBH_LIBUSB_ARRIVED);
    ctx->flags |= ZEL_USBH_ENUM_SKIP_SET_CONFIG;
    return r;
}

void zel_usbh_libusb_disconnect(zel_usbh_t *, zel_usbh_dev_t *, void *param) {
    auto *r = static_cast<zel_usbh_libusb_dev_t *>(param);
    if (!r) return;
    report(r, ZEL_USBH_LIBUSB_LEFT);
    if (r->opened)
        r->free_when_closed = 1;
    else
        release(r);
}

void zel_usbh_libusb_set_evthandler(void *param, zel_usbh_libusb_evthandler_t callback) {
    g_param = param;
    g_callback = callback;
}

int32_t zel_usbh_libusb_open(zel_usbh_libusb_dev_t *record) {
    if (record->opened) return ZEL_USBH_ERR_FAIL;
    record->opened = 1;
    return 0;
}

void zel_usbh_libusb_close(zel_usbh_libusb_dev_t *record) {
    record->opened = 0;
    if (record->free_when_closed) release(record);
}

}  // extern "C"
