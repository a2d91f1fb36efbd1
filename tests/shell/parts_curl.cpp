// A test program's parts: "/bin/curl"; no USB host, no GUI.
#include "shell_harness.h"

namespace shell {

const app_parts_t program_parts = {
    .usbh_setup = nullptr,
    .lvgl_main = nullptr,
    .curl_main = curl_main,
};

}  // namespace shell
