// A GUI port for checks of the real window: the toolkit on the system's
// display and input notifier, as the product's GUI process sets it up.
//
// The toolkit's tick is the system timer in milliseconds and its memory the
// framework heap. A flush hands the area to zel_disp_refresh; the display's
// ready report (from the window thread, inside an emulated interrupt) marks
// the flush done and wakes the thread waiting for the draw buffer. The
// pointer reads the last left-button event of the notifier.
//
// start() runs on a host thread; everything else on a framework thread.
#ifndef GUI_PORT_H
#define GUI_PORT_H

#include "lvgl.h"

namespace gui_port {

// Boots the kernel, starts the system's display and listens to the left
// button (once per process). False when the display did not report ready.
bool start();

// Hands a registered display's flushes to the system's display, and lets go
// of it (after its last flush is done) before the display is deleted.
void bind(lv_disp_t *disp);
void unbind(lv_disp_t *disp);

// Display driver callbacks: the flush and the wait for the draw buffer.
void flush(lv_disp_drv_t *drv, const lv_area_t *area, lv_color_t *px);
void wait(lv_disp_drv_t *drv);

// Pointer read callback: the last left-button event of the window.
bool pointer_read(lv_indev_drv_t *drv, lv_indev_data_t *data);

// Blocks currently taken from the framework heap through the toolkit.
long live_blocks();

// Sleeps the calling framework thread.
void sleep_ms(uint32_t ms);

}  // namespace gui_port

#endif
