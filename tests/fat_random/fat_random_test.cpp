// Randomized differential test of fatfs: seeded sequences of writes, reads,
// seeks and resizes through the file API on files that mcopy put on
// FAT12/16/32 volumes, checked against an in-memory model of every file, and
// periodically against fsck.fat, the FAT copies and mtools.
//
// FAT_RANDOM_SEED, FAT_RANDOM_STEPS and FAT_RANDOM_RUNS replace the fixed
// seeds for a longer local run (RUNS sequences from SEED on).
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>

#include "fat_support.h"
#include "zel_mal_mbr.h"

using namespace fat_test;

namespace {

struct Layout {
    const char *name;
    std::string mkfs;  // mkfs.fat options
    uint32_t kib;
    uint32_t sector;
    bool fills = false;  // too small for what the files grow to: writes and growth may fail
};

struct ModelFile {
    std::string path;
    std::vector<uint8_t> bytes;
};

struct Handle {
    size_t file;
    zel_file_t *f;
    uint64_t pos;
};

uint32_t env_or(const char *name, uint32_t fallback) {
    const char *v = getenv(name);
    return v && *v ? (uint32_t)strtoul(v, nullptr, 0) : fallback;
}

// A device whose write into the data region (with `anywhere`, into any
// region: FAT, directory, information sector) fails when `left` counts down
// to 0 (-1: none fails); `fired` tells that one did.
struct FailingWrites {
    static inline int left = -1;
    static inline bool anywhere = false;
    static inline uint64_t data_from = 0;
    static inline bool fired = false;
    zel_mal_drv_t drv;
    explicit FailingWrites(Volume &v) : drv(*v.img.mal.drv) {
        drv.write = write;
        v.img.mal.drv = &drv;
        data_from = (uint64_t)v.vol.data_start << v.vol.sector_shift;
    }
    static void write(void *locals, zel_evt_t evt) {
        auto *p = static_cast<zel_mal_rw_param_t *>(locals);
        if (evt == ZEL_EVT_INIT && (anywhere || p->address >= data_from) && left >= 0 && left-- == 0) {
            fired = true;
            zel_answer(-1);
            return;
        }
        ImageMal::write(locals, evt);
    }
};

// One sequence: the volume, the model, the open handles and the log of what ran.
struct Run {
    const TempDir &t;
    const Layout &lay;
    uint32_t delay_ms;
    std::unique_ptr<FailingWrites> device;  // over the volume's device; before it, as mount() sets it
    std::unique_ptr<Volume> vp;
    Volume *v;
    std::mt19937 rng;
    std::vector<ModelFile> files;
    std::vector<Handle> handles;
    std::vector<std::string> log;
    uint32_t cb = 0, ss = 0, max_size = 0;
    bool fills = false;
    uint32_t full_answers = 0;
    size_t openable = 0;   // the files the steps use; those after them stay as mcopy left them
    bool failing = false;  // some device writes of file data fail

    Run(const TempDir &dir, const Layout &layout, uint32_t delay, uint32_t seed, std::vector<ModelFile> f)
        : t(dir), lay(layout), delay_ms(delay), vp(mount(seed)), v(vp.get()), rng(seed), files(std::move(f)),
          fills(layout.fills), openable(files.size()) {
        cb = zel_fatfs_cluster_bytes(&v->vol);
        ss = 1u << v->vol.sector_shift;
        max_size = std::max<uint32_t>(cb * 12, 40000);
        if (fills) max_size = v->vol.cluster_limit * cb;  // one file can fill the volume
    }
    // A volume over the image, with a cache of one entry (every sector a
    // step goes back to is read again) or of the product's size.
    std::unique_ptr<Volume> mount(uint32_t seed) {
        const uint16_t entries = seed % 2 ? (uint16_t)ZEL_MBR_CACHE_SECTORS : (uint16_t)1;
        auto vol = std::make_unique<Volume>(t / "v.img", lay.sector, entries);
        EXPECT_EQ(0, vol->mount());
        vol->img.delay_ms = delay_ms;
        device = std::make_unique<FailingWrites>(*vol);
        return vol;
    }
    // Unmounts, and mounts the image again: nothing that the driver keeps
    // in memory (the allocation hint, the free count) carries over.
    void remount() {
        close_all();
        note("remount");
        const zel_fs_none_param_t none{};
        EXPECT_EQ(0, done(zel_eda_call_param(
                         zel_vfs_op.unmount, reinterpret_cast<uintptr_t>(v->dir), sizeof none, sizeof none, &none)));
        done(zel_file_close(v->dir));
        vp.reset();
        vp = mount(rng());
        v = vp.get();
    }
    uint32_t below(uint32_t n) { return n ? (uint32_t)(rng() % n) : 0; }
    bool chance(uint32_t percent) { return below(100) < percent; }
    void note(const std::string &s) { log.push_back(s); }

    // A position in [0, limit] that likes sector and cluster boundaries.
    uint32_t pick_pos(uint32_t limit) {
        uint32_t p;
        switch (below(6)) {
        case 0: p = limit; break;
        case 1: p = 0; break;
        case 2: p = below(limit / cb + 1) * cb + below(3) - 1; break;
        case 3: p = below(limit / ss + 1) * ss + below(3) - 1; break;
        default: p = below(limit + 1);
        }
        return p > limit ? limit : p;
    }
    uint32_t pick_len(uint32_t pos) {
        switch (below(7)) {
        case 6: return 0;
        case 0: return 1 + below(16);
        case 1: return cb - pos % cb;  // exactly to the cluster boundary
        case 2: return ss - pos % ss + below(2) * ss;
        case 3: return cb * (1 + below(3)) + below(3) - 1;
        default: return 1 + below(3 * cb);
        }
    }

    void open_handle() {
        // Often a file that is open already: two handles on one file.
        const size_t i =
            !handles.empty() && chance(40) ? handles[below((uint32_t)handles.size())].file : below((uint32_t)openable);
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v->dir, files[i].path.c_str(), &f))) << files[i].path;
        ASSERT_EQ(files[i].bytes.size(), f->size) << files[i].path;
        handles.push_back({i, f, 0});
        note("open " + files[i].path + " as h" + std::to_string(handles.size() - 1));
    }
    void close_handle(size_t h) {
        EXPECT_EQ(0, done(zel_file_close(handles[h].f)));
        note("close h" + std::to_string(h));
        handles.erase(handles.begin() + (long)h);
    }
    void close_all() {
        while (!handles.empty()) close_handle(handles.size() - 1);
    }

    // Every handle sees a change made through another: the size, and its
    // position cut to it.
    void changed(const Handle &h) {
        for (Handle &o : handles)
            if (o.file == h.file) o.pos = std::min<uint64_t>(o.pos, files[h.file].bytes.size());
    }

    // After a device write failed: the file is what the driver recorded (the
    // peers check that against the image), the position stayed. A change
    // that answers whole (`whole`) made its failed write good by trying it
    // again, and is taken as done.
    bool adopted(Handle &h, const std::string &what, bool whole) {
        if (!FailingWrites::fired) return false;
        FailingWrites::fired = false;
        if (whole) return false;
        int32_t err = 1;
        files[h.file].bytes = read_all(v->dir, files[h.file].path, 4096, &err);
        EXPECT_EQ(0, err) << what;
        EXPECT_EQ(files[h.file].bytes.size(), h.f->size) << what;
        note("  device write failed: size " + std::to_string(h.f->size));
        changed(h);
        EXPECT_EQ(h.pos, zel_file_tell(h.f)) << what;
        return true;
    }

    void seek(Handle &h, uint64_t pos) {
        note("seek h" + std::to_string(&h - handles.data()) + " to " + std::to_string(pos));
        ASSERT_EQ(0, done(zel_file_seek(h.f, pos, ZEL_SEEK_SET))) << "seek to " << pos;
        h.pos = pos;
    }
    void write(Handle &h, bool at_pos) {
        auto &m = files[h.file].bytes;
        if (!at_pos) {
            seek(h, pick_pos((uint32_t)m.size()));
            if (testing::Test::HasFatalFailure()) return;
        }
        if (h.pos >= max_size) return;
        const uint32_t len = std::min<uint32_t>(pick_len((uint32_t)h.pos), max_size - (uint32_t)h.pos);
        std::vector<uint8_t> data(len);
        for (auto &b : data) b = (uint8_t)rng();
        std::ostringstream s;
        s << "write h" << (&h - handles.data()) << " at " << h.pos << " len " << len << " (size " << m.size() << ")";
        note(s.str());
        const int32_t r = done(zel_file_write(h.f, data.data(), len));
        if (adopted(h, s.str(), r == (int32_t)len)) {
            EXPECT_EQ(-7, r) << s.str();
            return;
        }
        if (fills && r == -7 && h.pos + len > m.size()) {
            // No room: what was written in place and into the clusters
            // taken stays, as far as the size that the entry records.
            full_answers++;
            const uint64_t size = h.f->size;
            ASSERT_TRUE(size >= m.size() && size < h.pos + len) << s.str() << ": size " << size;
            m.resize(size);
            std::copy(data.begin(), data.begin() + (long)(size - h.pos), m.begin() + (long)h.pos);
            note("  no room: size " + std::to_string(size));
            changed(h);
            EXPECT_EQ(h.pos, zel_file_tell(h.f)) << s.str();
            return;
        }
        ASSERT_EQ((int32_t)len, r) << s.str();
        if (h.pos + len > m.size()) m.resize(h.pos + len);
        std::copy(data.begin(), data.end(), m.begin() + (long)h.pos);
        h.pos += len;
        EXPECT_EQ(h.pos, zel_file_tell(h.f));
        changed(h);
    }
    void read(Handle &h, bool at_pos) {
        const auto &m = files[h.file].bytes;
        if (!at_pos) {
            seek(h, pick_pos((uint32_t)m.size()));
            if (testing::Test::HasFatalFailure()) return;
        }
        const uint32_t len = pick_len((uint32_t)h.pos) + below(2) * 100;
        std::ostringstream s;
        s << "read h" << (&h - handles.data()) << " at " << h.pos << " len " << len << " (size " << m.size() << ")";
        note(s.str());
        std::vector<uint8_t> got(len, 0xEE);
        const int32_t r = done(zel_file_read(h.f, got.data(), len));
        const uint64_t want = h.pos < m.size() ? std::min<uint64_t>(len, m.size() - h.pos) : 0;
        ASSERT_EQ((int32_t)want, r) << s.str();
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + r, m.begin() + (long)h.pos)) << s.str();
        h.pos += want;
        EXPECT_EQ(h.pos, zel_file_tell(h.f));
    }
    void resize(Handle &h) {
        auto &m = files[h.file].bytes;
        uint32_t size;
        switch (below(5)) {
        case 0: size = 0; break;
        case 1: size = below((uint32_t)m.size() + 1); break;
        case 2: size = below(max_size / cb) * cb; break;
        case 3: {  // the same cluster count, or the last cluster filled exactly
            const uint32_t whole = (uint32_t)((m.size() + cb - 1) / cb * cb);
            size = whole - std::min(whole, below(std::min<uint32_t>(cb, 20)));
            break;
        }
        default: size = std::min<uint32_t>(max_size, (uint32_t)m.size() + below(3 * cb));
        }
        if (fills && chance(20)) size = max_size;  // the whole volume: no room
        std::ostringstream s;
        s << "resize h" << (&h - handles.data()) << " to " << size << " (size " << m.size() << ", pos " << h.pos << ")";
        note(s.str());
        const int32_t r = done(zel_file_resize(h.f, size));
        if (adopted(h, s.str(), r == 0)) {
            EXPECT_EQ(-7, r) << s.str();
            return;
        }
        if (fills && r == -7 && size > m.size()) {
            full_answers++;  // the zeros that found room stay
            ASSERT_TRUE(h.f->size >= m.size() && h.f->size < size) << s.str() << ": size " << h.f->size;
            m.resize(h.f->size, 0);
            note("  no room: size " + std::to_string(h.f->size));
            changed(h);
            EXPECT_EQ(h.pos, zel_file_tell(h.f)) << s.str();
            return;
        }
        ASSERT_EQ(0, r) << s.str();
        m.resize(size, 0);
        changed(h);
        EXPECT_EQ(h.pos, zel_file_tell(h.f)) << s.str();
    }

    // Over the slow device: a read or a write on each of two handles of
    // different files, started together by two agents, so that one waits at
    // the volume while the other runs.
    void side_by_side() {
        size_t a = below((uint32_t)handles.size()), b = below((uint32_t)handles.size());
        if (handles[a].file == handles[b].file) return;
        struct Op {
            Handle *h;
            bool write;
            std::vector<uint8_t> data;
            Script script;
        } ops[2];
        for (int i = 0; i < 2; i++) {
            Op &o = ops[i];
            o.h = &handles[i ? b : a];
            o.write = chance(50) && o.h->pos < max_size;
            o.data.assign(o.write ? std::min<uint32_t>(pick_len((uint32_t)o.h->pos), max_size - (uint32_t)o.h->pos)
                                  : pick_len((uint32_t)o.h->pos),
                0xEE);
            if (o.write)
                for (auto &byte : o.data) byte = (uint8_t)rng();
            note(std::string(o.write ? "together: write h" : "together: read h") + std::to_string(i ? b : a) + " at " +
                 std::to_string(o.h->pos) + " len " + std::to_string(o.data.size()));
            o.script.steps = {[&o] {
                const auto n = (uint32_t)o.data.size();
                return o.write ? zel_file_write(o.h->f, o.data.data(), n) : zel_file_read(o.h->f, o.data.data(), n);
            }};
        }
        for (Op &o : ops) ASSERT_EQ(0, o.script.agent.start());
        while (!ops[0].script.finished || !ops[1].script.finished) zel_thread_delay(zel_systimer_ms_to_tick(1));
        for (Op &o : ops) {
            EXPECT_EQ(0, zel_eda_fini(o.script.agent.eda()));
            while (!o.script.agent.finished().is_set()) zel_thread_delay(zel_systimer_ms_to_tick(1));
        }
        for (Op &o : ops) {
            auto &m = files[o.h->file].bytes;
            const uint64_t pos = o.h->pos, len = o.data.size();
            const uint64_t want = o.write ? len : pos < m.size() ? std::min<uint64_t>(len, m.size() - pos) : 0;
            ASSERT_EQ((intptr_t)want, o.script.answers.at(0)) << (o.write ? "write" : "read");
            if (o.write) {
                if (pos + len > m.size()) m.resize(pos + len);
                std::copy(o.data.begin(), o.data.end(), m.begin() + (long)pos);
            } else {
                ASSERT_TRUE(std::equal(o.data.begin(), o.data.begin() + (long)want, m.begin() + (long)pos));
            }
            o.h->pos += want;
            EXPECT_EQ(o.h->pos, zel_file_tell(o.h->f));
            changed(*o.h);
        }
    }

    void step() {
        if (delay_ms && !fills && handles.size() > 1 && chance(15)) {
            side_by_side();
            return;
        }
        if (handles.empty() || (handles.size() < 3 && chance(8))) {
            open_handle();
            return;
        }
        if (chance(4)) {
            close_handle(below((uint32_t)handles.size()));
            return;
        }
        Handle &h = handles[below((uint32_t)handles.size())];
        EXPECT_EQ(files[h.file].bytes.size(), h.f->size) << "the size a handle sees";
        EXPECT_EQ(h.pos, zel_file_tell(h.f)) << "the position a handle sees";
        // One of the next few writes into the data region fails: file data,
        // or a directory entry in a folder or a FAT32 root.
        if (failing && chance(25)) FailingWrites::left = (int)below(4);
        switch (below(10)) {
        case 0:
        case 1:
        case 2: write(h, false); break;
        case 3: write(h, true); break;
        case 4:
        case 5: read(h, false); break;
        case 6: read(h, true); break;
        case 7:
        case 8: resize(h); break;
        default: {  // from the end back, or from the position on
            const uint64_t size = files[h.file].bytes.size();
            const bool end = chance(50);
            const uint64_t by = below((uint32_t)(end ? size : size - h.pos) + 1);
            note("seek h" + std::to_string(&h - handles.data()) + (end ? " end-" : " cur+") + std::to_string(by));
            ASSERT_EQ(0, done(zel_file_seek(h.f, end ? -by : by, end ? ZEL_SEEK_END : ZEL_SEEK_CUR)));
            h.pos = end ? size - by : h.pos + by;
            EXPECT_EQ(h.pos, zel_file_tell(h.f));
        }
        }
        FailingWrites::left = -1;
    }

    // Closes every handle, then the peers' verdicts on the image (on the
    // files that the steps leave alone only at the end).
    void check_image(bool last = false) {
        close_all();
        const std::string img = t / "v.img";
        ASSERT_EQ(0, sh("fsck.fat -n " + img)) << sh_out("fsck.fat -n " + img);
        const int fd = open(img.c_str(), O_RDONLY);
        std::vector<uint8_t> first((size_t)v->vol.fat_size * ss), other(first.size());
        ASSERT_EQ((ssize_t)first.size(), pread(fd, first.data(), first.size(), (off_t)v->vol.fat_start * ss));
        for (uint32_t i = 1; i < v->vol.fat_count; i++) {
            ASSERT_EQ((ssize_t)other.size(),
                pread(fd, other.data(), other.size(), (off_t)(v->vol.fat_start + i * v->vol.fat_size) * ss));
            EXPECT_TRUE(first == other) << "FAT copy " << i << " differs";
        }
        close(fd);
        for (size_t i = 0; i < (last ? files.size() : openable); i++)
            expect_mtools_reads(t, "v.img", files[i].path, files[i].bytes);
    }
};

// Makes the volume with the starting files, then runs `steps` steps of
// `seed` with the image's checks every 80 steps and at the end, where the
// files are also read back through a second mount.
void run_sequence(const Layout &lay, uint32_t seed, uint32_t steps, uint32_t delay_ms, bool failing) {
    SCOPED_TRACE(std::string(lay.name) + " seed " + std::to_string(seed) + " delay " + std::to_string(delay_ms) +
                 (failing ? " failing" : ""));
    FailingWrites::left = -1;
    FailingWrites::fired = false;
    TempDir t;
    const std::string img = t / "v.img";
    ASSERT_EQ(0, sh("mkfs.fat -C " + lay.mkfs + " " + img + " " + std::to_string(lay.kib)));
    ASSERT_EQ(0, sh("mmd -i " + img + " '::Long Folder Name'"));
    std::mt19937 init(seed ^ 0x5eed);
    const uint32_t cb = lay.sector * (uint32_t)strtoul(lay.mkfs.substr(lay.mkfs.find("-s ") + 3).c_str(), nullptr, 10);
    // In the folder the last name's pieces end a sector (of 512 bytes) and
    // its short entry begins the next.
    std::vector<ModelFile> files = {{"PSN Config.txt", {}}, {"update.bin", {}}, {"data.bin", {}}, {"EMPTY.TXT", {}},
        {"Long Folder Name/a rather long file name.dat", {}}, {"Long Folder Name/empty too", {}},
        {"Long Folder Name/second long named file name.bin", {}},
        {"Long Folder Name/a name that is long enough to need four.dat", {}}};
    const uint32_t sizes[] = {300, 4 * cb, 3 * cb + 1234, 0, cb - 1, 0, 5000, 2 * cb + 7};
    // Files of one to three clusters, every other one deleted again: the
    // files after them start on scattered clusters, and so does the free space.
    std::vector<ModelFile> fillers;
    for (int i = 0; i < 8; i++) {
        fillers.push_back({"FILL" + std::to_string(i), std::vector<uint8_t>((1 + init() % 3) * cb - init() % 100)});
        for (auto &b : fillers.back().bytes) b = (uint8_t)init();
    }
    auto copy_in = [&](const ModelFile &f) {
        t.put("src", f.bytes);
        return sh("mcopy -i " + img + " " + t / "src" + " '::" + f.path + "'");
    };
    for (const ModelFile &f : fillers) ASSERT_EQ(0, copy_in(f)) << f.path;
    for (size_t i = 0; i < fillers.size(); i += 2) ASSERT_EQ(0, sh("mdel -i " + img + " ::" + fillers[i].path));
    for (size_t i = 0; i < files.size(); i++) {
        files[i].bytes.resize(sizes[i]);
        for (auto &b : files[i].bytes) b = (uint8_t)init();
        ASSERT_EQ(0, copy_in(files[i])) << files[i].path;
    }
    const size_t openable = files.size();
    for (size_t i = 1; i < fillers.size(); i += 2) files.push_back(fillers[i]);
    ASSERT_TRUE(zel_test::run_in_thread(
        [&] {
            Run run(t, lay, delay_ms, seed, files);
            run.openable = openable;
            run.failing = failing;
            ASSERT_FALSE(testing::Test::HasFailure());
            for (uint32_t i = 1; i <= steps && !testing::Test::HasFailure(); i++) {
                run.step();
                if (i % 80 == 0 && !testing::Test::HasFailure()) {
                    run.note("check");
                    run.check_image();
                    if (run.chance(50)) run.remount();
                }
            }
            if (!testing::Test::HasFailure()) run.check_image(true);
            if (lay.fills && !getenv("FAT_RANDOM_SEED")) {
                EXPECT_LT(0u, run.full_answers) << "the fixed seed no longer fills the volume";
            }
            if (!testing::Test::HasFailure()) {
                run.remount();
                for (const ModelFile &f : run.files)
                    EXPECT_TRUE(read_all(run.v->dir, f.path, 3000) == f.bytes) << f.path << " after a new mount";
            }
            if (testing::Test::HasFailure()) {
                std::string tail;
                for (size_t i = run.log.size() > 40 ? run.log.size() - 40 : 0; i < run.log.size(); i++)
                    tail += "  " + run.log[i] + "\n";
                ADD_FAILURE() << "last steps of seed " << seed << ":\n" << tail;
            }
        },
        std::chrono::milliseconds(600000)));
}

const Layout kLayouts[] = {
    {"FAT12", "-F 12 -s 1", 1500, 512},  // entries across FAT sectors (clusters 341, 682)
    {"FAT12/full", "-F 12 -s 2", 160, 512, true},
    {"FAT16", "-F 16 -s 2", 10000, 512},
    {"FAT16/8K", "-F 16 -s 16", 40000, 512},  // whole-sector runs inside a cluster
    {"FAT32", "-F 32 -s 1", 40000, 512},
    {"FAT12/4096", "-F 12 -S 4096 -s 1", 4000, 4096},
    {"FAT16/4096", "-F 16 -S 4096 -s 1", 24000, 4096},
    {"FAT32/4096", "-F 32 -S 4096 -s 1", 300000, 4096},
};

void run_layouts(uint32_t base_seed, uint32_t steps, uint32_t delay_ms, bool failing = false) {
    const uint32_t seed0 = env_or("FAT_RANDOM_SEED", base_seed);
    const uint32_t runs = env_or("FAT_RANDOM_RUNS", 1);
    steps = env_or("FAT_RANDOM_STEPS", steps);
    for (const Layout &lay : kLayouts)
        for (uint32_t r = 0; r < runs && !testing::Test::HasFailure(); r++)
            run_sequence(lay, seed0 + r, steps, delay_ms, failing);
}

TEST(FatRandom, SequencesAgreeWithTheModelAndThePeers) { run_layouts(1, 400, 0); }

TEST(FatRandom, SequencesOnADeviceThatAnswersLater) { run_layouts(101, 120, 1); }

// Device writes into the data region fail now and then: the answer is -7,
// the position stays, and the image stays consistent with what the driver
// reads.
TEST(FatRandom, SequencesWithFailingDataWrites) {
    zel_test::TraceCapture quiet;
    run_layouts(201, 200, 0, true);
}

// Any device write fails now and then, in the FAT and the directories as
// well: the file written is what the driver reads back, every other file
// stays as it was, and the peers find nothing to mend.
TEST(FatRandom, SequencesWithFailingWritesAnywhere) {
    zel_test::TraceCapture quiet;
    FailingWrites::anywhere = true;
    run_layouts(301, 200, 0, true);
    FailingWrites::anywhere = false;
}

// Reproducers of what the sequences found.

std::vector<uint8_t> read_from(zel_file_t *f, uint64_t pos, uint32_t n) {
    std::vector<uint8_t> out(n);
    EXPECT_EQ(0, done(zel_file_seek(f, pos, ZEL_SEEK_SET)));
    const int32_t r = done(zel_file_read(f, out.data(), n));
    out.resize(r > 0 ? (size_t)r : 0);
    return out;
}

// A second handle on a file sees the size, the bytes and the end that the
// first gave it, also when the clusters it knew went to another file, and
// with a cache that keeps the FAT and directory sectors the first one wrote.
TEST(FatRandomFound, SecondHandleSeesWhatTheFirstChanged) {
    for (uint16_t entries : {(uint16_t)1, (uint16_t)ZEL_MBR_CACHE_SECTORS}) {
        SCOPED_TRACE(entries);
        TempDir t;
        ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"f", pattern(1000, 1)}, {"g", {}}}));
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            Volume v(t / "v.img", 512, entries);
            ASSERT_EQ(0, v.mount());
            zel_file_t *a = nullptr, *b = nullptr, *g = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &a)));
            ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &b)));
            ASSERT_EQ(0, done(zel_file_open(v.dir, "g", &g)));
            EXPECT_EQ(600u, read_from(b, 400, 600).size());
            const auto more = pattern(3000, 2);
            ASSERT_EQ(0, done(zel_file_seek(a, 1000, ZEL_SEEK_SET)));
            ASSERT_EQ(3000, done(zel_file_write(a, more.data(), 3000)));
            EXPECT_EQ(4000u, b->size);
            EXPECT_TRUE(read_from(b, 3500, 500) == std::vector<uint8_t>(more.begin() + 2500, more.end()));

            ASSERT_EQ(0, done(zel_file_resize(a, 0)));
            const auto other = pattern(5000, 3);
            ASSERT_EQ(5000, done(zel_file_write(g, other.data(), 5000)));  // takes the freed clusters
            EXPECT_EQ(0u, b->size);
            EXPECT_EQ(0u, zel_file_tell(b));
            uint8_t byte = 0;
            EXPECT_EQ(0, done(zel_file_read(b, &byte, 1)));
            ASSERT_EQ(3, done(zel_file_write(b, "new", 3)));
            for (zel_file_t *f : {a, b, g}) done(zel_file_close(f));
            EXPECT_TRUE(read_all(v.dir, "f", 512) == std::vector<uint8_t>({'n', 'e', 'w'}));
            EXPECT_TRUE(read_all(v.dir, "g", 512) == other);
            expect_fsck_clean(t, "v.img");
        }));
    }
}

// A write or a growth that runs out of room leaves the position where it
// was, and the next write at that position lands there.
TEST(FatRandomFound, NoRoomLeavesThePositionWhereItWas) {
    TempDir t;
    ASSERT_TRUE(make_volume(t, "v.img", "-F 12 -s 2", 160, {{"f", pattern(100, 1)}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
        std::vector<uint8_t> want = pattern(100, 1);
        ASSERT_EQ(0, done(zel_file_seek(f, 50, ZEL_SEEK_SET)));
        EXPECT_EQ(-7, done(zel_file_resize(f, 1 << 20)));  // far beyond the volume
        EXPECT_EQ(50u, zel_file_tell(f));
        want.resize(f->size, 0);
        ASSERT_EQ(2, done(zel_file_write(f, "ab", 2)));
        want[50] = 'a';
        want[51] = 'b';

        ASSERT_EQ(0, done(zel_file_resize(f, 3000)));
        want.resize(3000);
        ASSERT_EQ(0, done(zel_file_seek(f, 2000, ZEL_SEEK_SET)));
        const auto big = pattern(1 << 20, 2);
        EXPECT_EQ(-7, done(zel_file_write(f, big.data(), (uint32_t)big.size())));
        EXPECT_EQ(2000u, zel_file_tell(f));
        want.resize(f->size);
        std::copy(big.begin(), big.begin() + (long)(want.size() - 2000), want.begin() + 2000);
        ASSERT_EQ(2, done(zel_file_write(f, "cd", 2)));
        want[2000] = 'c';
        want[2001] = 'd';
        done(zel_file_close(f));
        EXPECT_TRUE(read_all(v.dir, "f", 4096) == want);
        expect_fsck_clean(t, "v.img");
        expect_mtools_reads(t, "v.img", "f", want);
    }));
}

// A device write that fails inside the clusters a write or a growth took:
// the chain keeps only what the recorded size needs (a growth keeps the old
// size), the position stays. The clusters of a write go out as one transfer
// per run of clusters that follow in order, so the failing transfer is a
// whole run: the one in place, or the one into the clusters just taken.
TEST(FatRandomFound, FailedDeviceWriteGivesBackTheClustersBeyondTheSize) {
    for (uint16_t entries : {(uint16_t)1, (uint16_t)ZEL_MBR_CACHE_SECTORS}) {
        SCOPED_TRACE(entries);
        TempDir t;
        ASSERT_TRUE(make_volume(t, "v.img", "-F 16 -s 1", 8000, {{"f", {}}}));
        ASSERT_TRUE(zel_test::run_in_thread([&] {
            zel_test::TraceCapture quiet;
            Volume v(t / "v.img", 512, entries);
            ASSERT_EQ(0, v.mount());
            FailingWrites dev(v);
            zel_file_t *f = nullptr;
            ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
            const auto data = pattern(5000, 1);
            FailingWrites::left = 0;  // the run over the clusters taken
            EXPECT_EQ(-7, done(zel_file_write(f, data.data(), 5000)));
            EXPECT_EQ(0u, f->size);
            expect_fsck_clean(t, "v.img");
            FailingWrites::left = -1;
            ASSERT_EQ(1024, done(zel_file_write(f, data.data(), 1024)));
            ASSERT_EQ(0, done(zel_file_seek(f, 0, ZEL_SEEK_SET)));
            FailingWrites::fired = false;
            FailingWrites::left = 1;  // the run in place goes, the one after it fails
            EXPECT_EQ(-7, done(zel_file_write(f, data.data(), 5000)));
            EXPECT_TRUE(FailingWrites::fired);
            EXPECT_EQ(1024u, f->size);
            EXPECT_EQ(0u, zel_file_tell(f));
            expect_fsck_clean(t, "v.img");
            FailingWrites::left = 1;  // zeros of a growth: none of it stays
            EXPECT_EQ(-7, done(zel_file_resize(f, 6000)));
            EXPECT_EQ(1024u, f->size);
            EXPECT_EQ(0u, zel_file_tell(f));
            expect_fsck_clean(t, "v.img");
            FailingWrites::left = -1;
            ASSERT_EQ(5000, done(zel_file_write(f, data.data(), 5000)));
            done(zel_file_close(f));
            expect_fsck_clean(t, "v.img");
            expect_mtools_reads(t, "v.img", "f", data);
        }));
    }
}

// A shrink by clusters whose entry (in a FAT32 root, so in the data region)
// cannot be written leaves the chain whole: the entry goes before the cut.
TEST(FatRandomFound, ShrinkWhoseEntryFailsKeepsTheChain) {
    TempDir t;
    const auto data = pattern(3000, 4);
    ASSERT_TRUE(make_volume(t, "v.img", "-F 32 -s 1", 40000, {{"f", data}}));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::TraceCapture quiet;
        Volume v(t / "v.img");
        ASSERT_EQ(0, v.mount());
        FailingWrites dev(v);
        zel_file_t *f = nullptr;
        ASSERT_EQ(0, done(zel_file_open(v.dir, "f", &f)));
        for (uint64_t size : {700u, 0u}) {
            FailingWrites::left = 0;
            EXPECT_EQ(-7, done(zel_file_resize(f, size)));
            EXPECT_EQ(3000u, f->size);
            expect_fsck_clean(t, "v.img");
        }
        FailingWrites::left = -1;
        done(zel_file_close(f));
        expect_mtools_reads(t, "v.img", "f", data);
    }));
}

}  // namespace
