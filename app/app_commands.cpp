// The init process's start-up of the application and the table of its
// commands under "/bin", in start-up order.
#include "app_commands.h"

#include <string.h>

#include <atomic>

#include "app_main.h"
#include "app_parts.h"
#include "trust_store.h"
#include "zel_host_usb.h"
#include "zel_kernel.h"
#include "zel_linux_dev.h"
#include "zel_linux_libc.h"
#include "zel_shell.h"

namespace {

// The start-up script's line that starts the GUI.
constexpr const char *kGuiStartLine = "lvgl &";

// The program's parts, handed over before the layer starts.
std::atomic<const app_parts_t *> g_parts{nullptr};

// Binds every command of the table whose main the program has, in order.
void install_commands(const app_parts_t *parts) {
    const app_command_t table[] = {
        {"/bin/lvgl", parts->lvgl_main},
        {"/bin/lsusb", lsusb_main},
        {"/bin/mount", mount_main},
        {"/bin/curl", parts->curl_main},
        {"/bin/usrid", usrid_main},
        {"/bin/update", update_main},
        {"/bin/reset", reset_main},
        {"/bin/write", write_main},
        {"/bin/access", access_main},
    };
    for (const app_command_t &command : table)
        // A command that cannot be installed is missing from /bin; start-up goes on.
        if (command.main) (void)zel_linux_install_builtin(command.path, command.main);
}

}  // namespace

extern "C" {

void app_use_parts(const app_parts_t *parts) { g_parts.store(parts, std::memory_order_release); }

int app_create_file_hierarchy(void) {
    const app_parts_t *parts = g_parts.load(std::memory_order_acquire);
    if (!parts) {
        zel_trace(1, "no application parts handed over\r\n");
        return -1;
    }
    // The simulated adapter, when asked for, is there before the USB host
    // starts looking (at every start, so also after a restart).
    zel_host_usb_plug_from_env();
    (void)zel_linux_create_fs_hierarchy();  // prints what it could not make; the rest of the tree still comes
    // Stops at the first built-in that cannot be installed; start-up goes on.
    (void)zel_linux_install_builtins();
    if (parts->usbh_setup) parts->usbh_setup();
    zel_linux_libusb_startup();
    zel_linux_mkdir("/scsi", 0);
    // Where curl finds the certificates it trusts; without them it trusts
    // none (traced).
    if (parts->curl_main) (void)app_mount_trust_store();
    install_commands(parts);
    return 0;
}

void app_start_line_failed(const char *line, int) {
    // A program with a GUI is its GUI: without it nothing would ever show.
    const app_parts_t *parts = g_parts.load(std::memory_order_acquire);
    if (parts && parts->lvgl_main && strcmp(line, kGuiStartLine) == 0)
        zel_host_fail_start("no memory or no host thread for the GUI (\"lvgl\")");
}

}  // extern "C"
