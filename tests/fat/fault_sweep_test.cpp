// Failure sweeps: an operation runs with its n-th device transfer failing,
// for every n, in every way a transfer fails. Right after it, or after the
// unmount or one operation on the healthy device where the disk stayed
// gone, the volume must come out as fsck.fat and mtools accept it:
// no other file changed, no size beyond its chain, no cluster lost or shared,
// the FAT copies identical and the FAT32 free count right.
#include <functional>
#include <map>

#include "fault_disk.h"

using namespace fat_test;

namespace {

struct SweepLayout {
    const char *name;
    const char *mkfs;
    uint32_t kib;
};

// Files put on each volume in this order, so that every file the operations
// change lies between files they must leave alone.
struct Seed {
    const char *name;
    size_t size;
};
const Seed kFiles[] = {
    {"v1", 3000}, {"big", 200000}, {"v2", 1500}, {"small", 3000}, {"v3", 700}, {"empty", 0}, {"v4", 2500}};

struct SweepOp {
    const char *name;
    const char *file;
    std::function<int32_t(zel_file_t *)> run;
    uint64_t size;  // the file's size when the operation did all of it
};

const std::vector<uint8_t> &payload() {
    static const std::vector<uint8_t> p = pattern(200000, 77);
    return p;
}

int32_t write_from(zel_file_t *f, uint64_t pos, uint32_t n) {
    const int32_t r = done(zel_file_seek(f, pos, ZEL_SEEK_SET));
    return r != 0 ? r : done(zel_file_write(f, payload().data(), n));
}

const SweepOp kOps[] = {
    {"grow-write 200000", "small", [](zel_file_t *f) { return write_from(f, 3000, 200000); }, 203000},
    {"overwrite 150000", "big", [](zel_file_t *f) { return write_from(f, 1000, 150000); }, 200000},
    {"shrink to 5000", "big", [](zel_file_t *f) { return done(zel_file_resize(f, 5000)); }, 5000},
    {"shrink to 0", "big", [](zel_file_t *f) { return done(zel_file_resize(f, 0)); }, 0},
    {"grow by resize to 100000", "small", [](zel_file_t *f) { return done(zel_file_resize(f, 100000)); }, 100000},
    {"write 20000 into an empty file", "empty", [](zel_file_t *f) { return write_from(f, 0, 20000); }, 20000},
};

// How a point fails. A disk that fails one transfer is healthy again at
// the next; an unplugged one stays gone for the rest of the operation and
// comes back before the volume's next operation or only before its unmount.
struct SweepFault {
    Fault fault;
    bool back_at_unmount;
};

const SweepFault kFaults[] = {{Fault::REFUSED, false}, {Fault::LOST_STATUS, false}, {Fault::HALF, false},
    {Fault::READ, false}, {Fault::UNPLUGGED, false}, {Fault::UNPLUGGED, true}};

// The image as it was made, and the writes since that put it back.
struct Baseline {
    std::string path;
    std::vector<uint8_t> bytes;
    void restore(const ImageMal &img) const {
        const int fd = open(path.c_str(), O_RDWR);
        for (const auto &r : img.log)
            if (r.write && pwrite(fd, bytes.data() + r.address, r.size, (off_t)r.address) < 0) perror("restore");
        close(fd);
    }
};

// The region of the volume a transfer at `address` begins in.
std::string region(const zel_fatfs_info_t &vol, uint64_t address) {
    const uint64_t sector = address >> vol.sector_shift;
    if (sector < vol.fat_start) return "reserved";
    if (sector < vol.fat_start + (uint64_t)vol.fat_count * vol.fat_size) return "FAT";
    return sector < vol.data_start ? "root directory" : "data";
}

// One fault point: the operation with the fault armed, then the checks
// right after it, or after the unmount for a disk that comes back only
// then, or after a healthy write of 10 bytes at the start of the same file.
// False when the fault did not fire (n is past the operation's transfers).
bool one_point(const TempDir &t, const Baseline &base, const SweepOp &op, SweepFault how, int n,
    const std::string &what, std::map<std::string, int> &regions) {
    bool fired = false;
    Volume v(base.path);
    EXPECT_TRUE(zel_test::run_in_thread([&] {
        SCOPED_TRACE(what);
        ASSERT_EQ(0, v.mount());
        FaultDisk disk(v);
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, op.file, &f)));
        disk.arm(how.fault, n);
        const int32_t r = op.run(f);
        fired = disk.fired;
        if (fired) regions[region(v.vol, disk.fired_address)]++;
        // Half of one sector is none of it: that point is the refused write's.
        const bool same_as_refused = how.fault == Fault::HALF && disk.fired_size <= v.img.block;
        // A failed transfer is reported, unless trying it again made it
        // good and the operation did all it was asked.
        if (fired && r >= 0) {
            EXPECT_EQ(op.size, f->size) << "a failed transfer is reported";
        }
        done(zel_file_close(f));
        disk.disarm();
        if (!fired || same_as_refused) {
            unmount(v);
            return;
        }
        if (how.back_at_unmount) {
            // The unmount finishes what the failed operation left.
            unmount(v);
            expect_fat_copies_equal(t, "v.img", v.vol);
            expect_fsck_clean(t, "v.img");
            return;
        }
        if (how.fault != Fault::UNPLUGGED) {
            // Nothing is left for a later operation to finish: the program
            // may end, or the disk go, right now.
            expect_fat_copies_equal(t, "v.img", v.vol);
            expect_fsck_clean(t, "v.img");
        }
        // The next operation on the file, on a healthy device.
        const std::vector<uint8_t> ten(10, 0x5A);
        EXPECT_EQ(10, write_at(v.dir, op.file, 0, ten));
        int32_t err = 1;
        const auto now = read_all(v.dir, op.file, 4096, &err);
        EXPECT_EQ(0, err) << "the file reads to its end";
        ASSERT_GE(now.size(), 10u);
        EXPECT_TRUE(std::equal(ten.begin(), ten.end(), now.begin()));
        for (const Seed &s : kFiles)
            if (strcmp(s.name, op.file) != 0) {
                EXPECT_TRUE(read_all(v.dir, s.name, 4096) == pattern(s.size, (unsigned)s.size)) << s.name;
            }
        expect_fat_copies_equal(t, "v.img", v.vol);
        unmount(v);
        expect_fsck_clean(t, "v.img");
    }));
    base.restore(v.img);
    return fired;
}

void sweep(const SweepLayout &lay) {
    TempDir t;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const Seed &s : kFiles) files.push_back({s.name, pattern(s.size, (unsigned)s.size)});
    ASSERT_TRUE(make_volume(t, "v.img", lay.mkfs, lay.kib, files));
    const Baseline base{t / "v.img", load(t / "v.img")};
    std::map<std::string, int> regions;  // failed transfers by where they went
    for (const SweepOp &op : kOps)
        for (SweepFault how : kFaults) {
            int n = 0;
            for (;; n++) {
                const std::string what = std::string(lay.name) + ": " + op.name + ", transfer " + std::to_string(n) +
                                         " " + fault_name(how.fault) +
                                         (how.back_at_unmount ? ", back before the unmount" : "");
                if (!one_point(t, base, op, how, n, what, regions)) break;
                if (testing::Test::HasFailure()) return;
            }
            EXPECT_GT(n, 2) << op.name << ": the sweep reached some transfers";
        }
    // The faults hit the FAT, the directory entries (in the root region, or
    // in the data region on FAT32) and, on FAT32, the information sector.
    EXPECT_GT(regions["FAT"], 0);
    EXPECT_GT(regions["data"], 0);
    EXPECT_GT(regions[strcmp(lay.name, "FAT32") == 0 ? "reserved" : "root directory"], 0);
}

const SweepLayout kSweepLayouts[] = {
    {"FAT12", "-F 12 -s 1", 2048}, {"FAT16", "-F 16 -s 1", 8000}, {"FAT32", "-F 32 -s 1", 34000}};

TEST(FatFaults, EveryTransferOfEveryOperationFailsOnce) {
    zel_test::TraceCapture quiet;
    for (const SweepLayout &lay : kSweepLayouts) {
        sweep(lay);
        if (HasFailure()) break;
    }
}

// The volume after a failed operation and a healthy one: fsck.fat finds
// nothing, the FAT copies agree, and mtools reads `name` as `want`.
void expect_settled(const TempDir &t, Volume &v, const std::string &name, const std::vector<uint8_t> &want) {
    expect_fat_copies_equal(t, "v.img", v.vol);
    expect_fsck_clean(t, "v.img");
    expect_mtools_reads(t, "v.img", name, want);
}

// A FAT12 entry that crosses two FAT sectors is written in two device
// writes. When the second fails, the entry must not keep the new low bits
// with the old high ones: here that torn value (0xFAB) names cluster 4011,
// where another file starts, and the clean-up after the failed write must
// not take it for the rest of the growing file's chain.
TEST(FatFaults, TornCrossingEntryNeverFreesAnotherFile) {
    for (Fault fault : {Fault::REFUSED, Fault::LOST_STATUS}) {
        SCOPED_TRACE(fault_name(fault));
        TempDir t;
        const auto victim = pattern(2000, 5);
        // fill: clusters 2-681; grow: 682, whose entry crosses FAT sectors 1
        // and 2; pad (deleted again): 683-4010; victim: 4011-4014.
        ASSERT_TRUE(make_volume(t, "v.img", "-F 12 -s 1", 2048,
            {{"fill", pattern(680 * 512, 1)}, {"grow", pattern(300, 2)}, {"pad", pattern(3328 * 512, 3)},
                {"victim", victim}}));
        ASSERT_EQ(0, sh("mdel -i " + t / "v.img" + " ::pad"));
        ASSERT_EQ("::/grow <682>\n::/victim <4011-4014>\n",
            sh_out("MTOOLS_SKIP_CHECK=1 mshowfat -i " + t / "v.img" + " ::grow ::victim"));
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            zel_test::TraceCapture quiet;
            Volume v(t / "v.img");
            ASSERT_EQ(0, v.mount());
            FaultDisk disk(v);
            disk.mode = fault;
            // The first write into FAT sector 2 is the new run's (683 on),
            // the second the high bits of entry 682's link to it.
            disk.fail_address = (uint64_t)(v.vol.fat_start + 2) * 512;
            disk.skip = 1;
            zel_file_t *f = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, "grow", &f)));
            ASSERT_EQ(0, done(zel_file_seek(f, 300, ZEL_SEEK_SET)));
            const auto more = pattern(5000, 4);
            EXPECT_EQ(-7, done(zel_file_write(f, more.data(), 5000)));
            ASSERT_TRUE(disk.fired);
            // What went into the file's own cluster stays, as far as it goes.
            EXPECT_EQ(512u, f->size);
            EXPECT_EQ(300u, zel_file_tell(f));
            ASSERT_EQ(3, done(zel_file_write(f, "abc", 3)));
            done(zel_file_close(f));
            EXPECT_TRUE(read_all(v.dir, "victim", 4096) == victim);
            auto want = pattern(300, 2);
            want.insert(want.end(), {'a', 'b', 'c'});
            want.insert(want.end(), more.begin() + 3, more.begin() + 212);
            expect_settled(t, v, "grow", want);
            expect_mtools_reads(t, "v.img", "victim", victim);
        }));
    }
}

// A disk that writes the directory entry but loses the status: the driver
// cannot know which size the entry holds, and reads it back before it frees
// anything. The file keeps the clusters its entry's size needs.
TEST(FatFaults, EntryWriteThatReachedTheDiskKeepsItsChain) {
    for (const SweepLayout &lay : kSweepLayouts) {
        SCOPED_TRACE(lay.name);
        TempDir t;
        ASSERT_TRUE(make_volume(t, "v.img", lay.mkfs, lay.kib, {{"f", pattern(3000, 1)}, {"g", pattern(900, 2)}}));
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            zel_test::TraceCapture quiet;
            Volume v(t / "v.img");
            ASSERT_EQ(0, v.mount());
            FaultDisk disk(v);
            disk.mode = Fault::LOST_STATUS;
            zel_file_t *f = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
            disk.fail_address = (uint64_t) reinterpret_cast<zel_fatfs_file_t *>(f)->dentry_sector_a * 512;
            const auto more = pattern(200000, 3);
            ASSERT_EQ(0, done(zel_file_seek(f, 3000, ZEL_SEEK_SET)));
            EXPECT_EQ(-7, done(zel_file_write(f, more.data(), 200000)));
            ASSERT_TRUE(disk.fired);
            EXPECT_EQ(203000u, f->size) << "the size the entry holds";
            EXPECT_EQ(3000u, zel_file_tell(f));
            done(zel_file_close(f));
            auto want = pattern(3000, 1);
            want.insert(want.end(), more.begin(), more.end());
            int32_t err = 1;
            EXPECT_TRUE(read_all(v.dir, "f", 4096, &err) == want);
            EXPECT_EQ(0, err);
            expect_settled(t, v, "f", want);
            expect_mtools_reads(t, "v.img", "g", pattern(900, 2));
        }));
    }
}

// Growth over more scattered free clusters than the journal has room for:
// the entry records what was written before the journal starts again, and a
// failure after that still gives back every cluster the entry does not reach.
TEST(FatFaults, GrowthOverManyFragmentsFailsCleanly) {
    TempDir t;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {{"f", {}}};
    for (int i = 0; i < 48; i++) files.push_back({"h" + std::to_string(i), pattern(512, (unsigned)i)});
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, files));
    for (int i = 0; i < 48; i += 2) ASSERT_EQ(0, sh("mdel -i " + t / "v.img" + " ::h" + std::to_string(i)));
    const Baseline base{t / "v.img", load(t / "v.img")};
    const std::vector<std::pair<const char *, std::function<int32_t(zel_file_t *)>>> ops = {
        {"write", [](zel_file_t *f) { return done(zel_file_write(f, payload().data(), 40 * 512)); }},
        {"resize", [](zel_file_t *f) { return done(zel_file_resize(f, 40 * 512)); }}};
    for (const auto &op : ops)
        for (Fault fault : {Fault::REFUSED, Fault::LOST_STATUS}) {
            int n = 0;
            for (bool fired = true; fired && !HasFailure(); n++) {
                Volume v(base.path);
                ASSERT_TRUE(zel_test::run_in_thread([&] {
                    SCOPED_TRACE(std::string(op.first) + " transfer " + std::to_string(n) + " " + fault_name(fault));
                    zel_test::TraceCapture quiet;
                    ASSERT_EQ(0, v.mount());
                    FaultDisk disk(v);
                    zel_file_t *f = nullptr;
                    ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
                    disk.arm(fault, n);
                    const int32_t r = op.second(f);
                    fired = disk.fired;
                    disk.disarm();
                    if (fired) {
                        EXPECT_GT(0, r);
                    }
                    done(zel_file_close(f));
                    ASSERT_EQ(10, write_at(v.dir, "f", 0, std::vector<uint8_t>(10, 7)));
                    for (int i = 1; i < 48; i += 2)
                        EXPECT_TRUE(read_all(v.dir, "h" + std::to_string(i), 512) == pattern(512, (unsigned)i));
                    expect_fat_copies_equal(t, "v.img", v.vol);
                    unmount(v);
                    expect_fsck_clean(t, "v.img");
                }));
                base.restore(v.img);
            }
            EXPECT_GT(n, 30) << op.first << ": the growth took more transfers than the journal has ranges";
        }
}

// A seek that waits at the volume's gate behind another handle's shrink is
// checked against the size the shrink left: it is refused, and the next
// write lands where tell() says.
TEST(FatFaults, SeekQueuedBehindAShrinkIsCheckedAgainstTheNewSize) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"f", pattern(300000, 1)}}));
    Volume v(t / "v.img");
    ASSERT_TRUE(zel_test::run_in_thread([&] { ASSERT_EQ(0, v.mount()); }));
    v.img.delay_ms = 1;
    zel_file_t *a = nullptr, *b = nullptr;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &a)));
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &b)));
    }));
    Script sa, sb;
    uint64_t told = 0;
    sa.steps = {[&] { return zel_file_resize(a, 5000); }};
    sb.steps = {[&] { return zel_file_seek(b, 5100, ZEL_SEEK_SET); },
        [&] {
            told = zel_file_tell(b);
            return zel_file_write(b, "0123456789", 10);
        }};
    zel_test::run_as_irq([&] {
        sa.agent.start();
        sb.agent.start();
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return sa.finished && sb.finished; }));
    EXPECT_EQ((std::vector<intptr_t>{0}), sa.answers);
    ASSERT_EQ(2u, sb.answers.size());
    EXPECT_EQ(ZEL_FS_ERR_INVALID, sb.answers[0]) << "a position beyond the new size";
    EXPECT_EQ(10, sb.answers[1]);
    EXPECT_LE(told, 5000u);
    v.img.delay_ms = 0;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        done(zel_file_close(a));
        done(zel_file_close(b));
    }));
    auto want = pattern(5000, 1);
    if (want.size() < told + 10) want.resize(told + 10);
    std::copy_n("0123456789", 10, want.begin() + (long)told);
    expect_peers_agree(t, "v.img", "f", want);
}

// A disk unplugged in the middle of a shrink leaves it to be finished: the
// next operation on the volume, here a read through another handle of the
// same file, finishes it first, and that handle sees the size the entry
// holds. No cluster of the cut-off chain is lost.
TEST(FatFaults, ShrinkCutShortByAnUnpluggedDiskIsFinishedByTheNextOperation) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 34000, {{"f", pattern(200000, 1)}, {"g", pattern(700, 2)}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        FaultDisk disk(v);
        zel_file_t *a = nullptr, *b = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &a)));
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &b)));
        ASSERT_EQ(0, done(zel_file_seek(b, 150000, ZEL_SEEK_SET)));
        disk.arm(Fault::UNPLUGGED, 2);  // gone from the third transfer on: the release cannot finish
        EXPECT_EQ(-7, done(zel_file_resize(a, 3000)));
        ASSERT_TRUE(disk.fired);
        EXPECT_TRUE(v.vol.journal.unsettled);
        disk.disarm();
        std::vector<uint8_t> back(4000);
        EXPECT_EQ(0, done(zel_file_seek(b, 0, ZEL_SEEK_SET)));
        EXPECT_EQ(3000, done(zel_file_read(b, back.data(), 4000)));
        EXPECT_FALSE(v.vol.journal.unsettled);
        EXPECT_EQ(3000u, b->size);
        back.resize(3000);
        EXPECT_TRUE(back == pattern(3000, 1));
        done(zel_file_close(a));
        done(zel_file_close(b));
        expect_settled(t, v, "f", pattern(3000, 1));
        expect_mtools_reads(t, "v.img", "g", pattern(700, 2));
    }));
}

// An unmount that comes while another agent's shrink runs waits for it at
// the volume's gate, and the shrink ends whole.
TEST(FatFaults, UnmountWaitsForTheOperationThatRuns) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"f", pattern(300000, 1)}}));
    Volume v(t / "v.img");
    zel_file_t *f = nullptr;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        ASSERT_EQ(0, v.mount());
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
    }));
    v.img.delay_ms = 1;
    Script sa, sb;
    bool shrink_ended_first = false;
    const zel_fs_none_param_t none{};
    sa.steps = {[&] { return zel_file_resize(f, 5000); }};
    sb.steps = {[&] {
                    return zel_eda_call_param(
                        zel_vfs_op.unmount, reinterpret_cast<uintptr_t>(v.dir), sizeof none, sizeof none, &none);
                },
        [&] {
            shrink_ended_first = sa.finished;
            return 1;  // no call: the answer list takes it
        }};
    zel_test::run_as_irq([&] {
        sa.agent.start();
        sb.agent.start();
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return sa.finished && sb.finished; }));
    EXPECT_EQ((std::vector<intptr_t>{0}), sa.answers);
    EXPECT_EQ((std::vector<intptr_t>{0, 1}), sb.answers);
    EXPECT_TRUE(shrink_ended_first);
    v.img.delay_ms = 0;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        done(zel_file_close(f));
        done(zel_file_close(v.dir));
    }));
    expect_peers_agree(t, "v.img", "f", pattern(5000, 1));
}

// The unmount of a disk that stays gone tries what the failed shrink left
// a bounded number of times, says so and ends with the volume's gate open.
TEST(FatFaults, UnmountOfADiskThatStaysGoneEnds) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 34000, {{"f", pattern(200000, 1)}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture trace;
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        FaultDisk disk(v);
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
        disk.arm(Fault::UNPLUGGED, 2);
        EXPECT_EQ(-7, done(zel_file_resize(f, 3000)));
        done(zel_file_close(f));
        ASSERT_TRUE(v.vol.journal.unsettled);
        const int tried = disk.seen;
        const int flushes = v.vol.fsinfo_dirty ? 2 : 0;
        unmount(v);
        // The settle twice (and the information sector twice), each ended
        // by its first transfer.
        EXPECT_EQ(2 + flushes, disk.seen - tried);
        EXPECT_TRUE(trace.contains("fatfs: unmounted with a failed change not settled"));
        EXPECT_EQ(nullptr, v.vol.gate.owner);
    }));
}

}  // namespace
