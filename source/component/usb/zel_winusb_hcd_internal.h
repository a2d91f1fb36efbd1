// Driver-wide state of winusb_hcd, shared by its agent side and its host
// threads. Fields written by host threads and read elsewhere go through the
// atomic helpers below.
#ifndef ZEL_WINUSB_HCD_INTERNAL_H
#define ZEL_WINUSB_HCD_INTERNAL_H

#include "zel_winusb_hcd.h"

namespace winusb_hcd {

struct Driver {
    zel_usbh_t *host;
    zel_eda_t *caller;  // the agent that called init; gets 0x500
    uint32_t pending;   // slots with a connect pending
    uint32_t slot;      // the current slot (always 0)
    zel_host_request_t rescan;
    zel_host_thread_t init_thread;  // "winusb_hcd_init"
    zel_eda_t agent;
    zel_sync_t urb_sem;  // one count per submitted URB
    zel_dlist_t submit;
    int notify_id;     // device-change hook of the host-USB layer
    int32_t priority;  // of the host threads
};

extern Driver g_drv;
extern zel_winusb_hcd_dev_t g_dev;

template <class T>
inline T load(const T &v) {
    return __atomic_load_n(&v, __ATOMIC_ACQUIRE);
}
template <class T>
inline void store(T &v, T x) {
    __atomic_store_n(&v, x, __ATOMIC_RELEASE);
}
inline void set_flags(uint8_t bits) { __atomic_fetch_or(&g_dev.flags, bits, __ATOMIC_ACQ_REL); }
inline void clear_flags(uint8_t bits) { __atomic_fetch_and(&g_dev.flags, (uint8_t)~bits, __ATOMIC_ACQ_REL); }
inline bool has_flags(uint8_t bits) { return (load(g_dev.flags) & bits) != 0; }

inline zel_winusb_hcd_urb_t *urb_of(zel_usbh_hcd_urb_t *urb) { return reinterpret_cast<zel_winusb_hcd_urb_t *>(urb); }

// Host threads.
void init_thread(zel_host_thread_t *record);
void dev_thread(zel_host_thread_t *record);
void urb_thread(zel_host_thread_t *record);
// Maps the pipes of setting `alt` of interface `index` (the init thread and
// SET_INTERFACE).
void map_interface(zel_host_usb_handle_t file, uint8_t index, uint8_t alt);

// Posts from a host thread, as an emulated interrupt.
void post_from_host(zel_host_thread_t *self, zel_eda_t *agent, zel_evt_t evt, void *msg);

}  // namespace winusb_hcd

#endif
