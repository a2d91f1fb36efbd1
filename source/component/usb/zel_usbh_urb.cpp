// Pipes, URB handles and their buffers, submission, and the standard
// control requests.
#include <string.h>

#include "zel_heap.h"
#include "zel_usbh_enum.h"
#include "zel_usbh_hcd.h"

namespace {

constexpr uint16_t kControlTimeoutMs = 2000;
constexpr uint16_t kDefaultMaxPacket0 = 64;
constexpr uint32_t kRetryFirstMs = 10;
constexpr uint32_t kRetryMaxMs = 1000;

zel_usbh_pipe_t *pipe_of(zel_usbh_urb_t *handle) {
    return zel_usbh_urb_is_alloced(handle) ? &handle->urb->pipe : &handle->pipe;
}

// The interval word: 2^(bInterval-1) for isochronous and high-speed
// interrupt endpoints, bInterval for other interrupt endpoints.
uint32_t pipe_interval(uint8_t speed, uint8_t type, uint8_t interval) {
    const bool exponent = type == ZEL_USB_XFER_ISOC || (type == ZEL_USB_XFER_INT && speed == ZEL_USB_SPEED_HIGH);
    if (exponent) {
        const unsigned shift = interval == 0 ? 0u : interval - 1u;
        return shift >= 16 ? 0u : static_cast<uint16_t>(1u << shift);
    }
    return type == ZEL_USB_XFER_INT ? interval : 0u;
}

int32_t send_request(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t type, uint8_t request, uint16_t value,
    uint16_t index, uint16_t length) {
    const zel_usbh_setup_t setup = {type, request, value, index, length};
    return zel_usbh_control_msg(host, dev, &setup);
}

}  // namespace

extern "C" {

zel_usbh_pipe_t zel_usbh_get_pipe(
    const zel_usbh_dev_t *dev, uint8_t ep_addr, uint8_t type, uint16_t mps, uint8_t interval) {
    const uint8_t speed = zel_usbh_dev_speed(dev);
    zel_usbh_pipe_t pipe;
    pipe.word = ZEL_PIPE_VALID | ((uint32_t)(mps & 0x7FFu) << ZEL_PIPE_MPS_SHIFT) |
                ((uint32_t)(ep_addr & 0xFu) << ZEL_PIPE_EP_SHIFT) | ((uint32_t)(type & 3u) << ZEL_PIPE_TYPE_SHIFT) |
                ((uint32_t)speed << ZEL_PIPE_SPEED_SHIFT) | ((uint32_t)(dev->address & 0x7Fu) << ZEL_PIPE_ADDR_SHIFT) |
                ((ep_addr & ZEL_USB_DIR_IN) ? ZEL_PIPE_IN : 0u);
    pipe.interval = pipe_interval(speed, type & 3u, interval);
    return pipe;
}

zel_usbh_pipe_t zel_usbh_get_pipe_from_ep_desc(const zel_usbh_dev_t *dev, const zel_usb_endpoint_desc_t *ep) {
    return zel_usbh_get_pipe(
        dev, ep->bEndpointAddress, ep->bmAttributes & 3u, zel_get_unaligned_le16(&ep->wMaxPacketSize), ep->bInterval);
}

void zel_usbh_urb_prepare(zel_usbh_urb_t *handle, const zel_usbh_dev_t *dev, const zel_usb_endpoint_desc_t *ep) {
    handle->word = 0;
    handle->pipe = zel_usbh_get_pipe_from_ep_desc(dev, ep);
}

bool zel_usbh_urb_is_alloced(const zel_usbh_urb_t *handle) {
    return handle->word != 0 && (handle->pipe.word & ZEL_PIPE_VALID) == 0;
}

zel_usbh_pipe_t zel_usbh_urb_get_pipe(const zel_usbh_urb_t *handle) {
    return zel_usbh_urb_is_alloced(handle) ? handle->urb->pipe : handle->pipe;
}

void zel_usbh_urb_set_pipe(zel_usbh_urb_t *handle, zel_usbh_pipe_t pipe) { *pipe_of(handle) = pipe; }

int32_t zel_usbh_alloc_urb(zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_urb_t *handle) {
    zel_usbh_hcd_urb_t *urb = host->hcd->alloc_urb(host);
    if (!urb) return ZEL_USBH_ERR_NO_URB;
    urb->pipe = handle->pipe;
    urb->dev = dev;
    handle->word = 0;
    handle->urb = urb;
    return 0;
}

void zel_usbh_free_urb(zel_usbh_t *host, zel_usbh_urb_t *handle) {
    if (!zel_usbh_urb_is_alloced(handle)) return;
    zel_usbh_pipe_t pipe = handle->urb->pipe;
    host->hcd->free_urb(host, handle->urb);
    pipe.word &= ~ZEL_PIPE_SUBMITTED;
    handle->pipe = pipe;
}

// ---- buffers ----

void zel_usbh_urb_buffer_heap_free(void *buffer) { zel_heap_free(buffer); }

void zel_usbh_hcd_urb_free_buffer(zel_usbh_hcd_urb_t *urb) {
    if (urb->buffer && urb->free_hook) urb->free_hook(urb->hook_param);
    urb->buffer = nullptr;
    urb->transfer_length = 0;
    urb->free_hook = nullptr;
    urb->hook_param = nullptr;
}

void zel_usbh_urb_free_buffer(zel_usbh_urb_t *handle) {
    if (zel_usbh_urb_is_alloced(handle)) zel_usbh_hcd_urb_free_buffer(handle->urb);
}

void *zel_usbh_urb_alloc_buffer(zel_usbh_urb_t *handle, uint32_t size) {
    if (!zel_usbh_urb_is_alloced(handle)) return nullptr;
    zel_usbh_hcd_urb_t *urb = handle->urb;
    zel_usbh_hcd_urb_free_buffer(urb);
    void *buffer = zel_heap_malloc(size ? size : 1);
    if (!buffer) return nullptr;
    urb->buffer = buffer;
    urb->transfer_length = size;
    urb->free_hook = zel_usbh_urb_buffer_heap_free;
    urb->hook_param = buffer;
    return buffer;
}

void zel_usbh_urb_set_buffer(zel_usbh_urb_t *handle, void *buffer, uint32_t length) {
    if (!zel_usbh_urb_is_alloced(handle)) return;
    zel_usbh_hcd_urb_t *urb = handle->urb;
    zel_usbh_hcd_urb_free_buffer(urb);
    urb->buffer = buffer;
    urb->transfer_length = length;
}

void *zel_usbh_urb_peek_buffer(const zel_usbh_urb_t *handle) {
    return zel_usbh_urb_is_alloced(handle) ? handle->urb->buffer : nullptr;
}

void *zel_usbh_urb_take_buffer(zel_usbh_urb_t *handle) {
    if (!zel_usbh_urb_is_alloced(handle)) return nullptr;
    zel_usbh_hcd_urb_t *urb = handle->urb;
    void *buffer = urb->buffer;
    urb->buffer = nullptr;
    urb->transfer_length = 0;
    urb->free_hook = nullptr;
    urb->hook_param = nullptr;
    return buffer;
}

int16_t zel_usbh_urb_get_status(const zel_usbh_urb_t *handle) {
    return zel_usbh_urb_is_alloced(handle) ? handle->urb->status : (int16_t)ZEL_USBH_ERR_NO_URB;
}

uint32_t zel_usbh_urb_get_actual_length(const zel_usbh_urb_t *handle) {
    return zel_usbh_urb_is_alloced(handle) ? handle->urb->actual_length : 0;
}

// ---- submission ----

int32_t zel_usbh_submit_urb_ex(zel_usbh_t *host, zel_usbh_urb_t *handle, uint16_t word, zel_eda_t *agent) {
    if (!zel_usbh_urb_is_alloced(handle)) return ZEL_USBH_ERR_NO_URB;
    zel_usbh_hcd_urb_t *urb = handle->urb;
    // A submit the driver refuses (-6: the nodes of its completion cannot be
    // had) leaves the URB as it was: its last result stays readable.
    const uint16_t was_word = urb->ex_word;
    zel_eda_t *const was_owner = urb->owner;
    const uint32_t was_length = urb->actual_length;
    urb->ex_word = word;
    urb->owner = agent ? agent : zel_eda_get_cur();
    urb->actual_length = 0;
    const bool relink = (urb->pipe.word & ZEL_PIPE_PERIODIC) && (urb->pipe.word & ZEL_PIPE_SUBMITTED);
    const int32_t r = relink ? host->hcd->relink_urb(host, urb) : host->hcd->submit_urb(host, urb);
    if (r == 0) {
        urb->pipe.word |= ZEL_PIPE_SUBMITTED;
    } else {
        urb->ex_word = was_word;
        urb->owner = was_owner;
        urb->actual_length = was_length;
    }
    return r;
}

int32_t zel_usbh_submit_urb(zel_usbh_t *host, zel_usbh_urb_t *handle) {
    return zel_usbh_submit_urb_ex(host, handle, 0, nullptr);
}

zel_usbh_urb_t *zel_usbh_control_msg_prepare(zel_usbh_t *host, zel_usbh_dev_t *dev, const zel_usbh_setup_t *setup) {
    zel_usbh_urb_t *handle = &dev->ctrl;
    if (!(dev->speed & ZEL_USBH_DEV_CTRL_URB)) {
        handle->word = 0;
        handle->pipe = zel_usbh_get_pipe(dev, 0, ZEL_USB_XFER_CONTROL, kDefaultMaxPacket0, 0);
        if (zel_usbh_alloc_urb(host, dev, handle) != 0) return nullptr;
        dev->speed |= ZEL_USBH_DEV_CTRL_URB;
    }
    zel_usbh_hcd_urb_t *urb = handle->urb;
    const uint16_t length = zel_get_unaligned_le16(&setup->wLength);
    // An attached buffer shorter than the request would be overrun: one of
    // ours is replaced, a caller's refuses the request.
    if (urb->buffer && urb->transfer_length < length) {
        if (!urb->free_hook) return nullptr;
        zel_usbh_hcd_urb_free_buffer(urb);
    }
    if (!urb->buffer && length > 0) {
        if (!zel_usbh_urb_alloc_buffer(handle, length)) return nullptr;
    }
    urb->transfer_length = length;
    if (setup->bmRequestType & ZEL_USB_DIR_IN)
        urb->pipe.word |= ZEL_PIPE_IN;
    else
        urb->pipe.word &= ~ZEL_PIPE_IN;
    urb->timeout = kControlTimeoutMs;
    memcpy(&urb->setup, setup, sizeof urb->setup);
    return handle;
}

int32_t zel_usbh_control_msg(zel_usbh_t *host, zel_usbh_dev_t *dev, const zel_usbh_setup_t *setup) {
    zel_usbh_urb_t *handle = zel_usbh_control_msg_prepare(host, dev, setup);
    if (!handle) return ZEL_USBH_ERR_FAIL;
    return zel_usbh_submit_urb(host, handle);
}

int32_t zel_usbh_control_msg_own(
    zel_usbh_t *host, zel_usbh_dev_t *dev, zel_usbh_urb_t *handle, const zel_usbh_setup_t *setup, zel_eda_t *agent) {
    if (zel_get_unaligned_le16(&setup->wLength) != 0) return ZEL_USBH_ERR_FAIL;
    if (!zel_usbh_urb_is_alloced(handle)) {
        // Endpoint 0 as the device's own control URB has learnt it.
        const uint16_t mps = (dev->speed & ZEL_USBH_DEV_CTRL_URB)
                                 ? (uint16_t)zel_pipe_mps(zel_usbh_urb_get_pipe(&dev->ctrl))
                                 : kDefaultMaxPacket0;
        handle->word = 0;
        handle->pipe = zel_usbh_get_pipe(dev, 0, ZEL_USB_XFER_CONTROL, mps, 0);
        const int32_t r = zel_usbh_alloc_urb(host, dev, handle);
        if (r != 0) return r;
    }
    zel_usbh_hcd_urb_t *urb = handle->urb;
    zel_usbh_hcd_urb_free_buffer(urb);
    urb->pipe.word &= ~ZEL_PIPE_IN;
    urb->timeout = kControlTimeoutMs;
    memcpy(&urb->setup, setup, sizeof urb->setup);
    return zel_usbh_submit_urb_ex(host, handle, 0, agent);
}

int32_t zel_usbh_set_address(zel_usbh_t *host, zel_usbh_dev_t *dev) {
    return send_request(host, dev, 0x00, ZEL_USB_REQ_SET_ADDRESS, dev->address, 0, 0);
}

int32_t zel_usbh_get_descriptor(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t type, uint8_t index, uint16_t length) {
    return send_request(host, dev, 0x80, ZEL_USB_REQ_GET_DESCRIPTOR, (uint16_t)(type << 8 | index), 0, length);
}

int32_t zel_usbh_get_class_descriptor(
    zel_usbh_t *host, zel_usbh_dev_t *dev, uint16_t interface, uint8_t type, uint8_t index, uint16_t length) {
    return send_request(host, dev, 0x81, ZEL_USB_REQ_GET_DESCRIPTOR, (uint16_t)(type << 8 | index), interface, length);
}

int32_t zel_usbh_set_configuration(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t value) {
    return send_request(host, dev, 0x00, ZEL_USB_REQ_SET_CONFIGURATION, value, 0, 0);
}

int32_t zel_usbh_clear_endpoint_halt(zel_usbh_t *host, zel_usbh_dev_t *dev, uint8_t ep_addr) {
    return send_request(host, dev, 0x02, ZEL_USB_REQ_CLEAR_FEATURE, ZEL_USB_ENDPOINT_HALT, ep_addr, 0);
}

uint32_t zel_usbh_retry_ms(uint8_t failures) {
    if (failures < 2) return 0;
    uint32_t ms = kRetryFirstMs;
    for (uint32_t i = 2; i < failures && ms < kRetryMaxMs; i++) ms *= 2;
    return ms < kRetryMaxMs ? ms : kRetryMaxMs;
}

uint32_t zel_usbh_refused_retry_ms(uint8_t refusals) {
    const uint32_t ms = zel_usbh_retry_ms(refusals);
    return ms > kRetryFirstMs ? ms : kRetryFirstMs;
}

// ---- descriptor helpers ----

int32_t zel_usbh_find_desc(const void *buffer, uint32_t length, uint8_t type, const void **out) {
    const uint8_t *p = static_cast<const uint8_t *>(buffer);
    uint32_t remaining = length;
    while (remaining >= 2) {
        const uint8_t len = p[0];
        if (len < 2 || len > remaining) return ZEL_USBH_ERR_FAIL;
        if (p[1] == type) {
            *out = p;
            return 0;
        }
        if (remaining - len < 2) return ZEL_USBH_ERR_FAIL;
        remaining -= len;
        p += len;
    }
    return ZEL_USBH_ERR_FAIL;
}

const zel_usb_endpoint_desc_t *zel_usbh_next_ep_desc(const zel_usb_endpoint_desc_t *ep, uint32_t remaining) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(ep);
    uint32_t len = p[0];
    if (len == 0 || len >= remaining) return nullptr;
    p += len;
    remaining -= len;
    if (remaining >= 2 && p[1] == ZEL_USB_DT_SS_EP_COMPANION) {
        len = p[0];
        if (len == 0 || len >= remaining) return nullptr;
        p += len;
    }
    return reinterpret_cast<const zel_usb_endpoint_desc_t *>(p);
}

}  // extern "C"
