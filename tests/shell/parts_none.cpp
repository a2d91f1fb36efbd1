// A test program's parts: no USB host, no GUI, no curl.
#include "shell_harness.h"

namespace shell {

const app_parts_t program_parts = {
    .usbh_setup = nullptr,
    .lvgl_main = nullptr,
    .curl_main = nullptr,
};

}  // namespace shell
