#include "libusb_standin.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace standin {
namespace {

struct Handle {
    Device *dev;
};

// A configuration descriptor with the storage its pointers point into.
struct Config {
    libusb_config_descriptor c{};
    std::vector<libusb_interface> interfaces;
    std::vector<libusb_interface_descriptor> settings;
    std::vector<std::vector<libusb_endpoint_descriptor>> endpoints;
};

struct HotplugEvent {
    Device *dev;
    libusb_hotplug_event event;
};

std::vector<std::unique_ptr<Device>> g_all;  // every device made, kept for the run
std::vector<Device *> g_bus;
bool g_hotplug;
libusb_hotplug_callback_fn g_callback;
void *g_callback_data;
int g_callbacks;
std::deque<HotplugEvent> g_events;
bool g_interrupted;
std::condition_variable g_event_cv;
int g_context;  // its address is the session

Device *dev_of(libusb_device *d) { return reinterpret_cast<Device *>(d); }
libusb_device *as_libusb(Device *d) { return reinterpret_cast<libusb_device *>(d); }
Device *dev_of(libusb_device_handle *h) { return reinterpret_cast<Handle *>(h)->dev; }

using Guard = std::lock_guard<std::mutex>;

int init(libusb_context **ctx) {
    *ctx = reinterpret_cast<libusb_context *>(&g_context);
    return 0;
}

ssize_t get_device_list(libusb_context *, libusb_device ***list) {
    Guard g(lock());
    auto **array = new libusb_device *[g_bus.size() + 1];
    size_t n = 0;
    for (Device *d : g_bus) {
        d->refs++;
        array[n++] = as_libusb(d);
    }
    array[n] = nullptr;
    *list = array;
    return (ssize_t)n;
}

void unref_locked(Device *d) { d->refs--; }

void free_device_list(libusb_device **list, int unref) {
    Guard g(lock());
    if (unref)
        for (libusb_device **d = list; *d; d++) unref_locked(dev_of(*d));
    delete[] list;
}

libusb_device *ref_device(libusb_device *d) {
    Guard g(lock());
    dev_of(d)->refs++;
    return d;
}

void unref_device(libusb_device *d) {
    Guard g(lock());
    unref_locked(dev_of(d));
}

int get_device_descriptor(libusb_device *d, libusb_device_descriptor *desc) {
    Guard g(lock());
    *desc = libusb_device_descriptor{};
    desc->bLength = 18;
    desc->bDescriptorType = 1;
    desc->idVendor = dev_of(d)->vid;
    desc->idProduct = dev_of(d)->pid;
    desc->bNumConfigurations = 1;
    return 0;
}

uint8_t get_bus_number(libusb_device *d) { return dev_of(d)->bus; }
uint8_t get_device_address(libusb_device *d) { return dev_of(d)->address; }

int get_port_numbers(libusb_device *d, uint8_t *ports, int length) {
    const std::vector<uint8_t> &p = dev_of(d)->ports;
    if ((int)p.size() > length) return LIBUSB_ERROR_OVERFLOW;
    std::copy(p.begin(), p.end(), ports);
    return (int)p.size();
}

int get_device_speed(libusb_device *d) { return dev_of(d)->speed; }

int open(libusb_device *d, libusb_device_handle **handle) {
    Guard g(lock());
    Device *dev = dev_of(d);
    if (dev->gone) return LIBUSB_ERROR_NO_DEVICE;
    if (dev->open_error) return dev->open_error;
    dev->handles++;
    dev->refs++;
    *handle = reinterpret_cast<libusb_device_handle *>(new Handle{dev});
    return 0;
}

void close(libusb_device_handle *handle) {
    Guard g(lock());
    Device *dev = dev_of(handle);
    dev->handles--;
    dev->refs--;
    delete reinterpret_cast<Handle *>(handle);
}

libusb_device *get_device(libusb_device_handle *handle) { return as_libusb(dev_of(handle)); }

int get_active_config_descriptor(libusb_device *d, libusb_config_descriptor **out) {
    Guard g(lock());
    Device *dev = dev_of(d);
    if (dev->gone) return LIBUSB_ERROR_NO_DEVICE;
    auto *c = new Config;
    const size_t n = dev->interfaces.size();
    c->interfaces.resize(n);
    c->settings.resize(n);
    c->endpoints.resize(n);
    for (size_t i = 0; i < n; i++) {
        const Interface &ifs = dev->interfaces[i];
        for (const Endpoint &e : ifs.endpoints) {
            libusb_endpoint_descriptor ep{};
            ep.bLength = 7;
            ep.bDescriptorType = LIBUSB_DT_ENDPOINT;
            ep.bEndpointAddress = e.address;
            ep.bmAttributes = e.type;
            ep.wMaxPacketSize = 512;
            c->endpoints[i].push_back(ep);
        }
        libusb_interface_descriptor &s = c->settings[i];
        s.bLength = 9;
        s.bDescriptorType = LIBUSB_DT_INTERFACE;
        s.bInterfaceNumber = ifs.number;
        s.bNumEndpoints = (uint8_t)ifs.endpoints.size();
        s.bInterfaceClass = ifs.cls;
        s.endpoint = c->endpoints[i].data();
        c->interfaces[i].altsetting = &s;
        c->interfaces[i].num_altsetting = 1;
    }
    c->c.bLength = 9;
    c->c.bDescriptorType = LIBUSB_DT_CONFIG;
    c->c.bNumInterfaces = (uint8_t)n;
    c->c.bConfigurationValue = dev->configuration;
    c->c.interface = c->interfaces.data();
    *out = &c->c;
    return 0;
}

void free_config_descriptor(libusb_config_descriptor *config) { delete reinterpret_cast<Config *>(config); }

Interface *interface_of(Device *dev, int number) {
    for (Interface &i : dev->interfaces)
        if (i.number == number) return &i;
    return nullptr;
}

int kernel_driver_active(libusb_device_handle *h, int number) {
    Guard g(lock());
    Interface *i = interface_of(dev_of(h), number);
    return i ? (i->kernel_driver ? 1 : 0) : LIBUSB_ERROR_NOT_FOUND;
}

int detach_kernel_driver(libusb_device_handle *h, int number) {
    Guard g(lock());
    Interface *i = interface_of(dev_of(h), number);
    if (!i || !i->kernel_driver) return LIBUSB_ERROR_NOT_FOUND;
    if (dev_of(h)->detach_error) return dev_of(h)->detach_error;
    i->kernel_driver = false;
    return 0;
}

int claim_interface(libusb_device_handle *h, int number) {
    Guard g(lock());
    Device *dev = dev_of(h);
    Interface *i = interface_of(dev, number);
    if (dev->gone) return LIBUSB_ERROR_NO_DEVICE;
    if (!i) return LIBUSB_ERROR_NOT_FOUND;
    if (i->kernel_driver) return LIBUSB_ERROR_BUSY;
    dev->claimed.insert(number);
    return 0;
}

int release_interface(libusb_device_handle *h, int number) {
    Guard g(lock());
    return dev_of(h)->claimed.erase(number) ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int set_interface_alt_setting(libusb_device_handle *h, int number, int alt) {
    Guard g(lock());
    dev_of(h)->alt_settings.emplace_back(number, alt);
    return 0;
}

int set_configuration(libusb_device_handle *h, int value) {
    Guard g(lock());
    Device *dev = dev_of(h);
    dev->set_configurations.push_back(value);
    if (!dev->claimed.empty()) {
        dev->set_configuration_while_claimed = true;
        return LIBUSB_ERROR_BUSY;  // as libusb answers then
    }
    if (value > 0) dev->configuration = (uint8_t)value;
    return 0;
}

int get_configuration(libusb_device_handle *h, int *value) {
    Guard g(lock());
    if (dev_of(h)->gone) return LIBUSB_ERROR_NO_DEVICE;
    *value = dev_of(h)->configuration;
    return 0;
}

int clear_halt(libusb_device_handle *h, unsigned char endpoint) {
    Guard g(lock());
    dev_of(h)->cleared.push_back(endpoint);
    dev_of(h)->halted.erase(endpoint);
    return 0;
}

int control_transfer(libusb_device_handle *h, uint8_t request_type, uint8_t request, uint16_t value, uint16_t index,
    unsigned char *data, uint16_t length, unsigned int timeout) {
    Guard g(lock());
    Device *dev = dev_of(h);
    dev->controls.push_back({request_type, request, value, index, length, timeout});
    if (dev->gone) return LIBUSB_ERROR_NO_DEVICE;
    if (!dev->control_errors.empty()) {
        const int e = dev->control_errors.front();
        dev->control_errors.pop_front();
        return e;
    }
    if (!(request_type & 0x80)) return length;
    const size_t n = std::min<size_t>(length, dev->control_answer.size());
    memcpy(data, dev->control_answer.data(), n);
    return (int)n;
}

int pipe_transfer(libusb_device_handle *h, unsigned char endpoint, unsigned char *data, int length, int *moved) {
    *moved = 0;
    {
        Guard g(lock());
        Device *dev = dev_of(h);
        if (dev->gone) return LIBUSB_ERROR_NO_DEVICE;
        if (!dev->pipe_errors.empty()) {
            const int e = dev->pipe_errors.front();
            dev->pipe_errors.pop_front();
            return e;
        }
        if (dev->halted.count(endpoint)) return LIBUSB_ERROR_PIPE;
        if (!(endpoint & 0x80)) {
            dev->out_data.emplace_back(data, data + length);
            *moved = length;
            return 0;
        }
        std::deque<std::vector<uint8_t>> &q = dev->in_data[endpoint];
        if (!q.empty()) {
            const size_t n = std::min<size_t>((size_t)length, q.front().size());
            memcpy(data, q.front().data(), n);
            q.pop_front();
            *moved = (int)n;
            return 0;
        }
    }
    // Nothing to read: the slice passes (shortened, so that tests run fast).
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return LIBUSB_ERROR_TIMEOUT;
}

int bulk_transfer(
    libusb_device_handle *h, unsigned char endpoint, unsigned char *data, int length, int *moved, unsigned int) {
    {
        Guard g(lock());
        dev_of(h)->bulk_calls++;
    }
    return pipe_transfer(h, endpoint, data, length, moved);
}

int interrupt_transfer(
    libusb_device_handle *h, unsigned char endpoint, unsigned char *data, int length, int *moved, unsigned int) {
    {
        Guard g(lock());
        dev_of(h)->interrupt_calls++;
    }
    return pipe_transfer(h, endpoint, data, length, moved);
}

int has_capability(uint32_t capability) {
    Guard g(lock());
    return capability == LIBUSB_CAP_HAS_HOTPLUG && g_hotplug;
}

int hotplug_register_callback(libusb_context *, int, int, int, int, int, libusb_hotplug_callback_fn callback,
    void *user_data, libusb_hotplug_callback_handle *handle) {
    Guard g(lock());
    g_callback = callback;
    g_callback_data = user_data;
    g_callbacks++;
    *handle = 1;
    return 0;
}

void hotplug_deregister_callback(libusb_context *, libusb_hotplug_callback_handle) {
    Guard g(lock());
    g_callback = nullptr;
    g_callbacks--;
}

int handle_events_timeout_completed(libusb_context *ctx, timeval *tv, int *) {
    std::unique_lock<std::mutex> g(lock());
    const auto limit = std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec);
    g_event_cv.wait_for(g, limit, [] { return !g_events.empty() || g_interrupted; });
    g_interrupted = false;
    while (!g_events.empty()) {
        const HotplugEvent e = g_events.front();
        g_events.pop_front();
        libusb_hotplug_callback_fn callback = g_callback;
        void *data = g_callback_data;
        g.unlock();
        if (callback) callback(ctx, as_libusb(e.dev), e.event, data);
        g.lock();
    }
    return 0;
}

void interrupt_event_handler(libusb_context *) {
    Guard g(lock());
    g_interrupted = true;
    g_event_cv.notify_all();
}

void post_event(Device *dev, libusb_hotplug_event event) {
    if (!g_hotplug) return;
    g_events.push_back({dev, event});
    g_event_cv.notify_all();
}

}  // namespace

std::mutex &lock() {
    static std::mutex m;
    return m;
}

const zel_host_usb_libusb_calls_t calls = {
    init,
    get_device_list,
    free_device_list,
    ref_device,
    unref_device,
    get_device_descriptor,
    get_bus_number,
    get_device_address,
    get_port_numbers,
    get_device_speed,
    open,
    close,
    get_device,
    get_active_config_descriptor,
    free_config_descriptor,
    kernel_driver_active,
    detach_kernel_driver,
    claim_interface,
    release_interface,
    set_interface_alt_setting,
    set_configuration,
    get_configuration,
    clear_halt,
    control_transfer,
    bulk_transfer,
    interrupt_transfer,
    has_capability,
    hotplug_register_callback,
    hotplug_deregister_callback,
    handle_events_timeout_completed,
    interrupt_event_handler,
};

void reset(bool hotplug) {
    Guard g(lock());
    g_bus.clear();
    g_events.clear();
    g_hotplug = hotplug;
}

Device *plug(const Device &model) {
    Guard g(lock());
    g_all.push_back(std::make_unique<Device>(model));
    Device *dev = g_all.back().get();
    g_bus.push_back(dev);
    post_event(dev, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    return dev;
}

void unplug(Device *dev) {
    Guard g(lock());
    dev->gone = true;
    g_bus.erase(std::remove(g_bus.begin(), g_bus.end(), dev), g_bus.end());
    post_event(dev, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
}

int hotplug_callbacks() {
    Guard g(lock());
    return g_callbacks;
}

}  // namespace standin
