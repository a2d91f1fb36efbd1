/* The libusb-style API for programs of the Linux-emulation layer: listing
 * devices, their device, configuration and string descriptors, and control
 * transfers, under the libusb 1.0 names and error values.
 *
 * Every call keeps its libusb name in the source and is bound at the
 * assembler level to the layer's symbol zel_linux_libusb_<name>, so that it
 * never meets the host's own libusb in one program.
 *
 * Devices are published by the "libusb" class driver (zel_usbh_libusb.h);
 * a device handle is the device itself. A device lives until its last
 * holder lets go: the layer holds it while it is attached, a device list
 * holds each device in it (libusb_free_device_list with unref set lets go),
 * an open handle holds its device until libusb_close, and
 * libusb_ref_device / libusb_unref_device take and drop a hold of the
 * caller's own. A device that has left answers every transfer with -1 but
 * stays readable (address) for whoever still holds it.
 *
 * Control transfers on one device run one at a time: a caller whose device
 * is busy waits its turn.
 *
 * The configuration descriptor record has this layer's own layout: the raw
 * descriptor buffer comes before the interface array pointer, followed by
 * two words that stay 0; the record and its interface array are one block.
 *
 * Plain C; usable by code built against the layer's own C library headers. */
#ifndef ZEL_LIBUSB_H
#define ZEL_LIBUSB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_LIBUSB_NAME(name) __asm__("zel_linux_" #name)

enum libusb_error { LIBUSB_SUCCESS = 0, LIBUSB_ERROR_IO = -1, LIBUSB_ERROR_NO_MEM = -11 };

typedef struct libusb_context libusb_context; /* not used */
typedef struct zel_linux_libusb_dev libusb_device;
typedef struct zel_linux_libusb_dev libusb_device_handle; /* the device itself */

/* The 18 bytes as the device sends them. */
struct libusb_device_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t bcdUSB;
    uint8_t bDeviceClass;
    uint8_t bDeviceSubClass;
    uint8_t bDeviceProtocol;
    uint8_t bMaxPacketSize0;
    uint16_t idVendor;
    uint16_t idProduct;
    uint16_t bcdDevice;
    uint8_t iManufacturer;
    uint8_t iProduct;
    uint8_t iSerialNumber;
    uint8_t bNumConfigurations;
};

struct libusb_endpoint_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bEndpointAddress;
    uint8_t bmAttributes;
    uint16_t wMaxPacketSize;
    uint8_t bInterval;
    uint8_t bRefresh;      /* 0 for a 7-byte descriptor */
    uint8_t bSynchAddress; /* 0 for a 7-byte descriptor */
    const unsigned char *extra;
    int extra_length;
};

struct libusb_interface_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
    const struct libusb_endpoint_descriptor *endpoint;
    const unsigned char *extra;
    int extra_length;
};

struct libusb_interface {
    const struct libusb_interface_descriptor *altsetting;
    int num_altsetting;
};

struct libusb_config_descriptor {
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint16_t wTotalLength;
    uint8_t bNumInterfaces;
    uint8_t bConfigurationValue;
    uint8_t iConfiguration;
    uint8_t bmAttributes;
    uint8_t MaxPower;
    const unsigned char *raw;                 /* all wTotalLength bytes, owned by the record */
    const struct libusb_interface *interface; /* bNumInterfaces entries, in the same block */
    int extra_length;                         /* 0 */
    int reserved;                             /* 0 */
};

/* 0; -11 when the event descriptor cannot be made. The context is not used. */
int libusb_init(libusb_context **context) ZEL_LIBUSB_NAME(libusb_init);
/* Stops the event thread and closes the event descriptor. */
void libusb_exit(libusb_context *context) ZEL_LIBUSB_NAME(libusb_exit);
/* The number of listed devices; *list (when given) a malloc array of them
 * ending with null, or null when there is none. */
long libusb_get_device_list(libusb_context *context, libusb_device ***list) ZEL_LIBUSB_NAME(libusb_get_device_list);
/* Frees the array; with `unref` set also lets go of every device in it. */
void libusb_free_device_list(libusb_device **list, int unref) ZEL_LIBUSB_NAME(libusb_free_device_list);
/* A hold of the caller's own; answers the device. */
libusb_device *libusb_ref_device(libusb_device *device) ZEL_LIBUSB_NAME(libusb_ref_device);
/* Lets go of a hold; the last one releases the device. */
void libusb_unref_device(libusb_device *device) ZEL_LIBUSB_NAME(libusb_unref_device);
/* Stores the device as the handle, which holds it until libusb_close; 0. */
int libusb_open(libusb_device *device, libusb_device_handle **handle) ZEL_LIBUSB_NAME(libusb_open);
void libusb_close(libusb_device_handle *handle) ZEL_LIBUSB_NAME(libusb_close);
uint8_t libusb_get_device_address(libusb_device *device) ZEL_LIBUSB_NAME(libusb_get_device_address);
/* Bytes transferred; -11 no URB; -1 failure (also on a device that left).
 * Blocks the calling thread; timeout in milliseconds. */
int libusb_control_transfer(libusb_device_handle *handle, uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
    uint16_t wIndex, unsigned char *data, uint16_t wLength, unsigned int timeout)
    ZEL_LIBUSB_NAME(libusb_control_transfer);
int libusb_get_device_descriptor(libusb_device *device, struct libusb_device_descriptor *descriptor)
    ZEL_LIBUSB_NAME(libusb_get_device_descriptor);
/* Characters stored (NUL not counted), or a negative code; units that are
 * not ASCII read '?'. */
int libusb_get_string_descriptor_ascii(libusb_device_handle *handle, uint8_t index, unsigned char *data, int length)
    ZEL_LIBUSB_NAME(libusb_get_string_descriptor_ascii);
/* 0; -1 malformed; -11 no memory; a transfer's negative code. */
int libusb_get_config_descriptor(libusb_device *device, uint8_t index, struct libusb_config_descriptor **config)
    ZEL_LIBUSB_NAME(libusb_get_config_descriptor);
void libusb_free_config_descriptor(struct libusb_config_descriptor *config)
    ZEL_LIBUSB_NAME(libusb_free_config_descriptor);

#ifdef __cplusplus
/* The nine descriptor bytes, then the pointers at their natural place. */
#define ZEL_LIBUSB_AFTER_FIELDS ((9 + sizeof(uintptr_t) - 1) / sizeof(uintptr_t) * sizeof(uintptr_t))
static_assert(sizeof(struct libusb_device_descriptor) == 18, "device descriptor as sent");
static_assert(offsetof(struct libusb_endpoint_descriptor, extra) == ZEL_LIBUSB_AFTER_FIELDS, "endpoint entry");
static_assert(offsetof(struct libusb_interface_descriptor, endpoint) == ZEL_LIBUSB_AFTER_FIELDS, "setting entry");
static_assert(offsetof(struct libusb_config_descriptor, raw) == ZEL_LIBUSB_AFTER_FIELDS &&
                  offsetof(struct libusb_config_descriptor, interface) == ZEL_LIBUSB_AFTER_FIELDS + sizeof(uintptr_t),
    "configuration record: raw buffer, then interfaces");
}
#endif

#endif
