// main() of the test binaries. The simulated adapter is the tests' USB
// device, so the host-USB layer gets it before anything runs. The kernel's
// host threads never end, so the process must not run its exit-time
// destructors under them: after the tests (and, in sanitizer builds, the leak
// check) it ends with _Exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "zel_host_usb_sim.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

// libdbus, which SDL loads once a display is named (DISPLAY set), keeps a
// buffer of its own to the end of the process, and so do Xlib and SDL for a
// display a test opens itself: not ours to free.
extern "C" const char *__lsan_default_suppressions() { return "leak:libdbus-1.so\nleak:libX11\nleak:libSDL2\n"; }
#endif

int main(int argc, char **argv) {
    zel_host_usb_sim_offer();
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() && result == 0) result = 23;
#endif
    std::fflush(nullptr);
    std::_Exit(result);
}
