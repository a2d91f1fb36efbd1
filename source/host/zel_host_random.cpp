// The host's random source over the C++ library's random device.
#include "zel_host_random.h"

#include <random>

namespace {

// The host's random source; "default" when getentropy is not offered.
std::random_device &random_source() {
    static std::random_device *source = [] {
        try {
            return new std::random_device("getentropy");
        } catch (...) {
            return new std::random_device();
        }
    }();
    return *source;
}

}  // namespace

extern "C" uint32_t zel_host_random_word(void) { return random_source()(); }
