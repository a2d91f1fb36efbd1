// Placeholder application entry, run by the kernel's first thread.
#include "zel_kernel.h"

int app_main(void) {
    zel_trace(2, "start linux...\r\n");
    // Idle: the application (Linux layer, GUI, USB) is not built yet.
    for (;;) zel_thread_wait();
    return 0;
}
