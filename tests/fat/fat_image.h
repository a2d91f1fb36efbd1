// Image tooling for the FAT tests: disks built with sfdisk and mkfs.fat in a
// temporary folder, files put there with mtools, checks with fsck.fat, and a
// block device over the image file.
#ifndef FAT_IMAGE_H
#define FAT_IMAGE_H

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "zel_host.h"
#include "zel_mal.h"
#include "zel_timer.h"
#include "zel_subcall.h"

namespace fat_test {

// Runs a shell command line; its exit status.
inline int sh(const std::string &cmd) {
    const std::string line = "LANG=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + cmd + " >/dev/null 2>&1";
    const int r = system(line.c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

// Runs a program found on the PATH with `args`, its output dropped, without
// a shell: the exit status. A sweep that checks thousands of images spawns
// the checker from a large test process, which a fork would copy.
inline int run_quiet(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&io, 1, 2);
    pid_t pid;
    const int r = posix_spawnp(&pid, argv[0], &io, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&io);
    int status = 0;
    if (r != 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string sh_out(const std::string &cmd) {
    const std::string line = "LANG=C.UTF-8 MTOOLS_SKIP_CHECK=1 " + cmd + " 2>/dev/null";
    std::string out;
    if (FILE *p = popen(line.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

inline std::vector<uint8_t> pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)((i * 131 + seed * 17 + (i >> 9)) & 0xFF);
    return v;
}

// A temporary folder, removed with its contents.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/zel-fat-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { sh("rm -rf " + path); }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    void put(const std::string &name, const std::vector<uint8_t> &bytes) const {
        FILE *f = fopen((*this / name).c_str(), "wb");
        if (bytes.size()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    std::vector<uint8_t> get(const std::string &name) const {
        std::vector<uint8_t> v;
        if (FILE *f = fopen((*this / name).c_str(), "rb")) {
            uint8_t buf[65536];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
            fclose(f);
        }
        return v;
    }
};

// A block device over an image file, read and written in place. It logs
// every request; `short_by` bytes are left off every answer, and with
// `delay_ms` each request completes that much later, as a USB disk does.
struct ImageMal {
    struct Request {
        uint64_t address;
        uint32_t size;
        bool write;
    };
    zel_mal_t mal{};
    int fd = -1;
    uint32_t block = 512;
    uint32_t short_by = 0;
    uint32_t delay_ms = 0;
    std::vector<Request> log;
    int in_flight = 0;
    int most_in_flight = 0;

    ImageMal(const std::string &path, uint32_t block_size = 512) : block(block_size) {
        static const zel_mal_drv_t drv = {blksz, nullptr, zel_mal_succeed, zel_mal_succeed, 0, read, write};
        mal.drv = &drv;
        fd = open(path.c_str(), O_RDWR);
        const off_t end = lseek(fd, 0, SEEK_END);
        mal.size = end > 0 ? (uint64_t)end - (uint64_t)end % block : 0;
    }
    ~ImageMal() { close(fd); }
    ImageMal(const ImageMal &) = delete;
    ImageMal &operator=(const ImageMal &) = delete;

    // True when every request since `from` lies in [begin, end).
    bool all_inside(uint64_t begin, uint64_t end, size_t from = 0) const {
        for (size_t i = from; i < log.size(); i++)
            if (log[i].address < begin || log[i].address + log[i].size > end) return false;
        return true;
    }
    static uint32_t blksz(zel_mal_t *m, uint64_t, uint32_t, uint32_t) { return reinterpret_cast<ImageMal *>(m)->block; }
    static intptr_t move(ImageMal &d, const zel_mal_rw_param_t *p, bool w) {
        if (!zel_mal_in_range(&d.mal, p->address, p->size) || p->address % d.block || p->size % d.block) return -7;
        const uint32_t n = p->size - (p->size < d.short_by ? p->size : d.short_by);
        const ssize_t r =
            w ? pwrite(d.fd, p->buffer, n, (off_t)p->address) : pread(d.fd, p->buffer, n, (off_t)p->address);
        return r < 0 ? -1 : r;
    }
    static void transfer(void *locals, zel_evt_t evt, bool w) {
        auto &d = *zel_target<ImageMal>(locals);
        auto *p = static_cast<zel_mal_rw_param_t *>(locals);
        if (evt == ZEL_EVT_INIT) {
            d.log.push_back({p->address, p->size, w});
            d.most_in_flight = std::max(d.most_in_flight, ++d.in_flight);
            if (d.delay_ms != 0 && zel_eda_set_timer(zel_systimer_ms_to_tick(d.delay_ms)) == 0) return;
        } else if (evt != ZEL_EVT_TIMER) {
            return;
        }
        d.in_flight--;
        zel_answer(move(d, p, w));
    }
    static void read(void *l, zel_evt_t e) { transfer(l, e, false); }
    static void write(void *l, zel_evt_t e) { transfer(l, e, true); }
};

// A partition of a disk image: where it lies, its type, and the mkfs.fat
// options that make its volume (none: left as it is).
struct Partition {
    uint32_t number;  // 1 to 4 primary, 5 and up logical
    uint64_t start;   // sectors
    uint64_t sectors;
    uint8_t type;
    std::string mkfs;
};

// A sparse disk image of `bytes` with an MBR written by sfdisk and FAT
// volumes made by mkfs.fat; false when a tool failed.
inline bool make_disk(const std::string &image, uint64_t bytes, const std::vector<Partition> &parts) {
    if (sh("rm -f " + image + " && truncate -s " + std::to_string(bytes) + " " + image) != 0) return false;
    std::string script = "label: dos\n";
    char line[160];
    for (const Partition &p : parts) {
        snprintf(line, sizeof line, "%s%u : start=%llu, size=%llu, type=%x\n", image.c_str(), p.number,
            (unsigned long long)p.start, (unsigned long long)p.sectors, p.type);
        script += line;
    }
    if (sh("printf '" + script + "' | sfdisk " + image) != 0) return false;
    for (const Partition &p : parts)
        if (!p.mkfs.empty() && sh("mkfs.fat " + p.mkfs + " --offset " + std::to_string(p.start) + " " + image + " " +
                                   std::to_string(p.sectors / 2)) != 0)
            return false;
    return true;
}

// The bytes of an image file, to look at or patch.
inline std::vector<uint8_t> load(const std::string &path) {
    std::vector<uint8_t> v;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        fseek(f, 0, SEEK_END);
        v.resize((size_t)ftell(f));
        fseek(f, 0, SEEK_SET);
        if (!v.empty() && fread(v.data(), 1, v.size(), f) != v.size()) v.clear();
        fclose(f);
    }
    return v;
}

inline void patch(const std::string &path, uint64_t offset, const std::vector<uint8_t> &bytes) {
    const int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) return;
    if (pwrite(fd, bytes.data(), bytes.size(), (off_t)offset) < 0) perror("patch");
    close(fd);
}

inline std::vector<uint8_t> le16(uint32_t v) { return {(uint8_t)v, (uint8_t)(v >> 8)}; }
inline std::vector<uint8_t> le32(uint32_t v) {
    return {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
}

}  // namespace fat_test

#endif
