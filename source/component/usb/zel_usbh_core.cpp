// The host object, the class-driver list, device records and their teardown.
#include "zel_heap.h"
#include "zel_trace.h"
#include "zel_usbh_enum.h"
#include "zel_usbh_hcd.h"
#include "zel_usbh_hooks.h"

extern "C" {

int32_t zel_usbh_init(zel_usbh_t *host) {
    host->classes = nullptr;
    zel_bitmap_reset(host->addr_map, ZEL_USBH_ADDR_COUNT);
    zel_bitmap_set(host->addr_map, 0);
    host->agent.handler.plain = zel_usbh_init_evthandler;
    return zel_eda_start(&host->agent, 0, 0);
}

void zel_usbh_init_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_t *host = zel_usbh_of_agent(agent);
    if (host->hcd->init(agent, evt, host) == 0)
        (void)zel_eda_set_evthandler(agent, zel_usbh_enum_evthandler);  // cannot fail
}

void zel_usbh_register_class(zel_usbh_t *host, zel_usbh_class_node_t *node) {
    node->next = host->classes;
    host->classes = node;
}

static const char *speed_name(uint8_t speed) {
    switch (speed) {
    case ZEL_USB_SPEED_LOW: return "low";
    case ZEL_USB_SPEED_FULL: return "full";
    case ZEL_USB_SPEED_HIGH: return "high";
    default: return "unknown";
    }
}

zel_usbh_dev_t *zel_usbh_new_device(zel_usbh_t *host, uint8_t speed) {
    auto *dev = static_cast<zel_usbh_dev_t *>(zel_heap_calloc(1, sizeof(zel_usbh_dev_t)));
    if (!dev) return nullptr;
    if (host->hcd->alloc_device(host, dev) != 0) {
        zel_heap_free(dev);
        return nullptr;
    }
    const int address = zel_bitmap_ffz(host->addr_map, ZEL_USBH_ADDR_COUNT);
    if (address <= 0) {
        host->hcd->free_device(host, dev);
        zel_heap_free(dev);
        return nullptr;
    }
    // The host agent's start of the enumeration goes with the node it holds
    // for its wake; should it fail all the same, the device is not taken.
    if (zel_eda_wake(&host->agent, ZEL_EVT_INIT) != 0) {
        host->hcd->free_device(host, dev);
        zel_heap_free(dev);
        return nullptr;
    }
    zel_bitmap_set(host->addr_map, address);
    dev->address = static_cast<uint8_t>(address);
    dev->speed = speed & ZEL_USBH_DEV_SPEED_MASK;
    zel_trace(2, "usbh: new %s speed device connected\r\n", speed_name(speed));
    host->enum_dev = dev;
    return dev;
}

// Hook, class disconnect, then the binding is cleared.
static void unbind(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_t *ifs) {
    const zel_usbh_class_drv_t *drv = ifs->drv;
    void *param = ifs->param;
    on_usb_interface_removed();
    drv->disconnect(host, dev, param);
    ifs->drv = nullptr;
    ifs->param = nullptr;
    ifs->cur_alt = 0;
}

void zel_usbh_disconnect_device(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    zel_trace(2, "usbh: device disconnected\r\n");
    for (uint8_t i = 0; dev->ifs && i < dev->ifs_count; i++)
        if (dev->ifs[i].drv) unbind(host, dev, &dev->ifs[i]);
    if (dev->speed & ZEL_USBH_DEV_CTRL_URB) {
        zel_usbh_free_urb(host, &dev->ctrl);
        dev->speed &= static_cast<uint8_t>(~ZEL_USBH_DEV_CTRL_URB);
    }
    host->hcd->free_device(host, dev);
    zel_heap_free(dev->ifs);
    dev->ifs = nullptr;
    // Under enumeration the record's address may read 0 for a while: the
    // address handed out is the one the enumerator saved.
    uint8_t address = dev->address;
    if (host->enum_dev == dev && host->enum_ctx && host->enum_ctx->dev == dev) address = host->enum_ctx->saved_address;
    if (address != 0) zel_bitmap_clear(host->addr_map, address);
    if (host->enum_dev == dev) {
        host->enum_dev = nullptr;
        (void)zel_eda_wake(&host->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    }
    zel_heap_free(dev);
}

void zel_usbh_remove_interface(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_ifs_t *ifs) {
    if (ifs->drv) unbind(host, dev, ifs);
}

void zel_usbh_release_interfaces(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    for (uint8_t i = 0; dev->ifs && i < dev->ifs_count; i++) {
        zel_usbh_ifs_t *ifs = &dev->ifs[i];
        const zel_usbh_class_drv_t *drv = ifs->drv;
        void *param = ifs->param;
        ifs->drv = nullptr;
        ifs->param = nullptr;
        ifs->cur_alt = 0;
        if (drv) drv->disconnect(host, dev, param);
    }
    zel_heap_free(dev->ifs);
    dev->ifs = nullptr;
    dev->ifs_count = 0;
}

}  // extern "C"
