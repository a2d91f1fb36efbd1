// The program's USB host: zel_usbh over winusb_hcd, and its set-up with the
// table of its class drivers.
#include "zel_usbh.h"
#include "zel_usbh_hid.h"
#include "zel_usbh_libusb.h"
#include "zel_usbh_msc.h"
#include "zel_winusb_hcd.h"

extern "C" {

static const zel_usbh_hcd_param_t hcd_param = {0};

zel_usbh_t zel_usbh = {&zel_winusb_hcd_drv, &hcd_param, {}, nullptr, nullptr, nullptr, {}};

// Registration order: the last registered is tried first, so the classes
// are tried as "xb360", "nspro", "ds4", "hid", "msc", "libusb".
static const zel_usbh_class_drv_t *const class_table[] = {&zel_usbh_libusb_class, &zel_usbh_msc_class,
    &zel_usbh_hid_class, &zel_usbh_ds4_class, &zel_usbh_nspro_class, &zel_usbh_xb360_class};
static constexpr size_t class_count = sizeof class_table / sizeof class_table[0];

int app_usbh_setup(void) {
    static zel_usbh_class_node_t nodes[class_count];
    (void)zel_usbh_init(&zel_usbh);  // fails only without event nodes, not at start-up
    for (size_t i = 0; i < class_count; i++) {
        nodes[i].drv = class_table[i];
        zel_usbh_register_class(&zel_usbh, &nodes[i]);
    }
    return 0;
}

}  // extern "C"
