// The GUI's unit tests link no account screen: its main-screen button does
// nothing here, as the other job buttons (fake_system.cpp).
#include "app_screens.h"

extern "C" void config_screen_create(lv_obj_t *, lv_event_t) {}
