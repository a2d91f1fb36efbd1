// The descriptor calls of the libusb-style API, run inside the layer: the
// device, string and configuration descriptors read with control transfers,
// and the configuration parsed into this layer's record. Memory comes from
// the calling process.
#include <stdlib.h>
#include <string.h>

#include "zel_libusb.h"
#include "zel_linux_libusb_slots.h"

namespace {

constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kDirIn = 0x80;
constexpr unsigned kTimeoutMs = 1000;
constexpr int kStringBuffer = 255;
constexpr uint8_t kTypeConfig = 2;
constexpr uint8_t kTypeString = 3;
constexpr uint8_t kTypeInterface = 4;
constexpr uint8_t kTypeEndpoint = 5;
constexpr uint8_t kConfigLength = 9;
constexpr uint8_t kInterfaceLength = 9;
constexpr uint8_t kEndpointLength = 7;
constexpr uint8_t kEndpointFields = 9;  // up to bSynchAddress
constexpr int kClearedSlots = 6;

int get_descriptor(libusb_device_handle *dev, uint16_t value, uint16_t index, unsigned char *data, uint16_t length) {
    return libusb_control_transfer(dev, kDirIn, kGetDescriptor, value, index, data, length, kTimeoutMs);
}

uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

// The descriptors of a configuration, from `pos` up to `end`.
struct Walk {
    const uint8_t *raw;
    uint32_t end;
    uint32_t pos;

    // The descriptor at pos, or none when nothing remains or its bLength
    // does not fit what remains.
    const uint8_t *cur() const {
        if (end < pos + 2) return nullptr;
        const uint8_t len = raw[pos];
        if (len < 2 || len > end - pos) return nullptr;
        return raw + pos;
    }
    void next() { pos += raw[pos]; }
};

bool is_interface(const uint8_t *d) { return d[1] == kTypeInterface && d[0] >= kInterfaceLength; }
bool is_endpoint(const uint8_t *d) { return d[1] == kTypeEndpoint && d[0] >= kEndpointLength; }

// Interface k's stretch ends at the first interface descriptor of another
// number.
bool ends_stretch(const uint8_t *d, int k) { return is_interface(d) && d[2] != k; }

void count_stretch(Walk w, int k, int *settings, int *endpoints) {
    *settings = *endpoints = 0;
    for (const uint8_t *d; (d = w.cur()) && !ends_stretch(d, k); w.next()) {
        if (is_interface(d)) ++*settings;
        if (is_endpoint(d)) ++*endpoints;
    }
}

template <typename Entry>
void add_extra(Entry *entry, const uint8_t *d) {
    if (!entry->extra) entry->extra = d;
    entry->extra_length += d[0];
}

void fill_setting(libusb_interface_descriptor *s, const uint8_t *d) {
    s->bLength = d[0];
    s->bDescriptorType = d[1];
    s->bInterfaceNumber = d[2];
    s->bAlternateSetting = d[3];
    s->bNumEndpoints = d[4];
    s->bInterfaceClass = d[5];
    s->bInterfaceSubClass = d[6];
    s->bInterfaceProtocol = d[7];
    s->iInterface = d[8];
}

void fill_endpoint(libusb_endpoint_descriptor *e, const uint8_t *d) {
    uint8_t bytes[kEndpointFields] = {};
    memcpy(bytes, d, d[0] < kEndpointFields ? d[0] : kEndpointFields);
    e->bLength = bytes[0];
    e->bDescriptorType = bytes[1];
    e->bEndpointAddress = bytes[2];
    e->bmAttributes = bytes[3];
    e->wMaxPacketSize = le16(bytes + 4);
    e->bInterval = bytes[6];
    e->bRefresh = bytes[7];
    e->bSynchAddress = bytes[8];
}

// Fills interface k's settings and endpoints from its stretch. A setting
// claims no more endpoints than follow it, so that a reader of
// bNumEndpoints entries stays inside the block. With a device, the
// endpoints also go to its slots.
void fill_stretch(libusb_device *slots, Walk *w, int k, libusb_interface_descriptor *settings,
    libusb_endpoint_descriptor *endpoints, int endpoint_count) {
    libusb_interface_descriptor *s = nullptr;
    libusb_endpoint_descriptor *e = nullptr;
    int next_ep = 0;
    int setting_eps = 0;
    for (const uint8_t *d; (d = w->cur()) && !ends_stretch(d, k); w->next()) {
        if (is_interface(d)) {
            if (s && s->bNumEndpoints > setting_eps) s->bNumEndpoints = (uint8_t)setting_eps;
            s = s ? s + 1 : settings;
            fill_setting(s, d);
            s->endpoint = s->bNumEndpoints != 0 && next_ep < endpoint_count ? &endpoints[next_ep] : nullptr;
            e = nullptr;
            setting_eps = 0;
        } else if (is_endpoint(d)) {
            e = &endpoints[next_ep++];
            fill_endpoint(e, d);
            if (slots) zel_linux_libusb_set_slot(slots, d);
            setting_eps++;
        } else if (e) {
            add_extra(e, d);
        } else if (s) {
            add_extra(s, d);
        }
    }
    if (s && s->bNumEndpoints > setting_eps) s->bNumEndpoints = (uint8_t)setting_eps;
    if (s && s->bNumEndpoints == 0) s->endpoint = nullptr;
}

void free_record(libusb_config_descriptor *config) {
    libusb_interface *interfaces = const_cast<libusb_interface *>(config->interface);
    for (int i = 0; i < config->bNumInterfaces; i++)
        free(const_cast<libusb_interface_descriptor *>(interfaces[i].altsetting));
    free(const_cast<unsigned char *>(config->raw));
    free(config);
}

// Builds the interface array of the record over the received bytes; -11
// when memory runs out (the record is released then). With a device, its
// endpoint slots follow the endpoints found.
int parse_interfaces(libusb_device *slots, libusb_config_descriptor *config, const uint8_t *raw, uint32_t received) {
    libusb_interface *interfaces = const_cast<libusb_interface *>(config->interface);
    Walk w{raw, received, raw[0]};
    for (int k = 0; k < config->bNumInterfaces && w.cur(); k++) {
        int setting_count, endpoint_count;
        count_stretch(w, k, &setting_count, &endpoint_count);
        if (setting_count + endpoint_count == 0) continue;
        void *block = calloc(1,
            setting_count * sizeof(libusb_interface_descriptor) + endpoint_count * sizeof(libusb_endpoint_descriptor));
        if (!block) {
            free_record(config);
            return LIBUSB_ERROR_NO_MEM;
        }
        auto *settings = static_cast<libusb_interface_descriptor *>(block);
        auto *endpoints = reinterpret_cast<libusb_endpoint_descriptor *>(settings + setting_count);
        // Entry k owns the block, also when its stretch held endpoints alone.
        interfaces[k].altsetting = settings;
        interfaces[k].num_altsetting = setting_count;
        fill_stretch(slots, &w, k, settings, endpoints, endpoint_count);
    }
    return 0;
}

}  // namespace

extern "C" {

int libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *descriptor) {
    // A device that sends fewer than 18 bytes leaves zeros, not stale fields.
    memset(descriptor, 0, sizeof *descriptor);
    const int r = get_descriptor(dev, 0x0100, 0, reinterpret_cast<unsigned char *>(descriptor), sizeof *descriptor);
    return r < 0 ? r : 0;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *dev, uint8_t index, unsigned char *data, int length) {
    unsigned char buffer[kStringBuffer];
    int r = get_descriptor(dev, kTypeString << 8, 0, buffer, sizeof buffer);
    if (r < 0) return r;
    if (r < 4) return LIBUSB_ERROR_IO;
    const uint16_t language = le16(buffer + 2);
    r = get_descriptor(dev, (uint16_t)(kTypeString << 8 | index), language, buffer, sizeof buffer);
    if (r < 0) return r;
    if (r < 2 || r != buffer[0] || buffer[1] != kTypeString) return LIBUSB_ERROR_IO;
    if (length < 1) return 0;
    const int total = buffer[0];
    int stored = 0;
    if (total >= 3 && length >= 2) {
        for (int i = 2; i + 1 < total && stored < length - 1; i += 2) {
            const uint8_t low = buffer[i];
            const uint8_t high = buffer[i + 1];
            data[stored++] = (high != 0 || low >= 0x80) ? '?' : low;
        }
    }
    data[stored] = 0;
    return stored;
}

int libusb_get_config_descriptor(libusb_device *dev, uint8_t index, struct libusb_config_descriptor **out) {
    const uint16_t value = (uint16_t)(kTypeConfig << 8 | index);
    uint8_t header[kConfigLength];
    int r = get_descriptor(dev, value, 0, header, sizeof header);
    if (r < 0) return r;
    if (r < kConfigLength) return LIBUSB_ERROR_IO;
    const uint16_t total = le16(header + 2);
    if (total < kConfigLength) return LIBUSB_ERROR_IO;
    auto *raw = static_cast<uint8_t *>(malloc(total));
    if (!raw) return LIBUSB_ERROR_NO_MEM;
    r = get_descriptor(dev, value, 0, raw, total);
    if (r < 0) {
        free(raw);
        return r;
    }
    // Only the active configuration's endpoints take the slots; a listing
    // that reads the others leaves them as they are.
    libusb_device *slots = zel_linux_libusb_is_active_config(dev, index) ? dev : nullptr;
    if (slots) zel_linux_libusb_clear_slots(slots, 1, kClearedSlots);
    // Only what arrived is read: a short answer ends the walk early.
    const uint32_t received = (uint32_t)r;
    if (received < kConfigLength || raw[1] != kTypeConfig || raw[0] < kConfigLength) {
        free(raw);
        return LIBUSB_ERROR_IO;
    }
    const uint8_t interface_count = raw[4];
    auto *config = static_cast<libusb_config_descriptor *>(
        calloc(1, sizeof(libusb_config_descriptor) + interface_count * sizeof(libusb_interface)));
    if (!config) {
        free(raw);
        return LIBUSB_ERROR_NO_MEM;
    }
    config->bLength = raw[0];
    config->bDescriptorType = raw[1];
    config->wTotalLength = le16(raw + 2);
    config->bNumInterfaces = interface_count;
    config->bConfigurationValue = raw[5];
    config->iConfiguration = raw[6];
    config->bmAttributes = raw[7];
    config->MaxPower = raw[8];
    config->raw = raw;
    config->interface = reinterpret_cast<libusb_interface *>(config + 1);
    r = parse_interfaces(slots, config, raw, received);
    if (r != 0) return r;
    *out = config;
    return 0;
}

void libusb_free_config_descriptor(struct libusb_config_descriptor *config) {
    if (config) free_record(config);
}

void libusb_free_device_list(libusb_device **list, int unref) {
    if (!list) return;
    if (unref)
        for (libusb_device **d = list; *d; d++) libusb_unref_device(*d);
    free(list);
}

}  // extern "C"
