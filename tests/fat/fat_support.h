// Framework-side helpers of the FAT tests: volumes over image files, file
// calls that wait for their answer, the peers' verdicts, and agents that run
// a list of file calls side by side.
#ifndef FAT_SUPPORT_H
#define FAT_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "fat_image.h"
#include "zel_fatfs.h"
#include "zel_file.h"
#include "zel_test.h"

namespace fat_test {

// A new image `name` made by mkfs.fat with `options` and `kib` KiB, holding
// the files given, put there by mcopy; false when a tool failed.
inline bool make_volume(const TempDir &t, const std::string &name, const std::string &options, uint32_t kib,
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> &files = {}) {
    if (sh("mkfs.fat -C " + options + " " + t / name + " " + std::to_string(kib)) != 0) return false;
    for (const auto &f : files) {
        t.put(f.first, f.second);
        if (sh("mcopy -i " + t / name + " " + t / f.first + " ::") != 0) return false;
    }
    return true;
}

// In a framework thread: the answer of a call that was started.
inline int32_t done(int32_t started) {
    EXPECT_EQ(0, started);
    return started == 0 ? (int32_t)zel_eda_get_return_code() : started;
}

// A fresh in-memory directory under the root.
inline zel_file_t *make_dir(const std::string &name) {
    zel_vfs_init();
    EXPECT_EQ(0, done(zel_file_create(nullptr, name.c_str(), ZEL_FILE_DIR))) << name;
    zel_file_t *dir = nullptr;
    EXPECT_EQ(0, done(zel_file_open(nullptr, name.c_str(), &dir)));
    return dir;
}

// A unique name for each directory a test makes.
inline std::string unique(const std::string &stem) {
    static int serial = 0;
    return stem + std::to_string(++serial);
}

// One FAT volume on a whole image, with a cache of `entries` sectors.
struct Volume {
    ImageMal img;
    zel_fatfs_info_t vol{};
    std::vector<uint8_t> cache_mem;
    zel_file_t *dir = nullptr;
    explicit Volume(const std::string &path, uint32_t sector = 512, uint16_t entries = 1) : img(path, sector) {
        cache_mem.resize(entries * (sizeof(zel_fatfs_cache_entry_t) + sector));
        vol.cache.mal = &img.mal;
        vol.cache.block_size = sector;
        vol.cache.count = entries;
        vol.cache.entries = reinterpret_cast<zel_fatfs_cache_entry_t *>(cache_mem.data());
    }
    int32_t mount(const std::string &stem = "fat") {
        dir = make_dir(unique(stem));
        return done(zel_fs_mount(dir, &zel_fatfs_op, &vol.root.file));
    }
};

inline std::vector<uint8_t> read_all(
    zel_file_t *dir, const std::string &path, uint32_t chunk, int32_t *error = nullptr) {
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

inline int32_t write_at(zel_file_t *dir, const std::string &path, uint64_t pos, const std::vector<uint8_t> &data) {
    zel_file_t *f = nullptr;
    int32_t r = done(zel_file_open(dir, path.c_str(), &f));
    if (r != 0) return r;
    r = done(zel_file_seek(f, pos, ZEL_SEEK_SET));
    if (r == 0) r = done(zel_file_write(f, data.data(), (uint32_t)data.size()));
    done(zel_file_close(f));
    return r;
}

inline int32_t resize(zel_file_t *dir, const std::string &path, uint64_t size) {
    zel_file_t *f = nullptr;
    int32_t r = done(zel_file_open(dir, path.c_str(), &f));
    if (r != 0) return r;
    r = done(zel_file_resize(f, size));
    done(zel_file_close(f));
    return r;
}

// fsck.fat finds nothing to mend in the volume at `offset` bytes of the image.
inline void expect_fsck_clean(const TempDir &t, const std::string &image, uint64_t offset = 0, uint64_t bytes = 0) {
    std::string target = t / image;
    if (offset || bytes) {
        target = t / "part.img";
        ASSERT_EQ(0, sh("dd if=" + t / image + " of=" + target + " bs=512 skip=" + std::to_string(offset / 512) +
                         " count=" + std::to_string(bytes / 512)));
    }
    EXPECT_EQ(0, run_quiet({"fsck.fat", "-n", target})) << sh_out("fsck.fat -n " + target);
}

// mtools reads `name` of the volume at `offset` back as `want`.
inline void expect_mtools_reads(const TempDir &t, const std::string &image, const std::string &name,
    const std::vector<uint8_t> &want, uint64_t offset = 0) {
    const std::string at = offset ? "@@" + std::to_string(offset) : "";
    sh("rm -f " + t / "back");
    ASSERT_EQ(0, sh("mcopy -n -i " + t / image + at + " '::" + name + "' " + t / "back")) << name;
    EXPECT_TRUE(t.get("back") == want) << name << " differs as mtools reads it";
}

inline void expect_peers_agree(
    const TempDir &t, const std::string &image, const std::string &name, const std::vector<uint8_t> &want) {
    expect_fsck_clean(t, image);
    expect_mtools_reads(t, image, name, want);
}

// Every FAT copy holds the same bytes.
inline void expect_fat_copies_equal(const TempDir &t, const std::string &image, const zel_fatfs_info_t &vol) {
    const size_t ss = 1u << vol.sector_shift, start = vol.fat_start * ss, len = (size_t)vol.fat_size * ss;
    std::vector<uint8_t> fats(len * vol.fat_count);
    const int fd = open((t / image).c_str(), O_RDONLY);
    ASSERT_EQ((ssize_t)fats.size(), pread(fd, fats.data(), fats.size(), (off_t)start));
    close(fd);
    for (uint32_t i = 1; i < vol.fat_count; i++)
        EXPECT_EQ(0, memcmp(fats.data(), fats.data() + i * len, len)) << "FAT copy " << i;
}

// Every name below `prefix`, as `mdir -/ -b` prints them.
inline std::set<std::string> list_dir(zel_file_t *dir, const std::string &prefix) {
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

inline std::set<std::string> mdir_names(const std::string &image) {
    std::set<std::string> want;
    const std::string out = sh_out("mdir -/ -b -i " + image + " ::");
    size_t at = 0;
    while (at < out.size()) {
        const size_t nl = out.find('\n', at);
        const std::string line = out.substr(at, nl - at);
        if (!line.empty()) want.insert(line);
        at = nl == std::string::npos ? out.size() : nl + 1;
    }
    return want;
}

// The names of a directory's entries, in listing order.
inline std::vector<std::string> children(zel_file_t *dir) {
    std::vector<std::string> names;
    for (;;) {
        zel_file_t *e = nullptr;
        if (done(zel_file_open(dir, nullptr, &e)) != 0) break;
        names.push_back(e->name);
        done(zel_file_close(e));
        if (names.size() > 100) break;
    }
    return names;
}

// An agent that runs file calls one after the other: each step starts one
// sub-call and its answer is recorded before the next step starts.
struct Script {
    std::vector<std::function<int32_t()>> steps;
    std::vector<intptr_t> answers;
    size_t next = 0;
    bool finished = false;
    zel_test::Agent agent{[this](zel_test::Agent &, zel_evt_t evt) { on_event(evt); }};

    void on_event(zel_evt_t evt) {
        if (evt == ZEL_EVT_RETURN)
            answers.push_back(zel_eda_get_return_code());
        else if (evt != ZEL_EVT_INIT)
            return;
        while (next < steps.size()) {
            const int32_t started = steps[next++]();
            if (started == 0) return;
            answers.push_back(started);
        }
        finished = true;
    }
};

}  // namespace fat_test

#endif
