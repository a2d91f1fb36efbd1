// The process entry: the product's parts are handed to the start-up, then
// the kernel takes over the first host thread for good.
#include "app_main.h"
#include "app_parts.h"
#include "zel_kernel.h"

namespace {

// The product has every part: the USB host, the GUI and curl.
constexpr app_parts_t kProductParts = {
    .usbh_setup = app_usbh_setup,
    .lvgl_main = lvgl_main,
    .curl_main = curl_main,
};

}  // namespace

int main() {
    app_use_parts(&kProductParts);
    zel_kernel_main();
}
