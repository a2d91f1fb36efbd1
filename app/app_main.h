/* The application's entry points into the system, its hooks and its state.
 *
 * Start-up: the kernel's first thread runs app_main, which brings up the
 * console streams and the trace ("start linux...") and starts the layer;
 * the layer's init process then calls app_create_file_hierarchy, which
 * builds, in this order, the directory tree and device files, the built-in
 * commands, the USB host and its class drivers (the program's usbh_setup,
 * app_usbh_setup in the product), the libusb layer, "/scsi", and the
 * application's commands (app_commands); when it answers 0 the init process
 * runs "/bin/init". It reads the program's parts (app_parts.h), which the
 * program hands over before the layer starts.
 *
 * The console: input is a ring stream that nothing feeds in the product;
 * output (and the trace) is a debug stream that keeps nothing. A test
 * console may hand its own output stream in before the kernel starts and
 * feed app_console_input() from a host thread.
 *
 * Pieces that only some programs link (the USB host set-up, the GUI's and
 * curl's commands) are the program's parts (app_parts.h). The libusb layer
 * is linked in every program. */
#ifndef APP_MAIN_H
#define APP_MAIN_H

#include <stdint.h>

#include "zel_stream.h"

extern "C" {

int app_main(void);
int app_create_file_hierarchy(void);

/* The console input stream (a ring stream, live once app_main has run). */
zel_stream_t *app_console_input(void);
/* Before the kernel starts: console output and the trace go to `out`, and
 * the input stream counts as connected to a writer (the caller's feeder). */
void app_console_use_output(zel_stream_t *out);
/* Before the kernel starts, after app_console_use_output: the trace goes to
 * `trace` instead, so that the console's text holds only what the console's
 * programs write. */
void app_console_use_trace(zel_stream_t *trace);

/* The USB host with its class drivers (a program's part), and the libusb
 * layer: provided by the USB part (zel_usb, zel_usb_libusb). */
int app_usbh_setup(void);
int zel_linux_libusb_startup(void);

/* ---- driver installation state, read by the adapter poll ---- */
inline constexpr uint16_t APP_ADAPTER_VID = 0xABCD;
inline constexpr uint16_t APP_ADAPTER_PID = 0x0000;
inline constexpr uint32_t APP_DRIVER_ERROR_TEXT = 512;

extern volatile uint8_t driver_installing;
extern volatile uint8_t restart_needed;
extern char driver_error_text[APP_DRIVER_ERROR_TEXT];

/* Hooks of the WinUSB driver installer and the USB host core. */
void on_driver_install_begin(uint16_t vendor_id, uint16_t product_id);
void on_driver_install_end(uint16_t vendor_id, uint16_t product_id, int result, const char *error_text);
/* Restarts the program in place (zel_host_end_restart): at once, or, while a
 * copy holds the end off, once it has stopped and closed its file; returns
 * in that case, and the removal goes on. */
void on_usb_interface_removed(void);

}  // extern "C"

#endif
