// The program's USB host: zel_usbh over winusb_hcd, and its set-up with the
// class drivers. Class drivers built elsewhere join when they are linked in.
#include "zel_usbh.h"
#include "zel_usbh_msc.h"
#include "zel_winusb_hcd.h"

extern "C" {

extern const zel_usbh_class_drv_t zel_usbh_libusb_class __attribute__((weak));
extern const zel_usbh_class_drv_t zel_usbh_hid_class __attribute__((weak));
extern const zel_usbh_class_drv_t zel_usbh_ds4_class __attribute__((weak));
extern const zel_usbh_class_drv_t zel_usbh_nspro_class __attribute__((weak));
extern const zel_usbh_class_drv_t zel_usbh_xb360_class __attribute__((weak));

static const zel_usbh_hcd_param_t hcd_param = {0};

zel_usbh_t zel_usbh = {&zel_winusb_hcd_drv, &hcd_param, {}, nullptr, nullptr, nullptr, {}};

// Registration order: the last registered is tried first, so the classes
// are tried as "xb360", "nspro", "ds4", "hid", "msc", "libusb".
int app_usbh_setup(void) {
    static zel_usbh_class_node_t nodes[6];
    const zel_usbh_class_drv_t *order[6] = {&zel_usbh_libusb_class, &zel_usbh_msc_class,   &zel_usbh_hid_class,
                                            &zel_usbh_ds4_class,    &zel_usbh_nspro_class, &zel_usbh_xb360_class};
    zel_usbh_init(&zel_usbh);
    for (int i = 0; i < 6; i++) {
        if (!order[i]) continue;
        nodes[i].drv = order[i];
        zel_usbh_register_class(&zel_usbh, &nodes[i]);
    }
    return 0;
}

}  // extern "C"
