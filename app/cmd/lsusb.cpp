// lsusb [-v]: one line per USB device the host stack enumerated, and with
// "-v" its configurations, interfaces and endpoints. Its lines end in "\n".
#include <stdio.h>
#include <string.h>

#include "zel_libusb.h"

namespace {

constexpr size_t kTextSize = 260;
constexpr int kStringSize = 256;
constexpr int kBus = 0;  // one bus in this system

// A line of text built piece by piece; pieces that do not fit are cut.
struct Text {
    char buffer[kTextSize];
    size_t used;

    template <typename... Args>
    void append(const char *format, Args... args) {
        const int n = snprintf(buffer + used, kTextSize - used, format, args...);
        if (n > 0) used = used + (size_t)n < kTextSize ? used + (size_t)n : kTextSize - 1;
    }
};

// The string descriptor `index` into `out`, when the device has one.
bool read_string(libusb_device_handle *handle, uint8_t index, unsigned char (&out)[kStringSize]) {
    return index != 0 && libusb_get_string_descriptor_ascii(handle, index, out, kStringSize) > 0;
}

void describe(libusb_device_handle *handle, const libusb_device_descriptor &d, Text *text) {
    unsigned char s[kStringSize];
    if (read_string(handle, d.iManufacturer, s))
        text->append("%s - ", reinterpret_cast<char *>(s));
    else
        text->append("%04X - ", d.idVendor);
    if (read_string(handle, d.iProduct, s))
        text->append("%s", reinterpret_cast<char *>(s));
    else
        text->append("%04X", d.idProduct);
    if (read_string(handle, d.iSerialNumber, s)) text->append(" - %s", reinterpret_cast<char *>(s));
}

void print_endpoint(const libusb_endpoint_descriptor &e) {
    printf("      Endpoint:\n");
    printf("        bEndpointAddress: %02xh\n", e.bEndpointAddress);
    printf("        bmAttributes:     %02xh\n", e.bmAttributes);
    printf("        wMaxPacketSize:   %d\n", e.wMaxPacketSize);
    printf("        bInterval:        %d\n", e.bInterval);
    printf("        bRefresh:         %d\n", e.bRefresh);
    printf("        bSynchAddress:    %d\n", e.bSynchAddress);
}

void print_setting(const libusb_interface_descriptor &s) {
    printf("    Interface:\n");
    printf("      bInterfaceNumber:   %d\n", s.bInterfaceNumber);
    printf("      bAlternateSetting:  %d\n", s.bAlternateSetting);
    printf("      bNumEndpoints:      %d\n", s.bNumEndpoints);
    printf("      bInterfaceClass:    %d\n", s.bInterfaceClass);
    printf("      bInterfaceSubClass: %d\n", s.bInterfaceSubClass);
    printf("      bInterfaceProtocol: %d\n", s.bInterfaceProtocol);
    printf("      iInterface:         %d\n", s.iInterface);
    for (int e = 0; s.endpoint && e < s.bNumEndpoints; e++) print_endpoint(s.endpoint[e]);
}

void print_config(const libusb_config_descriptor &c) {
    printf("  Configuration:\n");
    printf("    wTotalLength:         %d\n", c.wTotalLength);
    printf("    bNumInterfaces:       %d\n", c.bNumInterfaces);
    printf("    bConfigurationValue:  %d\n", c.bConfigurationValue);
    printf("    iConfiguration:       %d\n", c.iConfiguration);
    printf("    bmAttributes:         %02xh\n", c.bmAttributes);
    printf("    bMaxPower:            %d\n", c.MaxPower);
    for (int i = 0; i < c.bNumInterfaces; i++) {
        const libusb_interface &ifs = c.interface[i];
        for (int a = 0; ifs.altsetting && a < ifs.num_altsetting; a++) print_setting(ifs.altsetting[a]);
    }
}

void print_configs(libusb_device *dev, const libusb_device_descriptor &d) {
    for (int i = 0; i < d.bNumConfigurations; i++) {
        libusb_config_descriptor *config = nullptr;
        if (libusb_get_config_descriptor(dev, (uint8_t)i, &config) != 0) continue;
        print_config(*config);
        libusb_free_config_descriptor(config);
    }
}

void list_device(libusb_device *dev, bool verbose) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(dev, &d) != 0) {
        printf("fail to get device descriptor\r\n");
        return;
    }
    libusb_device_handle *handle = nullptr;
    if (libusb_open(dev, &handle) != 0) return;
    Text text{{0}, 0};
    describe(handle, d, &text);
    printf("Dev (bus %d, device %d): %s\n", kBus, libusb_get_device_address(dev), text.buffer);
    if (verbose) print_configs(dev, d);
    libusb_close(handle);
}

}  // namespace

extern "C" int lsusb_main(int argc, char **argv) {
    const bool verbose = argc == 2 && strcmp(argv[1], "-v") == 0;
    if (libusb_init(nullptr) != 0) {
        printf("fail to initialize libusb\r\n");
        return -1;
    }
    libusb_device **list = nullptr;
    const long count = libusb_get_device_list(nullptr, &list);
    if (count <= 0) {
        printf(count < 0 ? "fail to get device list\r\n" : "no usb device connected\r\n");
        libusb_exit(nullptr);
        return -1;
    }
    for (long i = 0; i < count; i++) list_device(list[i], verbose);
    libusb_free_device_list(list, 1);
    libusb_exit(nullptr);
    return 0;
}
