// Configuration parse: the device's interface records, the alternate
// settings of each interface, and class binding by device-id tables.
#include "zel_heap.h"
#include "zel_trace.h"
#include "zel_usbh_enum.h"

namespace {

// A walk over the descriptors of a configuration buffer.
struct DescWalk {
    const uint8_t *buf;
    uint32_t end;
    uint32_t pos;

    // The descriptor at pos, or none at the end or when its length does not
    // fit what remains.
    const uint8_t *cur() const {
        if (end - pos < 2) return nullptr;
        const uint8_t len = buf[pos];
        if (len < 2 || len > end - pos) return nullptr;
        return buf + pos;
    }
    void next() { pos += buf[pos]; }
};

bool is_interface(const uint8_t *d) { return d[1] == ZEL_USB_DT_INTERFACE; }

// Settings of interface `number` from the walk's position on; -7 when the
// stretch is laid out otherwise than the parse expects.
int32_t count_settings(DescWalk w, uint8_t number, uint32_t *count) {
    *count = 0;
    for (const uint8_t *d; (d = w.cur()); w.next()) {
        if (is_interface(d)) {
            if (d[0] < sizeof(zel_usb_interface_desc_t)) return ZEL_USBH_ERR_FAIL;
            if (d[2] != number) break;
            ++*count;
        } else if (d[1] == ZEL_USB_DT_ENDPOINT) {
            if (d[0] < sizeof(zel_usb_endpoint_desc_t)) return ZEL_USBH_ERR_FAIL;
        }
    }
    return *count == 0 || *count > 255 ? ZEL_USBH_ERR_FAIL : 0;
}

// Fills the settings of interface `number`; the walk ends at the first
// interface descriptor of another number (or the end).
int32_t fill_settings(DescWalk *w, uint8_t number, zel_usbh_ifs_alt_t *alts) {
    int k = -1;
    uint32_t start = 0;
    for (const uint8_t *d; (d = w->cur()); w->next()) {
        if (is_interface(d)) {
            if (d[2] != number) break;
            if (k >= 0) alts[k].total_length = static_cast<uint16_t>(w->pos - start);
            ++k;
            start = w->pos;
            alts[k].desc = reinterpret_cast<const zel_usb_interface_desc_t *>(d);
        } else if (d[1] == ZEL_USB_DT_ENDPOINT) {
            if (k < 0) return ZEL_USBH_ERR_FAIL;  // an endpoint before any interface
            if (!alts[k].first_ep) alts[k].first_ep = reinterpret_cast<const zel_usb_endpoint_desc_t *>(d);
            alts[k].ep_count++;
        }
    }
    if (k < 0) return ZEL_USBH_ERR_FAIL;
    alts[k].total_length = static_cast<uint16_t>(w->pos - start);
    return 0;
}

int32_t build_interfaces(zel_usbh_dev_t *dev, zel_usbh_enum_t *ctx, uint32_t total) {
    const uint8_t *cfg = ctx->config;
    DescWalk w{cfg, total, 0};
    if (!w.cur()) return ZEL_USBH_ERR_FAIL;
    w.next();
    for (uint8_t i = 0; i < ctx->ifs_count; i++) {
        uint32_t count = 0;
        int32_t r = count_settings(w, i, &count);
        if (r != 0) return r;
        auto *alts = static_cast<zel_usbh_ifs_alt_t *>(zel_heap_calloc(count, sizeof(zel_usbh_ifs_alt_t)));
        if (!alts) return ZEL_ERR_NO_MEMORY;
        ctx->parse[i].alts = alts;
        dev->ifs[i].number = i;
        dev->ifs[i].alt_count = static_cast<uint8_t>(count);
        r = fill_settings(&w, i, alts);
        if (r != 0) return r;
    }
    return 0;
}

// Tries every driver on one interface; true when one bound it.
bool bind_interface(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_enum_t *ctx, zel_usbh_ifs_parser_t *entry) {
    zel_usbh_ifs_t *ifs = entry->ifs;
    for (zel_usbh_class_node_t *node = host->classes; node; node = node->next) {
        const zel_usbh_class_drv_t *drv = node->drv;
        if (!drv || drv->id_count == 0) continue;
        bool probed = false;
        for (uint32_t id = 0; id < drv->id_count && !probed; id++) {
            for (uint8_t alt = 0; alt < ifs->alt_count && !probed; alt++) {
                ifs->cur_alt = alt;
                if (!zel_usbh_id_matches(&drv->ids[id], ctx->dev_desc, entry->alts[alt].desc)) continue;
                probed = true;
                void *param = drv->probe(host, dev, entry);
                if (param) {
                    ifs->drv = drv;
                    ifs->param = param;
                    zel_usbh_class_bound_log(ctx, entry);
                    return true;
                }
            }
        }
    }
    ifs->cur_alt = 0;
    return false;
}

}  // namespace

extern "C" {

bool zel_usbh_id_matches(
    const zel_usbh_dev_id_t *id, const zel_usb_device_desc_t *dev, const zel_usb_interface_desc_t *ifs) {
    const uint16_t f = id->flags;
    const uint16_t bcd = zel_get_unaligned_le16(&dev->bcdDevice);
    if ((f & ZEL_USBH_MATCH_VENDOR) && zel_get_unaligned_le16(&dev->idVendor) != id->idVendor) return false;
    if ((f & ZEL_USBH_MATCH_PRODUCT) && zel_get_unaligned_le16(&dev->idProduct) != id->idProduct) return false;
    if ((f & ZEL_USBH_MATCH_BCD_LO) && bcd < id->bcdDevice_lo) return false;
    if ((f & ZEL_USBH_MATCH_BCD_HI) && bcd > id->bcdDevice_hi) return false;
    if ((f & ZEL_USBH_MATCH_DEV_CLASS) && dev->bDeviceClass != id->bDeviceClass) return false;
    if ((f & ZEL_USBH_MATCH_DEV_SUBCLASS) && dev->bDeviceSubClass != id->bDeviceSubClass) return false;
    if ((f & ZEL_USBH_MATCH_DEV_PROTOCOL) && dev->bDeviceProtocol != id->bDeviceProtocol) return false;
    if ((f & ZEL_USBH_MATCH_IFS_CLASS) && ifs->bInterfaceClass != id->bInterfaceClass) return false;
    if ((f & ZEL_USBH_MATCH_IFS_SUBCLASS) && ifs->bInterfaceSubClass != id->bInterfaceSubClass) return false;
    if ((f & ZEL_USBH_MATCH_IFS_PROTOCOL) && ifs->bInterfaceProtocol != id->bInterfaceProtocol) return false;
    return true;
}

int32_t zel_usbh_class_bound_log(zel_usbh_enum_t *ctx, zel_usbh_ifs_parser_t *entry) {
    const zel_usbh_ifs_t *ifs = entry->ifs;
    zel_trace(2, "%s: vid%04X pid%04X interface%d\r\n", ifs->drv ? ifs->drv->name : "",
        zel_get_unaligned_le16(&ctx->dev_desc->idVendor), zel_get_unaligned_le16(&ctx->dev_desc->idProduct),
        zel_usbh_parser_alt(entry)->desc->bInterfaceNumber);
    return 0;
}

// A configuration whose type byte is not 2 is refused like one that binds
// nothing, so that no SET_CONFIGURATION goes out with a stray value.
// The walk covers the bytes that arrived (config_length), however much the
// buffer's own wTotalLength claims.
int32_t zel_usbh_parse_config(zel_usbh_t *host, zel_usbh_enum_t *ctx) {
    zel_usbh_dev_t *dev = ctx->dev;
    const auto *cfg = reinterpret_cast<const zel_usb_config_desc_t *>(ctx->config);
    const uint32_t received = ctx->config ? ctx->config_length : 0;
    if (received < sizeof(zel_usb_config_desc_t) || cfg->bDescriptorType != ZEL_USB_DT_CONFIG ||
        cfg->bLength < sizeof(zel_usb_config_desc_t))
        return ZEL_USBH_ERR_FAIL;
    const uint8_t count = cfg->bNumInterfaces;
    if (count == 0) return ZEL_USBH_ERR_FAIL;
    // Records of an earlier parse whose configuration was never set.
    zel_usbh_release_interfaces(host, dev);
    dev->ifs = static_cast<zel_usbh_ifs_t *>(zel_heap_calloc(count, sizeof(zel_usbh_ifs_t)));
    dev->ifs_count = dev->ifs ? count : 0;
    ctx->parse = static_cast<zel_usbh_ifs_parser_t *>(zel_heap_calloc(count, sizeof(zel_usbh_ifs_parser_t)));
    if (!dev->ifs || !ctx->parse) return ZEL_ERR_NO_MEMORY;
    ctx->ifs_count = count;
    for (uint8_t i = 0; i < count; i++) ctx->parse[i].ifs = &dev->ifs[i];

    const uint32_t claimed = zel_get_unaligned_le16(&cfg->wTotalLength);
    const int32_t r = build_interfaces(dev, ctx, claimed < received ? claimed : received);
    if (r != 0) return r;

    bool bound = false;
    for (uint8_t i = 0; i < count; i++) bound |= bind_interface(host, dev, ctx, &ctx->parse[i]);
    return bound ? 0 : ZEL_USBH_ERR_FAIL;
}

void zel_usbh_free_parser(zel_usbh_enum_t *ctx) {
    zel_heap_free(ctx->config);
    ctx->config = nullptr;
    if (ctx->parse)
        for (uint8_t i = 0; i < ctx->ifs_count; i++) zel_heap_free(ctx->parse[i].alts);
    zel_heap_free(ctx->parse);
    ctx->parse = nullptr;
    ctx->ifs_count = 0;
    ctx->config_length = 0;
}

}  // extern "C"
