// A screen the toolkit had no memory for ends the program, saying so.
#include <stdio.h>

#include "ui_build.h"
#include "zel_host.h"

extern "C" {

void ui_screen_failed(const char *screen) {
    char line[160];
    snprintf(line, sizeof line, "Trellow v1.4: %s cannot be built: not enough memory", screen);
    zel_host_ending_line(line);
    zel_host_exit(1);
}

}  // extern "C"
