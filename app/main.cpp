// The process entry: the kernel takes over the first host thread for good.
// A product built with the simulated adapter (ZEL_USB_SIM) hands it to the
// host-USB layer first.
#include "zel_kernel.h"
#if ZEL_USB_SIM
#include "zel_host_usb_sim_disk.h"
#endif

int main() {
#if ZEL_USB_SIM
    zel_host_usb_sim_offer_env();
#endif
    zel_kernel_main();
}
