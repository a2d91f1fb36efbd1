// fatfs and the MBR mount against images made and checked by dosfstools,
// mtools and sfdisk.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "fat_image.h"
#include "zel_fatfs.h"
#include "zel_file.h"
#include "zel_mal_mbr.h"
#include "zel_test.h"

using namespace fat_test;

namespace {

int32_t done(int32_t started) {
    EXPECT_EQ(0, started);
    return started == 0 ? (int32_t)zel_eda_get_return_code() : started;
}

// An in-memory directory under the root, made once per name.
zel_file_t *make_dir(const std::string &name) {
    zel_vfs_init();
    zel_file_create(nullptr, name.c_str(), ZEL_FILE_DIR);
    zel_file_t *dir = nullptr;
    EXPECT_EQ(0, done(zel_file_open(nullptr, name.c_str(), &dir)));
    return dir;
}

// One FAT volume on a whole image, with a one-sector cache.
struct Volume {
    ImageMal img;
    zel_fatfs_info_t vol{};
    std::vector<uint8_t> cache_mem;
    zel_file_t *dir = nullptr;
    explicit Volume(const std::string &path, uint32_t sector = 512) : img(path, sector) {
        cache_mem.resize(sizeof(zel_fatfs_cache_entry_t) + sector);
        vol.cache.mal = &img.mal;
        vol.cache.block_size = sector;
        vol.cache.count = 1;
        vol.cache.entries = reinterpret_cast<zel_fatfs_cache_entry_t *>(cache_mem.data());
    }
    int32_t mount(const std::string &name) {
        dir = make_dir(name);
        return done(zel_fs_mount(dir, &zel_fatfs_op, &vol.root.file));
    }
};

std::vector<uint8_t> read_all(zel_file_t *dir, const std::string &path, uint32_t chunk, int32_t *error = nullptr) {
    std::vector<uint8_t> out;
    zel_file_t *f = nullptr;
    int32_t r = done(zel_file_open(dir, path.c_str(), &f));
    if (r != 0) {
        if (error) *error = r;
        return out;
    }
    std::vector<uint8_t> buf(chunk);
    for (;;) {
        r = done(zel_file_read(f, buf.data(), chunk));
        if (r <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + r);
    }
    if (error) *error = r;
    done(zel_file_close(f));
    return out;
}

int32_t write_at(zel_file_t *dir, const std::string &path, uint64_t pos, const std::vector<uint8_t> &data) {
    zel_file_t *f = nullptr;
    int32_t r = done(zel_file_open(dir, path.c_str(), &f));
    if (r != 0) return r;
    r = done(zel_file_seek(f, pos, ZEL_SEEK_SET));
    if (r == 0) r = done(zel_file_write(f, data.data(), (uint32_t)data.size()));
    done(zel_file_close(f));
    return r;
}

int32_t resize(zel_file_t *dir, const std::string &path, uint64_t size) {
    zel_file_t *f = nullptr;
    int32_t r = done(zel_file_open(dir, path.c_str(), &f));
    if (r != 0) return r;
    r = done(zel_file_resize(f, size));
    done(zel_file_close(f));
    return r;
}

// fsck.fat finds nothing to mend and mtools reads `name` back as `want`.
void expect_peers_agree(const TempDir &t, const std::string &image, const std::string &name,
                        const std::vector<uint8_t> &want) {
    EXPECT_EQ(0, sh("fsck.fat -n " + t / image)) << sh_out("fsck.fat -n " + t / image);
    sh("rm -f " + t / "back");
    ASSERT_EQ(0, sh("mcopy -n -i " + t / image + " ::" + name + " " + t / "back"));
    EXPECT_TRUE(t.get("back") == want) << name << " differs as mtools reads it";
}

// Every FAT copy holds the same bytes.
void expect_fat_copies_equal(const TempDir &t, const std::string &image, const zel_fatfs_info_t &vol) {
    const auto bytes = t.get(image);
    const size_t ss = 1u << vol.sector_shift, start = vol.fat_start * ss, len = (size_t)vol.fat_size * ss;
    for (uint32_t i = 1; i < vol.fat_count; i++)
        EXPECT_EQ(0, memcmp(bytes.data() + start, bytes.data() + start + i * len, len)) << "FAT copy " << i;
}

TEST(FatRead, Fat12OneSectorClustersInEveryChunkSize) {
    TempDir t;
    ASSERT_EQ(0, sh("mkfs.fat -C -F 12 -s 1 -n SMALL " + t / "v.img" + " 2000"));
    const size_t sizes[] = {0, 1, 511, 512, 513, 300000};
    for (size_t s : sizes) {
        t.put("f" + std::to_string(s), pattern(s, (unsigned)s));
        ASSERT_EQ(0, sh("mcopy -i " + t / "v.img" + " " + t / ("f" + std::to_string(s)) + " ::"));
    }
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount("fat12read"));
        EXPECT_EQ((uint32_t)ZEL_FAT12, v.vol.type);
        EXPECT_STREQ("SMALL", v.vol.label_ptr);
        for (size_t s : sizes)
            for (uint32_t chunk : {1u, 7u, 512u, 4096u, 400000u}) {
                if (s > 20000 && chunk < 512) continue;  // byte-wise over the large file adds nothing
                int32_t err = 1;
                EXPECT_TRUE(read_all(v.dir, "f" + std::to_string(s), chunk, &err) == pattern(s, (unsigned)s))
                    << "size " << s << " chunk " << chunk;
                EXPECT_EQ(0, err);
            }
        EXPECT_GE(v.img.lowest, 0u);
        EXPECT_LE(v.img.highest, v.img.mal.size);
    }));
}

struct Layout {
    const char *fat;
    const char *extra;
    uint32_t kib;
};

TEST(FatWrite, OverwriteGrowTruncateStayConsistentOnEveryFatType) {
    const Layout layouts[] = {{"12", "-s 2", 1500}, {"16", "-s 4", 20000}, {"32", "-s 1", 40000}};
    for (const Layout &lay : layouts) {
        SCOPED_TRACE(std::string("FAT") + lay.fat);
        TempDir t;
        ASSERT_EQ(0, sh(std::string("mkfs.fat -C -F ") + lay.fat + " " + lay.extra + " " + t / "v.img" + " " +
                        std::to_string(lay.kib)));
        t.put("empty", {});
        t.put("text", pattern(5000, 3));
        ASSERT_EQ(0, sh("mcopy -i " + t / "v.img" + " " + t / "empty" + " " + t / "text" + " ::"));
        std::vector<uint8_t> text = pattern(5000, 3);
        ASSERT_TRUE(zel_test::run_in_thread(
            [&] {
                Volume v(t / "v.img");
                ASSERT_EQ(0, v.mount(std::string("w") + lay.fat));
                const uint32_t cb = zel_fatfs_cluster_bytes(&v.vol);

                // In place, across sector and cluster boundaries.
                const auto patch = pattern(cb + 700, 9);
                ASSERT_EQ((int32_t)patch.size(), write_at(v.dir, "text", 300, patch));
                std::copy(patch.begin(), patch.end(), text.begin() + 300);
                expect_peers_agree(t, "v.img", "text", text);

                // Growth from empty across many clusters, then exactly to a boundary.
                auto big = pattern(cb * 9 + 123, 5);
                ASSERT_EQ((int32_t)big.size(), write_at(v.dir, "empty", 0, big));
                expect_peers_agree(t, "v.img", "empty", big);
                const auto tail = pattern(cb - 123, 6);
                ASSERT_EQ((int32_t)tail.size(), write_at(v.dir, "empty", big.size(), tail));
                big.insert(big.end(), tail.begin(), tail.end());
                ASSERT_EQ(0u, big.size() % cb);
                expect_peers_agree(t, "v.img", "empty", big);

                // Truncate to mid-cluster, to a cluster multiple and to 0; regrow.
                for (uint64_t size : {(uint64_t)cb * 3 + 77, (uint64_t)cb * 2, (uint64_t)0}) {
                    ASSERT_EQ(0, resize(v.dir, "empty", size));
                    big.resize(size);
                    expect_peers_agree(t, "v.img", "empty", big);
                }
                ASSERT_EQ(0, resize(v.dir, "empty", cb + 10));  // growth reads as zeros
                big.assign(cb + 10, 0);
                expect_peers_agree(t, "v.img", "empty", big);
                const auto again = pattern(cb * 2, 8);
                ASSERT_EQ((int32_t)again.size(), write_at(v.dir, "empty", 5, again));
                big.resize(5 + again.size());
                std::copy(again.begin(), again.end(), big.begin() + 5);
                expect_peers_agree(t, "v.img", "empty", big);
                EXPECT_TRUE(read_all(v.dir, "empty", 4096) == big);
                expect_fat_copies_equal(t, "v.img", v.vol);

                // Directories are not file data.
                zel_file_t *root = nullptr;
                ASSERT_EQ(0, done(zel_file_open(v.dir, "", &root)));
                uint8_t byte = 0;
                EXPECT_EQ(-8, done(zel_file_read(root, &byte, 1)));
                EXPECT_EQ(-8, done(zel_file_write(root, &byte, 1)));
                done(zel_file_close(root));
                EXPECT_EQ(-2, done(zel_file_create(v.dir, "new", 0)));
            },
            std::chrono::milliseconds(60000)));
        expect_peers_agree(t, "v.img", "text", text);
    }
}

TEST(FatWrite, Fat32FreeCountFollowsAllocation) {
    TempDir t;
    ASSERT_EQ(0, sh("mkfs.fat -C -F 32 -s 1 " + t / "v.img" + " 40000"));
    t.put("a", {});
    ASSERT_EQ(0, sh("mcopy -i " + t / "v.img" + " " + t / "a" + " ::"));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount("fsinfo"));
        ASSERT_NE(0u, v.vol.fsinfo_sector);
        const uint32_t before = v.vol.free_count;
        ASSERT_EQ(20000, write_at(v.dir, "a", 0, pattern(20000, 1)));
        EXPECT_EQ(before - 40, v.vol.free_count);  // 40 clusters of 512 bytes
        ASSERT_EQ(0, resize(v.dir, "a", 1000));
        EXPECT_EQ(before - 2, v.vol.free_count);
    }));
    // fsck.fat compares the information sector's count with the FAT.
    EXPECT_EQ(0, sh("fsck.fat -n " + t / "v.img")) << sh_out("fsck.fat -n " + t / "v.img");
}

std::set<std::string> list_dir(zel_file_t *dir, const std::string &prefix) {
    std::set<std::string> names;
    zel_file_t *d = nullptr;
    if (done(zel_file_open(dir, prefix.c_str(), &d)) != 0) return names;
    for (;;) {
        zel_file_t *e = nullptr;
        if (done(zel_file_open(d, nullptr, &e)) != 0) break;
        const std::string n = e->name;
        const bool is_dir = e->attributes & ZEL_FILE_DIR;
        done(zel_file_close(e));
        if (n == "." || n == "..") continue;
        names.insert("::/" + (prefix.empty() ? "" : prefix + "/") + n + (is_dir ? "/" : ""));
        if (is_dir) {
            auto sub = list_dir(dir, (prefix.empty() ? "" : prefix + "/") + n);
            names.insert(sub.begin(), sub.end());
        }
    }
    done(zel_file_close(d));
    return names;
}

TEST(FatDir, ListingEqualsMdir) {
    TempDir t;
    ASSERT_EQ(0, sh("mkfs.fat -C -F 16 -s 1 -n LISTING " + t / "v.img" + " 8000"));
    t.put("x", pattern(10, 1));
    const std::string img = t / "v.img", x = t / "x";
    ASSERT_EQ(0, sh("mmd -i " + img + " ::sub ::sub/deeper"));
    for (int i = 0; i < 40; i++)  // names of several pieces across sectors and clusters
        ASSERT_EQ(0, sh("mcopy -i " + img + " " + x + " '::sub/A rather long file name number " + std::to_string(i) +
                        ".text'"));
    for (const char *name : {"::readme.txt", "::MAKEFILE", "'::Ünïcödé ✓.txt'", "::sub/deeper/gone.txt"})
        ASSERT_EQ(0, sh("mcopy -i " + img + " " + x + " " + name)) << name;
    ASSERT_EQ(0, sh("mdel -i " + img + " '::sub/A rather long file name number 7.text' ::sub/deeper/gone.txt"));
    std::set<std::string> want;
    const std::string out = sh_out("mdir -/ -b -i " + img + " ::");
    size_t at = 0;
    while (at < out.size()) {
        const size_t nl = out.find('\n', at);
        const std::string line = out.substr(at, nl - at);
        if (!line.empty()) want.insert(line);
        at = nl == std::string::npos ? out.size() : nl + 1;
    }
    ASSERT_GT(want.size(), 40u);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(img);
        ASSERT_EQ(0, v.mount("listing"));
        EXPECT_EQ(want, list_dir(v.dir, ""));
        EXPECT_TRUE(read_all(v.dir, "Ünïcödé ✓.txt", 512) == pattern(10, 1));
        EXPECT_TRUE(read_all(v.dir, "sub/A rather long file name number 39.text", 512) == pattern(10, 1));
    }));
}

}  // namespace
