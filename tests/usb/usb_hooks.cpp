// Test versions of the application's hooks.
#include "usb_hooks.h"

#include <atomic>

namespace usb_test {

namespace {
std::atomic<struct zel_scsi *> g_disk{nullptr};
std::atomic<void (*)(struct zel_scsi *)> g_connect_fn{nullptr};
}  // namespace

EventLog &events() {
    static EventLog log;
    return log;
}

struct zel_scsi *connected_disk() {
    return g_disk.load();
}
void on_disk_connect(void (*fn)(struct zel_scsi *)) { g_connect_fn.store(fn); }

}  // namespace usb_test

using usb_test::events;

extern "C" {

void on_driver_install_begin(uint16_t vendor_id, uint16_t product_id) {
    char text[64];
    snprintf(text, sizeof text, "install begin %04x:%04x", vendor_id, product_id);
    events().add(text);
}

void on_driver_install_end(uint16_t vendor_id, uint16_t product_id, int result, const char *error_text) {
    char text[160];
    snprintf(text, sizeof text, "install end %04x:%04x %d %s", vendor_id, product_id, result, error_text);
    events().add(text);
}

void on_usb_interface_removed(void) { events().add("interface removed"); }

void on_msc_disk_connect(struct zel_scsi *scsi) {
    usb_test::g_disk.store(scsi);
    events().add("disk connect");
    if (auto fn = usb_test::g_connect_fn.load()) fn(scsi);
}

void on_msc_disk_disconnect(struct zel_scsi *scsi) {
    if (usb_test::g_disk.load() == scsi) usb_test::g_disk.store(nullptr);
    events().add("disk disconnect");
}

}  // extern "C"
