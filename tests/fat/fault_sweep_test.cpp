// Failure sweeps: an operation runs with its n-th device transfer failing,
// for every n, in every way a transfer fails; then one operation on the
// healthy device. The volume must come out as fsck.fat and mtools accept it:
// no other file changed, no size beyond its chain, no cluster lost or shared,
// the FAT copies identical and the FAT32 free count right.
#include <chrono>
#include <functional>

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
const Seed kFiles[] = {{"v1", 3000}, {"big", 200000}, {"v2", 1500}, {"small", 3000}, {"v3", 700}, {"empty", 0},
    {"v4", 2500}};

struct SweepOp {
    const char *name;
    const char *file;
    std::function<int32_t(zel_file_t *)> run;
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
    {"grow-write 200000", "small", [](zel_file_t *f) { return write_from(f, 3000, 200000); }},
    {"overwrite 150000", "big", [](zel_file_t *f) { return write_from(f, 1000, 150000); }},
    {"shrink to 5000", "big", [](zel_file_t *f) { return done(zel_file_resize(f, 5000)); }},
    {"shrink to 0", "big", [](zel_file_t *f) { return done(zel_file_resize(f, 0)); }},
    {"grow by resize to 100000", "small", [](zel_file_t *f) { return done(zel_file_resize(f, 100000)); }},
    {"write 20000 into an empty file", "empty", [](zel_file_t *f) { return write_from(f, 0, 20000); }},
};

const Fault kFaults[] = {Fault::REFUSED, Fault::LOST_STATUS, Fault::HALF, Fault::READ};

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

// One fault point: the operation with the fault armed, then a healthy write
// of 10 bytes at the start of the same file, then the checks. False when the
// fault did not fire (n is past the operation's transfers).
bool one_point(const TempDir &t, const Baseline &base, const SweepOp &op, Fault fault, int n, const std::string &what) {
    bool fired = false;
    Volume v(base.path);
    EXPECT_TRUE(zel_test::run_in_thread([&] {
        SCOPED_TRACE(what);
        ASSERT_EQ(0, v.mount());
        FaultDisk disk(v);
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, op.file, &f)));
        disk.arm(fault, n);
        const int32_t r = op.run(f);
        disk.disarm();
        fired = disk.fired;
        // A failed read may be made good by the next one; a failed write
        // is always reported.
        if (fired && fault != Fault::READ) {
            EXPECT_GT(0, r) << "a failed write is reported";
        }
        done(zel_file_close(f));
        if (!fired) {
            unmount(v);
            return;
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
        expect_mtools_reads(t, "v.img", op.file, now);
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
    for (const SweepOp &op : kOps)
        for (Fault fault : kFaults) {
            int n = 0;
            for (;; n++) {
                const std::string what = std::string(lay.name) + ": " + op.name + ", transfer " + std::to_string(n) +
                                         " " + fault_name(fault);
                if (!one_point(t, base, op, fault, n, what)) break;
                if (testing::Test::HasFailure()) return;
            }
            EXPECT_GT(n, 2) << op.name << ": the sweep reached some transfers";
            fprintf(stderr, "%s %s %s: %d\n", lay.name, op.name, fault_name(fault), n);
        }
}

const SweepLayout kSweepLayouts[] = {
    {"FAT12", "-F 12 -s 1", 2048}, {"FAT16", "-F 16 -s 1", 8000}, {"FAT32", "-F 32 -s 1", 34000}};

TEST(FatFaults, EveryTransferOfEveryOperationFailsOnce) {
    zel_test::TraceCapture quiet;
    const auto start = std::chrono::steady_clock::now();
    for (const SweepLayout &lay : kSweepLayouts) {
        sweep(lay);
        if (HasFailure()) break;
    }
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    RecordProperty("seconds", (int)secs.count());
}

}  // namespace
