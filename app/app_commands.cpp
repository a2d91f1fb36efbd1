// The init process's start-up of the application and the table of its
// commands under "/bin", in start-up order.
#include "app_commands.h"

#include "app_main.h"
#include "zel_host_usb.h"
#include "zel_linux_dev.h"
#include "zel_linux_libc.h"
#include "zel_shell.h"

// The USB host set-up, the GUI and curl: only some programs link them (the
// product all three), so they are named weakly and bound when present.
extern "C" int app_usbh_setup(void) __attribute__((weak));
extern "C" int lvgl_main(int argc, char **argv) __attribute__((weak));
extern "C" int curl_main(int argc, char **argv) __attribute__((weak));

namespace {

// usrid is built only with mbedTLS (app/account); without it its row stays
// unbound.
#if ZEL_APP_ACCOUNT_COMMANDS
constexpr app_main_t usrid_command = usrid_main;
#else
constexpr app_main_t usrid_command = nullptr;
#endif

}  // namespace

extern "C" {

const app_command_t app_command_table[] = {
    {"/bin/lvgl", lvgl_main},     {"/bin/lsusb", lsusb_main},    {"/bin/mount", mount_main},
    {"/bin/curl", curl_main},     {"/bin/usrid", usrid_command}, {"/bin/update", update_main},
    {"/bin/reset", reset_main},   {"/bin/write", write_main},    {"/bin/access", access_main},
};
const size_t app_command_count = sizeof app_command_table / sizeof app_command_table[0];

void app_install_commands(void) {
    for (size_t i = 0; i < app_command_count; ++i)
        if (app_command_table[i].main) zel_linux_install_builtin(app_command_table[i].path, app_command_table[i].main);
}

int app_create_file_hierarchy(void) {
    // The simulated adapter, when asked for, is there before the USB host
    // starts looking (at every start, so also after a restart).
    zel_host_usb_plug_from_env();
    zel_linux_create_fs_hierarchy();
    zel_linux_install_builtins();
    if (app_usbh_setup) app_usbh_setup();
    zel_linux_libusb_startup();
    zel_linux_mkdir("/scsi", 0);
    app_install_commands();
    return 0;
}

}  // extern "C"
