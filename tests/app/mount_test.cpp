// The mount command on host folders and disk images, and the adapter disk
// under "/scsi" over a virtual SCSI target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app_commands.h"
#include "app_main.h"
#include "app_mount.h"
#include "close_race.h"
#include "disk_image.h"
#include "shell_harness.h"
#include "zel_linux_file.h"
#include "zel_linux_libc.h"
#include "zel_subcall.h"
#include "zel_virtual_scsi.h"

namespace {

// Descriptors of this process open on the host file `path`.
int open_count(const std::string &path) {
    std::error_code ec;
    const auto want = std::filesystem::canonical(path, ec);
    if (ec) return -1;
    int n = 0;
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link_ec;
        const auto target = std::filesystem::read_symlink(e.path(), link_ec);
        if (!link_ec && target == want) n++;
    }
    return n;
}

const std::string kUsage =
    "format: mount [-t vfstype] [-b block_size] device dir\r\nsupported vfstype(mandatory options): "
    "auto(b) fatfs(b) winfs \r\n";

// One host folder with the images, mounted once at /mnt/images.
class AppImages : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = disk_image::temp_dir();
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(disk_image::make(dir + "/disk.img", "TRELLOW", {{"PSN Config.txt", "PSNID : old\r\n"}}));
        ASSERT_TRUE(disk_image::make(dir + "/two.img", "FIRST", {{"a.txt", "first"}}, true));
        shell::Console &c = shell::console();
        ASSERT_EQ("", c.run("mkdir -p /mnt/images"));
        ASSERT_EQ("", c.run("mount -t winfs " + dir + " /mnt/images"));
    }
    static void TearDownTestSuite() { disk_image::clean(dir); }
    static std::string dir;
    shell::Console &c = shell::console();
};
std::string AppImages::dir;

TEST(AppMountCommand, RefusesBadArguments) {
    shell::Console &c = shell::console();
    EXPECT_EQ(kUsage + "fail to execute mount\r\n", c.run("mount"));
    EXPECT_EQ(kUsage + "fail to execute mount -t nope a b\r\n", c.run("mount -t nope a b"));
    EXPECT_EQ(
        "block size must be defined for auto\r\n" + kUsage + "fail to execute mount /a /b\r\n", c.run("mount /a /b"));
    EXPECT_EQ("block size must be defined for fatfs\r\n" + kUsage + "fail to execute mount -t fatfs -b 0 /a /b\r\n",
        c.run("mount -t fatfs -b 0 /a /b"));
    EXPECT_EQ("fail to open src_file /nothing.img\r\nfail to prepare fsdata\r\n"
              "fail to execute mount -b 512 /nothing.img /mnt/n\r\n",
        c.run("mount -b 512 /nothing.img /mnt/n"));
    EXPECT_EQ("", c.run("mkdir /mnt/n"));
    EXPECT_EQ("fail to mount\r\nno host folder /no/such/host/folder\r\n"
              "fail to execute mount -t winfs /no/such/host/folder /mnt/n\r\n",
        c.run("mount -t winfs /no/such/host/folder /mnt/n"));
    EXPECT_EQ("fail to mount\r\nno directory /mnt/none\r\nfail to execute mount -t winfs . /mnt/none\r\n",
        c.run("mount -t winfs . /mnt/none"));
}

TEST_F(AppImages, MountsTheFatPartitionsOfAnImage) {
    EXPECT_EQ("", c.run("mkdir -p /mnt/d"));
    EXPECT_EQ("", c.run("mount -t fatfs -b 0x200 /mnt/images/disk.img /mnt/d"));
    EXPECT_EQ("\033[1;34mTRELLOW  \033[1;37m\r\n", c.run("ls /mnt/d"));
    EXPECT_EQ("PSNID : old\r\n\r\n", c.run("cat \"/mnt/d/TRELLOW/PSN Config.txt\""));
}

// FAT frees a file's node when it is closed: a call racing the close of its
// number completes on the live descriptor or finds the number closed.
TEST_F(AppImages, CallsRacingACloseOfAFatFileCompleteOrFindTheNumberClosed) {
    ASSERT_TRUE(disk_image::make(dir + "/race.img", "RACE", {{"f.txt", "0123456789"}}));
    EXPECT_EQ("", c.run("mkdir -p /mnt/race"));
    EXPECT_EQ("", c.run("mount -b 512 /mnt/images/race.img /mnt/race"));
    static close_race::race_log log;
    shell::expect_ok([] { return close_race::run("/mnt/race/RACE/f.txt", "/mnt/race/RACE", 200, &log); });
    close_race::expect_sound(log);
}

// The image's device moves whole blocks of the size given: a block size the
// 512-byte sectors are not made of fails the mount, releases the device and
// leaves the directory free for a mount with the right one.
TEST_F(AppImages, RefusesABlockSizeTheSectorsAreNotMadeOf) {
    ASSERT_TRUE(disk_image::make(dir + "/bs.img", "TRELLOW", {{"PSN Config.txt", "PSNID : old\r\n"}}));
    EXPECT_EQ("", c.run("mkdir -p /mnt/b"));
    EXPECT_EQ(
        "fail to mount\r\nunsupported block size 4096\r\nfail to execute mount -b 4096 /mnt/images/bs.img /mnt/b\r\n",
        c.run("mount -b 4096 /mnt/images/bs.img /mnt/b"));
    EXPECT_EQ(0, open_count(dir + "/bs.img"));
    EXPECT_EQ("\033[1;37m\r\n", c.run("ls /mnt/b"));
    EXPECT_EQ("", c.run("mount -b 512 /mnt/images/bs.img /mnt/b"));
    EXPECT_EQ("PSNID : old\r\n\r\n", c.run("cat \"/mnt/b/TRELLOW/PSN Config.txt\""));
}

// A failing mount says why on a line of its own after the usual one, and
// closes the image it opened, also on a directory that already holds
// mounted partitions.
TEST_F(AppImages, SaysWhyAMountFailedAndClosesTheImage) {
    const std::string q = "'" + dir + "/";
    ASSERT_TRUE(disk_image::run("mkfs.fat -C " + q + "floppy.img' 4096"));
    ASSERT_TRUE(disk_image::run("truncate -s 8M " + q + "gpt.img' " + q + "linux.img' " + q +
                                "blank.img' && "
                                "truncate -s 16M " +
                                q + "s4k.img'"));
    ASSERT_TRUE(
        disk_image::run("printf 'label: gpt\\nstart=2048, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n'"
                        " | sfdisk " +
                        q + "gpt.img'"));
    ASSERT_TRUE(disk_image::run("mkfs.fat -I -F 16 -s 1 --offset 2048 " + q + "gpt.img' 4096"));
    ASSERT_TRUE(
        disk_image::run("printf 'label: dos\\nstart=2048, size=8192, type=83\\n' | sfdisk " + q + "linux.img'"));
    ASSERT_TRUE(disk_image::run("printf 'label: dos\\nstart=2048, size=8192, type=6\\n' | sfdisk " + q + "blank.img'"));
    ASSERT_TRUE(disk_image::run("printf 'label: dos\\nstart=2048, size=16384, type=6\\n' | sfdisk " + q + "s4k.img'"));
    // mkfs.fat counts the offset in the volume's own sectors.
    ASSERT_TRUE(disk_image::run("mkfs.fat -I -S 4096 --offset 256 " + q + "s4k.img' 8192"));
    ASSERT_TRUE(disk_image::make(dir + "/good.img", "GOOD", {{"g.txt", "good"}}));
    EXPECT_EQ("", c.run("mkdir -p /mnt/why"));
    EXPECT_EQ("", c.run("mount -b 512 /mnt/images/good.img /mnt/why"));
    const struct {
        const char *image;
        std::string reason;
    } cases[] = {
        {"floppy.img", "no FAT partition found on /mnt/images/floppy.img: it has no partition table"},
        {"gpt.img", "no FAT partition found on /mnt/images/gpt.img: its GPT partition table is not read"},
        {"linux.img", "no FAT partition found on /mnt/images/linux.img"},
        {"blank.img", "no FAT volume mounted from /mnt/images/blank.img"},
        {"s4k.img", "unsupported sector size 4096 on /mnt/images/s4k.img"},
    };
    for (const auto &k : cases) {
        const std::string line = std::string("mount -b 512 /mnt/images/") + k.image + " /mnt/why";
        EXPECT_EQ("fail to mount\r\n" + k.reason + "\r\nfail to execute " + line + "\r\n", c.run(line));
        EXPECT_EQ(0, open_count(dir + "/" + k.image)) << k.image << " stays open";
    }
    EXPECT_EQ(
        "fail to mount\r\nno directory /mnt/whynot\r\nfail to execute mount -b 512 /mnt/images/gpt.img /mnt/whynot\r\n",
        c.run("mount -b 512 /mnt/images/gpt.img /mnt/whynot"));
    EXPECT_EQ(0, open_count(dir + "/gpt.img"));
    EXPECT_EQ("\033[1;34mGOOD  \033[1;37m\r\n", c.run("ls /mnt/why"));
    EXPECT_EQ("good\r\n", c.run("cat /mnt/why/GOOD/g.txt"));
    EXPECT_EQ(1, open_count(dir + "/good.img"));
}

// An image is mounted once, however its path is spelled: two volumes over
// one image would each write back what it cached over what the other
// wrote. What the one mount writes is what the peers read.
TEST_F(AppImages, MountsAnImageOnce) {
    ASSERT_TRUE(disk_image::make(dir + "/once.img", "ONCE", {{"f.bin", std::string(1100, 'a')}}));
    const std::string big(300000, 'b');
    std::ofstream(dir + "/big.bin", std::ios::binary) << big;
    for (const char *d : {"/mnt/o1", "/mnt/o2", "/mnt/images2"}) EXPECT_EQ("", c.run(std::string("mkdir ") + d));
    EXPECT_EQ("", c.run("mount -t winfs " + dir + " /mnt/images2"));
    EXPECT_EQ("", c.run("mount -b 512 /mnt/images/once.img /mnt/o1"));
    EXPECT_EQ("fail to mount\r\n/mnt/images/once.img is already mounted\r\n"
              "fail to execute mount -b 512 /mnt/images/once.img /mnt/o2\r\n",
        c.run("mount -b 512 /mnt/images/once.img /mnt/o2"));
    EXPECT_EQ("fail to mount\r\n/mnt/images2/once.img is already mounted\r\n"
              "fail to execute mount -b 512 /mnt/images2/once.img /mnt/o1\r\n",
        c.run("mount -b 512 /mnt/images2/once.img /mnt/o1"));
    EXPECT_EQ("\033[1;37m\r\n", c.run("ls /mnt/o2"));
    EXPECT_EQ(1, open_count(dir + "/once.img"));
    EXPECT_EQ("...................\r\nupdate done\r\n", c.run("update -t /mnt/images/big.bin /mnt/o1/ONCE/f.bin"));
    EXPECT_TRUE(disk_image::fsck_clean(dir + "/once.img"));
    EXPECT_EQ(big, disk_image::read_file(dir + "/once.img", "f.bin"));
}

// Two mounts of one image started side by side (one in the background):
// one mounts it, the other is refused and closes its device again.
TEST_F(AppImages, MountsAnImageOnceWhenTwoMountsRace) {
    ASSERT_TRUE(disk_image::make(dir + "/race.img", "RACE", {{"r.txt", "race"}}));
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const std::string n = std::to_string(round), image = dir + "/race" + n + ".img";
        std::filesystem::copy_file(dir + "/race.img", image);
        const std::string device = "/mnt/images/race" + n + ".img", a = "/mnt/ra" + n, b = "/mnt/rb" + n;
        ASSERT_EQ("", c.run("mkdir " + a));
        ASSERT_EQ("", c.run("mkdir " + b));
        std::string out = c.run("mount -b 512 " + device + " " + a + " &");
        out += c.run("mount -b 512 " + device + " " + b);
        const std::string refused = device + " is already mounted\r\n";
        if (out.find(refused) == std::string::npos) out += c.until(refused);
        ASSERT_NE(std::string::npos, out.find(refused)) << out;
        // The background mount may still be at work: a bounded wait for it.
        std::string listing;
        for (int tries = 0; tries < 3000 && listing.find("RACE") == std::string::npos; ++tries) {
            if (tries) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            listing = c.run("ls " + a) + c.run("ls " + b);
        }
        EXPECT_EQ(listing.find("RACE"), listing.rfind("RACE")) << listing;
        EXPECT_EQ(1, open_count(image));
        c.take();
    }
}

// update refuses a source that is its own destination (however the two are
// spelled) or a directory before it touches anything; write and update
// leave a read-only FAT file as it was, while access still finds it.
TEST_F(AppImages, FileCommandsLeaveAloneWhatTheyMustNotChange) {
    const std::string x(5000, 'x'), config = "PSNID : old\r\n";
    ASSERT_TRUE(disk_image::make(dir + "/files.img", "FILES", {{"x.bin", x}, {"PSN Config.txt", config}}));
    ASSERT_TRUE(
        disk_image::run("MTOOLS_SKIP_CHECK=1 mattrib -i '" + dir + "/files.img'@@1048576 +r '::PSN Config.txt'"));
    std::ofstream(dir + "/h.txt", std::ios::binary) << "host";
    std::ofstream(dir + "/new.txt", std::ios::binary) << "NEWID";
    EXPECT_EQ("", c.run("mkdir /mnt/f"));
    EXPECT_EQ("", c.run("mkdir /mnt/fview"));
    EXPECT_EQ("", c.run("mount -b 512 /mnt/images/files.img /mnt/f"));
    EXPECT_EQ("", c.run("mount -t winfs " + dir + " /mnt/fview"));
    auto failed = [](const std::string &why, const std::string &src, const std::string &dst, const char *t) {
        return why + "\r\nfail to update " + src + " to " + dst + "\r\nfail to execute update " + t + src + " " + dst +
               "\r\n";
    };
    const std::string fx = "/mnt/f/FILES/x.bin";
    for (const char *t : {"-t ", ""}) {
        EXPECT_EQ(failed(fx + " and " + fx + " are the same file", fx, fx, t),
            c.run(std::string("update ") + t + fx + " " + fx));
        EXPECT_EQ(failed("/mnt/images/h.txt and /mnt/fview/h.txt are the same file", "/mnt/images/h.txt",
                      "/mnt/fview/h.txt", t),
            c.run(std::string("update ") + t + "/mnt/images/h.txt /mnt/fview/h.txt"));
        EXPECT_EQ(failed("/mnt/f/FILES is a directory", "/mnt/f/FILES", fx, t),
            c.run(std::string("update ") + t + "/mnt/f/FILES " + fx));
        EXPECT_EQ(failed("/mnt/f/FILES is a directory", "/mnt/images/h.txt", "/mnt/f/FILES", t),
            c.run(std::string("update ") + t + "/mnt/images/h.txt /mnt/f/FILES"));
        const std::string ro = "\"/mnt/f/FILES/PSN Config.txt\"";
        EXPECT_EQ("fail to open /mnt/f/FILES/PSN Config.txt\r\nfail to update /mnt/images/new.txt to "
                  "/mnt/f/FILES/PSN Config.txt\r\nfail to execute update " +
                      std::string(t) + "/mnt/images/new.txt " + ro + "\r\n",
            c.run(std::string("update ") + t + "/mnt/images/new.txt " + ro));
    }
    EXPECT_EQ(failed("/mnt/f/FILES is a directory", "/mnt/f/FILES", "/mnt/images/made.bin", "-t "),
        c.run("update -t /mnt/f/FILES /mnt/images/made.bin"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/made.bin"));
    EXPECT_EQ("fail to execute write \"/mnt/f/FILES/PSN Config.txt\" NEWID\r\n",
        c.run("write \"/mnt/f/FILES/PSN Config.txt\" NEWID"));
    EXPECT_EQ("", c.run("access \"/mnt/f/FILES/PSN Config.txt\""));
    EXPECT_EQ("host\r\n", c.run("cat /mnt/images/h.txt"));
    EXPECT_TRUE(disk_image::fsck_clean(dir + "/files.img"));
    EXPECT_EQ(x, disk_image::read_file(dir + "/files.img", "x.bin"));
    EXPECT_EQ(config, disk_image::read_file(dir + "/files.img", "PSN Config.txt"));
}

TEST_F(AppImages, KeepsTheGoodPartitionsWhenALaterOneFails) {
    EXPECT_EQ("", c.run("mkdir /mnt/two"));
    EXPECT_EQ("fail to mount\r\n1 of 2 FAT partitions of /mnt/images/two.img mounted\r\n"
              "fail to execute mount -b 512 /mnt/images/two.img /mnt/two\r\n",
        c.run("mount -b 512 /mnt/images/two.img /mnt/two"));
    // The first partition still reads through the image's device.
    EXPECT_EQ("first\r\n", c.run("cat /mnt/two/FIRST/a.txt"));
    EXPECT_EQ(".\r\nupdate done\r\n", c.run("update -t /mnt/two/FIRST/a.txt /tmp/first"));
}

// ---- the adapter disk ----

// A block device over memory.
struct RamDisk {
    zel_mal_t mal{};
    std::vector<uint8_t> bytes;

    explicit RamDisk(std::vector<uint8_t> image) : bytes(std::move(image)) {
        static const zel_mal_drv_t drv = {
            .blksz = blksz,
            .buffer = nullptr,
            .init = zel_mal_succeed,
            .fini = zel_mal_succeed,
            .reserved = 0,
            .read = read,
            .write = write,
        };
        mal.drv = &drv;
        mal.size = bytes.size();
    }
    static uint32_t blksz(zel_mal_t *, uint64_t, uint32_t, uint32_t) { return 512; }
    static void move(void *locals, zel_evt_t evt, bool out) {
        if (evt != ZEL_EVT_INIT) return;
        auto *disk = zel_target<RamDisk>(locals);
        auto *p = static_cast<zel_mal_rw_param_t *>(locals);
        if (!zel_mal_in_range(&disk->mal, p->address, p->size)) {
            zel_answer(-7);
            return;
        }
        if (out)
            memcpy(disk->bytes.data() + p->address, p->buffer, p->size);
        else
            memcpy(p->buffer, disk->bytes.data() + p->address, p->size);
        zel_answer(p->size);
    }
    static void read(void *locals, zel_evt_t evt) { move(locals, evt, false); }
    static void write(void *locals, zel_evt_t evt) { move(locals, evt, true); }
};

// A SCSI device that fails every command.
void failing_execute(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_answer(-7);
}
const zel_scsi_drv_t g_failing_drv = {
    .init = zel_mal_succeed,
    .fini = zel_mal_succeed,
    .execute = failing_execute,
    .execute_stream = nullptr,
    .buffer = nullptr,
};

std::string scsi_volume() {
    std::string name;
    shell::in_process([&] {
        char out[128] = {};
        bool one = dir_first_entry_name("/scsi/", out, sizeof out);
        name = one ? out : "";
        return 0;
    });
    return name;
}

// A SCSI target over the bytes of a disk, set up on a framework thread.
void construct_target(zel_mal_scsi_t &target, const zel_virtual_scsi_param_t &param, RamDisk &disk) {
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_mal_scsi_construct(&target, &param, &disk.mal);
        int32_t r = zel_scsi_init(&target.target.scsi);
        if (r == 0) r = static_cast<int32_t>(zel_eda_get_return_code());
        ASSERT_EQ(0, r);
    }));
}

// Connects a disk that cannot be mounted: one failure traced, one line on
// the host's standard error with `why`, and the state the GUI reads set
// until the disk goes.
void expect_unreadable(zel_scsi_t *scsi, const std::string &why) {
    zel_test::TraceCapture trace;
    testing::internal::CaptureStderr();
    zel_test::run_as_irq([&] { on_msc_disk_connect(scsi); });
    EXPECT_TRUE(
        zel_test::wait_until([&] { return trace.contains("fail to mount scsi drive"); }, std::chrono::seconds(30)));
    zel_test::settle();
    const std::string err = testing::internal::GetCapturedStderr();
    std::string text = trace.text();
    size_t first = text.find("fail to mount scsi drive");
    EXPECT_EQ(std::string::npos, text.find("fail to mount scsi drive", first + 1)) << "traced once";
    const std::string line = "trellow: the adapter's disk could not be read: " + why + "\n";
    EXPECT_NE(std::string::npos, err.find(line)) << err;
    EXPECT_EQ(err.find(line), err.rfind(line)) << "said once";
    EXPECT_EQ(APP_DISK_FAILED, app_adapter_disk_state());
    zel_test::run_as_irq([&] { on_msc_disk_disconnect(scsi); });
    EXPECT_EQ(APP_DISK_NONE, app_adapter_disk_state()) << "the disk has gone";
}

TEST_F(AppImages, MountsTheAdapterDiskUnderScsi) {
    // A disk that never reports its capacity leaves "/scsi" empty.
    zel_scsi_t broken{&g_failing_drv};
    expect_unreadable(&broken, "it did not answer INQUIRY or READ CAPACITY");
    EXPECT_EQ("\033[1;37m\r\n", c.run("ls /scsi"));

    // Nor does one that answers but holds noise.
    static RamDisk noise(std::vector<uint8_t>(64 * 1024, 0xA5));
    static const zel_virtual_scsi_param_t noise_param{
        512, 128, {'Z', 'E', 'L'}, {'N', 'O', 'I', 'S', 'E'}, {'1'}, 1, {}, 0};
    static zel_mal_scsi_t noise_target{};
    construct_target(noise_target, noise_param, noise);
    expect_unreadable(&noise_target.target.scsi, "no FAT partition found on it: it has no partition table");
    EXPECT_EQ("\033[1;37m\r\n", c.run("ls /scsi"));

    // Nor do a disk formatted whole, without a table, and a GPT disk: the
    // scan finds nothing to mount on either.
    const std::string q = "'" + dir + "/";
    ASSERT_TRUE(disk_image::run("mkfs.fat -C " + q + "whole.img' 4096"));
    ASSERT_TRUE(
        disk_image::run("truncate -s 8M " + q +
                        "gpt_disk.img' && printf 'label: gpt\\nstart=2048, "
                        "size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk " +
                        q + "gpt_disk.img' && mkfs.fat -I -F 16 -s 1 --offset 2048 " + q + "gpt_disk.img' 4096"));
    const struct {
        const char *image;
        const char *why;
    } unused[] = {{"whole.img", "no FAT partition found on it: it has no partition table"},
        {"gpt_disk.img", "no FAT partition found on it: its GPT partition table is not read"}};
    // The disks and targets live as long as the program, as the others.
    static RamDisk *unused_disks[2];
    static zel_virtual_scsi_param_t unused_params[2];
    static zel_mal_scsi_t unused_targets[2];
    for (size_t i = 0; i < 2; ++i) {
        std::ifstream in(dir + "/" + unused[i].image, std::ios::binary);
        unused_disks[i] = new RamDisk(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}));
        unused_params[i] = {512, static_cast<uint32_t>(unused_disks[i]->bytes.size() / 512), {'Z', 'E', 'L'},
            {'W', 'H', 'O', 'L', 'E'}, {'1'}, 1, {}, 0};
        construct_target(unused_targets[i], unused_params[i], *unused_disks[i]);
        expect_unreadable(&unused_targets[i].target.scsi, unused[i].why);
        EXPECT_EQ("\033[1;37m\r\n", c.run("ls /scsi")) << unused[i].image;
    }

    std::ifstream in(dir + "/disk.img", std::ios::binary);
    static RamDisk disk(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}));
    static const zel_virtual_scsi_param_t param{512, static_cast<uint32_t>(disk.bytes.size() / 512), {'Z', 'E', 'L'},
        {'A', 'D', 'A', 'P', 'T', 'E', 'R'}, {'1'}, 1, {}, 0};
    static zel_mal_scsi_t target{};
    construct_target(target, param, disk);
    zel_test::run_as_irq([&] { on_msc_disk_connect(&target.target.scsi); });
    std::string volume;
    for (int tries = 0; volume.empty() && tries < 2000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        volume = scsi_volume();
    }
    EXPECT_EQ("TRELLOW", volume);
    EXPECT_EQ(APP_DISK_MOUNTED, app_adapter_disk_state());
    EXPECT_EQ("PSNID : old\r\n\r\n", c.run("cat \"/scsi/TRELLOW/PSN Config.txt\""));
    // A second disk is ignored while the first is there.
    zel_test::run_as_irq([&] { on_msc_disk_connect(&broken); });
    EXPECT_EQ("TRELLOW", scsi_volume());
    // The write reaches the disk's sectors.
    EXPECT_EQ("", c.run("write \"/scsi/TRELLOW/PSN Config.txt\" NEWID"));
    EXPECT_EQ("NEWID : old\r\n\r\n", c.run("cat \"/scsi/TRELLOW/PSN Config.txt\""));
    const std::string written = "NEWID : old\r\n";
    EXPECT_NE(disk.bytes.end(), std::search(disk.bytes.begin(), disk.bytes.end(), written.begin(), written.end()));
}

TEST(AppDirFirstEntryName, CopiesATerminatedName) {
    shell::expect_ok([] {
        char out[8];
        memset(out, 'z', sizeof out);
        if (dir_first_entry_name("/tmp/none", out, sizeof out) || out[0] != 'z') return 1;
        if (zel_linux_mkdir_by_open("/tmp/dfe/empty", 0) != 0) return 2;
        if (dir_first_entry_name("/tmp/dfe/empty", out, sizeof out)) return 3;
        if (zel_linux_mkdir_by_open("/tmp/dfe/one/a_long_volume_name", 0) != 0) return 4;
        if (!dir_first_entry_name("/tmp/dfe/one", out, 4) || strcmp(out, "a_l") != 0) return 5;
        if (zel_linux_mkdir_by_open("/tmp/dfe/one/second", 0) != 0) return 6;
        if (dir_first_entry_name("/tmp/dfe/one", out, sizeof out) || strcmp(out, "a_long_") != 0) return 7;
        return 0;
    });
}

TEST(AppDriverInstall, TracksTheAdaptersInstallationOnly) {
    on_driver_install_begin(0xABCD, 1);
    on_driver_install_end(0xABCD, 1, 0, "");
    EXPECT_EQ(0, driver_installing);
    EXPECT_EQ(0, restart_needed);
    on_driver_install_begin(0xABCD, 0);
    EXPECT_EQ(1, driver_installing);
    on_driver_install_end(0xABCD, 0, 0, "");
    EXPECT_EQ(1, restart_needed);
    std::string long_text(600, 'e');
    on_driver_install_end(0xABCD, 0, -12, long_text.c_str());
    EXPECT_EQ(0, restart_needed);
    EXPECT_EQ(std::string(511, 'e'), driver_error_text);
    on_driver_install_end(0x1234, 0, -1, "other");
    EXPECT_EQ(std::string(511, 'e'), driver_error_text);
}

}  // namespace
