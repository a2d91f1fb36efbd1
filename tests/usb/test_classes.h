// Class drivers for the core's tests: each records its probes and
// disconnects in the hook event log and accepts or refuses as told.
#ifndef TEST_CLASSES_H
#define TEST_CLASSES_H

#include <string>
#include <vector>

#include "usb_hooks.h"
#include "zel_usbh_class.h"
#include "zel_usbh_enum.h"

namespace usb_test {

struct TestClass {
    zel_usbh_class_drv_t drv{};
    zel_usbh_class_node_t node{};
    std::vector<zel_usbh_dev_id_t> ids;
    bool accept = true;
    bool skip_set_config = false;  // asks the enumerator to leave the configuration alone
    int param = 0;                 // what the probe returns points here
};

// Class slot n (0 to 3), set up with a name and ids; register it yourself.
TestClass &test_class(int n, const char *name, std::vector<zel_usbh_dev_id_t> ids);

inline zel_usbh_dev_id_t match_ifs(uint8_t cls, uint8_t sub, uint8_t proto) {
    return {ZEL_USBH_MATCH_IFS_CLASS | ZEL_USBH_MATCH_IFS_SUBCLASS | ZEL_USBH_MATCH_IFS_PROTOCOL, 0, 0, 0, 0, 0, 0, 0,
        cls, sub, proto};
}
inline zel_usbh_dev_id_t match_ids(uint16_t vid, uint16_t pid) {
    return {ZEL_USBH_MATCH_VENDOR | ZEL_USBH_MATCH_PRODUCT, vid, pid, 0, 0, 0, 0, 0, 0, 0, 0};
}

}  // namespace usb_test

#endif
