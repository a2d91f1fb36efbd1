/* What the descriptor half of the libusb-style API (built against the
 * layer's own C library headers) asks of the device records: the pipes of
 * the endpoint slots, set from a configuration's endpoint descriptors.
 *
 * The slots hold the endpoints of the device's active configuration (the
 * one enumeration bound its interfaces from); reading any other
 * configuration leaves them alone. Slot 0 of each direction is the control
 * pipe, made when the device arrived, and nothing else writes it. Plain C. */
#ifndef ZEL_LINUX_LIBUSB_SLOTS_H
#define ZEL_LINUX_LIBUSB_SLOTS_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_libusb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* True when configuration `index` is the device's active one, so that its
 * endpoints go to the slots; false also for a device that has left. */
bool zel_linux_libusb_is_active_config(libusb_device *device, uint8_t index);
/* Clears the pipes of endpoint slots first to last (1 or more) of both
 * directions. */
void zel_linux_libusb_clear_slots(libusb_device *device, int first, int last);
/* Sets the slot of an endpoint descriptor (7 bytes or more) to its pipe.
 * A descriptor that names endpoint 0 is skipped, with a trace line: that
 * slot is the control pipe's. */
void zel_linux_libusb_set_slot(libusb_device *device, const uint8_t *endpoint_desc);

#ifdef __cplusplus
}
#endif

#endif
