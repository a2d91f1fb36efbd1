/* The parts of the application that a program links or leaves out, named
 * by the program itself in a const record.
 *
 * Every program that boots the application hands its record to
 * app_use_parts before the layer starts (before zel_kernel_main, or in a
 * test program before its init process runs): build/trellow in
 * app/main.cpp, zel-console in its main, and the test programs and
 * benchmarks that boot the init process through the shell harness, which
 * hands the record of tests/shell/parts_*.cpp that the program links. The
 * start-up (app_create_file_hierarchy) reads it in the init process; when no
 * record was handed over it traces the fault and fails, so that the init
 * process runs nothing.
 *
 * A null member is a part the program does not have: no USB host is set up,
 * "/bin/lvgl" or "/bin/curl" stays unbound (the shell then answers as for
 * any unknown command).
 *
 * This header is plain C. */
#ifndef APP_PARTS_H
#define APP_PARTS_H

#include "app_commands.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct app_parts {
    /* The USB host with its class drivers (app_usbh_setup of zel_usb),
     * called before the libusb layer starts. */
    int (*usbh_setup)(void);
    /* "/bin/lvgl": the GUI (lvgl_main of app/gui). */
    app_main_t lvgl_main;
    /* "/bin/curl": the curl tool (curl_main of zel_linux_curl). */
    app_main_t curl_main;
} app_parts_t;

/* Hands the program's parts to the start-up; `parts` must stay valid for
 * the life of the process (a const record with static storage). */
void app_use_parts(const app_parts_t *parts);

#ifdef __cplusplus
}
#endif

#endif
