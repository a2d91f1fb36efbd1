// The enumerator: the host agent's handler once the controller driver has
// started. One device at a time: descriptors, address, the first
// configuration that binds a class driver, SET_CONFIGURATION.
#include <stddef.h>

#include "zel_heap.h"
#include "zel_timer.h"
#include "zel_usbh_enum.h"
#include "zel_usbh_hcd.h"

namespace {

constexpr uint32_t kResetPollMs = 20;
constexpr uint32_t kAddressSettleMs = 10;
constexpr uint16_t kFirstDescLength = 64;
// Bytes of the first device descriptor that carry bMaxPacketSize0.
constexpr uint32_t kMaxPacketKnown = offsetof(zel_usb_device_desc_t, bMaxPacketSize0) + 1;
constexpr uint8_t kMaxConfigIndex = ZEL_USBH_DEV_CFG_MASK >> ZEL_USBH_DEV_CFG_SHIFT;
// Resets after failed transfers before a device is left alone until it is
// plugged again: a device that keeps failing would otherwise be reset for
// ever.
constexpr uint8_t kMaxRetries = 3;

using State = zel_usbh_enum_state_t;

void set_state(zel_usbh_enum_t *ctx, State s) { ctx->state = s; }
State state_of(const zel_usbh_enum_t *ctx) { return static_cast<State>(ctx->state); }

void arm(uint32_t ms) { (void)zel_eda_set_timer(zel_timer_ms_to_tick(ms)); }  // ms is never 0: cannot fail

uint8_t config_index(const zel_usbh_dev_t *dev) { return zel_usbh_dev_config_index(dev); }
void set_config_index(zel_usbh_dev_t *dev, uint8_t index) {
    dev->speed =
        (uint8_t)((dev->speed & ~ZEL_USBH_DEV_CFG_MASK) | ((index << ZEL_USBH_DEV_CFG_SHIFT) & ZEL_USBH_DEV_CFG_MASK));
}

void set_ctrl_pipe_address(zel_usbh_dev_t *dev) {
    zel_usbh_pipe_t pipe = zel_usbh_urb_get_pipe(&dev->ctrl);
    pipe.word = (pipe.word & ~ZEL_PIPE_ADDR_MASK) | ((uint32_t)(dev->address & 0x7F) << ZEL_PIPE_ADDR_SHIFT);
    zel_usbh_urb_set_pipe(&dev->ctrl, pipe);
}

void set_ctrl_max_packet(zel_usbh_dev_t *dev, uint8_t mps) {
    zel_usbh_pipe_t pipe = zel_usbh_urb_get_pipe(&dev->ctrl);
    pipe.word = (pipe.word & ~ZEL_PIPE_MPS_MASK) | ((uint32_t)mps << ZEL_PIPE_MPS_SHIFT);
    zel_usbh_urb_set_pipe(&dev->ctrl, pipe);
}

void release_ctx(zel_usbh_t *host) {
    zel_usbh_enum_t *ctx = host->enum_ctx;
    if (!ctx) return;
    zel_usbh_free_parser(ctx);
    zel_heap_free(ctx->dev_desc);
    zel_heap_free(ctx);
    host->enum_ctx = nullptr;
}

// The device stays, unconfigured and with its mutex taken, until it is
// unplugged. Class drivers bound to a configuration that was never set let
// go of it now: they never started.
void fail(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    if (host->enum_ctx) dev->address = host->enum_ctx->saved_address;  // kept until the unplug frees it
    zel_usbh_release_interfaces(host, dev);
    if (dev->speed & ZEL_USBH_DEV_CTRL_URB) {
        zel_usbh_free_urb(host, &dev->ctrl);
        dev->speed &= (uint8_t)~ZEL_USBH_DEV_CTRL_URB;
    }
    host->hcd->free_device(host, dev);
    release_ctx(host);
    host->enum_dev = nullptr;
}

void finish(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    zel_eda_sync_release(&dev->mutex, nullptr);  // held here
    zel_usbh_urb_free_buffer(&dev->ctrl);
    release_ctx(host);
    host->enum_dev = nullptr;
}

// wTotalLength of a configuration descriptor whose header arrived.
uint16_t total_length(const uint8_t *config) {
    return zel_get_unaligned_le16(&reinterpret_cast<const zel_usb_config_desc_t *>(config)->wTotalLength);
}

// Submits the request whose completion the state `next` waits for.
int32_t submit(zel_usbh_t *host, zel_usbh_enum_t *ctx, State next) {
    zel_usbh_dev_t *dev = ctx->dev;
    switch (next) {
    case ZEL_USBH_ENUM_DEV_DESC64: return zel_usbh_get_descriptor(host, dev, ZEL_USB_DT_DEVICE, 0, kFirstDescLength);
    case ZEL_USBH_ENUM_SET_ADDRESS: dev->address = ctx->saved_address; return zel_usbh_set_address(host, dev);
    case ZEL_USBH_ENUM_DEV_DESC:
        return zel_usbh_get_descriptor(host, dev, ZEL_USB_DT_DEVICE, 0, sizeof(zel_usb_device_desc_t));
    case ZEL_USBH_ENUM_CFG_HEADER:
        return zel_usbh_get_descriptor(host, dev, ZEL_USB_DT_CONFIG, config_index(dev), sizeof(zel_usb_config_desc_t));
    case ZEL_USBH_ENUM_CFG_FULL:
        return zel_usbh_get_descriptor(host, dev, ZEL_USB_DT_CONFIG, config_index(dev), total_length(ctx->config));
    case ZEL_USBH_ENUM_SET_CONFIG:
        return zel_usbh_set_configuration(
            host, dev, reinterpret_cast<const zel_usb_config_desc_t *>(ctx->config)->bConfigurationValue);
    default: return ZEL_USBH_ERR_HCD;  // no request leads there
    }
}

// A submit refused for want of a URB, a buffer or the controller driver's
// event nodes: nothing reached the device, and the shortage passes.
bool refused_for_now(int32_t result) { return result == ZEL_ERR_NO_MEMORY || result == ZEL_USBH_ERR_FAIL; }

// Sends the request whose completion `next` waits for and moves there. A
// submit refused for now is sent again after the classes' back-off (at
// least 10 ms, doubling up to 1 s while refusals go on), however long the
// shortage lasts; any other refusal takes the failure path.
void request(zel_usbh_t *host, zel_usbh_enum_t *ctx, State next) {
    const int32_t r = submit(host, ctx, next);
    if (r == 0) {
        ctx->refusals = 0;
        set_state(ctx, next);
        return;
    }
    if (!refused_for_now(r)) {
        fail(host, ctx->dev);
        return;
    }
    zel_usbh_urb_free_buffer(&ctx->dev->ctrl);  // the memory goes back while it waits
    if (ctx->refusals < 0xFF) ctx->refusals++;
    ctx->resend = (uint8_t)next;
    set_state(ctx, ZEL_USBH_ENUM_REFUSED);
    arm(zel_usbh_refused_retry_ms(ctx->refusals));
}

void get_first_descriptor(zel_usbh_t *host, zel_usbh_enum_t *ctx) {
    set_state(ctx, ZEL_USBH_ENUM_IDLE);
    request(host, ctx, ZEL_USBH_ENUM_DEV_DESC64);
}

void set_address(zel_usbh_t *host, zel_usbh_enum_t *ctx) { request(host, ctx, ZEL_USBH_ENUM_SET_ADDRESS); }

void next_config(zel_usbh_t *host, zel_usbh_enum_t *ctx) {
    set_state(ctx, ZEL_USBH_ENUM_DEV_DESC);
    const uint8_t index = config_index(ctx->dev);
    if (index >= ctx->dev_desc->bNumConfigurations || index > kMaxConfigIndex) {
        fail(host, ctx->dev);
        return;
    }
    request(host, ctx, ZEL_USBH_ENUM_CFG_HEADER);
}

// A failed transfer resets the device and starts again from the first
// descriptor, a few times; then the failure path leaves the device alone.
void retry_after_reset(zel_usbh_t *host, zel_usbh_enum_t *ctx) {
    if (ctx->retries >= kMaxRetries) {
        fail(host, ctx->dev);
        return;
    }
    ctx->retries++;
    zel_usbh_urb_free_buffer(&ctx->dev->ctrl);
    zel_usbh_free_parser(ctx);
    zel_usbh_release_interfaces(host, ctx->dev);
    zel_heap_free(ctx->dev_desc);
    ctx->dev_desc = nullptr;
    ctx->flags |= ZEL_USBH_ENUM_RESET_RETRY;
    set_state(ctx, ZEL_USBH_ENUM_DEV_DESC64);
    host->hcd->reset_dev(host, ctx->dev);
    arm(kResetPollMs);
}

void on_arrival(zel_usbh_t *host) {
    release_ctx(host);
    zel_usbh_dev_t *dev = host->enum_dev;
    auto *ctx = static_cast<zel_usbh_enum_t *>(zel_heap_calloc(1, sizeof(zel_usbh_enum_t)));
    if (!ctx) {
        fail(host, dev);
        return;
    }
    ctx->dev = dev;
    host->enum_ctx = ctx;
    (void)zel_eda_sync_init(&dev->mutex, 1, 1);    // cannot fail
    (void)zel_eda_sync_decrease(&dev->mutex, -1);  // a fresh lock: taken at once
    ctx->saved_address = dev->address;
    dev->address = 0;
    get_first_descriptor(host, ctx);
}

void on_timer(zel_usbh_t *host, zel_usbh_enum_t *ctx) {
    zel_usbh_dev_t *dev = ctx->dev;
    switch (state_of(ctx)) {
    case ZEL_USBH_ENUM_DEV_DESC64:
        if (host->hcd->is_dev_reset(host, dev)) {
            arm(kResetPollMs);
        } else if (ctx->flags & ZEL_USBH_ENUM_RESET_RETRY) {
            ctx->flags &= (uint8_t)~ZEL_USBH_ENUM_RESET_RETRY;
            dev->address = 0;
            set_ctrl_pipe_address(dev);
            get_first_descriptor(host, ctx);
        } else {
            set_address(host, ctx);
        }
        break;
    case ZEL_USBH_ENUM_ADDRESS_WAIT:
        set_ctrl_pipe_address(dev);
        request(host, ctx, ZEL_USBH_ENUM_DEV_DESC);
        break;
    case ZEL_USBH_ENUM_REFUSED: request(host, ctx, static_cast<State>(ctx->resend)); break;
    default: break;
    }
}

void on_config(zel_usbh_t *host, zel_usbh_enum_t *ctx, uint8_t *buffer, uint32_t actual) {
    zel_usbh_dev_t *dev = ctx->dev;
    if (state_of(ctx) == ZEL_USBH_ENUM_CFG_HEADER) {
        ctx->config = buffer;
        const uint16_t total = actual >= sizeof(zel_usb_config_desc_t) ? total_length(buffer) : 0;
        if (total < sizeof(zel_usb_config_desc_t)) {
            fail(host, dev);
            return;
        }
        request(host, ctx, ZEL_USBH_ENUM_CFG_FULL);
        return;
    }
    const uint16_t total = total_length(ctx->config);
    zel_heap_free(ctx->config);
    ctx->config = buffer;
    if (actual != total || actual < sizeof(zel_usb_config_desc_t)) {
        fail(host, dev);
        return;
    }
    ctx->config_length = total;
    if (zel_usbh_parse_config(host, ctx) < 0) {
        zel_usbh_free_parser(ctx);
        zel_usbh_release_interfaces(host, dev);
        // The index field of the device record ends at kMaxConfigIndex.
        const uint8_t index = config_index(dev);
        if (index >= kMaxConfigIndex) {
            fail(host, dev);
            return;
        }
        set_config_index(dev, (uint8_t)(index + 1));
        next_config(host, ctx);
    } else if (ctx->flags & ZEL_USBH_ENUM_SKIP_SET_CONFIG) {
        finish(host, dev);
    } else {
        request(host, ctx, ZEL_USBH_ENUM_SET_CONFIG);
    }
}

void on_completion(zel_usbh_t *host, zel_usbh_enum_t *ctx, zel_usbh_hcd_urb_t *urb) {
    zel_usbh_dev_t *dev = ctx->dev;
    if (urb->status != 0) {
        retry_after_reset(host, ctx);
        return;
    }
    const uint32_t actual = urb->actual_length;
    switch (state_of(ctx)) {
    case ZEL_USBH_ENUM_DEV_DESC64: {
        auto *buffer = static_cast<uint8_t *>(zel_usbh_urb_take_buffer(&dev->ctrl));
        if (!buffer || actual < kMaxPacketKnown) {
            zel_heap_free(buffer);
            retry_after_reset(host, ctx);
            return;
        }
        set_ctrl_max_packet(dev, reinterpret_cast<const zel_usb_device_desc_t *>(buffer)->bMaxPacketSize0);
        zel_heap_free(buffer);
        if (zel_usbh_dev_speed(dev) == ZEL_USB_SPEED_HIGH) {
            set_address(host, ctx);
        } else {
            host->hcd->reset_dev(host, dev);
            arm(kResetPollMs);
        }
        break;
    }
    case ZEL_USBH_ENUM_SET_ADDRESS:
        set_state(ctx, ZEL_USBH_ENUM_ADDRESS_WAIT);
        arm(kAddressSettleMs);
        break;
    case ZEL_USBH_ENUM_DEV_DESC: {
        auto *buffer = static_cast<zel_usb_device_desc_t *>(zel_usbh_urb_take_buffer(&dev->ctrl));
        if (!buffer || actual < sizeof(zel_usb_device_desc_t)) {
            zel_heap_free(buffer);
            retry_after_reset(host, ctx);
            return;
        }
        ctx->dev_desc = buffer;
        if (buffer->bNumConfigurations == 0) {
            fail(host, dev);
            return;
        }
        set_config_index(dev, 0);
        next_config(host, ctx);
        break;
    }
    case ZEL_USBH_ENUM_CFG_HEADER:
    case ZEL_USBH_ENUM_CFG_FULL: {
        auto *buffer = static_cast<uint8_t *>(zel_usbh_urb_take_buffer(&dev->ctrl));
        if (!buffer) {
            fail(host, dev);
            return;
        }
        on_config(host, ctx, buffer, actual);
        break;
    }
    case ZEL_USBH_ENUM_SET_CONFIG: finish(host, dev); break;
    default: break;
    }
}

// True when the event belongs to the device under enumeration.
bool current(zel_usbh_t *host) { return host->enum_dev && host->enum_ctx && host->enum_ctx->dev == host->enum_dev; }

void drop_stale(zel_usbh_t *host) {
    (void)zel_eda_cancel_timer();  // cannot fail
    release_ctx(host);
}

}  // namespace

extern "C" {

void zel_usbh_enum_evthandler(zel_eda_t *agent, zel_evt_t evt) {
    zel_usbh_t *host = zel_usbh_of_agent(agent);
    if (evt == ZEL_EVT_INIT && host->enum_dev) {
        on_arrival(host);
    } else if (evt == ZEL_EVT_WAKE || !current(host)) {
        // The device under enumeration left (266), or the event outlived it.
        drop_stale(host);
    } else if (evt == ZEL_EVT_TIMER) {
        on_timer(host, host->enum_ctx);
    } else if (evt == ZEL_EVT_MSG) {
        auto *urb = static_cast<zel_usbh_hcd_urb_t *>(zel_eda_get_cur_msg());
        zel_usbh_dev_t *dev = host->enum_dev;
        if ((dev->speed & ZEL_USBH_DEV_CTRL_URB) && urb == dev->ctrl.urb) on_completion(host, host->enum_ctx, urb);
    }
}

}  // extern "C"
