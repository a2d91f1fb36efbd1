// The display front end: what the GUI calls, whatever driver serves the display.
#include "zel_disp.h"

extern "C" {

int zel_disp_init(zel_disp_t *disp) {
    if (disp->op && disp->op->init) return disp->op->init(disp);
    if (disp->ready) disp->ready(disp);
    return 0;
}

int zel_disp_refresh(zel_disp_t *disp, const zel_disp_area_t *area, const void *pixels) {
    zel_disp_area_t whole = {0, 0, disp->width, disp->height};
    return disp->op->refresh(disp, area ? area : &whole, pixels);
}

}  // extern "C"
