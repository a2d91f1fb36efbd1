/* Host USB over libusb-1.0: the table of the libusb calls the back end
 * makes. The back end calls libusb only through the table in use, so that a
 * stand-in can take libusb's place; the program uses libusb's own calls.
 *
 * Only the host-USB layer and its tests include this (it brings libusb.h). */
#ifndef ZEL_HOST_USB_LIBUSB_CALLS_H
#define ZEL_HOST_USB_LIBUSB_CALLS_H

#include <libusb.h>
#include <sys/types.h>

typedef struct zel_host_usb_libusb_calls {
    int (*init)(libusb_context **ctx);
    ssize_t (*get_device_list)(libusb_context *ctx, libusb_device ***list);
    void (*free_device_list)(libusb_device **list, int unref);
    libusb_device *(*ref_device)(libusb_device *dev);
    void (*unref_device)(libusb_device *dev);
    int (*get_device_descriptor)(libusb_device *dev, struct libusb_device_descriptor *desc);
    uint8_t (*get_bus_number)(libusb_device *dev);
    uint8_t (*get_device_address)(libusb_device *dev);
    int (*get_port_numbers)(libusb_device *dev, uint8_t *ports, int length);
    int (*get_device_speed)(libusb_device *dev);
    int (*open)(libusb_device *dev, libusb_device_handle **handle);
    void (*close)(libusb_device_handle *handle);
    libusb_device *(*get_device)(libusb_device_handle *handle);
    int (*get_active_config_descriptor)(libusb_device *dev, struct libusb_config_descriptor **config);
    void (*free_config_descriptor)(struct libusb_config_descriptor *config);
    int (*kernel_driver_active)(libusb_device_handle *handle, int number);
    int (*detach_kernel_driver)(libusb_device_handle *handle, int number);
    int (*claim_interface)(libusb_device_handle *handle, int number);
    int (*release_interface)(libusb_device_handle *handle, int number);
    int (*set_interface_alt_setting)(libusb_device_handle *handle, int number, int alt);
    int (*set_configuration)(libusb_device_handle *handle, int value);
    int (*get_configuration)(libusb_device_handle *handle, int *value);
    int (*clear_halt)(libusb_device_handle *handle, unsigned char endpoint);
    int (*control_transfer)(libusb_device_handle *handle, uint8_t request_type, uint8_t request, uint16_t value,
        uint16_t index, unsigned char *data, uint16_t length, unsigned int timeout);
    int (*bulk_transfer)(libusb_device_handle *handle, unsigned char endpoint, unsigned char *data, int length,
        int *transferred, unsigned int timeout);
    int (*interrupt_transfer)(libusb_device_handle *handle, unsigned char endpoint, unsigned char *data, int length,
        int *transferred, unsigned int timeout);
    int (*has_capability)(uint32_t capability);
    int (*hotplug_register_callback)(libusb_context *ctx, int events, int flags, int vendor_id, int product_id,
        int dev_class, libusb_hotplug_callback_fn callback, void *user_data, libusb_hotplug_callback_handle *handle);
    void (*hotplug_deregister_callback)(libusb_context *ctx, libusb_hotplug_callback_handle handle);
    int (*handle_events_timeout_completed)(libusb_context *ctx, struct timeval *tv, int *completed);
    void (*interrupt_event_handler)(libusb_context *ctx);
} zel_host_usb_libusb_calls_t;

/* libusb's own calls. */
extern const zel_host_usb_libusb_calls_t zel_host_usb_libusb_real_calls;

/* Makes the back end use `calls` (null: libusb's own) from now on, with a
 * session of its own made at the next use. Only while the back end has no
 * device open and watches no device changes. A test hook: defined in the
 * test builds (ZEL_HOST_TEST_HOOKS) only. */
void zel_host_usb_libusb_use_calls(const zel_host_usb_libusb_calls_t *calls);

#endif
