// A simulated adapter for the host-USB tests: the device with a memory
// disk behind its mass-storage interface, plugged and opened through the
// layer, and the host's side of Bulk-Only Transport written out by hand.
#ifndef SIM_FIXTURE_H
#define SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "zel_host_usb.h"
#include "zel_host_usb_sim.h"
#include "zel_host_usb_sim_disk.h"
#include "zel_test.h"

namespace sim_test {

constexpr uint16_t kVid = 0xABCD;
constexpr uint16_t kPid = 0x1234;
constexpr uint32_t kTimeout = 5000;  // only a guard against a hang
constexpr uint8_t kBulkIn = 0x81;
constexpr uint8_t kBulkOut = 0x02;
constexpr uint32_t kBlocks = 256;

struct __attribute__((packed)) Cbw {
    uint32_t signature;
    uint32_t tag;
    uint32_t length;
    uint8_t flags;
    uint8_t lun;
    uint8_t cb_length;
    uint8_t cb[16];
};
static_assert(sizeof(Cbw) == 31);

struct __attribute__((packed)) Csw {
    uint32_t signature;
    uint32_t tag;
    uint32_t residue;
    uint8_t status;
};
static_assert(sizeof(Csw) == 13);

// What one command gave: the data phase's answer and the CSW.
struct Result {
    int data = 0;  // bytes moved, or the data phase's error code
    Csw csw{};
    int csw_read = 0;  // the CSW read's answer (13)
};

class SimAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        zel_test::boot();
        ASSERT_EQ(0, zel_host_usb_use(ZEL_HOST_USB_SIM));
        disk = zel_host_usb_sim_disk_memory(512, kBlocks);
        ASSERT_NE(nullptr, disk);
        zel_host_usb_sim_config_init(&config, kVid, kPid);
        config.scsi = zel_host_usb_sim_disk_unit(disk);
        Configure(config);
        dev = zel_host_usb_sim_create(&config);
        ASSERT_NE(nullptr, dev);
        ASSERT_EQ(0, zel_host_usb_sim_plug(dev));
        if (open_at_start) {
            ASSERT_EQ(0, Open(&h));
        }
    }
    void TearDown() override {
        if (h) zel_host_usb_close(h);
        if (dev) zel_host_usb_sim_destroy(dev);
        if (disk) zel_host_usb_sim_disk_destroy(disk);
    }
    // Lets a test change the configuration before the device is made.
    virtual void Configure(zel_host_usb_sim_config_t &) {}

    int Open(zel_host_usb_handle_t *out) {
        zel_host_usb_found_t found{};
        const int n = zel_host_usb_find(kVid, kPid, &found, 1);
        if (n != 1) return n < 0 ? n : ZEL_HOST_USB_ENODEV;
        return zel_host_usb_open(found.path, out);
    }

    int Control(uint8_t type, uint8_t request, uint16_t value, uint16_t index, uint16_t length, void *data) {
        const zel_host_usb_setup_t s{type, request, value, index, length};
        return zel_host_usb_control(h, &s, data, kTimeout);
    }

    int SendCbw(const uint8_t *cdb, uint8_t cdb_length, uint32_t length, bool in, uint32_t tag) {
        Cbw cbw{0x43425355, tag, length, (uint8_t)(in ? 0x80 : 0x00), 0, cdb_length, {}};
        memcpy(cbw.cb, cdb, cdb_length);
        return zel_host_usb_write_pipe(h, 0, kBulkOut, &cbw, sizeof cbw, kTimeout);
    }

    // Reads the CSW; a stalled bulk IN is cleared once, as the host does.
    int ReadCsw(Csw *csw) {
        int r = zel_host_usb_read_pipe(h, 0, kBulkIn, csw, sizeof *csw, kTimeout);
        if (r == ZEL_HOST_USB_EPIPE) {
            EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkIn));
            r = zel_host_usb_read_pipe(h, 0, kBulkIn, csw, sizeof *csw, kTimeout);
        }
        return r;
    }

    // One whole command: CBW, data phase of `length` bytes (IN into `data`,
    // OUT from it) with a stall cleared as the host does, then the CSW.
    Result Command(const std::vector<uint8_t> &cdb, void *data, uint32_t length, bool in) {
        Result r;
        const uint32_t tag = ++tag_;
        EXPECT_EQ(31, SendCbw(cdb.data(), (uint8_t)cdb.size(), length, in, tag));
        if (length > 0) {
            r.data = in ? zel_host_usb_read_pipe(h, 0, kBulkIn, data, length, kTimeout)
                        : zel_host_usb_write_pipe(h, 0, kBulkOut, data, length, kTimeout);
            if (r.data == ZEL_HOST_USB_EPIPE) {
                EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, in ? kBulkIn : kBulkOut));
            }
        }
        r.csw_read = ReadCsw(&r.csw);
        EXPECT_EQ(13, r.csw_read);
        EXPECT_EQ(0x53425355u, r.csw.signature);
        EXPECT_EQ(tag, r.csw.tag);
        return r;
    }

    static std::vector<uint8_t> Rw10(uint8_t op, uint32_t lba, uint16_t count) {
        return {op, 0, (uint8_t)(lba >> 24), (uint8_t)(lba >> 16), (uint8_t)(lba >> 8), (uint8_t)lba, 0,
            (uint8_t)(count >> 8), (uint8_t)count, 0};
    }

    zel_host_usb_sim_config_t config{};
    zel_host_usb_sim_disk_t *disk = nullptr;
    zel_host_usb_sim_dev_t *dev = nullptr;
    zel_host_usb_handle_t h = 0;
    bool open_at_start = true;
    uint32_t tag_ = 0x100;
};

}  // namespace sim_test

#endif
