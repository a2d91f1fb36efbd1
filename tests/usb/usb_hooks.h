// Test versions of the application's hooks: each call is written to one
// event log that the tests read.
#ifndef USB_HOOKS_H
#define USB_HOOKS_H

#include <mutex>
#include <string>
#include <vector>

#include "zel_usbh_hooks.h"

namespace usb_test {

class EventLog {
public:
    void add(const std::string &e) {
        std::lock_guard<std::mutex> lock(m_);
        events_.push_back(e);
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(m_);
        std::vector<std::string> out;
        out.swap(events_);
        return out;
    }
    size_t count(const std::string &e) {
        std::lock_guard<std::mutex> lock(m_);
        size_t n = 0;
        for (auto &x : events_) n += x == e;
        return n;
    }

private:
    std::mutex m_;
    std::vector<std::string> events_;
};

EventLog &events();

// The SCSI device the last on_msc_disk_connect handed over (none after its
// disconnect), and a callback run on each connect (in kernel context).
struct zel_scsi *connected_disk();
void on_disk_connect(void (*fn)(struct zel_scsi *));

}  // namespace usb_test

#endif
