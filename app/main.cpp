// The process entry: the product's parts are handed to the start-up (and,
// in a product built with the simulated adapter, ZEL_USB_SIM, the adapter to
// the host-USB layer), then the kernel takes over the first host thread for
// good. SIGINT, SIGTERM and SIGHUP end the program between two file
// operations (zel_host_end.h).
#include <stdio.h>

#include "app_main.h"
#include "app_parts.h"
#include "zel_host.h"
#include "zel_host_end.h"
#include "zel_kernel.h"
#if ZEL_USB_SIM
#include "zel_host_usb_sim_disk.h"
#endif

namespace {

// The GUI runs for the life of the program: when it ends, it could not
// start (no memory, no host thread), and nothing would ever show.
int gui_main(int argc, char **argv) {
    const int r = lvgl_main(argc, argv);
    char what[96];
    snprintf(what, sizeof what, "no memory or no host thread for the GUI (\"lvgl\" ended with %d)", r);
    zel_host_fail_start(what);
}

// The product has every part: the USB host, the GUI and curl.
constexpr app_parts_t kProductParts = {
    .usbh_setup = app_usbh_setup,
    .lvgl_main = gui_main,
    .curl_main = curl_main,
};

}  // namespace

int main() {
#if ZEL_USB_SIM
    zel_host_usb_sim_offer_env();
#endif
    app_use_parts(&kProductParts);
    // A signal to end waits for the file operation under way to complete.
    if (const int r = zel_host_end_watch_signals(); r != 0) zel_host_fail_start(zel_host_end_watch_failure(r));
    zel_kernel_main();
}
