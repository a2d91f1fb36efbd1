// Walking a configuration descriptor by interface index and alternate
// setting, for back ends that hold raw descriptors.
#include "zel_host_usb_backend.h"

namespace {

constexpr uint8_t kInterface = 4;
constexpr uint8_t kEndpoint = 5;
constexpr uint8_t kInterfaceLength = 9;
constexpr uint8_t kEndpointLength = 7;

// Calls `fn(descriptor)` for each whole descriptor after the configuration
// descriptor; stops at a malformed length or when `fn` answers false.
template <class Fn>
void walk(const uint8_t *config, uint32_t length, Fn fn) {
    if (!config || length < 2) return;
    uint32_t at = config[0];
    while (at + 2 <= length) {
        const uint8_t len = config[at];
        if (len < 2 || len > length - at) return;
        if (!fn(config + at)) return;
        at += len;
    }
}

// Index of interface number `number` among the distinct numbers seen so far
// (added when new); -1 when the table is full.
int index_of(uint8_t number, uint8_t *seen, int &count) {
    for (int i = 0; i < count; i++)
        if (seen[i] == number) return i;
    if (count == 32) return -1;
    seen[count] = number;
    return count++;
}

}  // namespace

const uint8_t *zel_host_usb_find_interface(
    const uint8_t *config, uint32_t length, uint8_t index, uint8_t alt, int pipe, const uint8_t **endpoint) {
    uint8_t seen[32];
    int count = 0;
    const uint8_t *found = nullptr;
    const uint8_t *ep = nullptr;
    int ep_count = 0;
    walk(config, length, [&](const uint8_t *d) {
        if (d[1] == kInterface && d[0] >= kInterfaceLength) {
            if (found) return false;  // the setting's endpoints end here
            const int i = index_of(d[2], seen, count);
            if (i == index && d[3] == alt) found = d;
        } else if (d[1] == kEndpoint && d[0] >= kEndpointLength && found) {
            if (ep_count == pipe) ep = d;
            ep_count++;
        }
        return true;
    });
    if (endpoint) *endpoint = ep;
    if (found && pipe >= 0 && (!ep || pipe >= found[4])) return nullptr;
    return found;
}

int zel_host_usb_count_interfaces(const uint8_t *config, uint32_t length) {
    uint8_t seen[32];
    int count = 0;
    walk(config, length, [&](const uint8_t *d) {
        if (d[1] == kInterface && d[0] >= kInterfaceLength) index_of(d[2], seen, count);
        return true;
    });
    return count;
}
