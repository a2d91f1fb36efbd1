// Hooks of the driver installer and the USB host core, and the restart.
#include <string.h>

#include "app_commands.h"
#include "app_main.h"
#include "zel_host_end.h"
#include "zel_thread.h"
#include "zel_timer.h"

extern "C" {

volatile uint8_t driver_installing;
volatile uint8_t restart_needed;
char driver_error_text[APP_DRIVER_ERROR_TEXT];

namespace {

bool is_adapter(uint16_t vendor_id, uint16_t product_id) {
    return vendor_id == APP_ADAPTER_VID && product_id == APP_ADAPTER_PID;
}

}  // namespace

void on_driver_install_begin(uint16_t vendor_id, uint16_t product_id) {
    if (is_adapter(vendor_id, product_id)) driver_installing = 1;
}

void on_driver_install_end(uint16_t vendor_id, uint16_t product_id, int result, const char *error_text) {
    if (!is_adapter(vendor_id, product_id)) return;
    if (result == 0) {
        restart_needed = 1;
        return;
    }
    restart_needed = 0;
    size_t n = error_text ? strnlen(error_text, APP_DRIVER_ERROR_TEXT - 1) : 0;
    memcpy(driver_error_text, error_text ? error_text : "", n);
    driver_error_text[n] = '\0';
}

// A copy running meanwhile (in the background, or the GUI's) is not cut by
// the restart: it stops before its next block, or at the first block the
// gone adapter refuses, names the file it leaves incomplete and closes it,
// and its release restarts the program (zel_host_end_restart). Until then
// the removal goes on as any other (the class's disconnect). With no copy
// running the program restarts here and now.
void on_usb_interface_removed(void) { zel_host_end_restart(); }

// As above: the restart waits for a running copy, whose last release
// restarts the program. Meanwhile this command does not return: the shell
// reads no further line in this image.
int reset_main(int, char **) {
    zel_host_end_restart();
    for (;;) (void)zel_thread_delay(zel_timer_ms_to_tick(1000));
}

}  // extern "C"
