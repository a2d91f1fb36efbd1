/* Host USB: the one way the system reaches a USB device of the host.
 *
 * Two back ends sit behind these calls: libusb-1.0 (real devices) and the
 * simulated adapter (source/host/sim, zel_host_usb_sim.h), which only the
 * programs that link it have: they hand it to this layer before the kernel
 * boots (zel_host_usb_sim_offer). The back end is chosen once, at the first
 * call, from the environment variable ZEL_USB ("libusb" or "sim"; libusb when
 * unset, and when unknown or "sim" in a program without the simulated
 * adapter, with a line on stderr that says so); zel_host_usb_use switches it
 * while no device is open.
 *
 * Every call here is a plain host call. The transfer calls block the calling
 * host thread up to their timeout; none of them touches framework state, so
 * they may be made from any host thread, but not from the kernel's and not
 * inside an emulated interrupt: a simulated disk answers through the kernel,
 * and a close waits for the transfers in flight. Results are
 * 0 or a count on success and a negative code of the host port
 * (zel_host_err.h, named ZEL_HOST_USB_E* here) on failure;
 * zel_host_usb_strerror gives the code's text.

 *
 * An open device is named by a handle: a number that stays harmless after
 * zel_host_usb_close (a stale handle answers ZEL_HOST_USB_ENODEV), so a
 * thread that still holds it while another closes the device gets an error,
 * never freed memory. Closing waits for the transfers in flight on the
 * handle; they end with ZEL_HOST_USB_ENODEV at once.
 *
 * Interfaces are addressed by index: 0 is the device's first interface, 1 to
 * 7 are the interfaces that follow it in the active configuration (the
 * associated interfaces). Open claims every interface it finds, up to 8.
 * SET_CONFIGURATION, CLEAR_FEATURE(ENDPOINT_HALT) and SET_INTERFACE sent
 * with zel_host_usb_control go through the host's own calls for them, so
 * that its view of the device follows; over libusb a SET_CONFIGURATION
 * releases the interfaces and claims those of the configuration again.
 */
#ifndef ZEL_HOST_USB_H
#define ZEL_HOST_USB_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "zel_host_err.h"
#include "zel_usb_wire.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes: the host port's (zel_host_err.h) ---- */
#define ZEL_HOST_USB_OK ZEL_HOST_OK
#define ZEL_HOST_USB_ENOENT ZEL_HOST_ENOENT /* no such interface, alternate setting or pipe */
#define ZEL_HOST_USB_EIO ZEL_HOST_EIO       /* transfer or host failure */
#define ZEL_HOST_USB_ENOMEM ZEL_HOST_ENOMEM
#define ZEL_HOST_USB_EACCES ZEL_HOST_EACCES       /* the host refuses access */
#define ZEL_HOST_USB_EBUSY ZEL_HOST_EBUSY         /* claimed by another driver or program */
#define ZEL_HOST_USB_ENODEV ZEL_HOST_ENODEV       /* no such device, unplugged, or handle closed */
#define ZEL_HOST_USB_EINVAL ZEL_HOST_EINVAL       /* bad argument */
#define ZEL_HOST_USB_EPIPE ZEL_HOST_EPIPE         /* endpoint stalled (or request refused on endpoint 0) */
#define ZEL_HOST_USB_EOVERFLOW ZEL_HOST_EOVERFLOW /* the device sent more than asked */
#define ZEL_HOST_USB_ENOTSUP ZEL_HOST_ENOTSUP     /* not supported by the back end */
#define ZEL_HOST_USB_ETIMEDOUT ZEL_HOST_ETIMEDOUT

/* Text of a result code; never null. */
const char *zel_host_usb_strerror(int code);

/* ---- back end ---- */
typedef enum zel_host_usb_kind { ZEL_HOST_USB_LIBUSB = 1, ZEL_HOST_USB_SIM = 2 } zel_host_usb_kind_t;

/* The back end in use (chosen from ZEL_USB at the first call). */
zel_host_usb_kind_t zel_host_usb_kind(void);
/* Switches the back end: 0, ZEL_HOST_USB_EBUSY while a device is open or
 * notifications run, ZEL_HOST_USB_EINVAL for an unknown kind,
 * ZEL_HOST_USB_ENOTSUP for the simulated adapter in a program without it. */
[[nodiscard]] int zel_host_usb_use(zel_host_usb_kind_t kind);

/* Plugs the device the environment asks for: the simulated adapter over the
 * disk image ZEL_USB_SIM_DISK names (zel_host_usb_sim_plug_from_env). The
 * application calls it at each start, before the USB host looks for devices.
 * 1 when plugged, 0 when nothing was asked for, or a negative code; each
 * refusal with a line on stderr, also in a program without the simulated
 * adapter. */
int zel_host_usb_plug_from_env(void);

/* ---- device search ---- */
#define ZEL_HOST_USB_PATH_MAX 96

/* A device path names one device of the host for zel_host_usb_open. It
 * always contains "vid_%04x" and "pid_%04x" (lower-case hex), e.g.
 * "libusb:vid_abcd&pid_0001&bus_3&port_1.2" or "sim:vid_abcd&pid_0001&slot_0". */

/* Who holds the device. */
typedef enum zel_host_usb_driver {
    ZEL_HOST_USB_DRIVER_OURS = 0,   /* open works: no kernel driver in the way */
    ZEL_HOST_USB_DRIVER_KERNEL = 1, /* a kernel driver is bound to an interface */
    ZEL_HOST_USB_DRIVER_UNKNOWN = 2 /* the host cannot tell */
} zel_host_usb_driver_t;

typedef struct zel_host_usb_found {
    uint16_t vid;
    uint16_t pid;
    uint8_t driver;       /* zel_host_usb_driver_t */
    uint8_t speed;        /* zel_host_usb_speed_t */
    char driver_name[32]; /* the kernel driver's name, "" when none or unknown */
    char path[ZEL_HOST_USB_PATH_MAX];
} zel_host_usb_found_t;

/* Fills `out` with up to `max` devices of vendor `vid` and product `pid`
 * (pid 0: any product), in the host's order; answers how many matched (may
 * exceed `max`) or a negative code. 0 when none is attached. */
[[nodiscard]] int zel_host_usb_find(uint16_t vid, uint16_t pid, zel_host_usb_found_t *out, int max);

/* ---- driver installation ----
 * "Installing" gives the device to this layer: libusb detaches the kernel
 * drivers of its interfaces; the simulated adapter flips its flag. */

/* The first device of the ids (pid 0: any) that needs an installation: whose
 * driver is not ZEL_HOST_USB_DRIVER_OURS, or any such device when `force`.
 * 1 with `out` filled, 0 when none, or a negative code. */
[[nodiscard]] int zel_host_usb_driver_find(uint16_t vid, uint16_t pid, bool force, zel_host_usb_found_t *out);
/* Installs for the device at `path`. Answers 0 on success or a negative
 * code; `text` (when not null) receives the result's text, like "Success". */
[[nodiscard]] int zel_host_usb_driver_install(const char *path, char *text, size_t text_size);

/* ---- open device ---- */
typedef uint32_t zel_host_usb_handle_t; /* 0 is never a handle; always below 2^31 */

/* Opens the device at `path` and claims its interfaces. 0 with `*out` set, or
 * ZEL_HOST_USB_ENODEV (gone), ZEL_HOST_USB_EBUSY (a kernel driver holds it:
 * install first), ZEL_HOST_USB_EACCES, ZEL_HOST_USB_ENOMEM, ... */
[[nodiscard]] int zel_host_usb_open(const char *path, zel_host_usb_handle_t *out);
/* Releases the interfaces and the handle; transfers in flight end with
 * ZEL_HOST_USB_ENODEV before it returns. A stale handle is ignored. */
void zel_host_usb_close(zel_host_usb_handle_t handle);

/* Speeds, numbered as the device-speed query of the host-controller
 * driver expects them. */
typedef enum zel_host_usb_speed {
    ZEL_HOST_USB_SPEED_UNKNOWN = 0,
    ZEL_HOST_USB_SPEED_LOW = 1,
    ZEL_HOST_USB_SPEED_FULL = 2,
    ZEL_HOST_USB_SPEED_HIGH = 3,
    ZEL_HOST_USB_SPEED_SUPER = 4
} zel_host_usb_speed_t;

/* The device's speed, and the presence test: a negative code
 * (ZEL_HOST_USB_ENODEV) once the device has gone. */
[[nodiscard]] int zel_host_usb_speed(zel_host_usb_handle_t handle);

/* Number of interfaces claimed (1 to 8; fewer after a SET_CONFIGURATION
 * whose interfaces could not all be claimed again), or a negative code. */
[[nodiscard]] int zel_host_usb_interface_count(zel_host_usb_handle_t handle);

/* The standard interface descriptor, as on the wire (9 bytes). */
typedef zel_usb_interface_desc_t zel_host_usb_interface_desc_t;

/* Pipe types: the transfer type bits of bmAttributes. */
enum {
    ZEL_HOST_USB_PIPE_CONTROL = 0,
    ZEL_HOST_USB_PIPE_ISOCHRONOUS = 1,
    ZEL_HOST_USB_PIPE_BULK = 2,
    ZEL_HOST_USB_PIPE_INTERRUPT = 3
};

typedef struct zel_host_usb_pipe_info {
    uint8_t type;        /* ZEL_HOST_USB_PIPE_* */
    uint8_t id;          /* endpoint address: number | 0x80 for IN */
    uint16_t max_packet; /* wMaxPacketSize */
    uint8_t interval;    /* bInterval */
} zel_host_usb_pipe_info_t;

/* The descriptor of alternate setting `alt` of interface `index`:
 * 0 or ZEL_HOST_USB_ENOENT. */
[[nodiscard]] int zel_host_usb_query_interface(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t alt, zel_host_usb_interface_desc_t *out);
/* Pipe `pipe` (0 .. bNumEndpoints - 1) of that setting: 0 or ZEL_HOST_USB_ENOENT. */
[[nodiscard]] int zel_host_usb_query_pipe(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t alt, uint8_t pipe, zel_host_usb_pipe_info_t *out);

/* ---- transfers ----
 * timeout_ms 0 waits without limit (until done, unplugged or closed); a
 * control request over libusb then gives up after 5 s, as a request on
 * endpoint 0 that takes longer means a broken device. */

/* The setup packet, as on the wire (8 bytes, little-endian fields). */
typedef zel_usb_setup_t zel_host_usb_setup_t;

/* A request on endpoint 0; the data stage (wLength bytes, direction from
 * bmRequestType bit 7) uses `data`. Answers the bytes of the data stage. */
[[nodiscard]] int zel_host_usb_control(
    zel_host_usb_handle_t handle, const zel_host_usb_setup_t *setup, void *data, uint32_t timeout_ms);
/* Bulk or interrupt transfer on `endpoint` (address; IN has bit 7) of
 * interface `index`. Answers the bytes moved; a read may end short. A
 * stalled endpoint answers ZEL_HOST_USB_EPIPE until zel_host_usb_reset_pipe. */
[[nodiscard]] int zel_host_usb_read_pipe(
    zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint, void *buffer, uint32_t length, uint32_t timeout_ms);
[[nodiscard]] int zel_host_usb_write_pipe(zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint,
    const void *buffer, uint32_t length, uint32_t timeout_ms);
/* CLEAR_FEATURE(ENDPOINT_HALT) on `endpoint` and reset of the host's side of
 * the pipe (data toggle). */
[[nodiscard]] int zel_host_usb_reset_pipe(zel_host_usb_handle_t handle, uint8_t index, uint8_t endpoint);
/* SET_INTERFACE: alternate setting `alt` for interface `index`. */
[[nodiscard]] int zel_host_usb_set_alt(zel_host_usb_handle_t handle, uint8_t index, uint8_t alt);

/* ---- device-change notification ----
 * A host thread of this layer ("host_usb_notify") calls every registered hook
 * once per plug or unplug of any device the back end sees (a burst may
 * collapse into fewer calls; never none after a change). Hooks run on that
 * thread, one at a time, and must not block; a hook that wants the kernel
 * enters it as an emulated interrupt. The thread runs while at least one
 * hook is registered. */
typedef void (*zel_host_usb_notify_hook_t)(void *arg);

#define ZEL_HOST_USB_NOTIFY_MAX 8

/* Registers a hook: a positive id, or ZEL_HOST_USB_ENOMEM (all slots taken,
 * or the thread cannot start). */
[[nodiscard]] int zel_host_usb_notify_register(zel_host_usb_notify_hook_t hook, void *arg);
/* Removes the hook; once this returns the hook is not running and will not
 * be called again. Not from inside a hook. */
void zel_host_usb_notify_unregister(int id);

#ifdef __cplusplus
}
#endif

#endif
