// fatfs and the MBR mount against images made and checked by dosfstools,
// mtools and sfdisk.
#include <algorithm>

#include "fat_support.h"

using namespace fat_test;

namespace {

// The names of one directory, "." and ".." left out.
std::set<std::string> names_in(zel_file_t *dir, const std::string &path) {
    std::set<std::string> names;
    for (const std::string &n : list_dir(dir, path)) {
        const std::string rest = n.substr(3 + path.size() + (path.empty() ? 0 : 1));
        if (rest.find('/') == std::string::npos || rest.find('/') == rest.size() - 1) names.insert(rest);
    }
    return names;
}

// "f" and the number: the files a test makes in turn. (Appended rather than
// inserted before the number, which GCC 12 at -O3 takes for an overlapping copy.)
std::string numbered(size_t n) { return std::string("f").append(std::to_string(n)); }

// Seeks to the first bytes of every `step`-th cluster of `name` (a
// 512-byte-cluster file), to the last byte before each and to the end, and
// reads what is there: a seek follows the chain a FAT sector at a time, and
// must land in the right cluster wherever the links jump or an entry
// straddles two sectors.
void expect_seeks_land(zel_file_t *dir, const char *name, const std::vector<uint8_t> &want, uint32_t step) {
    zel_file_t *f = nullptr;
    ASSERT_EQ(0, done(zel_file_open(dir, name, &f)));
    std::vector<uint64_t> at;
    for (uint64_t c = 0; c * 512 < want.size(); c += step) {
        if (c) at.push_back(c * 512 - 1);
        at.push_back(c * 512);
    }
    at.push_back(want.size() - 1);
    size_t checked = 0;
    for (auto it = at.rbegin(); it != at.rend(); ++it) {
        SCOPED_TRACE("position " + std::to_string(*it));
        ASSERT_EQ(0, done(zel_file_seek(f, *it, ZEL_SEEK_SET)));
        uint8_t byte = 0;
        ASSERT_EQ(1, done(zel_file_read(f, &byte, 1)));
        ASSERT_EQ(want[*it], byte);
        ++checked;
    }
    EXPECT_EQ(at.size(), checked);
    ASSERT_EQ(0, done(zel_file_seek(f, want.size(), ZEL_SEEK_SET)));
    done(zel_file_close(f));
}

TEST(FatRead, Fat12OneSectorClustersInEveryChunkSize) {
    TempDir t;
    ASSERT_EQ(0, sh("mkfs.fat -C -F 12 -s 1 -n SMALL " + t / "v.img" + " 2000"));
    const size_t sizes[] = {0, 1, 511, 512, 513, 300000};
    for (size_t s : sizes) {
        t.put(numbered(s), pattern(s, (unsigned)s));
        ASSERT_EQ(0, sh("mcopy -i " + t / "v.img" + " " + t / (numbered(s)) + " ::"));
    }
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        EXPECT_EQ((uint32_t)ZEL_FAT12, v.vol.type);
        EXPECT_STREQ("SMALL", v.vol.label_ptr);
        for (size_t s : sizes)
            for (uint32_t chunk : {1u, 7u, 512u, 4096u, 400000u}) {
                if (s > 20000 && chunk < 512) continue;  // byte-wise over the large file adds nothing
                int32_t err = 1;
                EXPECT_TRUE(read_all(v.dir, numbered(s), chunk, &err) == pattern(s, (unsigned)s))
                    << "size " << s << " chunk " << chunk;
                EXPECT_EQ(0, err);
            }
        EXPECT_TRUE(v.img.all_inside(0, v.img.mal.size));
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
        ASSERT_TRUE(make_volume(t, "v.img", std::string("-F ") + lay.fat + " " + lay.extra, lay.kib,
            {{"empty", {}}, {"text", pattern(5000, 3)}}));
        std::vector<uint8_t> text = pattern(5000, 3);
        ASSERT_TRUE(zel_test::run_in_thread(
            [&] {
                Volume v(t / "v.img");
                ASSERT_EQ(0, v.mount());
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

// Growth through our own allocation crosses the FAT12 entries that straddle
// two FAT sectors (clusters 341 and 682) and gets cut right there.
TEST(FatWrite, Fat12ChainAcrossStraddlingEntries) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 12 -s 1", 2000, {{"f", {}}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        auto want = pattern(400000, 3);
        ASSERT_EQ((int32_t)want.size(), write_at(v.dir, "f", 0, want));
        expect_peers_agree(t, "v.img", "f", want);
        expect_seeks_land(v.dir, "f", want, 1);
        expect_fat_copies_equal(t, "v.img", v.vol);
        for (uint64_t size : {(uint64_t)345 * 512, (uint64_t)340 * 512 + 1, (uint64_t)100}) {
            ASSERT_EQ(0, resize(v.dir, "f", size));
            want.resize(size);
            expect_peers_agree(t, "v.img", "f", want);
        }
        expect_fat_copies_equal(t, "v.img", v.vol);
    }));
}

// Two files that grew one cluster each in turn: their chains interleave over
// several FAT sectors (on FAT12 across the entries that straddle two). Each
// reads back whole although no two of its clusters follow in order, and
// cutting one, to a few bytes and then to nothing, frees exactly its
// clusters in every FAT copy, a FAT sector at a time.
TEST(FatWrite, InterleavedChainsReadAndFreeWhole) {
    const Layout layouts[] = {{"12", "-s 1", 1500}, {"16", "-s 1", 8000}, {"32", "-s 1", 40000}};
    for (const Layout &lay : layouts) {
        SCOPED_TRACE(std::string("FAT") + lay.fat);
        TempDir t;
        ASSERT_TRUE(
            make_volume(t, "v.img", std::string("-F ") + lay.fat + " " + lay.extra, lay.kib, {{"a", {}}, {"b", {}}}));
        constexpr uint32_t turns = 700;
        const auto want_a = pattern(turns * 512, 4), want_b = pattern(turns * 512, 5);
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            Volume v(t / "v.img", 512, 4);
            ASSERT_EQ(0, v.mount());
            zel_file_t *a = nullptr, *b = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, "a", &a)));
            ASSERT_EQ(0, done(zel_file_open(v.dir, "b", &b)));
            for (uint32_t i = 0; i < turns; i++) {
                ASSERT_EQ(512, done(zel_file_write(a, want_a.data() + i * 512, 512)));
                ASSERT_EQ(512, done(zel_file_write(b, want_b.data() + i * 512, 512)));
            }
            done(zel_file_close(a));
            done(zel_file_close(b));
            EXPECT_TRUE(read_all(v.dir, "a", 64 * 1024) == want_a);
            EXPECT_TRUE(read_all(v.dir, "b", 64 * 1024) == want_b);
            expect_seeks_land(v.dir, "a", want_a, 3);
            const uint32_t free_before = v.vol.free_count;
            const size_t requests = v.img.log.size();
            ASSERT_EQ(0, resize(v.dir, "a", 700));
            size_t writes = 0;
            for (size_t i = requests; i < v.img.log.size(); i++) writes += v.img.log[i].write;
            EXPECT_LT(writes, turns / 4) << "a FAT sector is written once for all its entries";
            ASSERT_EQ(0, resize(v.dir, "a", 0));
            if (free_before != ZEL_FAT_FSINFO_UNKNOWN) {
                EXPECT_EQ(free_before + turns, v.vol.free_count);
            }
            expect_fat_copies_equal(t, "v.img", v.vol);
        }));
        expect_peers_agree(t, "v.img", "b", want_b);
        expect_mtools_reads(t, "v.img", "a", {});
    }
}

// Free space in single clusters between used ones: a large write takes what
// there is, run by run.
TEST(FatWrite, GrowthThroughScatteredFreeClusters) {
    TempDir t;
    ASSERT_EQ(0, sh("mkfs.fat -C -F 16 -s 1 " + t / "v.img" + " 8000"));
    t.put("one", pattern(512, 1));
    t.put("three", pattern(1536, 1));
    std::string keep, gone;
    for (int i = 0; i < 60; i++) {
        const std::string name = numbered(i);
        ASSERT_EQ(0, sh("mcopy -i " + t / "v.img" + " " + t / (i % 3 ? "one" : "three") + " ::" + name));
        (i % 2 ? gone : keep) += " ::" + name;
    }
    ASSERT_EQ(0, sh("mdel -i " + t / "v.img" + gone));
    t.put("big", {});
    ASSERT_EQ(0, sh("mcopy -i " + t / "v.img" + " " + t / "big" + " ::"));
    const auto want = pattern(200000, 4);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        ASSERT_EQ((int32_t)want.size(), write_at(v.dir, "big", 0, want));
        EXPECT_TRUE(read_all(v.dir, "big", 3000) == want);
    }));
    expect_peers_agree(t, "v.img", "big", want);
    expect_mtools_reads(t, "v.img", "f0", pattern(1536, 1));
}

// One open file: truncating under the position, regrowing and writing again
// keep the position and the chain right.
TEST(FatWrite, OneHandleThroughTruncateAndRegrow) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 12 -s 2", 1000, {{"f", {}}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
        std::vector<uint8_t> want = pattern(3000, 1);
        ASSERT_EQ(3000, done(zel_file_write(f, want.data(), 3000)));

        ASSERT_EQ(0, done(zel_file_resize(f, 0)));  // the position comes back to 0
        EXPECT_EQ(0u, zel_file_tell(f));
        const auto b = pattern(1500, 2);
        ASSERT_EQ(1500, done(zel_file_write(f, b.data(), 1500)));
        want = b;
        expect_peers_agree(t, "v.img", "f", want);

        ASSERT_EQ(0, done(zel_file_resize(f, 700)));  // mid-cluster, under the position
        EXPECT_EQ(700u, zel_file_tell(f));
        const auto c = pattern(2000, 3);
        ASSERT_EQ(2000, done(zel_file_write(f, c.data(), 2000)));
        want.resize(700);
        want.insert(want.end(), c.begin(), c.end());
        expect_peers_agree(t, "v.img", "f", want);

        ASSERT_EQ(0, done(zel_file_resize(f, 2048)));  // a cluster multiple
        want.resize(2048);
        ASSERT_EQ(0, done(zel_file_seek(f, 2048, ZEL_SEEK_SET)));
        const auto d = pattern(1024, 4);  // ends on a cluster boundary again
        ASSERT_EQ(1024, done(zel_file_write(f, d.data(), 1024)));
        want.insert(want.end(), d.begin(), d.end());
        expect_peers_agree(t, "v.img", "f", want);

        ASSERT_EQ(0, done(zel_file_seek(f, 0, ZEL_SEEK_SET)));
        std::vector<uint8_t> back(want.size() + 10);
        EXPECT_EQ((int32_t)want.size(), done(zel_file_read(f, back.data(), (uint32_t)back.size())));
        back.resize(want.size());
        EXPECT_TRUE(back == want);
        done(zel_file_close(f));
        expect_fat_copies_equal(t, "v.img", v.vol);
    }));
}

TEST(FatWrite, SectorsOf1024To4096Bytes) {
    for (uint32_t sector : {1024u, 2048u, 4096u}) {
        SCOPED_TRACE(sector);
        TempDir t;
        ASSERT_TRUE(
            make_volume(t, "v.img", "-F 12 -s 1 -S " + std::to_string(sector), 3000, {{"f", pattern(sector + 5, 1)}}));
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            {
                Volume wrong(t / "v.img", 512);
                EXPECT_EQ(-7, wrong.mount());
            }
            Volume v(t / "v.img", sector);
            ASSERT_EQ(0, v.mount());
            EXPECT_TRUE(read_all(v.dir, "f", 1000) == pattern(sector + 5, 1));
            auto want = pattern(sector * 5 + 17, 2);
            ASSERT_EQ((int32_t)want.size(), write_at(v.dir, "f", 0, want));
            expect_peers_agree(t, "v.img", "f", want);
            ASSERT_EQ(0, resize(v.dir, "f", sector * 2 - 1));
            want.resize(sector * 2 - 1);
            expect_peers_agree(t, "v.img", "f", want);
            expect_fat_copies_equal(t, "v.img", v.vol);
        }));
    }
}

// Two opens of one file are two nodes: whichever changes the file next first
// takes its size and chain from the directory entry again.
TEST(FatWrite, TwoHandlesOfOneFileStayConsistent) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"f", {}}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        zel_file_t *a = nullptr, *b = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &a)));
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &b)));
        auto want = pattern(2000, 1);
        ASSERT_EQ(2000, done(zel_file_write(a, want.data(), 2000)));
        const auto head = pattern(700, 2);  // b still thinks the file empty
        ASSERT_EQ(700, done(zel_file_write(b, head.data(), 700)));
        std::copy(head.begin(), head.end(), want.begin());
        expect_peers_agree(t, "v.img", "f", want);

        ASSERT_EQ(0, done(zel_file_resize(a, 0)));
        const auto tail = pattern(1000, 3);  // b's position (700) is past the end now
        ASSERT_EQ(1000, done(zel_file_write(b, tail.data(), 1000)));
        expect_peers_agree(t, "v.img", "f", tail);
        EXPECT_EQ(1000u, b->size);
        done(zel_file_close(a));
        done(zel_file_close(b));
    }));
}

// Operations of two agents on one volume over a disk that answers later run
// one after the other, and both files come out whole.
TEST(FatWrite, AgentsShareOneVolumeOverASlowDisk) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"a", {}}, {"b", pattern(3000, 9)}}));
    Volume v(t / "v.img");
    ASSERT_TRUE(zel_test::run_in_thread([&] { ASSERT_EQ(0, v.mount()); }));
    v.img.delay_ms = 1;

    const auto da = pattern(5000, 1), db = pattern(4000, 2);
    zel_file_t *fa = nullptr, *fb = nullptr;
    std::vector<uint8_t> back(3000);
    Script sa, sb;
    sa.steps = {[&] { return zel_file_open(v.dir, "a", &fa); },
        [&] { return zel_file_write(fa, da.data(), (uint32_t)da.size()); }, [&] { return zel_file_resize(fa, 4500); },
        [&] { return zel_file_close(fa); }};
    sb.steps = {[&] { return zel_file_open(v.dir, "b", &fb); }, [&] { return zel_file_read(fb, back.data(), 3000); },
        [&] { return zel_file_seek(fb, 1000, ZEL_SEEK_SET); },
        [&] { return zel_file_write(fb, db.data(), (uint32_t)db.size()); }, [&] { return zel_file_close(fb); }};
    zel_test::run_as_irq([&] {
        sa.agent.start();
        sb.agent.start();
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return sa.finished && sb.finished; }));
    EXPECT_EQ((std::vector<intptr_t>{0, 5000, 0, 0}), sa.answers);
    EXPECT_EQ((std::vector<intptr_t>{0, 3000, 0, 4000, 0}), sb.answers);
    EXPECT_TRUE(back == pattern(3000, 9));
    auto want_b = pattern(3000, 9);
    want_b.resize(1000);
    want_b.insert(want_b.end(), db.begin(), db.end());
    expect_peers_agree(t, "v.img", "a", std::vector<uint8_t>(da.begin(), da.begin() + 4500));
    expect_peers_agree(t, "v.img", "b", want_b);
}

// With mirroring off only the active FAT is read and written.
TEST(FatWrite, MirroringOffKeepsToTheActiveFat) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 40000, {{"a", {}}}));
    patch(t / "v.img", 40, le16(0x81));
    const auto before = load(t / "v.img");
    const auto want = pattern(5000, 4);
    zel_fatfs_info_t geometry{};
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        EXPECT_EQ(1u, v.vol.fat_active);
        ASSERT_EQ(5000, write_at(v.dir, "a", 0, want));
        geometry = v.vol;
    }));
    const auto after = load(t / "v.img");
    const size_t start = geometry.fat_start * 512, len = (size_t)geometry.fat_size * 512;
    EXPECT_EQ(0, memcmp(before.data() + start, after.data() + start, len)) << "FAT 0 changed";
    EXPECT_NE(0, memcmp(before.data() + start + len, after.data() + start + len, len)) << "FAT 1 kept";
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        EXPECT_TRUE(read_all(v.dir, "a", 4096) == want);
    }));
}

// A full volume: the write answers -7 and what was written stays consistent.
TEST(FatWrite, FullVolumeFailsCleanly) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 12 -s 1", 200, {{"f", {}}}));
    const auto data = pattern(300000, 5);
    uint64_t size = 0;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        EXPECT_EQ(-7, write_at(v.dir, "f", 0, data));
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
        size = f->size;
        done(zel_file_close(f));
        EXPECT_EQ(0u, size % 512);
        EXPECT_GT(size, 100000u);
        EXPECT_EQ(-7, resize(v.dir, "f", size + 1));  // no cluster left for one more byte
    }));
    expect_peers_agree(t, "v.img", "f", std::vector<uint8_t>(data.begin(), data.begin() + (long)size));
}

// Growth that does not fit answers -7 and takes nothing: the file keeps its
// size, its bytes and its position, and the volume is not written at all
// (the image is as it was; on FAT32 the free count too).
TEST(FatWrite, GrowthBeyondTheFreeSpaceTakesNothing) {
    const Layout layouts[] = {{"12", "-s 1", 200}, {"16", "-s 1", 8000}, {"32", "-s 1", 40000}};
    for (const Layout &lay : layouts) {
        SCOPED_TRACE(std::string("FAT") + lay.fat);
        TempDir t;
        const auto text = pattern(3000, 8);
        ASSERT_TRUE(make_volume(
            t, "v.img", std::string("-F ") + lay.fat + " " + lay.extra, lay.kib, {{"f", text}, {"empty", {}}}));
        const auto before = load(t / "v.img");
        zel_fatfs_info_t geometry{};
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            zel_test::TraceCapture quiet;
            Volume v(t / "v.img");
            ASSERT_EQ(0, v.mount());
            const uint32_t free_before = v.vol.free_count;
            // One byte more than every cluster of the volume holds.
            const uint64_t room =
                ((uint64_t)(v.vol.cluster_limit - 2) << (v.vol.sector_shift + v.vol.cluster_shift)) + 1;
            zel_file_t *f = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
            ASSERT_EQ(0, done(zel_file_seek(f, 1000, ZEL_SEEK_SET)));
            const size_t requests = v.img.log.size();
            EXPECT_EQ(-7, done(zel_file_resize(f, room)));
            // The free space is counted first: nothing is written, no zeros
            // over the free clusters either.
            for (size_t i = requests; i < v.img.log.size(); i++)
                EXPECT_FALSE(v.img.log[i].write) << "a write at byte " << v.img.log[i].address;
            EXPECT_EQ(3000u, f->size);
            EXPECT_EQ(1000u, f->position);
            std::vector<uint8_t> part(500);
            EXPECT_EQ(500, done(zel_file_read(f, part.data(), 500)));
            EXPECT_TRUE(std::equal(part.begin(), part.end(), text.begin() + 1000));
            done(zel_file_close(f));
            EXPECT_EQ(-7, resize(v.dir, "empty", room));
            EXPECT_EQ(free_before, v.vol.free_count);
            geometry = v.vol;
        }));
        const auto after = load(t / "v.img");
        const size_t start = geometry.fat_start * 512, len = (size_t)geometry.fat_size * 512 * geometry.fat_count;
        ASSERT_EQ(before.size(), after.size());
        EXPECT_EQ(0, memcmp(before.data() + start, after.data() + start, len)) << "every FAT copy as it was";
        // What fits still grows.
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            Volume v(t / "v.img");
            ASSERT_EQ(0, v.mount());
            EXPECT_EQ(0, resize(v.dir, "empty", 5000));
        }));
        expect_peers_agree(t, "v.img", "f", text);
        expect_mtools_reads(t, "v.img", "empty", std::vector<uint8_t>(5000, 0));
    }
}

// A file with the read-only attribute reads but is neither written nor
// resized, as a host file without write permission is not; its neighbour is.
TEST(FatWrite, ReadOnlyFilesAreNotChanged) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"ro", pattern(2000, 1)}, {"ro0", {}}, {"rw", {}}}));
    ASSERT_EQ(0, sh("mattrib +r -i " + t / "v.img" + " ::ro ::ro0"));
    const auto before = load(t / "v.img");
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        for (const char *name : {"ro", "ro0"}) {
            SCOPED_TRACE(name);
            zel_file_t *f = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, name, &f)));
            EXPECT_EQ(0u, f->attributes & ZEL_FILE_WRITABLE);
            const uint64_t size = f->size;
            const auto data = pattern(3000, 9);
            EXPECT_EQ(-7, done(zel_file_write(f, data.data(), 10)));
            EXPECT_EQ(-7, done(zel_file_write(f, data.data(), 3000)));
            EXPECT_EQ(-7, done(zel_file_resize(f, 0)));
            EXPECT_EQ(-7, done(zel_file_resize(f, 100000)));
            EXPECT_EQ(size, f->size);
            EXPECT_EQ(0u, f->position);
            done(zel_file_close(f));
        }
        EXPECT_TRUE(read_all(v.dir, "ro", 4096) == pattern(2000, 1));
        EXPECT_EQ(3000, write_at(v.dir, "rw", 0, pattern(3000, 2)));
    }));
    const auto after = load(t / "v.img");
    expect_peers_agree(t, "v.img", "ro", pattern(2000, 1));
    expect_mtools_reads(t, "v.img", "ro0", {});
    expect_mtools_reads(t, "v.img", "rw", pattern(3000, 2));
    EXPECT_NE(std::string::npos, sh_out("mattrib -i " + t / "v.img" + " ::ro").find("R")) << "still read-only";
    // Only the writable file's entry, FAT entries and data changed.
    size_t changed = 0;
    for (size_t i = 0; i < before.size(); i += 512) changed += memcmp(before.data() + i, after.data() + i, 512) != 0;
    EXPECT_LE(changed, 2u + 2u + 6u);
}

// A device that moves fewer bytes than asked has failed.
TEST(FatWrite, ShortDeviceTransfersFail) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"f", pattern(3000, 1)}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        {
            Volume v(t / "v.img");
            v.img.short_by = 1;
            EXPECT_EQ(-7, v.mount());
        }
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
        v.img.short_by = 1;
        std::vector<uint8_t> buf(2000);
        EXPECT_EQ(-7, done(zel_file_read(f, buf.data(), 2000)));
        EXPECT_EQ(-7, done(zel_file_write(f, buf.data(), 2000)));
        v.img.short_by = 0;
        done(zel_file_close(f));
    }));
}

TEST(FatWrite, Fat32FreeCountFollowsAllocation) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 40000, {{"a", {}}}));
    ASSERT_EQ(0, sh("mmd -i " + t / "v.img" + " ::sub"));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        EXPECT_EQ(names_in(v.dir, ""), names_in(v.dir, "sub/.."));  // ".." holds 0 for the root
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

TEST(FatWrite, Fat32KeepsTheReservedTopBitsOfEveryEntry) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 40000, {{"a", {}}}));
    const std::string img = t / "v.img";
    auto bytes = load(img);
    const uint32_t bps = bytes[11] | bytes[12] << 8, reserved = bytes[14] | bytes[15] << 8;
    const uint32_t fat_size = bytes[36] | bytes[37] << 8 | bytes[38] << 16 | (uint32_t)bytes[39] << 24;
    // Another system may keep its own use of the top 4 bits: set them in both
    // copies for the first clusters, used and free alike.
    for (uint32_t copy = 0; copy < 2; copy++)
        for (uint32_t c = 2; c < 120; c++)
            patch(img, (uint64_t)(reserved + copy * fat_size) * bps + 4 * c + 3,
                {(uint8_t)(bytes[(reserved + copy * fat_size) * bps + 4 * c + 3] | 0xF0)});
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(img);
        ASSERT_EQ(0, v.mount());
        ASSERT_EQ(20000, write_at(v.dir, "a", 0, pattern(20000, 1)));
        ASSERT_EQ(0, resize(v.dir, "a", 3000));
        EXPECT_TRUE(read_all(v.dir, "a", 512) == pattern(3000, 1));
    }));
    bytes = load(img);
    for (uint32_t copy = 0; copy < 2; copy++)
        for (uint32_t c = 2; c < 120; c++)
            EXPECT_EQ(0xF0, bytes[(reserved + copy * fat_size) * bps + 4 * c + 3] & 0xF0) << "cluster " << c;
    ASSERT_EQ(0, sh("mcopy -n -i " + img + " ::a " + t / "a.out"));
    EXPECT_TRUE(load(t / "a.out") == pattern(3000, 1));
}

TEST(FatDir, ListingEqualsMdir) {
    TempDir t;
    ASSERT_EQ(0, sh("mkfs.fat -C -F 16 -s 1 -n LISTING " + t / "v.img" + " 8000"));
    t.put("x", pattern(10, 1));
    const std::string img = t / "v.img", x = t / "x";
    ASSERT_EQ(0, sh("mmd -i " + img + " ::sub ::sub/deeper"));
    for (int i = 0; i < 40; i++)  // names of several pieces across sectors and clusters
        ASSERT_EQ(0,
            sh("mcopy -i " + img + " " + x + " '::sub/A rather long file name number " + std::to_string(i) + ".text'"));
    for (const char *name : {"::readme.txt", "::MAKEFILE", "'::Ünïcödé ✓.txt'", "::sub/deeper/gone.txt"})
        ASSERT_EQ(0, sh("mcopy -i " + img + " " + x + " " + name)) << name;
    ASSERT_EQ(0, sh("mcopy -i " + img + " " + x + " ::UBER.TXT"));
    ASSERT_EQ(0, sh("mdel -i " + img + " '::sub/A rather long file name number 7.text' ::sub/deeper/gone.txt"));
    {  // a short name alone, with a byte of the OEM character set
        const auto bytes = load(img);
        const std::string needle = "UBER    TXT";
        const auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
        ASSERT_NE(bytes.end(), at);
        patch(img, (uint64_t)(at - bytes.begin()), {0x81});
    }
    const std::set<std::string> want = mdir_names(img);
    ASSERT_GT(want.size(), 40u);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(img);
        ASSERT_EQ(0, v.mount());
        EXPECT_EQ(want, list_dir(v.dir, ""));
        EXPECT_TRUE(read_all(v.dir, "Ünïcödé ✓.txt", 512) == pattern(10, 1));
        EXPECT_TRUE(read_all(v.dir, "sub/A rather long file name number 39.text", 512) == pattern(10, 1));
        EXPECT_TRUE(read_all(v.dir,
                        "\xc3\xbc"
                        "BER.TXT",
                        512) == pattern(10, 1));
        EXPECT_EQ(names_in(v.dir, ""), names_in(v.dir, "sub/deeper/../.."));
    }));
}

}  // namespace
