/* The libusb-style API's device records and its layer state, on the
 * kernel's side: the "libusb" class callback queues attaches and detaches,
 * the watcher thread turns them into the device list, and an event
 * descriptor with its event thread stands ready for asynchronous transfers
 * (nothing in the system submits one).
 *
 * The class callback runs in a class driver's agent, the watcher and event
 * threads are pthreads of the layer, callers run on their own threads; they
 * meet only through the queues and the two semaphores, in the single
 * framework context, so nothing else locks.
 *
 * A device that leaves is marked detached at once, so that no request
 * reaches its class record's freed USB device. It is released when its last
 * hold goes: the layer's own (dropped when the watcher has handled the
 * departure), device lists, open handles, callers' references, a control
 * transfer under way and each pending asynchronous transfer. */
#ifndef ZEL_LINUX_LIBUSB_H
#define ZEL_LINUX_LIBUSB_H

#include "zel_libusb.h"
#include "zel_linux_fd.h"
#include "zel_linux_libc.h"
#include "zel_sync.h"
#include "zel_usbh_libusb.h"

extern "C" {

#define ZEL_LINUX_LIBUSB_EP_SLOTS 16

/* An endpoint slot, indexed by endpoint number: its pipe first. */
typedef struct zel_linux_libusb_ep {
    zel_usbh_pipe_t pipe;
    uint8_t spare[12];
} zel_linux_libusb_ep_t;

/* The device as programs see it; a handle is the device itself. */
struct zel_linux_libusb_dev {
    zel_dlist_node_t node;         /* attach queue, device list or detach queue */
    zel_usbh_libusb_dev_t *record; /* the class driver's record */
    uint16_t pending;              /* asynchronous transfers */
    uint8_t attach_pending;        /* queued, not yet listed */
    uint8_t detached;
    uint32_t refs;                                       /* holds; the last one releases the device */
    zel_sync_t control_lock;                             /* 1 / 1: one control transfer at a time */
    zel_linux_libusb_ep_t in[ZEL_LINUX_LIBUSB_EP_SLOTS]; /* slot 0: the control pipe */
    zel_linux_libusb_ep_t out[ZEL_LINUX_LIBUSB_EP_SLOTS];
};

enum { ZEL_LINUX_LIBUSB_HOTPLUG_ARRIVED = 2, ZEL_LINUX_LIBUSB_HOTPLUG_LEFT = 4, ZEL_LINUX_LIBUSB_ANY = -1 };

typedef struct zel_linux_libusb_hotplug {
    struct zel_linux_libusb_hotplug *next;
    libusb_context *context;
    int events; /* mask of 2 arrived and 4 left */
    int (*callback)(libusb_context *context, libusb_device *device, int event, void *user_data);
    int vendor_id; /* -1 for any */
    int product_id;
    int device_class;
    void *user_data;
} zel_linux_libusb_hotplug_t;

/* A finished asynchronous transfer on the completion queue; its device is
 * held (and its pending count raised) while the transfer is pending. */
typedef struct zel_linux_libusb_xfer {
    zel_dlist_node_t node;
    libusb_device *device;
    void (*callback)(struct zel_linux_libusb_xfer *xfer);
} zel_linux_libusb_xfer_t;

typedef struct zel_linux_libusb_state {
    uint8_t started;
    zel_sync_t watcher_sem; /* 0 / 1 */
    zel_dlist_t attach_queue;
    zel_dlist_t detach_queue;
    zel_dlist_t devices;
    uint32_t count;
    zel_linux_libusb_hotplug_t *hotplug;
    int event_fd;        /* forgotten by libusb_exit; -1 none */
    int event_fd_tested; /* what the threads test; -1 none */
    zel_linux_fd_t *event_fd_record;
    zel_linux_pthread_t event_thread;
    zel_sync_t event_sem; /* 0 / 1 */
    uint8_t event_exit;
    zel_dlist_t completions;
    /* kept by the layer */
    uint8_t watcher_stop;                  /* the watcher's process is ending */
    void (*next_at_exit)(void);            /* that process's exit hook before ours */
    struct zel_linux_process *event_owner; /* the process whose descriptor and thread they are */
} zel_linux_libusb_state_t;

extern zel_linux_libusb_state_t zel_linux_libusb;
extern const zel_linux_fd_op_t zel_linux_libusb_fd_op;

/* The event descriptor and the event thread belong to the process whose
 * libusb_init made them: its libusb_exit ends them. In another process
 * (another program using the API at the same time) libusb_init finds them
 * made and libusb_exit leaves them alone. */

/* Once: the watcher semaphore and the watcher thread, a thread of the
 * calling process. The watcher lives for the run, or until that process
 * exits (its exit hook stops the watcher, so that the exit's join of its
 * threads ends). 0, or -1 when no thread starts. */
[[nodiscard]] int zel_linux_libusb_startup(void);
void zel_linux_libusb_on_dev_evt(void *param, zel_usbh_libusb_dev_t *record, int event);
void *zel_linux_libusb_thread(void *arg);
void *zel_linux_libusb_event_thread(void *arg);
[[nodiscard]] int zel_linux_libusb_fd_close(zel_linux_fd_t *fd);

}  // extern "C"

static_assert(sizeof(zel_linux_libusb_ep_t) == 20, "endpoint slot");

#endif
