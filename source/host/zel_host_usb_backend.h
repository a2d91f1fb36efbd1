/* Host USB: the table each back end fills, and what the front end offers the
 * back ends. Only the files of the host-USB layer include this.
 *
 * The front end (zel_host_usb.cpp) owns handles, the count of transfers in
 * flight and the notification thread; a back end only knows its own device
 * objects. Every slot but find, install, open and the notify pair takes the
 * back end's device object. The front end calls cancel once, when a close
 * starts: from then on every transfer of that object must end with
 * ZEL_HOST_USB_ENODEV without waiting; close follows once none is left in
 * flight. */
#ifndef ZEL_HOST_USB_BACKEND_H
#define ZEL_HOST_USB_BACKEND_H

#include "zel_host_usb.h"

typedef struct zel_host_usb_backend {
    const char *name;
    int (*find)(uint16_t vid, uint16_t pid, zel_host_usb_found_t *out, int max);
    int (*install)(const char *path, char *text, size_t text_size);
    int (*open)(const char *path, void **device);
    void (*cancel)(void *device);
    void (*close)(void *device);
    int (*speed)(void *device);
    int (*interface_count)(void *device);
    int (*query_interface)(void *device, uint8_t index, uint8_t alt, zel_host_usb_interface_desc_t *out);
    int (*query_pipe)(void *device, uint8_t index, uint8_t alt, uint8_t pipe, zel_host_usb_pipe_info_t *out);
    int (*control)(void *device, const zel_host_usb_setup_t *setup, void *data, uint32_t timeout_ms);
    /* Direction from bit 7 of `endpoint`. */
    int (*transfer)(void *device, uint8_t index, uint8_t endpoint, void *buffer, uint32_t length, uint32_t timeout_ms);
    int (*reset_pipe)(void *device, uint8_t index, uint8_t endpoint);
    int (*set_alt)(void *device, uint8_t index, uint8_t alt);
    /* Starts watching for device changes: the back end calls
     * zel_host_usb_changed on every plug and unplug until notify_stop.
     * 0 or a negative code. */
    int (*notify_start)(void);
    void (*notify_stop)(void);
} zel_host_usb_backend_t;

extern const zel_host_usb_backend_t zel_host_usb_libusb_backend;

/* The simulated adapter (source/host/sim) as a program that links it hands it
 * to the front end; the front end never names it otherwise. */
typedef struct zel_host_usb_simulator {
    const zel_host_usb_backend_t *backend;
    /* Plugs the adapter the environment asks for (zel_host_usb_plug_from_env);
     * null where the program plugs its devices itself. */
    int (*plug_from_env)(void);
} zel_host_usb_simulator_t;

/* Offers the simulated adapter: from then on ZEL_USB=sim and
 * zel_host_usb_use(ZEL_HOST_USB_SIM) choose its back end. Called before the
 * first use of the layer (zel_host_usb_sim_offer and
 * zel_host_usb_sim_offer_env do it). */
void zel_host_usb_offer_sim(const zel_host_usb_simulator_t *sim);

/* A device came or went: wakes the notification thread. Any thread. */
void zel_host_usb_changed(void);

/* Copies `text` into `out` (size `size`, always terminated when size > 0). */
void zel_host_usb_copy_text(char *out, size_t size, const char *text);

/* Fills the path "<prefix>:vid_%04x&pid_%04x&<rest>". */
void zel_host_usb_format_path(char *out, const char *prefix, uint16_t vid, uint16_t pid, const char *rest);

/* Walks a configuration descriptor (`length` bytes): interface `index` is
 * the index-th distinct bInterfaceNumber in order of appearance. Finds the
 * interface descriptor of (index, alt) and, with `pipe` below its
 * bNumEndpoints, that endpoint descriptor. Answers a pointer to the interface
 * descriptor (and `*endpoint` to the endpoint's, or null) or null. Used by
 * back ends that hold raw descriptors. */
const uint8_t *zel_host_usb_find_interface(
    const uint8_t *config, uint32_t length, uint8_t index, uint8_t alt, int pipe, const uint8_t **endpoint);
/* Number of distinct interfaces in a configuration descriptor. */
int zel_host_usb_count_interfaces(const uint8_t *config, uint32_t length);

#endif
