// Bulk-Only Transport on the simulated adapter: SCSI commands through CBW,
// data phase and CSW, answered by the virtual SCSI target over a memory disk.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "sim_fixture.h"

namespace {

using namespace sim_test;

using SimBulkOnly = SimAdapter;

TEST_F(SimBulkOnly, InquiryAndCapacityComeFromTheTarget) {
    uint8_t inq[36] = {};
    Result r = Command({0x12, 0, 0, 0, 36, 0}, inq, sizeof inq, true);
    EXPECT_EQ(36, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(0u, r.csw.residue);
    EXPECT_EQ(0x80, inq[1]);  // removable
    EXPECT_EQ(0, memcmp(inq + 8, "Trellow ", 8));

    uint8_t cap[8] = {};
    r = Command({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, cap, sizeof cap, true);
    EXPECT_EQ(8, r.data);
    EXPECT_EQ(0, r.csw.status);
    const uint32_t last = (uint32_t)cap[0] << 24 | cap[1] << 16 | cap[2] << 8 | cap[3];
    const uint32_t size = (uint32_t)cap[4] << 24 | cap[5] << 16 | cap[6] << 8 | cap[7];
    EXPECT_EQ(kBlocks - 1, last);
    EXPECT_EQ(512u, size);

    // The host asks for more than the device has: a short packet ends the
    // data and the residue tells the difference.
    uint8_t big[100] = {};
    r = Command({0x12, 0, 0, 0, 100, 0}, big, sizeof big, true);
    EXPECT_EQ(36, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(64u, r.csw.residue);
}

TEST_F(SimBulkOnly, WritesReachTheImageAndReadBack) {
    std::vector<uint8_t> out(4 * 512);
    for (size_t i = 0; i < out.size(); i++) out[i] = (uint8_t)(i * 7 + 3);
    Result r = Command(Rw10(0x2A, 10, 4), out.data(), (uint32_t)out.size(), false);
    EXPECT_EQ(2048, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(0u, r.csw.residue);
    EXPECT_EQ(0, memcmp(zel_host_usb_sim_disk_bytes(disk) + 10 * 512, out.data(), out.size()));

    std::vector<uint8_t> in(4 * 512);
    r = Command(Rw10(0x28, 10, 4), in.data(), (uint32_t)in.size(), true);
    EXPECT_EQ(2048, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(out, in);

    // The data phase may come in pieces, as the host splits it.
    std::vector<uint8_t> piece(512);
    EXPECT_EQ(31, SendCbw(Rw10(0x28, 11, 2).data(), 10, 1024, true, 77));
    EXPECT_EQ(512, zel_host_usb_read_pipe(h, 0, kBulkIn, piece.data(), 512, kTimeout));
    EXPECT_EQ(0, memcmp(piece.data(), out.data() + 512, 512));
    EXPECT_EQ(512, zel_host_usb_read_pipe(h, 0, kBulkIn, piece.data(), 512, kTimeout));
    EXPECT_EQ(0, memcmp(piece.data(), out.data() + 1024, 512));
    Csw csw{};
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_EQ(77u, csw.tag);
    EXPECT_EQ(0, csw.status);
}

TEST_F(SimBulkOnly, LessDataThanExpectedOnAPacketBoundaryEndsWithAStall) {
    // One block asked for with room for two: 512 bytes are a whole packet,
    // so only a stall can tell the host that nothing more comes.
    std::vector<uint8_t> in(1024);
    Result r = Command(Rw10(0x28, 3, 1), in.data(), 1024, true);
    EXPECT_EQ(512, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(512u, r.csw.residue);

    // Data out in pieces, the last one short of a packet: the phase ends
    // there and the residue counts what never came.
    std::vector<uint8_t> out(1024, 0x5A);
    EXPECT_EQ(31, SendCbw(Rw10(0x2A, 4, 2).data(), 10, 1024, false, 21));
    EXPECT_EQ(512, zel_host_usb_write_pipe(h, 0, kBulkOut, out.data(), 512, kTimeout));
    EXPECT_EQ(100, zel_host_usb_write_pipe(h, 0, kBulkOut, out.data(), 100, kTimeout));
    Csw csw{};
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_EQ(21u, csw.tag);
    EXPECT_EQ(1, csw.status);  // the target refuses a write shorter than its blocks
    EXPECT_EQ(1024u, csw.residue);
    EXPECT_EQ(0, zel_host_usb_sim_disk_bytes(disk)[4 * 512]);
}

TEST_F(SimBulkOnly, FailedCommandsStallAndKeepTheirSense) {
    // An unknown opcode with data expected: no data comes, bulk IN stalls,
    // the CSW says failed with the whole length as residue.
    uint8_t buf[64] = {};
    Result r = Command({0xC7, 0, 0, 0, 0, 0}, buf, sizeof buf, true);
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, r.data);
    EXPECT_EQ(1, r.csw.status);
    EXPECT_EQ(64u, r.csw.residue);

    uint8_t sense[18] = {};
    r = Command({0x03, 0, 0, 0, 18, 0}, sense, sizeof sense, true);
    EXPECT_EQ(18, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(0x70, sense[0]);
    EXPECT_EQ(0x05, sense[2]);   // illegal request
    EXPECT_EQ(0x20, sense[12]);  // invalid opcode

    // Past the end of the disk.
    r = Command(Rw10(0x28, kBlocks, 1), buf, 0, true);
    EXPECT_EQ(1, r.csw.status);
    r = Command({0x03, 0, 0, 0, 18, 0}, sense, sizeof sense, true);
    EXPECT_EQ(0x21, sense[12]);

    // A no-data command passes.
    r = Command({0x00, 0, 0, 0, 0, 0}, nullptr, 0, false);
    EXPECT_EQ(0, r.csw.status);
}

TEST_F(SimBulkOnly, DirectionThatContradictsTheCommandIsAPhaseError) {
    std::vector<uint8_t> data(512, 0xEE);
    // READ(10) announced as data out: the device stalls bulk OUT.
    Result r = Command(Rw10(0x28, 0, 1), data.data(), 512, false);
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, r.data);
    EXPECT_EQ(2, r.csw.status);
    // Nothing reached the disk.
    EXPECT_EQ(0, zel_host_usb_sim_disk_bytes(disk)[0]);
}

TEST_F(SimBulkOnly, InvalidCbwStallsBothPipesUntilReset) {
    uint8_t junk[31] = {'X', 'S', 'B', 'C'};
    EXPECT_EQ(31, zel_host_usb_write_pipe(h, 0, kBulkOut, junk, sizeof junk, kTimeout));
    Csw csw{};
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, &csw, 13, kTimeout));
    // Clearing the halt alone does not help: the device wants the reset.
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkIn));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, &csw, 13, kTimeout));

    // Reset recovery: Bulk-Only reset, then both halts cleared.
    EXPECT_EQ(0, Control(0x21, 0xFF, 0, 0, 0, nullptr));
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkIn));
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkOut));
    zel_host_usb_sim_status_t st{};
    zel_host_usb_sim_get_status(dev, &st);
    EXPECT_EQ(1u, st.bot_resets);
    EXPECT_EQ(0u, st.halted);

    Result r = Command({0x00, 0, 0, 0, 0, 0}, nullptr, 0, false);
    EXPECT_EQ(0, r.csw.status);

    // A CBW of the wrong size is as invalid as a wrong signature.
    EXPECT_EQ(30, zel_host_usb_write_pipe(h, 0, kBulkOut, junk, 30, kTimeout));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_write_pipe(h, 0, kBulkOut, junk, 31, kTimeout));
}

TEST_F(SimBulkOnly, MaxLunAndTooSmallStatusRead) {
    uint8_t lun = 0xFF;
    EXPECT_EQ(1, Control(0xA1, 0xFE, 0, 0, 1, &lun));
    EXPECT_EQ(0, lun);
    // Class requests for an interface the device lacks are refused.
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, Control(0xA1, 0xFE, 0, 5, 1, &lun));

    // A CBW for a LUN the device lacks is invalid.
    uint8_t cbw[31] = {'U', 'S', 'B', 'C', 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 6};
    EXPECT_EQ(31, zel_host_usb_write_pipe(h, 0, kBulkOut, cbw, sizeof cbw, kTimeout));
    uint8_t small[8];
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, small, sizeof small, kTimeout));
    EXPECT_EQ(0, Control(0x21, 0xFF, 0, 0, 0, nullptr));
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkIn));
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkOut));

    // A status read shorter than the CSW overflows and leaves the CSW there.
    const uint8_t test_unit_ready[6] = {};
    EXPECT_EQ(31, SendCbw(test_unit_ready, 6, 0, false, 9));
    EXPECT_EQ(ZEL_HOST_USB_EOVERFLOW, zel_host_usb_read_pipe(h, 0, kBulkIn, small, sizeof small, kTimeout));
    Csw csw{};
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_EQ(9u, csw.tag);
}

// Faults of the status stage: the CSW stays ready behind each stall, a
// corrupted one fails its signature only, and a held one times out the read
// until it is let go.
TEST_F(SimBulkOnly, StatusFaultsStallCorruptOrHoldTheCsw) {
    const uint8_t tur[6] = {};
    zel_host_usb_sim_status_faults(dev, 2, 1);
    EXPECT_EQ(31, SendCbw(tur, 6, 0, false, 7));
    Csw csw{};
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, &csw, sizeof csw, kTimeout));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, &csw, sizeof csw, kTimeout))
        << "halted until cleared";
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkIn));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, &csw, sizeof csw, kTimeout))
        << "the second stall";
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_NE(0x53425355u, csw.signature) << "then the corrupted CSW";
    EXPECT_EQ(7u, csw.tag);

    zel_host_usb_sim_hold_status(dev, true);
    EXPECT_EQ(31, SendCbw(tur, 6, 0, false, 8));
    EXPECT_EQ(ZEL_HOST_USB_ETIMEDOUT, zel_host_usb_read_pipe(h, 0, kBulkIn, &csw, sizeof csw, 50));
    zel_host_usb_sim_hold_status(dev, false);
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_EQ(0x53425355u, csw.signature);
    EXPECT_EQ(8u, csw.tag);
}

TEST_F(SimBulkOnly, StallAndShortTransferFaults) {
    // A stalled bulk IN ends the data phase: after the clear the host gets
    // the CSW, with nothing counted as moved.
    ASSERT_EQ(0, zel_host_usb_sim_stall(dev, kBulkIn));
    uint8_t inq[36] = {};
    Result r = Command({0x12, 0, 0, 0, 36, 0}, inq, sizeof inq, true);
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(36u, r.csw.residue);

    // A stall in the middle of a read: the residue counts what did not come.
    std::vector<uint8_t> in(1024);
    EXPECT_EQ(31, SendCbw(Rw10(0x28, 0, 2).data(), 10, 1024, true, 5));
    EXPECT_EQ(512, zel_host_usb_read_pipe(h, 0, kBulkIn, in.data(), 512, kTimeout));
    ASSERT_EQ(0, Control(0x02, 3, 0, kBulkIn, 0, nullptr));  // SET_FEATURE(ENDPOINT_HALT)
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_read_pipe(h, 0, kBulkIn, in.data(), 512, kTimeout));
    Csw csw{};
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_EQ(5u, csw.tag);
    EXPECT_EQ(512u, csw.residue);

    // Bulk OUT stalled after the CBW: the data never arrives and the
    // command fails.
    std::vector<uint8_t> out(512, 0x77);
    EXPECT_EQ(31, SendCbw(Rw10(0x2A, 0, 1).data(), 10, 512, false, 6));
    ASSERT_EQ(0, zel_host_usb_sim_stall(dev, kBulkOut));
    EXPECT_EQ(ZEL_HOST_USB_EPIPE, zel_host_usb_write_pipe(h, 0, kBulkOut, out.data(), 512, kTimeout));
    EXPECT_EQ(0, zel_host_usb_reset_pipe(h, 0, kBulkOut));
    EXPECT_EQ(13, ReadCsw(&csw));
    EXPECT_EQ(6u, csw.tag);
    EXPECT_EQ(1, csw.status);
    EXPECT_EQ(512u, csw.residue);
    EXPECT_EQ(0, zel_host_usb_sim_disk_bytes(disk)[0]);

    // A short packet in the middle of a read ends its data phase.
    zel_host_usb_sim_short_transfer(dev, kBulkIn, 100);
    r = Command(Rw10(0x28, 0, 2), in.data(), 1024, true);
    EXPECT_EQ(100, r.data);
    EXPECT_EQ(0, r.csw.status);
    EXPECT_EQ(924u, r.csw.residue);
}

class SimFileDisk : public SimAdapter {
protected:
    // The disk over a host file of 64 blocks.
    void Configure(zel_host_usb_sim_config_t &c) override {
        char name[] = "/tmp/host_usb_disk_XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        path = name;
        ASSERT_EQ(0, ftruncate(fd, 64 * 512 + 100));  // the tail is not a whole block
        close(fd);
        zel_host_usb_sim_disk_destroy(disk);
        disk = zel_host_usb_sim_disk_file(name, 512);
        ASSERT_NE(nullptr, disk);
        c.scsi = zel_host_usb_sim_disk_unit(disk);
    }
    void TearDown() override {
        SimAdapter::TearDown();
        unlink(path.c_str());
    }
    std::string path;
};

TEST_F(SimFileDisk, CommandsReachTheHostFile) {
    uint8_t cap[8] = {};
    Result r = Command({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, cap, sizeof cap, true);
    EXPECT_EQ(63, cap[3]);  // last block of 64
    std::vector<uint8_t> out(512);
    for (size_t i = 0; i < out.size(); i++) out[i] = (uint8_t)(255 - i);
    r = Command(Rw10(0x2A, 63, 1), out.data(), 512, false);
    EXPECT_EQ(0, r.csw.status);
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> seen(512);
    EXPECT_EQ(512, pread(fd, seen.data(), 512, 63 * 512));
    close(fd);
    EXPECT_EQ(out, seen);
    EXPECT_EQ(nullptr, zel_host_usb_sim_disk_bytes(disk));
    EXPECT_EQ(nullptr, zel_host_usb_sim_disk_file("/nonexistent/disk.img", 512));
}

class SimDiskAndGamepad : public SimAdapter {
protected:
    void Configure(zel_host_usb_sim_config_t &c) override { c.hid = 1; }
};

TEST_F(SimDiskAndGamepad, GamepadReportsFlowWhileTheDiskWorks) {
    // Interrupt IN reads wait on their own thread while commands run on the
    // bulk pipes, as a host controller runs IN transfers beside OUT ones.
    constexpr int kReports = 40;
    std::atomic<int> reports{0};
    std::thread reader([&] {
        uint8_t b[64];
        for (int i = 0; i < kReports; i++) {
            const int n = zel_host_usb_read_pipe(h, 1, 0x83, b, sizeof b, kTimeout);
            if (n != 64 || b[0] != (uint8_t)i) break;
            reports++;
        }
    });
    std::vector<uint8_t> out(1024), in(1024);
    for (int i = 0; i < kReports; i++) {
        uint8_t report[64] = {(uint8_t)i};
        while (zel_host_usb_sim_hid_input(dev, report, sizeof report) == ZEL_HOST_USB_ENOMEM) std::this_thread::yield();
        memset(out.data(), i, out.size());
        Result r = Command(Rw10(0x2A, (uint32_t)i, 2), out.data(), 1024, false);
        EXPECT_EQ(0, r.csw.status);
        r = Command(Rw10(0x28, (uint32_t)i, 2), in.data(), 1024, true);
        EXPECT_EQ(out, in);
    }
    reader.join();
    EXPECT_EQ(kReports, reports.load());
    zel_host_usb_sim_status_t st{};
    zel_host_usb_sim_get_status(dev, &st);
    EXPECT_EQ(2u * kReports, st.commands);
}

}  // namespace
