// SCSI decoding, the virtual target, the SCSI block device and windows.
#include <gtest/gtest.h>

#include <cstring>

#include "test_devices.h"
#include "zel_scsi_mal.h"
#include "zel_test.h"
#include "zel_virtual_scsi.h"
#include "zel_window_mal.h"

namespace {

// In a framework thread: the answer of a sub-call that was started.
intptr_t answer(int32_t started) {
    EXPECT_EQ(0, started);
    return started == 0 ? zel_eda_get_return_code() : started;
}

TEST(ScsiDecode, CommandLengthAndReadWriteFields) {
    const struct {
        uint8_t opcode;
        uint32_t len;
    } lengths[] = {{0x12, 6}, {0x28, 10}, {0x55, 10}, {0x7E, 0}, {0x88, 16}, {0xA8, 12}, {0xC0, 0}, {0xFF, 0}};
    for (auto &c : lengths) {
        uint8_t cdb[16] = {c.opcode};
        EXPECT_EQ(c.len, zel_scsi_get_command_len(cdb)) << std::hex << int(c.opcode);
    }

    uint64_t lba = 0;
    uint32_t count = 0;
    uint8_t read10[16] = {0x28, 0, 0x00, 0x00, 0x08, 0x00, 0, 0x00, 0x08};
    ASSERT_TRUE(zel_scsi_get_rw_param(read10, &lba, &count));
    EXPECT_EQ(2048u, lba);
    EXPECT_EQ(8u, count);
    EXPECT_TRUE(zel_scsi_is_read(read10));

    uint8_t write16[16] = {0x8A, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1};
    ASSERT_TRUE(zel_scsi_get_rw_param(write16, &lba, &count));
    EXPECT_EQ(0x100000002ull, lba);
    EXPECT_EQ(1u, count);
    EXPECT_FALSE(zel_scsi_is_read(write16));

    uint8_t read6[6] = {0x08, 0x1F | 0xE0, 0x12, 0x34, 0};
    ASSERT_TRUE(zel_scsi_get_rw_param(read6, &lba, &count));
    EXPECT_EQ(0x1F1234u, lba);  // the top 3 bits of byte 1 are not address
    EXPECT_EQ(256u, count);     // 0 means 256

    uint8_t read12[12] = {0xA8, 0, 0, 0, 0, 9, 0, 0, 0x01, 0x00};
    ASSERT_TRUE(zel_scsi_get_rw_param(read12, &lba, &count));
    EXPECT_EQ(9u, lba);
    EXPECT_EQ(256u, count);

    // Same low bits, but groups 2, 3, 6 and 7 hold no READ or WRITE.
    for (uint8_t op : {0x12, 0x25, 0x48, 0x4A, 0x68, 0x6A, 0xC8, 0xE8}) {
        uint8_t cdb[16] = {op};
        EXPECT_FALSE(zel_scsi_get_rw_param(cdb, &lba, &count)) << std::hex << int(op);
    }
}

struct VirtualDisk {
    RamMal ram{1000 * 512};
    zel_virtual_scsi_param_t param{512, 1000, {'Z', 'E', 'L'}, {'D', 'I', 'S', 'K'}, {'1'}, 1, {}, 0};
    zel_mal_scsi_t target{};
    VirtualDisk() { zel_mal_scsi_construct(&target, &param, &ram.mal); }
    zel_scsi_t *scsi() { return &target.target.scsi; }
    intptr_t exec(const uint8_t *cdb, void *buffer, uint32_t size) {
        zel_scsi_xfer_t x{buffer, size};
        return answer(zel_scsi_execute(scsi(), cdb, &x));
    }
    // REQUEST SENSE: {key, additional code}.
    std::pair<int, int> sense() {
        uint8_t cdb[6] = {0x03, 0, 0, 0, 18};
        uint8_t s[18] = {};
        EXPECT_EQ(18, exec(cdb, s, sizeof s));
        return {s[2], s[12]};
    }
};

TEST(VirtualScsi, AnswersIdentityCapacityAndSense) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        VirtualDisk d;
        ASSERT_EQ(0, answer(zel_scsi_init(d.scsi())));

        uint8_t cap_cdb[10] = {0x25};
        uint8_t cap[8] = {};
        ASSERT_EQ(8, d.exec(cap_cdb, cap, sizeof cap));
        EXPECT_EQ(999u, zel_get_unaligned_be32(cap));
        EXPECT_EQ(512u, zel_get_unaligned_be32(cap + 4));

        uint8_t inq_cdb[6] = {0x12, 0, 0, 0, 36};
        uint8_t inq[64];
        memset(inq, 0xAA, sizeof inq);
        ASSERT_EQ(36, d.exec(inq_cdb, inq, sizeof inq));
        EXPECT_EQ(0x80, inq[1]);
        EXPECT_EQ(0, memcmp(inq + 8, "ZEL", 3));
        EXPECT_EQ(0xAA, inq[36]);  // nothing past the reply

        // Replies stop at the allocation length and at the buffer.
        inq_cdb[4] = 5;
        EXPECT_EQ(5, d.exec(inq_cdb, inq, sizeof inq));
        inq_cdb[4] = 36;
        uint8_t small[4];
        EXPECT_EQ(4, d.exec(inq_cdb, small, sizeof small));

        uint8_t page_cdb[6] = {0x12, 1, 0x80, 0, 36};
        EXPECT_EQ(-7, d.exec(page_cdb, inq, sizeof inq));
        EXPECT_EQ(std::make_pair(5, 0x24), d.sense());

        uint8_t unknown[10] = {0x7E};
        EXPECT_EQ(-7, d.exec(unknown, inq, sizeof inq));
        EXPECT_EQ(std::make_pair(5, 0x20), d.sense());
        // The sense stays after a success and a REQUEST SENSE.
        EXPECT_EQ(8, d.exec(cap_cdb, cap, sizeof cap));
        uint8_t sense8_cdb[6] = {0x03, 0, 0, 0, 8};
        uint8_t s[18] = {};
        EXPECT_EQ(8, d.exec(sense8_cdb, s, sizeof s));
        EXPECT_EQ(std::make_pair(5, 0x20), d.sense());

        // Groups 2 and 3 look like READ/WRITE in their low bits but are not.
        uint8_t g2[10] = {0x48, 0, 0, 0, 0, 0, 0, 0, 1};
        EXPECT_EQ(-7, d.exec(g2, inq, sizeof inq));
        EXPECT_EQ(std::make_pair(5, 0x20), d.sense());
    }));
}

TEST(VirtualScsi, DataPhaseStaysInsideDiskAndBuffer) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        VirtualDisk d;
        ASSERT_EQ(0, answer(zel_scsi_init(d.scsi())));
        std::vector<uint8_t> out(1024), in(1024);
        for (size_t i = 0; i < out.size(); i++) out[i] = (uint8_t)(i * 7);

        uint8_t w10[10] = {0x2A, 0, 0, 0, 0x03, 0xE6, 0, 0, 2};  // blocks 998 and 999
        ASSERT_EQ(1024, d.exec(w10, out.data(), 1024));
        uint8_t r10[10] = {0x28, 0, 0, 0, 0x03, 0xE6, 0, 0, 2};
        ASSERT_EQ(1024, d.exec(r10, in.data(), 1024));
        EXPECT_EQ(out, in);
        EXPECT_EQ(0, memcmp(d.ram.bytes.data() + 998 * 512, out.data(), 1024));

        const int before = d.ram.requests;
        uint8_t past[10] = {0x28, 0, 0, 0, 0x03, 0xE7, 0, 0, 2};  // 999 + 2 blocks
        EXPECT_EQ(-7, d.exec(past, in.data(), 1024));
        EXPECT_EQ(std::make_pair(5, 0x21), d.sense());
        uint8_t far16[16] = {0x88, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1};
        EXPECT_EQ(-7, d.exec(far16, in.data(), 512));
        EXPECT_EQ(std::make_pair(5, 0x21), d.sense());
        // More blocks than the buffer holds.
        EXPECT_EQ(-7, d.exec(r10, in.data(), 1000));
        EXPECT_EQ(std::make_pair(5, 0x24), d.sense());
        EXPECT_EQ(before, d.ram.requests);  // none of them reached the device

        uint8_t none[10] = {0x28, 0, 0, 0, 0, 1, 0, 0, 0};
        EXPECT_EQ(0, d.exec(none, in.data(), 1024));

        // A back end that moves less than asked is a medium error.
        d.ram.short_by = 1;
        EXPECT_EQ(-7, d.exec(r10, in.data(), 1024));
        EXPECT_EQ(std::make_pair(3, 0x11), d.sense());
        EXPECT_EQ(-7, d.exec(w10, out.data(), 1024));
        EXPECT_EQ(std::make_pair(3, 0x0C), d.sense());
        d.ram.short_by = 0;

        // MODE SENSE(10) zeros no more than the allocation length.
        uint8_t mode10[10] = {0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 8};
        std::vector<uint8_t> page(64, 0xAA);
        EXPECT_EQ(8, d.exec(mode10, page.data(), 64));
        EXPECT_EQ(std::vector<uint8_t>(8, 0), std::vector<uint8_t>(page.begin(), page.begin() + 8));
        EXPECT_EQ(0xAA, page[8]);
    }));
}

TEST(VirtualScsi, RefusesBlockCountTheDeviceCannotHold) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        VirtualDisk d;
        d.param.block_count = 1001;
        EXPECT_EQ(-7, answer(zel_scsi_init(d.scsi())));
    }));
}

TEST(ScsiMal, LearnsCapacityAndMovesBlocksThroughTheTarget) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        zel_test::TraceCapture trace;
        VirtualDisk d;
        ASSERT_EQ(0, answer(zel_scsi_init(d.scsi())));
        zel_scsi_mal_t dev{};
        dev.mal.drv = &zel_scsi_mal_drv;
        dev.scsi = d.scsi();
        ASSERT_EQ(0, answer(zel_mal_init(&dev.mal)));
        EXPECT_EQ(512u, zel_mal_blksz(&dev.mal, 0, 512, ZEL_MAL_OP_READ));
        EXPECT_EQ(1000u * 512, dev.mal.size);
        EXPECT_TRUE(trace.contains("scsi_mal: vendor      ZEL, product             DISK, revision    1\r\n"))
            << trace.text();

        std::vector<uint8_t> out(4096, 0x5C), in(4096);
        EXPECT_EQ(4096, answer(zel_mal_write(&dev.mal, 8 * 512, 4096, out.data())));
        EXPECT_EQ(4096, answer(zel_mal_read(&dev.mal, 8 * 512, 4096, in.data())));
        EXPECT_EQ(out, in);
        // Not whole blocks, or past the end: refused before any command.
        EXPECT_EQ(-7, answer(zel_mal_read(&dev.mal, 100, 512, in.data())));
        EXPECT_EQ(-7, answer(zel_mal_read(&dev.mal, 999 * 512, 1024, in.data())));
    }));
}

TEST(ScsiMal, EncodesReadAndWrite10AndQueuesRequests) {
    SlowScsi scsi;
    scsi.answer = [](const uint8_t *cdb, zel_scsi_xfer_t x) -> intptr_t {
        if (cdb[0] == 0x25) {
            zel_put_unaligned_be32(0x003FFFFF, x.buffer);
            zel_put_unaligned_be32(512, (uint8_t *)x.buffer + 4);
        }
        return x.size;
    };
    zel_scsi_mal_t dev{};
    dev.mal.drv = &zel_scsi_mal_drv;
    dev.scsi = &scsi.scsi;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        ASSERT_EQ(0, answer(zel_mal_init(&dev.mal)));
        EXPECT_EQ(2ull << 30, dev.mal.size);
        std::vector<uint8_t> buf(4096);
        scsi.cdbs.clear();
        EXPECT_EQ(4096, answer(zel_mal_read(&dev.mal, 1048576, 4096, buf.data())));
        ASSERT_EQ(1u, scsi.cdbs.size());
        const uint8_t want[10] = {0x28, 0, 0, 0, 0x08, 0x00, 0, 0x00, 0x08, 0};
        EXPECT_EQ(0, memcmp(want, scsi.cdbs[0].data(), 10));
    }));

    // Three agents ask at once: the device sees one command at a time.
    scsi.cdbs.clear();
    static std::vector<uint8_t> bufs[3];
    int done = 0;
    std::vector<std::unique_ptr<zel_test::Agent>> agents;
    for (int i = 0; i < 3; i++) {
        bufs[i].assign(512, 0);
        agents.push_back(std::make_unique<zel_test::Agent>([&, i](zel_test::Agent &, zel_evt_t evt) {
            if (evt == ZEL_EVT_INIT)
                EXPECT_EQ(0, zel_mal_write(&dev.mal, (uint64_t)i * 512, 512, bufs[i].data()));
            else if (evt == ZEL_EVT_RETURN && zel_eda_get_return_code() == 512)
                done++;
        }));
    }
    zel_test::run_as_irq([&] {
        for (auto &a : agents) a->start();
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return done == 3; }));
    EXPECT_EQ(3u, scsi.cdbs.size());
    EXPECT_EQ(1, scsi.most_running);
    for (int i = 0; i < 3; i++) EXPECT_EQ(0x2A, scsi.cdbs[i][0]);
}

TEST(ScsiMal, CapacityRetriesAreBoundedAndBadAnswersRefused) {
    SlowScsi scsi;
    int capacity_tries = 0;
    scsi.answer = [&](const uint8_t *cdb, zel_scsi_xfer_t x) -> intptr_t {
        if (cdb[0] != 0x25) return x.size;
        capacity_tries++;
        return -7;
    };
    zel_scsi_mal_t dev{};
    dev.mal.drv = &zel_scsi_mal_drv;
    dev.scsi = &scsi.scsi;
    ASSERT_TRUE(zel_test::run_in_thread(
        [&] {
            zel_test::TraceCapture quiet;
            EXPECT_EQ(-7, answer(zel_mal_init(&dev.mal)));
            EXPECT_EQ((int)ZEL_SCSI_MAL_CAPACITY_TRIES, capacity_tries);

            // A reported block size of 0 would divide by zero later.
            scsi.answer = [](const uint8_t *, zel_scsi_xfer_t x) -> intptr_t {
                memset(x.buffer, 0, x.size);
                return x.size;
            };
            EXPECT_EQ(-7, answer(zel_mal_init(&dev.mal)));
        },
        std::chrono::milliseconds(30000)));
}

TEST(WindowMal, MapsOffsetAndRefusesTransfersPastItsEnd) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        RamMal ram(64 * 512);
        for (size_t i = 0; i < ram.bytes.size(); i++) ram.bytes[i] = (uint8_t)(i / 512);
        zel_window_mal_t w{{&zel_window_mal_drv, 8 * 512}, &ram.mal, 16 * 512};
        uint8_t buf[1024];
        ASSERT_EQ(512, answer(zel_mal_read(&w.mal, 0, 512, buf)));
        EXPECT_EQ(16, buf[0]);
        ASSERT_EQ(1024, answer(zel_mal_read(&w.mal, 6 * 512, 1024, buf)));
        EXPECT_EQ(23, buf[1023]);
        const int before = ram.requests;
        EXPECT_EQ(-7, answer(zel_mal_read(&w.mal, 7 * 512, 1024, buf)));
        EXPECT_EQ(-7, answer(zel_mal_write(&w.mal, 8 * 512, 512, buf)));
        EXPECT_EQ(-7, answer(zel_mal_write(&w.mal, ~0ull - 100, 512, buf)));
        EXPECT_EQ(before, ram.requests);
        EXPECT_EQ(0, zel_mal_buffer(&w.mal, 0, 512, ZEL_MAL_OP_READ, nullptr));  // no buffer slot below
    }));
}

}  // namespace
