// Volumes made hostile by hand: broken chains and loops, geometry that does
// not hold together, malformed long names. Nothing may crash, hang or touch
// the disk outside the volume.
#include <algorithm>

#include "fat_support.h"
#include "zel_mal_mbr.h"

using namespace fat_test;

namespace {

// A FAT16 image with one-sector clusters, and the places of its FAT and its
// files' entries.
struct Fat16Image {
    TempDir t;
    std::string img = t / "v.img";
    zel_fat_geometry_t g{};
    Fat16Image() {
        EXPECT_EQ(0, sh("mkfs.fat -C -F 16 -s 1 " + img + " 8000"));
        const auto boot = load(img);
        EXPECT_EQ(0, zel_fat_parse_boot(boot.data(), 512, boot.size(), &g));
    }
    void put(const std::string &name, const std::vector<uint8_t> &bytes) {
        t.put(name, bytes);
        EXPECT_EQ(0, sh("mcopy -i " + img + " " + t / name + " ::"));
    }
    // Byte offset of the short entry named `name11` (8.3, blank-padded).
    uint64_t entry_of(const std::string &name11) const {
        const auto bytes = load(img);
        const auto at = std::search(bytes.begin() + g.root_start * 512, bytes.end(), name11.begin(), name11.end());
        EXPECT_NE(bytes.end(), at) << name11;
        return (uint64_t)(at - bytes.begin());
    }
    uint32_t first_cluster(const std::string &name11) const {
        const auto bytes = load(img);
        const uint64_t e = entry_of(name11);
        return bytes[e + 26] | (bytes[e + 27] << 8);
    }
    void set_entry(uint32_t cluster, uint32_t value) {
        for (uint32_t copy = 0; copy < g.fat_count; copy++)
            patch(img, (uint64_t)(g.fat_start + copy * g.fat_size) * 512 + cluster * 2, le16(value));
    }
    void set_size(const std::string &name11, uint32_t size) { patch(img, entry_of(name11) + 28, le32(size)); }
};

TEST(FatHostile, BrokenAndLoopingChainsAreRefused) {
    Fat16Image h;
    for (const char *name : {"beyond.bin", "loop.bin", "self.bin", "one.bin", "first.bin", "past.bin", "other.bin"})
        h.put(name, pattern(2048, 1));
    const uint32_t beyond = h.first_cluster("BEYOND  BIN"), loop = h.first_cluster("LOOP    BIN"),
                   self = h.first_cluster("SELF    BIN"), one = h.first_cluster("ONE     BIN");
    h.set_entry(beyond + 1, 0xFFF0);  // past the last cluster, below the bad mark
    h.set_entry(loop + 2, loop);      // the third cluster leads back to the first
    h.set_size("LOOP    BIN", 200 * 512);
    h.set_entry(self, self);  // a cluster that leads to itself
    h.set_size("SELF    BIN", 10 * 512);
    h.set_entry(one + 1, 1);  // 1 is no cluster
    patch(h.img, h.entry_of("FIRST   BIN") + 26, le16(0xFFF0));
    // A first cluster just past the last one, whose slot in the FAT's last
    // sector leads into another file's chain.
    ASSERT_LE((h.g.cluster_limit + 1) * 2, h.g.fat_size * 512);
    patch(h.img, h.entry_of("PAST    BIN") + 26, le16(h.g.cluster_limit));
    h.set_entry(h.g.cluster_limit, h.first_cluster("OTHER   BIN"));

    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture trace;
        Volume v(h.img);
        ASSERT_EQ(0, v.mount());
        for (const char *name : {"beyond.bin", "loop.bin", "self.bin", "one.bin", "first.bin", "past.bin"}) {
            SCOPED_TRACE(name);
            int32_t err = 0;
            read_all(v.dir, name, 4096, &err);
            EXPECT_EQ(-7, err);
            EXPECT_EQ(-7, write_at(v.dir, name, 0, pattern(2048 + 10 * 512, 2)));
            zel_file_t *f = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, name, &f)));
            EXPECT_NE(0, done(zel_file_seek(f, f->size, ZEL_SEEK_SET)));
            EXPECT_EQ(-7, done(zel_file_resize(f, f->size + 512)));
            done(zel_file_close(f));
        }
        EXPECT_TRUE(trace.contains("fatfs: corrupted file loop.bin\r\n")) << trace.text();
        // Cutting a looping chain ends too.
        EXPECT_EQ(0, resize(v.dir, "loop.bin", 0));
        EXPECT_EQ(0, resize(v.dir, "self.bin", 0));
        EXPECT_TRUE(v.img.all_inside(0, v.img.mal.size));
    }));
}

// Entries whose first cluster is 1 (the FAT's reserved entry, which holds
// no link) or 0 under a size that needs a cluster: a write past the end and
// a growth are refused and take no link from the reserved entries, on every
// FAT type, and the volume stays byte for byte as it was. An empty file
// still gets its first cluster.
TEST(FatHostile, ReservedFirstClusterTakesNoLink) {
    const struct {
        const char *options;
        uint32_t kib;
    } types[] = {{"-F 12 -s 1", 1440}, {"-F 16 -s 1", 8000}, {"-F 32 -s 1", 40000}};
    const struct {
        const char *name;
        const char *name11;
        uint32_t first;
        bool grow_first;  // grown before it is written, not after
    } damaged[] = {{"one.bin", "ONE     BIN", 1, false}, {"two.bin", "TWO     BIN", 1, false},
        {"grow.bin", "GROW    BIN", 1, true}, {"zero.bin", "ZERO    BIN", 0, false}};
    for (const auto &type : types) {
        SCOPED_TRACE(type.options);
        TempDir t;
        const std::string img = t / "v.img";
        ASSERT_TRUE(make_volume(t, "v.img", type.options, type.kib,
            {{"one.bin", pattern(512, 1)}, {"two.bin", pattern(512, 2)}, {"grow.bin", pattern(512, 3)},
                {"zero.bin", pattern(512, 4)}, {"empty.bin", {}}}));
        const auto bytes = load(img);
        zel_fat_geometry_t g{};
        ASSERT_EQ(0, zel_fat_parse_boot(bytes.data(), 512, bytes.size(), &g));
        const auto entry_of = [&](const std::string &name11) {
            const auto at = std::search(bytes.begin() + g.root_start * 512, bytes.end(), name11.begin(), name11.end());
            EXPECT_NE(bytes.end(), at) << name11;
            return (uint64_t)(at - bytes.begin());
        };
        for (const auto &d : damaged) {
            const uint64_t e = entry_of(d.name11);
            patch(img, e + 20, le16(d.first >> 16));
            patch(img, e + 26, le16(d.first));
        }
        const auto before = load(img);
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            zel_test::TraceCapture trace;
            Volume v(img);
            ASSERT_EQ(0, v.mount());
            for (const auto &d : damaged) {
                SCOPED_TRACE(d.name);
                if (d.grow_first) {
                    EXPECT_EQ(-7, resize(v.dir, d.name, 3000));
                }
                EXPECT_EQ(-7, write_at(v.dir, d.name, 512, pattern(700, 9)));
                if (!d.grow_first) {
                    EXPECT_EQ(-7, resize(v.dir, d.name, 3000));
                }
                int32_t err = 0;
                read_all(v.dir, d.name, 4096, &err);
                EXPECT_EQ(-7, err);
            }
            EXPECT_TRUE(trace.contains("fatfs: corrupted file one.bin\r\n")) << trace.text();
            // The FAT operations underneath refuse the reserved entries as
            // they refuse one past the last cluster.
            for (const uint32_t c : {0u, 1u, v.vol.cluster_limit}) {
                SCOPED_TRACE(c);
                uint32_t value = 0, got = 0;
                EXPECT_EQ(-7, done(zel_fatfs_get_fat_entry_start(&v.vol, c, &value)));
                EXPECT_EQ(-7, done(zel_fatfs_set_fat_entry_start(&v.vol, c, 2)));
                if (c != 0) {  // (0 asks for no link)
                    EXPECT_EQ(-7, done(zel_fatfs_alloc_cluster_start(&v.vol, c, &got)));
                }
            }
            const auto after = load(img);
            ASSERT_EQ(before.size(), after.size());
            const size_t same =
                (size_t)(std::mismatch(before.begin(), before.end(), after.begin()).first - before.begin());
            EXPECT_EQ(before.size(), same)
                << "changed at byte " << same << " (the FAT begins at " << g.fat_start * 512 << ")";
            // An empty file takes its first clusters as ever.
            EXPECT_EQ(0, resize(v.dir, "empty.bin", 3000));
            EXPECT_EQ(3000, write_at(v.dir, "empty.bin", 0, pattern(3000, 5)));
            EXPECT_TRUE(v.img.all_inside(0, v.img.mal.size));
        }));
        expect_mtools_reads(t, "v.img", "empty.bin", pattern(3000, 5));
    }
}

// Cutting a chain that comes back to its first cluster within one FAT
// sector frees each of its clusters once: the FAT32 free count grows by
// the chain's length, not by the clusters passed.
TEST(FatHostile, LoopingChainIsFreedOnce) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 40000, {{"loop.bin", pattern(1536, 1)}}));
    const auto boot = load(t / "v.img");
    zel_fat_geometry_t g{};
    ASSERT_EQ(0, zel_fat_parse_boot(boot.data(), 512, boot.size(), &g));
    const auto at = std::search(
        boot.begin() + g.data_start * 512, boot.end(), std::begin("LOOP    BIN"), std::end("LOOP    BIN") - 1);
    ASSERT_NE(boot.end(), at);
    const uint64_t entry = (uint64_t)(at - boot.begin());
    const uint32_t first = boot[entry + 26] | boot[entry + 27] << 8 | boot[entry + 20] << 16 | boot[entry + 21] << 24;
    for (uint32_t copy = 0; copy < g.fat_count; copy++)
        patch(t / "v.img", (uint64_t)(g.fat_start + copy * g.fat_size) * 512 + (first + 2) * 4, le32(first));
    patch(t / "v.img", entry + 28, le32(200 * 512));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        const uint32_t free_before = v.vol.free_count;
        ASSERT_NE(ZEL_FAT_FSINFO_UNKNOWN, free_before);
        EXPECT_EQ(0, resize(v.dir, "loop.bin", 0));
        EXPECT_EQ(free_before + 3, v.vol.free_count);
    }));
    expect_fsck_clean(t, "v.img");
}

TEST(FatHostile, LoopingDirectoryEndsItsListing) {
    Fat16Image h;
    ASSERT_EQ(0, sh("mmd -i " + h.img + " ::dir"));
    for (int i = 0; i < 20; i++) {  // entries over more than one cluster
        h.t.put("x", pattern(10, 1));
        ASSERT_EQ(0, sh("mcopy -i " + h.img + " " + h.t / "x" + " ::dir/file" + std::to_string(i)));
    }
    const uint32_t dir = h.first_cluster("DIR        ");
    h.set_entry(dir + 1, dir);  // the directory's second cluster leads back to its first
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(h.img);
        ASSERT_EQ(0, v.mount());
        zel_file_t *d = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "dir", &d)));
        const auto names = children(d);
        EXPECT_LT(names.size(), 100u);
        zel_file_t *none = nullptr;
        EXPECT_EQ(-4, done(zel_file_open(d, "nothing", &none)));
        done(zel_file_close(d));
    }));
}

// Each of these boot sectors is refused, and the mount reads nothing but the
// volume's own sectors.
TEST(FatHostile, GeometryThatDoesNotHoldTogetherIsNotMounted) {
    struct Fault {
        const char *what;
        uint64_t offset;
        std::vector<uint8_t> bytes;
        const char *fat;
    };
    const Fault faults[] = {
        {"total sectors below the data start", 32, le32(40), "32"},
        {"FAT too small for the clusters", 36, le32(8), "32"},
        {"root cluster past the last", 44, le32(0x00FFFFFF), "32"},
        {"root cluster 1", 44, le32(1), "32"},
        {"16-bit FAT size on FAT32", 22, le16(1), "32"},
        {"active FAT that does not exist", 40, le16(0x83), "32"},
        {"sector size of 1536", 11, le16(1536), "16"},
        {"three sectors per cluster", 13, {3}, "16"},
        {"no FATs", 16, {0}, "16"},
        {"16-bit total below the data start", 19, le16(10), "16"},
        {"exFAT", 11, std::vector<uint8_t>(53, 0), "16"},
        {"no signature", 510, {0, 0}, "16"},
        {"nothing but zeros", 0, std::vector<uint8_t>(1024, 0), "16"},
        {"zeros but a sector size", 0, std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6}, "16"},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        TempDir t;
        const bool fat32 = std::string(f.fat) == "32";
        ASSERT_EQ(
            0, sh(std::string("mkfs.fat -C -s 1 -F ") + f.fat + " " + t / "v.img" + (fat32 ? " 40000" : " 8000")));
        patch(t / "v.img", f.offset, f.bytes);
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            Volume v(t / "v.img");
            EXPECT_EQ(-7, v.mount());
            EXPECT_TRUE(v.img.all_inside(0, v.img.mal.size));
        }));
    }
}

// A volume larger than its partition is refused before anything past the
// partition is read.
TEST(FatHostile, VolumeLargerThanItsPartitionStaysInside) {
    TempDir t;
    ASSERT_TRUE(make_disk(t / "disk.img", 16 * 1024 * 1024,
        {{1, 2048, 8192, 0x06, "-F 16 -s 1"}, {2, 12288, 4096, 0x01, "-F 12 -n NEXT"}}));
    // The partition table halves the first partition under its volume.
    patch(t / "disk.img", 446 + 12, le32(4096));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        ImageMal img(t / "disk.img");
        zel_file_t *dir = make_dir(unique("hostile"));
        zel_mal_mount_mbr_t record{};
        record.mal = &img.mal;
        record.dir = dir;
        ASSERT_EQ(0, done(zel_mal_mount_mbr(&record)));
        EXPECT_EQ(-7, record.result);
        EXPECT_EQ(std::vector<std::string>{"NEXT"}, children(dir));
        for (size_t i = 1; i < img.log.size(); i++) {
            const auto &r = img.log[i];
            const bool first = r.address >= 2048 * 512 && r.address + r.size <= (2048 + 4096) * 512;
            const bool second = r.address >= 12288 * 512 && r.address + r.size <= (12288 + 4096) * 512;
            EXPECT_TRUE(first || second) << r.address;
        }
    }));
}

// Long names with ordinals 0x40 (sequence 0), 0x50 (16) and 0x54 (20), or
// with a piece missing, fall back to the short name.
TEST(FatHostile, MalformedLongNamesFallBackToShortNames) {
    const std::string long_name = "three pieces of a long name.txt";
    const struct {
        uint8_t first;   // the ordinal of the piece that holds the end
        uint8_t second;  // the next piece's
    } cases[] = {{0x40, 0x02}, {0x50, 0x02}, {0x54, 0x02}, {0x43, 0x05}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        TempDir t;
        const std::string img = t / "v.img";
        ASSERT_EQ(0, sh("mkfs.fat -C -F 16 -s 1 " + img + " 8000"));
        t.put("x", pattern(10, 1));
        ASSERT_EQ(0, sh("mcopy -i " + img + " " + t / "x" + " '::" + long_name + "'"));
        const auto bytes = load(img);
        zel_fat_geometry_t g;
        ASSERT_EQ(0, zel_fat_parse_boot(bytes.data(), 512, bytes.size(), &g));
        uint64_t off = (uint64_t)g.root_start * 512;
        while (bytes[off + 11] != 0x0F) off += 32;  // the piece that holds the end comes first
        ASSERT_EQ(0x43, bytes[off]);
        patch(img, off, {c.first});
        patch(img, off + 32, {c.second});
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            Volume v(img);
            ASSERT_EQ(0, v.mount());
            const auto names = children(v.dir);
            ASSERT_EQ(1u, names.size());
            EXPECT_NE(long_name, names[0]);
            EXPECT_TRUE(read_all(v.dir, names[0], 512) == pattern(10, 1));
        }));
    }
}

}  // namespace
