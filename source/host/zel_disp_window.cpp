// The framebuffer lock shared by the display driver and its window back ends.
#include "zel_disp_window.h"

#include <pthread.h>

namespace {

// Plain static storage without a destructor: the window thread may still run
// while the process exits.
pthread_mutex_t g_frame_lock = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

extern "C" {

void zel_disp_window_lock_frame(void) { pthread_mutex_lock(&g_frame_lock); }
void zel_disp_window_unlock_frame(void) { pthread_mutex_unlock(&g_frame_lock); }

}  // extern "C"
