/* What the descriptor half of the libusb-style API (built against the
 * layer's own C library headers) asks of the device records: the pipes of
 * the endpoint slots, set from a configuration's endpoint descriptors.
 * Plain C. */
#ifndef ZEL_LINUX_LIBUSB_SLOTS_H
#define ZEL_LINUX_LIBUSB_SLOTS_H

#include <stdint.h>

#include "zel_libusb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Clears the pipes of endpoint slots first to last of both directions. */
void zel_linux_libusb_clear_slots(libusb_device *device, int first, int last);
/* Sets the slot of an endpoint descriptor (7 bytes or more) to its pipe. */
void zel_linux_libusb_set_slot(libusb_device *device, const uint8_t *endpoint_desc);

#ifdef __cplusplus
}
#endif

#endif
