// The MBR partition mount over disks made by sfdisk and mkfs.fat, through the
// file-backed block device as the mount command uses it.
#include "fat_support.h"
#include "zel_file_mal.h"
#include "zel_mal_mbr.h"
#include "zel_winfs.h"

using namespace fat_test;

namespace {

constexpr uint64_t MIB = 1024 * 1024;

// A disk image opened through a host folder mounted with winfs, as a block
// device of 512-byte blocks.
struct FileDisk {
    zel_winfs_info_t folder{};
    zel_file_mal_t dev{};
    explicit FileDisk(const TempDir &t, const std::string &image) {
        folder.file.name = const_cast<char *>(t.path.c_str());
        zel_file_t *host = make_dir(unique("host"));
        EXPECT_EQ(0, done(zel_fs_mount(host, &zel_winfs_op, &folder.file)));
        EXPECT_EQ(0, done(zel_file_open(host, image.c_str(), &dev.file)));
        dev.mal.drv = &zel_file_mal_drv;
        dev.block_size = 512;
        EXPECT_EQ(0, done(zel_mal_init(&dev.mal)));
    }
    ~FileDisk() {
        if (dev.file) done(zel_file_close(dev.file));
    }
};

// Runs the MBR mount of `mal` under a fresh directory; its result.
int32_t mount_mbr(zel_mal_t *mal, zel_file_t **dir) {
    *dir = make_dir(unique("disk"));
    zel_mal_mount_mbr_t record{};
    record.mal = mal;
    record.dir = *dir;
    EXPECT_EQ(0, done(zel_mal_mount_mbr(&record)));
    EXPECT_EQ(nullptr, record.sector);
    return record.result;
}

const std::vector<Partition> four_kinds = {
    {1, 2048, 4096, 0x01, "-F 12 -n SMALL12"},
    {2, 8192, 40960, 0x06, "-F 16"},
    {3, 49152, 16384, 0x05, ""},
    {5, 51200, 8192, 0x06, "-F 16 -s 1 -n LOGICAL"},
    {4, 65536, 98304, 0x0C, "-F 32 -s 1 -n BIG32"},
};

struct Placed {
    uint64_t start;
    uint64_t sectors;
    const char *dir;
    const char *file;
    size_t size;
};

TEST(MbrMount, NamesFilesAndWritesOnEveryFatPartition) {
    TempDir t;
    ASSERT_TRUE(make_disk(t / "disk.img", 80 * MIB, four_kinds));
    const Placed placed[] = {{2048, 4096, "SMALL12", "a.txt", 1000}, {8192, 40960, "root1", "b.bin", 30000},
        {51200, 8192, nullptr, "l.txt", 700}, {65536, 98304, "BIG32", "c.dat", 70000}};
    for (const Placed &p : placed) {
        t.put(p.file, pattern(p.size, (unsigned)p.size));
        ASSERT_EQ(
            0, sh("mcopy -i " + t / "disk.img" + "@@" + std::to_string(p.start * 512) + " " + t / p.file + " ::"));
    }
    const auto before = load(t / "disk.img");
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        FileDisk disk(t, "disk.img");
        zel_file_t *dir = nullptr;
        ASSERT_EQ(0, mount_mbr(&disk.dev.mal, &dir));
        EXPECT_EQ((std::vector<std::string>{"SMALL12", "root1", "BIG32"}), children(dir));
        for (const Placed &p : placed) {
            if (!p.dir) continue;
            const std::string path = std::string(p.dir) + "/" + p.file;
            EXPECT_TRUE(read_all(dir, path, 4096) == pattern(p.size, (unsigned)p.size)) << path;
            ASSERT_EQ((int32_t)p.size + 5000, write_at(dir, path, 0, pattern(p.size + 5000, 7))) << path;
        }
    }));
    for (const Placed &p : placed) {
        SCOPED_TRACE(p.file);
        expect_fsck_clean(t, "disk.img", p.start * 512, p.sectors * 512);
        expect_mtools_reads(t, "disk.img", p.file,
            p.dir ? pattern(p.size + 5000, 7) : pattern(p.size, (unsigned)p.size), p.start * 512);
    }
    // The logical partition inside the extended one was not touched.
    const auto after = load(t / "disk.img");
    EXPECT_EQ(0, memcmp(before.data() + 49152 * 512, after.data() + 49152 * 512, 16384 * 512));
}

TEST(MbrMount, SwappedSignatureMountsNothing) {
    TempDir t;
    ASSERT_TRUE(make_disk(t / "disk.img", 80 * MIB, four_kinds));
    patch(t / "disk.img", 510, {0xAA, 0x55});
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        FileDisk disk(t, "disk.img");
        zel_file_t *dir = nullptr;
        EXPECT_EQ(-7, mount_mbr(&disk.dev.mal, &dir));
        EXPECT_TRUE(children(dir).empty());
    }));
}

TEST(MbrMount, PartitionBeyond4GiBIsAddressedInFull) {
    TempDir t;
    const uint64_t start = 8388608;  // sector of byte 4 GiB
    ASSERT_TRUE(make_disk(t / "big.img", 4096 * MIB + 8 * MIB, {{1, start, 8192, 0x01, "-F 12 -n FAR"}}));
    t.put("far.txt", pattern(3000, 1));
    ASSERT_EQ(0, sh("mcopy -i " + t / "big.img" + "@@" + std::to_string(start * 512) + " " + t / "far.txt" + " ::"));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        ImageMal img(t / "big.img");
        zel_file_t *dir = nullptr;
        ASSERT_EQ(0, mount_mbr(&img.mal, &dir));
        ASSERT_EQ(std::vector<std::string>{"FAR"}, children(dir));
        EXPECT_TRUE(read_all(dir, "FAR/far.txt", 4096) == pattern(3000, 1));
        ASSERT_EQ(6000, write_at(dir, "FAR/far.txt", 0, pattern(6000, 2)));
        ASSERT_FALSE(img.log.empty());
        EXPECT_EQ(0u, img.log[0].address);  // the partition table
        EXPECT_TRUE(img.all_inside(4ull << 30, (4ull << 30) + 8192 * 512, 1));
    }));
    expect_fsck_clean(t, "big.img", start * 512, 8192 * 512);
    expect_mtools_reads(t, "big.img", "far.txt", pattern(6000, 2), start * 512);
}

// A table that lists one volume's sectors more than once (the same entry
// twice, or a partition that lies inside another) mounts them once: two
// volumes over the same sectors would each write back what it cached over
// what the other changed.
TEST(MbrMount, SectorsListedTwiceMountOnce) {
    TempDir t;
    ASSERT_TRUE(make_disk(t / "disk.img", 16 * MIB, {{1, 2048, 16384, 0x0E, "-F 16 -s 1 -n OUTER"}}));
    // A volume of its own made inside the first partition's free clusters.
    ASSERT_EQ(0, sh("mkfs.fat -F 12 -n INNER --offset 14336 " + t / "disk.img" + " 1024"));
    const auto table = load(t / "disk.img");
    const std::vector<uint8_t> first(table.begin() + 446, table.begin() + 462);
    patch(t / "disk.img", 462, first);
    std::vector<uint8_t> inner(16, 0);
    inner[4] = 0x01;
    std::copy_n(le32(14336).begin(), 4, inner.begin() + 8);
    std::copy_n(le32(2048).begin(), 4, inner.begin() + 12);
    patch(t / "disk.img", 478, inner);
    patch(t / "disk.img", 494, first);
    t.put("a.bin", pattern(1000, 3));
    ASSERT_EQ(0, sh("mcopy -i " + t / "disk.img" + "@@" + std::to_string(2048 * 512) + " " + t / "a.bin" + " ::"));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        FileDisk disk(t, "disk.img");
        zel_file_t *dir = nullptr;
        EXPECT_EQ(-7, mount_mbr(&disk.dev.mal, &dir));  // the inner volume does not mount
        ASSERT_EQ(std::vector<std::string>{"OUTER"}, children(dir));
        ASSERT_EQ(300000, write_at(dir, "OUTER/a.bin", 0, pattern(300000, 4)));
        ASSERT_EQ(2000, write_at(dir, "OUTER/a.bin", 0, pattern(2000, 5)));
    }));
    auto want = pattern(300000, 4);
    const auto head = pattern(2000, 5);
    std::copy(head.begin(), head.end(), want.begin());
    expect_fsck_clean(t, "disk.img", 2048 * 512, 16384 * 512);
    expect_mtools_reads(t, "disk.img", "a.bin", want, 2048 * 512);
}

// A partition that does not mount leaves no directory behind and the scan
// goes on; a blank label keeps "root<i>"; a label outlives its volume record.
TEST(MbrMount, UnmountablePartitionIsSkippedAndLabelsAreCopies) {
    TempDir t;
    ASSERT_TRUE(make_disk(t / "disk.img", 16 * MIB,
        {{1, 2048, 4096, 0x06, ""}, {2, 8192, 8192, 0x06, "-F 16 -s 1 -n BLANK"},
            {3, 16384, 4096, 0x0E, "-F 12 -n THIRD"}}));
    {  // no volume in the first partition, a label of blanks in the second
        const auto bytes = load(t / "disk.img");
        const std::string label = "BLANK      ";
        auto at = std::search(bytes.begin() + 8192 * 512 + 512, bytes.end(), label.begin(), label.end());
        ASSERT_NE(bytes.end(), at);
        patch(t / "disk.img", (uint64_t)(at - bytes.begin()), std::vector<uint8_t>(11, ' '));
    }
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        FileDisk disk(t, "disk.img");
        zel_file_t *dir = nullptr;
        EXPECT_EQ(-7, mount_mbr(&disk.dev.mal, &dir));
        ASSERT_EQ((std::vector<std::string>{"root1", "THIRD"}), children(dir));

        zel_file_t *third = nullptr;
        ASSERT_EQ(0, done(zel_file_open(dir, "THIRD", &third)));
        const zel_fs_none_param_t none{};
        ASSERT_EQ(0, done(zel_eda_call_param(
                         zel_vfs_op.unmount, reinterpret_cast<uintptr_t>(third), sizeof none, sizeof none, &none)));
        EXPECT_STREQ("THIRD", third->name);  // the volume record is gone, the name is not
        done(zel_file_close(third));
        EXPECT_EQ((std::vector<std::string>{"root1", "THIRD"}), children(dir));
    }));
}

}  // namespace
