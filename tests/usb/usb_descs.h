// Descriptor builders for the USB tests.
#ifndef USB_DESCS_H
#define USB_DESCS_H

#include <cstdint>
#include <vector>

namespace usb_test {

using Bytes = std::vector<uint8_t>;

inline Bytes device_desc(uint16_t vid, uint16_t pid, uint8_t configs, uint8_t mps0 = 64, uint8_t dev_class = 0) {
    return {18, 1, 0x00, 0x02, dev_class, 0, 0, mps0, (uint8_t)vid, (uint8_t)(vid >> 8), (uint8_t)pid,
        (uint8_t)(pid >> 8), 0x00, 0x01, 1, 2, 3, configs};
}

struct Ep {
    uint8_t address;
    uint8_t attributes;
    uint16_t mps;
    uint8_t interval;
};

struct Ifs {
    uint8_t number;
    uint8_t alt;
    uint8_t cls, sub, proto;
    std::vector<Ep> eps;
    Bytes extra;  // class descriptors before the endpoints
};

inline Bytes config_desc(uint8_t value, uint8_t interfaces, const std::vector<Ifs> &settings) {
    Bytes c = {9, 2, 0, 0, interfaces, value, 0, 0x80, 50};
    for (const Ifs &s : settings) {
        Bytes i = {9, 4, s.number, s.alt, (uint8_t)s.eps.size(), s.cls, s.sub, s.proto, 0};
        c.insert(c.end(), i.begin(), i.end());
        c.insert(c.end(), s.extra.begin(), s.extra.end());
        for (const Ep &e : s.eps) {
            Bytes d = {7, 5, e.address, e.attributes, (uint8_t)e.mps, (uint8_t)(e.mps >> 8), e.interval};
            c.insert(c.end(), d.begin(), d.end());
        }
    }
    c[2] = (uint8_t)c.size();
    c[3] = (uint8_t)(c.size() >> 8);
    return c;
}

// A mass-storage interface 08/06/50 with bulk IN 0x81 and OUT 0x02.
inline Ifs msc_ifs(uint8_t number, uint16_t mps = 512) {
    return {number, 0, 0x08, 0x06, 0x50, {{0x81, 2, mps, 0}, {0x02, 2, mps, 0}}, {}};
}

}  // namespace usb_test

#endif
