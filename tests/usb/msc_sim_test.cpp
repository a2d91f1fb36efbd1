// The mass-storage class over the simulated adapter: Bulk-Only Transport
// through the URBs as a SCSI device, then the SCSI block device and the MBR
// mount of its FAT partition.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "fat_support.h"
#include "sim_stack.h"
#include "zel_mal_mbr.h"
#include "zel_scsi_mal.h"
#include "zel_usbh_msc.h"

using namespace usb_test;
using fat_test::done;

namespace {

struct MscSimTest : ::testing::Test {
    void SetUp() override {
        start_sim_stack();
        events().take();
    }
};

// Runs one command on the disk in a framework thread; its answer.
// A command that does not end within the bound fails the test (and answers
// 1, which no command gives).
intptr_t command(zel_scsi_t *scsi, std::vector<uint8_t> cdb, void *buffer = nullptr, uint32_t size = 0,
    zel_test::milliseconds bound = zel_test::kTimeout) {
    cdb.resize(16);
    auto r = std::make_shared<intptr_t>(1);
    EXPECT_TRUE(zel_test::run_in_thread(
        [=] {
            const zel_scsi_xfer_t xfer = {buffer, size};
            *r = done(zel_scsi_execute(scsi, cdb.data(), size || buffer ? &xfer : nullptr));
        },
        bound))
        << "the command ended";
    return *r;
}

std::vector<uint8_t> rw10(uint8_t op, uint32_t lba, uint16_t count) {
    return {op, 0, (uint8_t)(lba >> 24), (uint8_t)(lba >> 16), (uint8_t)(lba >> 8), (uint8_t)lba, 0,
        (uint8_t)(count >> 8), (uint8_t)count, 0};
}

TEST_F(MscSimTest, CommandsRunAsBulkOnlyExchanges) {
    SimAdapter a(64);
    a.config.speed = ZEL_HOST_USB_SPEED_FULL;
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_scsi_t *scsi = connected_disk();
    uint8_t *bytes = zel_host_usb_sim_disk_bytes(a.disk);
    for (int i = 0; i < 64 * 512; i++) bytes[i] = (uint8_t)(i * 7 + (i >> 9));

    EXPECT_EQ(0, command(scsi, {0x00})) << "TEST UNIT READY: CBW and CSW only";
    uint8_t inquiry[36] = {};
    EXPECT_EQ(36, command(scsi, {0x12, 0, 0, 0, 36, 0}, inquiry, sizeof inquiry));
    uint8_t cap[8] = {};
    EXPECT_EQ(8, command(scsi, {0x25}, cap, sizeof cap));
    EXPECT_EQ(63u, zel_get_unaligned_be32(cap));
    EXPECT_EQ(512u, zel_get_unaligned_be32(cap + 4));

    std::vector<uint8_t> data(4096);
    EXPECT_EQ(4096, command(scsi, rw10(0x28, 8, 8), data.data(), 4096)) << "READ(10) of 4096 at full speed";
    EXPECT_EQ(0, memcmp(data.data(), bytes + 8 * 512, 4096));
    for (auto &b : data) b ^= 0x5A;
    EXPECT_EQ(4096, command(scsi, rw10(0x2A, 16, 8), data.data(), 4096));
    EXPECT_EQ(0, memcmp(data.data(), bytes + 16 * 512, 4096)) << "WRITE(10) sent its data on bulk OUT";
    EXPECT_EQ(0, a.status().halted);

    // An opcode the unit fails: CSW status 1.
    uint8_t junk[16];
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, {0x5C, 0, 0, 0, 0, 0, 0, 0, 16, 0}, junk, sizeof junk));
    // Past the end of the disk.
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, rw10(0x28, 64, 1), data.data(), 512));
    // Not a command block at all: refused before anything is sent.
    const uint32_t sent = a.status().commands;
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, {0xC0}));
    EXPECT_EQ(sent, a.status().commands);
    EXPECT_EQ(0, command(scsi, {0x00})) << "the transport is idle again";
    EXPECT_TRUE(zel_test::run_in_thread([&] {
        const uint8_t tur[16] = {};
        EXPECT_EQ(ZEL_USBH_ERR_FAIL, done(zel_scsi_execute_stream(scsi, tur, nullptr))) << "streams: not supported";
    }));
}

TEST_F(MscSimTest, TransportFaultsEndTheCommand) {
    SimAdapter a(64);
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_scsi_t *scsi = connected_disk();
    std::vector<uint8_t> data(4096);

    // Less data than the CBW announced, ending on a whole packet: the device
    // stalls bulk IN, the halt is cleared and the CSW still read.
    EXPECT_EQ(512, command(scsi, rw10(0x28, 0, 1), data.data(), 1024));
    EXPECT_EQ(0u, a.status().halted) << "CLEAR_FEATURE(ENDPOINT_HALT) on 0x81";
    EXPECT_EQ(4096, command(scsi, rw10(0x28, 0, 8), data.data(), 4096));

    // A CBW that does not get through.
    zel_host_usb_sim_fail_transfers(a.dev, 1, ZEL_HOST_USB_EIO);
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, rw10(0x28, 0, 8), data.data(), 4096));

    // A short packet ends the data phase: the bytes that came are counted.
    zel_host_usb_sim_short_transfer(a.dev, 0x81, 1000);
    EXPECT_EQ(1000, command(scsi, rw10(0x28, 0, 8), data.data(), 4096));
    EXPECT_EQ(4096, command(scsi, rw10(0x28, 0, 8), data.data(), 4096));
}

// A CSW read that stalls is read again once the halt is cleared; a second
// stall or a CSW that is not valid ends in reset recovery, after which the
// disk answers again instead of waiting for a CSW nobody reads.
TEST_F(MscSimTest, FailedStatusIsRecoveredAndTheDiskStaysUsable) {
    SimAdapter a(64);
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_scsi_t *scsi = connected_disk();
    std::vector<uint8_t> data(4096);
    const zel_test::milliseconds bound(5000);

    zel_host_usb_sim_status_faults(a.dev, 1, 0);
    EXPECT_EQ(0, command(scsi, {0x00}, nullptr, 0, bound)) << "one stall: the CSW is read again";
    zel_host_usb_sim_status_faults(a.dev, 1, 0);
    EXPECT_EQ(4096, command(scsi, rw10(0x28, 0, 8), data.data(), 4096, bound));
    EXPECT_EQ(0u, a.status().halted);
    EXPECT_EQ(0u, a.status().bot_resets);

    zel_host_usb_sim_status_faults(a.dev, 2, 0);
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, rw10(0x28, 0, 8), data.data(), 4096, bound)) << "two stalls";
    EXPECT_EQ(1u, a.status().bot_resets);
    EXPECT_EQ(0u, a.status().halted) << "both halts cleared after the reset";
    EXPECT_EQ(4096, command(scsi, rw10(0x28, 0, 8), data.data(), 4096, bound));

    zel_host_usb_sim_status_faults(a.dev, 0, 1);
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, {0x00}, nullptr, 0, bound)) << "a CSW without its signature";
    EXPECT_EQ(2u, a.status().bot_resets);
    EXPECT_EQ(0, command(scsi, {0x00}, nullptr, 0, bound));
    EXPECT_EQ(2u, a.status().bot_resets);
}

// A device that never sends its CSW: the read times out, reset recovery
// runs, the command fails and the next one works.
TEST_F(MscSimTest, StatusThatNeverComesTimesOutIntoAReset) {
    SimAdapter a(64);
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_scsi_t *scsi = connected_disk();
    auto *m = ZEL_CONTAINER_OF(scsi, zel_usbh_msc_t, scsi);
    EXPECT_EQ(ZEL_MSC_TIMEOUT_MS, m->timeout_ms);
    zel_test::run_as_irq([&] { m->timeout_ms = 200; });
    zel_host_usb_sim_hold_status(a.dev, true);
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, {0x00}, nullptr, 0, zel_test::milliseconds(10000)));
    EXPECT_EQ(1u, a.status().bot_resets);
    zel_host_usb_sim_hold_status(a.dev, false);
    zel_test::run_as_irq([&] { m->timeout_ms = ZEL_MSC_TIMEOUT_MS; });
    std::vector<uint8_t> data(4096);
    EXPECT_EQ(0, command(scsi, {0x00}, nullptr, 0, zel_test::milliseconds(5000)));
    EXPECT_EQ(4096, command(scsi, rw10(0x28, 0, 8), data.data(), 4096, zel_test::milliseconds(5000)));
}

TEST_F(MscSimTest, DiskOfTheAdapterMountsAndStaysCleanAfterAWrite) {
    fat_test::TempDir t;
    const std::string image = t / "adapter.img";
    ASSERT_TRUE(fat_test::make_disk(image, 16 << 20, {{1, 2048, 16384, 0x06, "-F 16 -s 1 -n ADAPTER"}}));
    const std::vector<uint8_t> psn = fat_test::pattern(3000, 4);
    t.put("psn.txt", psn);
    ASSERT_EQ(0, fat_test::sh("mcopy -i " + image + "@@1048576 " + t / "psn.txt" + " '::PSN Config.txt'"));

    SimAdapter a(0, image);
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    // The block device and the mount live as long as the binary: nothing
    // unmounts them.
    static zel_scsi_mal_t blocks[4];
    static int used = 0;
    zel_scsi_mal_t &bd = blocks[used++];
    bd = {};
    bd.mal.drv = &zel_scsi_mal_drv;
    bd.scsi = connected_disk();
    const std::vector<uint8_t> update = fat_test::pattern(700, 9);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        ASSERT_EQ(0, done(zel_mal_init(&bd.mal)));
        EXPECT_EQ(512u, bd.block_size);
        zel_file_t *dir = fat_test::make_dir(fat_test::unique("scsi"));
        static zel_mal_mount_mbr_t rec[4];
        zel_mal_mount_mbr_t &m = rec[used - 1];
        m = {};
        m.mal = &bd.mal;
        m.dir = dir;
        ASSERT_EQ(0, done(zel_mal_mount_mbr(&m)));
        ASSERT_EQ(0, m.result);
        const std::set<std::string> names = {"::/ADAPTER/", "::/ADAPTER/PSN Config.txt"};
        EXPECT_EQ(names, fat_test::list_dir(dir, ""));
        EXPECT_TRUE(psn == fat_test::read_all(dir, "ADAPTER/PSN Config.txt", 512));
        EXPECT_EQ(700, fat_test::write_at(dir, "ADAPTER/PSN Config.txt", 100, update));
    }));
    ASSERT_TRUE(a.unplug_and_wait());
    std::vector<uint8_t> want = psn;
    std::copy(update.begin(), update.end(), want.begin() + 100);
    fat_test::expect_fsck_clean(t, "adapter.img", 2048 * 512, 16384 * 512);
    fat_test::expect_mtools_reads(t, "adapter.img", "PSN Config.txt", want, 2048 * 512);
}

// The adapter is unplugged again and again while a thread keeps its disk
// busy, at a different point of the traffic each round. The class frees its
// URBs at each unplug, some still waiting in the driver's queues: each is
// released once (sanitizer builds), every command ends, and every write
// that was acknowledged is on the disk.
TEST_F(MscSimTest, UnplugStormDuringTrafficKeepsEveryAcknowledgedWrite) {
    constexpr int kRounds = 150;
    constexpr uint32_t kRegion = 64;  // blocks of each round: its writes never overlap another's
    constexpr uint32_t kWrites = kRegion / 8;
    SimAdapter a(kRounds * kRegion);
    struct Acked {
        uint32_t lba;
        uint8_t stamp;
    };
    std::vector<Acked> acked;
    for (int round = 0; round < kRounds; round++) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(a.plug_and_wait_for_disk());
        zel_scsi_t *scsi = connected_disk();
        std::atomic<int> ended{0};
        std::thread traffic([&] {
            std::vector<uint8_t> data(4096);
            for (uint32_t n = 0;; n++) {
                const uint32_t lba = round * kRegion + (n % kWrites) * 8;
                intptr_t r;
                if (n < kWrites) {
                    const uint8_t stamp = (uint8_t)(round * 31 + n * 7 + 1);
                    std::fill(data.begin(), data.end(), stamp);
                    r = command(scsi, rw10(0x2A, lba, 8), data.data(), 4096);
                    if (r == 4096) acked.push_back({lba, stamp});
                } else {
                    r = command(scsi, rw10(0x28, lba, 8), data.data(), 4096);
                }
                ended++;
                if (r < 0) return;  // the adapter left
            }
        });
        const int before = 1 + round % 6;
        const bool busy = zel_test::wait_until([&] { return ended.load() >= before; });
        ASSERT_EQ(0, zel_host_usb_sim_unplug(a.dev));
        traffic.join();
        ASSERT_TRUE(busy);
        ASSERT_TRUE(zel_test::wait_until(hcd_idle));
    }
    const uint8_t *bytes = zel_host_usb_sim_disk_bytes(a.disk);
    EXPECT_GE(acked.size(), (size_t)kRounds);
    for (const Acked &w : acked) {
        SCOPED_TRACE(w.lba);
        const uint8_t *p = bytes + (size_t)w.lba * 512;
        EXPECT_TRUE(std::all_of(p, p + 4096, [&](uint8_t b) { return b == w.stamp; }));
    }
}

// A shrink on the adapter's disk after the disk went leaves what it began
// to the unmount, which tries it on the gone disk, says so and ends; the
// partition's record goes with it.
TEST_F(MscSimTest, UnmountOfTheGoneDiskEndsWithAShrinkLeftUndone) {
    fat_test::TempDir t;
    const std::string image = t / "adapter.img";
    ASSERT_TRUE(fat_test::make_disk(image, 16 << 20, {{1, 2048, 16384, 0x06, "-F 16 -s 1 -n ADAPTER"}}));
    t.put("update.bin", fat_test::pattern(200000, 5));
    ASSERT_EQ(0, fat_test::sh("mcopy -i " + image + "@@1048576 " + t / "update.bin" + " ::"));

    SimAdapter a(0, image);
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    static zel_scsi_mal_t bd;  // the partition's window reads through it until the unmount
    static zel_mal_mount_mbr_t m;
    bd = {};
    bd.mal.drv = &zel_scsi_mal_drv;
    bd.scsi = connected_disk();
    zel_file_t *mp = nullptr, *f = nullptr;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        ASSERT_EQ(0, done(zel_mal_init(&bd.mal)));
        zel_file_t *dir = fat_test::make_dir(fat_test::unique("scsi"));
        m = {};
        m.mal = &bd.mal;
        m.dir = dir;
        ASSERT_EQ(0, done(zel_mal_mount_mbr(&m)));
        ASSERT_EQ(0, m.result);
        ASSERT_EQ(0, done(zel_file_open(dir, "ADAPTER", &mp)));
        ASSERT_EQ(0, done(zel_file_open(dir, "ADAPTER/update.bin", &f)));
    }));
    ASSERT_TRUE(a.unplug_and_wait());
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture trace;
        EXPECT_EQ(-7, done(zel_file_resize(f, 3000)));
        done(zel_file_close(f));
        const zel_fs_none_param_t none{};
        EXPECT_EQ(0, done(zel_eda_call_param(
                         zel_vfs_op.unmount, reinterpret_cast<uintptr_t>(mp), sizeof none, sizeof none, &none)));
        EXPECT_TRUE(trace.contains("fatfs: unmounted with a failed change not settled"));
        done(zel_file_close(mp));
    }));
    fat_test::expect_fsck_clean(t, "adapter.img", 2048 * 512, 16384 * 512);
}

TEST_F(MscSimTest, CommandsAfterTheUnplugFail) {
    SimAdapter a(64);
    ASSERT_TRUE(a.plug_and_wait_for_disk());
    zel_scsi_t *scsi = connected_disk();
    ASSERT_TRUE(a.unplug_and_wait());
    EXPECT_EQ((std::vector<std::string>{"disk connect", "interface removed", "disk disconnect"}), events().take());
    uint8_t cap[8];
    EXPECT_EQ(ZEL_USBH_ERR_FAIL, command(scsi, {0x25}, cap, sizeof cap)) << "the handed-over device stays safe";
}

}  // namespace
