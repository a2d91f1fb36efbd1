// Writes and reads a 64 MiB file through fatfs over the file-backed block
// device and the MBR mount, on a disk image in a host folder, and does the
// same with mcopy on the same image; prints the times and their ratios.
#include <chrono>
#include <cstdio>
#include <functional>

#include "fat_image.h"
#include "zel_fatfs.h"
#include "zel_file.h"
#include "zel_file_mal.h"
#include "zel_mal_mbr.h"
#include "zel_test.h"
#include "zel_winfs.h"

using namespace fat_test;

namespace {

constexpr uint64_t FILE_BYTES = 64ull << 20;
constexpr uint32_t CHUNK = 64 * 1024;
constexpr uint64_t PART_START = 2048;      // sectors
constexpr uint64_t PART_SECTORS = 655360;  // 320 MiB: enough 4 KiB clusters to be FAT32 for every tool

double seconds(const std::function<void()> &fn) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int32_t wait(int32_t started) { return started == 0 ? (int32_t)zel_eda_get_return_code() : started; }

struct Run {
    double write_s = 0, read_s = 0;
    bool ok = false;
};

// fatfs: the image through a winfs folder, the file-backed device and the
// MBR mount, as the mount command sets it up.
Run through_fatfs(const TempDir &t, const std::vector<uint8_t> &data) {
    Run run;
    zel_test::run_in_thread(
        [&] {
            static zel_winfs_info_t folder{};
            static zel_file_mal_t dev{};
            folder.file.name = const_cast<char *>(t.path.c_str());
            zel_vfs_init();
            zel_file_t *host = nullptr, *disk = nullptr, *file = nullptr;
            if (wait(zel_file_create(nullptr, "bench_host", ZEL_FILE_DIR)) != 0 ||
                wait(zel_file_open(nullptr, "bench_host", &host)) != 0 ||
                wait(zel_fs_mount(host, &zel_winfs_op, &folder.file)) != 0 ||
                wait(zel_file_open(host, "disk.img", &dev.file)) != 0)
                return;
            dev.mal.drv = &zel_file_mal_drv;
            dev.block_size = 512;
            zel_mal_mount_mbr_t record{};
            record.mal = &dev.mal;
            if (wait(zel_mal_init(&dev.mal)) != 0 || wait(zel_file_create(nullptr, "bench_disk", ZEL_FILE_DIR)) != 0 ||
                wait(zel_file_open(nullptr, "bench_disk", &disk)) != 0)
                return;
            record.dir = disk;
            if (wait(zel_mal_mount_mbr(&record)) != 0 || record.result != 0) return;

            bool ok = wait(zel_file_open(disk, "BENCH/ours.bin", &file)) == 0;
            run.write_s = seconds([&] {
                for (uint64_t at = 0; ok && at < FILE_BYTES; at += CHUNK)
                    ok = wait(zel_file_write(file, data.data() + at, CHUNK)) == (int32_t)CHUNK;
            });
            wait(zel_file_close(file));
            std::vector<uint8_t> back(FILE_BYTES);
            ok = ok && wait(zel_file_open(disk, "BENCH/ours.bin", &file)) == 0;
            run.read_s = seconds([&] {
                for (uint64_t at = 0; ok && at < FILE_BYTES; at += CHUNK)
                    ok = wait(zel_file_read(file, back.data() + at, CHUNK)) == (int32_t)CHUNK;
            });
            wait(zel_file_close(file));
            run.ok = ok && back == data;
        },
        std::chrono::milliseconds(600000));
    return run;
}

Run through_mtools(const TempDir &t) {
    Run run;
    const std::string image = t / "disk.img" + "@@" + std::to_string(PART_START * 512);
    run.write_s = seconds([&] { run.ok = sh("mcopy -o -i " + image + " " + t / "data" + " ::theirs.bin") == 0; });
    run.read_s = seconds([&] { run.ok &= sh("mcopy -n -i " + image + " ::theirs.bin " + t / "back") == 0; });
    run.ok &= t.get("back") == t.get("data");
    return run;
}

}  // namespace

int main() {
    TempDir t;
    if (!make_disk(t / "disk.img", (PART_START + PART_SECTORS) * 512,
            {{1, PART_START, PART_SECTORS, 0x0C, "-F 32 -s 8 -n BENCH"}})) {
        fprintf(stderr, "fat_bench: cannot make the disk image\n");
        return 1;
    }
    const auto data = pattern(FILE_BYTES, 7);
    t.put("data", data);
    t.put("empty", {});
    if (sh("mcopy -i " + t / "disk.img" + "@@" + std::to_string(PART_START * 512) + " " + t / "empty" +
            " ::ours.bin") != 0) {
        fprintf(stderr, "fat_bench: cannot place the file\n");
        return 1;
    }
    const Run theirs = through_mtools(t);
    const Run ours = through_fatfs(t, data);
    if (!ours.ok || !theirs.ok) {
        fprintf(stderr, "fat_bench: a run failed (fatfs %d, mcopy %d)\n", ours.ok, theirs.ok);
        return 1;
    }
    t.put("part.img", {});
    sh("dd if=" + t / "disk.img" + " of=" + t / "part.img" + " bs=512 skip=" + std::to_string(PART_START) +
        " count=" + std::to_string(PART_SECTORS));
    const bool clean = sh("fsck.fat -n " + t / "part.img") == 0;
    const double mib = (double)(FILE_BYTES >> 20);
    printf("64 MiB file, FAT32, 4 KiB clusters, %u-byte writes and reads\n", CHUNK);
    printf("  write: fatfs %.3f s (%.1f MiB/s), mcopy %.3f s (%.1f MiB/s), fatfs/mcopy %.2f\n", ours.write_s,
        mib / ours.write_s, theirs.write_s, mib / theirs.write_s, ours.write_s / theirs.write_s);
    printf("  read:  fatfs %.3f s (%.1f MiB/s), mcopy %.3f s (%.1f MiB/s), fatfs/mcopy %.2f\n", ours.read_s,
        mib / ours.read_s, theirs.read_s, mib / theirs.read_s, ours.read_s / theirs.read_s);
    printf("  fsck.fat after both: %s\n", clean ? "clean" : "NOT CLEAN");
    return clean ? 0 : 1;
}
