// `update -t` of a 64 MiB file typed at the console of the booted system,
// from a FAT32 disk image to the host folder it lies in and back, against
// mcopy doing the same on the same image. Prints the times and the ratios
// mcopy / update. Run by hand: cmake -DZEL_BENCH=ON ..., then
// build/zel_update_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fat_image.h"
#include "shell_harness.h"

using namespace fat_test;

namespace {

constexpr uint64_t kFileBytes = 64ull << 20;
constexpr uint64_t kPartStart = 2048;      // sectors
constexpr uint64_t kPartSectors = 655360;  // 320 MiB: FAT32 with 4 KiB clusters

using Clock = std::chrono::steady_clock;

template <class F>
double seconds(F &&fn) {
    const Clock::time_point start = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Times {
    double to_host = 1e9, to_fat = 1e9;
};

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    TempDir t;
    if (!make_disk(t / "disk.img", (kPartStart + kPartSectors) * 512,
            {{1, kPartStart, kPartSectors, 0x0C, "-F 32 -s 8 -n BENCH"}})) {
        std::fprintf(stderr, "update_bench: cannot make the disk image\n");
        return 1;
    }
    const std::string offset = "@@" + std::to_string(kPartStart * 512);
    const std::string image = t / "disk.img" + offset;
    t.put("data", pattern(kFileBytes, 11));
    // The layer cannot create files on FAT: both files are placed first.
    if (sh("mcopy -i " + image + " " + t / "data" + " ::FROM.BIN") != 0 ||
        sh("mcopy -i " + image + " " + t / "data" + " ::TO.BIN") != 0) {
        std::fprintf(stderr, "update_bench: cannot place the files\n");
        return 1;
    }
    // mcopy works on a copy of the image: the layer keeps its own mounted.
    const std::string theirs_image = t / "theirs.img" + offset;
    if (sh("cp " + t / "disk.img" + " " + t / "theirs.img") != 0) {
        std::fprintf(stderr, "update_bench: cannot copy the image\n");
        return 1;
    }

    shell::Console &c = shell::console();
    const std::string host = "/mnt/bench", mount = "/mnt/benchfat";
    const std::string fat = mount + "/BENCH";  // the partition, under its volume label
    if (c.run("mkdir -p " + host) != "" || c.run("mount -t winfs " + t.path + " " + host) != "" ||
        c.run("mkdir -p " + mount) != "" || c.run("mount -b 512 " + host + "/disk.img " + mount) != "") {
        std::fprintf(stderr, "update_bench: cannot mount the image at the console\n");
        sh("rm -rf " + t.path);
        std::_Exit(1);
    }
    const std::string done = "\r\nupdate done\r\n";
    auto ends_done = [&](const std::string &out) {
        return out.size() >= done.size() && out.compare(out.size() - done.size(), done.size(), done) == 0;
    };

    // The kernel's threads run on: the process ends with _Exit, so the
    // folder goes first.
    auto finish = [&](int status) {
        sh("rm -rf " + t.path);
        std::fflush(stdout);
        std::_Exit(status);
    };
    auto failed = [&](const std::string &what, const std::string &out) {
        std::fprintf(stderr, "update_bench: %s\n%s\n", what.c_str(), out.substr(0, 400).c_str());
        finish(1);
    };
    const std::vector<uint8_t> data = t.get("data");
    Times ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        std::string out;
        ours.to_host =
            std::min(ours.to_host, seconds([&] { out = c.run("update -t " + fat + "/FROM.BIN " + host + "/back"); }));
        if (!ends_done(out) || t.get("back") != data) failed("update from FAT to the host", out);
        ours.to_fat =
            std::min(ours.to_fat, seconds([&] { out = c.run("update -t " + host + "/data " + fat + "/TO.BIN"); }));
        if (!ends_done(out)) failed("update from the host to FAT", out);
        int status = 0;
        theirs.to_host = std::min(theirs.to_host,
            seconds([&] { status = sh("mcopy -n -i " + theirs_image + " ::FROM.BIN " + t / "mback"); }));
        if (status != 0 || t.get("mback") != data) failed("mcopy from FAT to the host", "");
        theirs.to_fat = std::min(theirs.to_fat,
            seconds([&] { status = sh("mcopy -o -i " + theirs_image + " " + t / "data" + " ::TO.BIN"); }));
        if (status != 0) failed("mcopy from the host to FAT", "");
    }
    // What update wrote to the image, read back by mtools, and the volume checked.
    if (sh("mcopy -n -i " + image + " ::TO.BIN " + t / "check") != 0 || t.get("check") != data)
        failed("what update wrote to FAT does not read back", "");
    sh("dd if=" + t / "disk.img" + " of=" + t / "part.img" + " bs=512 skip=" + std::to_string(kPartStart) +
        " count=" + std::to_string(kPartSectors));
    if (sh("fsck.fat -n " + t / "part.img") != 0) failed("fsck.fat finds the volume not clean", "");
    std::printf("update -t of 64 MiB at the console against mcopy on the same image, best of %d rounds\n", rounds);
    std::printf("  FAT to host: update %.3f s, mcopy %.3f s, mcopy/update %.3f\n", ours.to_host, theirs.to_host,
        theirs.to_host / ours.to_host);
    std::printf("  host to FAT: update %.3f s, mcopy %.3f s, mcopy/update %.3f\n", ours.to_fat, theirs.to_fat,
        theirs.to_fat / ours.to_fat);
    finish(0);
}
