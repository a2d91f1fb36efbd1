// The whole chain without USB: a virtual SCSI target over a disk image, the
// SCSI block device over the target, the MBR mount over that, and fatfs on
// its partitions; the peers check what came out.
#include "fat_support.h"
#include "zel_mal_mbr.h"
#include "zel_scsi_mal.h"
#include "zel_virtual_scsi.h"

using namespace fat_test;

namespace {

TEST(ScsiChain, VirtualTargetToFatfsAndBack) {
    TempDir t;
    const std::string disk = t / "disk.img";
    ASSERT_TRUE(make_disk(disk, 64 * 1024 * 1024,
        {{1, 2048, 8192, 0x0E, "-F 16 -s 1 -n CHAIN16"}, {2, 16384, 114688, 0x0C, "-F 32 -s 1 -n CHAIN32"}}));
    t.put("psn.txt", pattern(300, 1));
    t.put("update.bin", pattern(20000, 2));
    ASSERT_EQ(0, sh("mcopy -i " + disk + "@@" + std::to_string(2048 * 512) + " " + t / "psn.txt" + " ::"));
    ASSERT_EQ(0, sh("mcopy -i " + disk + "@@" + std::to_string(16384 * 512) + " " + t / "update.bin" + " ::"));

    ImageMal img(disk);
    img.delay_ms = 1;  // every block request answers later, as over USB
    const zel_virtual_scsi_param_t param{
        512, (uint32_t)(img.mal.size / 512), {'Z', 'E', 'L'}, {'V', 'D', 'I', 'S', 'K'}, {'1'}, 1, {}, 0};
    zel_mal_scsi_t target;
    zel_mal_scsi_construct(&target, &param, &img.mal);
    zel_scsi_mal_t dev{};
    dev.mal.drv = &zel_scsi_mal_drv;
    dev.scsi = &target.target.scsi;
    zel_file_t *dir = nullptr;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture trace;
        ASSERT_EQ(0, done(zel_scsi_init(dev.scsi)));
        ASSERT_EQ(0, done(zel_mal_init(&dev.mal)));
        EXPECT_EQ(img.mal.size, dev.mal.size);
        EXPECT_TRUE(trace.contains("scsi_mal: vendor      ZEL, product            VDISK, revision    1\r\n"));

        dir = make_dir(unique("scsi"));
        zel_mal_mount_mbr_t record{};
        record.mal = &dev.mal;
        record.dir = dir;
        ASSERT_EQ(0, done(zel_mal_mount_mbr(&record)));
        ASSERT_EQ(0, record.result);
        ASSERT_EQ((std::vector<std::string>{"CHAIN16", "CHAIN32"}), children(dir));
        EXPECT_TRUE(read_all(dir, "CHAIN16/psn.txt", 100) == pattern(300, 1));
        EXPECT_TRUE(read_all(dir, "CHAIN32/update.bin", 4096) == pattern(20000, 2));

        // After a command the target does not know, REQUEST SENSE tells why.
        const uint8_t unknown[10] = {0x7E};
        EXPECT_EQ(-7, done(zel_scsi_execute(dev.scsi, unknown, nullptr)));
        const uint8_t request_sense[6] = {0x03, 0, 0, 0, 18};
        uint8_t sense[18] = {};
        const zel_scsi_xfer_t x{sense, sizeof sense};
        EXPECT_EQ(18, done(zel_scsi_execute(dev.scsi, request_sense, &x)));
        EXPECT_EQ(0x70, sense[0]);
        EXPECT_EQ(5, sense[2]);
        EXPECT_EQ(0x20, sense[12]);
    }));

    // Two agents write to the two volumes at once: one command at a time
    // reaches the target, and both files come out whole.
    const auto psn = pattern(1500, 3), update = pattern(90000, 4);
    zel_file_t *fa = nullptr, *fb = nullptr;
    Script sa, sb;
    sa.steps = {[&] { return zel_file_open(dir, "CHAIN16/psn.txt", &fa); }, [&] { return zel_file_resize(fa, 0); },
        [&] { return zel_file_write(fa, psn.data(), (uint32_t)psn.size()); }, [&] { return zel_file_close(fa); }};
    sb.steps = {[&] { return zel_file_open(dir, "CHAIN32/update.bin", &fb); },
        [&] { return zel_file_write(fb, update.data(), (uint32_t)update.size()); },
        [&] { return zel_file_resize(fb, 80000); }, [&] { return zel_file_close(fb); }};
    zel_test::run_as_irq([&] {
        sa.agent.start();
        sb.agent.start();
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return sa.finished && sb.finished; }));
    EXPECT_EQ((std::vector<intptr_t>{0, 0, 1500, 0}), sa.answers);
    EXPECT_EQ((std::vector<intptr_t>{0, 90000, 0, 0}), sb.answers);
    EXPECT_EQ(1, img.most_in_flight);

    expect_fsck_clean(t, "disk.img", 2048 * 512, 8192 * 512);
    expect_fsck_clean(t, "disk.img", 16384 * 512, 114688 * 512);
    expect_mtools_reads(t, "disk.img", "psn.txt", psn, 2048 * 512);
    expect_mtools_reads(
        t, "disk.img", "update.bin", std::vector<uint8_t>(update.begin(), update.begin() + 80000), 16384 * 512);
}

// A file whose clusters follow one another, read and then written in place
// with one call each: the clusters go in several requests, each of which a
// SCSI disk takes (at most 65535 blocks in a READ(10) or WRITE(10)).
TEST(ScsiChain, ContiguousFileInOneCallGoesInRequestsTheDiskTakes) {
    TempDir t;
    const std::string disk = t / "disk.img";
    ASSERT_TRUE(make_disk(disk, 64 * 1024 * 1024, {{1, 2048, 126976, 0x0E, "-F 16 -s 8 -n BIG"}}));
    constexpr uint32_t kBytes = 40u << 20;
    t.put("big.bin", pattern(kBytes, 5));
    ASSERT_EQ(0, sh("mcopy -i " + disk + "@@" + std::to_string(2048 * 512) + " " + t / "big.bin" + " ::"));

    ImageMal img(disk);
    const zel_virtual_scsi_param_t param{
        512, (uint32_t)(img.mal.size / 512), {'Z', 'E', 'L'}, {'V', 'D', 'I', 'S', 'K'}, {'1'}, 1, {}, 0};
    zel_mal_scsi_t target;
    zel_mal_scsi_construct(&target, &param, &img.mal);
    zel_scsi_mal_t dev{};
    dev.mal.drv = &zel_scsi_mal_drv;
    dev.scsi = &target.target.scsi;
    const auto again = pattern(kBytes, 6);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture trace;
        ASSERT_EQ(0, done(zel_scsi_init(dev.scsi)));
        ASSERT_EQ(0, done(zel_mal_init(&dev.mal)));
        zel_file_t *dir = make_dir(unique("scsi"));
        zel_mal_mount_mbr_t record{};
        record.mal = &dev.mal;
        record.dir = dir;
        ASSERT_EQ(0, done(zel_mal_mount_mbr(&record)));
        ASSERT_EQ(0, record.result);
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(dir, "BIG/big.bin", &f)));
        std::vector<uint8_t> back(kBytes);
        EXPECT_EQ((int32_t)kBytes, done(zel_file_read(f, back.data(), kBytes)));
        EXPECT_TRUE(back == pattern(kBytes, 5));
        ASSERT_EQ(0, done(zel_file_seek(f, 0, ZEL_SEEK_SET)));
        EXPECT_EQ((int32_t)kBytes, done(zel_file_write(f, again.data(), kBytes)));
        done(zel_file_close(f));
        for (const auto &r : img.log) EXPECT_LE(r.size, 0xFFFFu * 512) << "at byte " << r.address;
    }));
    expect_fsck_clean(t, "disk.img", 2048 * 512, 126976 * 512);
    expect_mtools_reads(t, "disk.img", "big.bin", again, 2048 * 512);
}

}  // namespace
