// The mount command on host folders and disk images, and the adapter disk
// under "/scsi" over a virtual SCSI target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

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
    EXPECT_EQ("block size must be defined for auto\r\n" + kUsage + "fail to execute mount /a /b\r\n",
              c.run("mount /a /b"));
    EXPECT_EQ("block size must be defined for fatfs\r\n" + kUsage + "fail to execute mount -t fatfs -b 0 /a /b\r\n",
              c.run("mount -t fatfs -b 0 /a /b"));
    EXPECT_EQ("fail to open src_file /nothing.img\r\nfail to prepare fsdata\r\n"
              "fail to execute mount -b 512 /nothing.img /mnt/n\r\n",
              c.run("mount -b 512 /nothing.img /mnt/n"));
    EXPECT_EQ("", c.run("mkdir /mnt/n"));
    EXPECT_EQ("fail to mount\r\nfail to execute mount -t winfs /no/such/host/folder /mnt/n\r\n",
              c.run("mount -t winfs /no/such/host/folder /mnt/n"));
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
    EXPECT_EQ("", c.run("mkdir -p /mnt/b"));
    EXPECT_EQ("fail to mount\r\nfail to execute mount -b 4096 /mnt/images/disk.img /mnt/b\r\n",
              c.run("mount -b 4096 /mnt/images/disk.img /mnt/b"));
    EXPECT_EQ("\033[1;37m\r\n", c.run("ls /mnt/b"));
    EXPECT_EQ("", c.run("mount -b 512 /mnt/images/disk.img /mnt/b"));
    EXPECT_EQ("PSNID : old\r\n\r\n", c.run("cat \"/mnt/b/TRELLOW/PSN Config.txt\""));
}

TEST_F(AppImages, KeepsTheGoodPartitionsWhenALaterOneFails) {
    EXPECT_EQ("", c.run("mkdir /mnt/two"));
    EXPECT_EQ("fail to mount\r\nfail to execute mount -b 512 /mnt/images/two.img /mnt/two\r\n",
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
        static const zel_mal_drv_t drv = {blksz, nullptr, zel_mal_succeed, zel_mal_succeed, 0, read, write};
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
        if (out) memcpy(disk->bytes.data() + p->address, p->buffer, p->size);
        else memcpy(p->buffer, disk->bytes.data() + p->address, p->size);
        zel_answer(p->size);
    }
    static void read(void *locals, zel_evt_t evt) { move(locals, evt, false); }
    static void write(void *locals, zel_evt_t evt) { move(locals, evt, true); }
};

// A SCSI device that fails every command.
void failing_execute(void *, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_answer(-7);
}
const zel_scsi_drv_t g_failing_drv = {zel_mal_succeed, zel_mal_succeed, failing_execute, nullptr, nullptr};

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

TEST_F(AppImages, MountsTheAdapterDiskUnderScsi) {
    // A disk that never reports its capacity leaves "/scsi" empty.
    zel_scsi_t broken{&g_failing_drv};
    {
        zel_test::TraceCapture trace;
        zel_test::run_as_irq([&] { on_msc_disk_connect(&broken); });
        EXPECT_TRUE(zel_test::wait_until([&] { return trace.contains("fail to mount scsi drive"); },
                                         std::chrono::seconds(30)));
        zel_test::settle();
        std::string text = trace.text();
        size_t first = text.find("fail to mount scsi drive");
        EXPECT_EQ(std::string::npos, text.find("fail to mount scsi drive", first + 1)) << "traced once";
    }
    EXPECT_EQ("\033[1;37m\r\n", c.run("ls /scsi"));
    zel_test::run_as_irq([&] { on_msc_disk_disconnect(&broken); });

    std::ifstream in(dir + "/disk.img", std::ios::binary);
    static RamDisk disk(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {}));
    static const zel_virtual_scsi_param_t param{512, static_cast<uint32_t>(disk.bytes.size() / 512),
                                                {'Z', 'E', 'L'}, {'A', 'D', 'A', 'P', 'T', 'E', 'R'}, {'1'}, 1, {}, 0};
    static zel_mal_scsi_t target{};
    ASSERT_TRUE(zel_test::run_in_thread([] {
        zel_mal_scsi_construct(&target, &param, &disk.mal);
        int32_t r = zel_scsi_init(&target.target.scsi);
        if (r == 0) r = static_cast<int32_t>(zel_eda_get_return_code());
        ASSERT_EQ(0, r);
    }));
    zel_test::run_as_irq([&] { on_msc_disk_connect(&target.target.scsi); });
    std::string volume;
    for (int tries = 0; volume.empty() && tries < 2000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        volume = scsi_volume();
    }
    EXPECT_EQ("TRELLOW", volume);
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
