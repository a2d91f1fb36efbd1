// A test program's parts: the GUI's "/bin/lvgl"; no USB host, no curl.
#include "shell_harness.h"

namespace shell {

const app_parts_t program_parts = {
    .usbh_setup = nullptr,
    .lvgl_main = lvgl_main,
    .curl_main = nullptr,
};

}  // namespace shell
