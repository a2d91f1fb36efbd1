// The image file of a mounted volume belongs to its mount: it is not a
// destination for update, a second program cannot mount it, the simulated
// adapter cannot serve it, and a read-only one says so when it is mounted.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "console_run.h"
#include "disk_image.h"

namespace {

using namespace console_run;

class ImageClaim : public ConsoleFolder {
protected:
    void SetUp() override {
        ConsoleFolder::SetUp();
        if (HasFatalFailure()) return;
        image = dir + "/u.img";
        ASSERT_TRUE(disk_image::make(image, "TRELLOW", {{"version.txt", "v1.2\n"}, {"f.bin", "old"}}));
    }
    std::string image;
};

TEST_F(ImageClaim, TheImageOfAMountIsNoDestination) {
    const auto size = std::filesystem::file_size(image);
    std::string out;
    const int status = run(dir,
        "mkdir -p /mnt/x\n"
        "mount -b 512 /mnt/hostfs/u.img /mnt/x\n"
        "update -t /mnt/x/TRELLOW/version.txt /mnt/hostfs/u.img\n"
        "update /mnt/x/TRELLOW/version.txt /mnt/hostfs/u.img\n"
        "update -t /mnt/x/TRELLOW/version.txt /mnt/hostfs/copy.txt\n",
        &out);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    const std::string refused = "/mnt/hostfs/u.img is in use\r\n"
                                "fail to update /mnt/x/TRELLOW/version.txt to /mnt/hostfs/u.img\r\n";
    const size_t first = out.find(refused);
    EXPECT_NE(std::string::npos, first) << out;
    EXPECT_NE(std::string::npos, out.find(refused, first + 1)) << "both forms are refused: " << out;
    EXPECT_EQ(size, std::filesystem::file_size(image));
    EXPECT_TRUE(disk_image::fsck_clean(image));
    // Other host files are written as before.
    EXPECT_EQ("v1.2\n", read_host(dir + "/copy.txt"));
}

// Two programs on one image: while the first holds it mounted (its copy
// held in the middle by the test hook), the second's mount is refused. The
// first then ends cleanly.
TEST_F(ImageClaim, ASecondProgramCannotMountTheImage) {
    std::ofstream(dir + "/big.bin", std::ios::binary) << std::string(100000, 'b');
    const std::string mark = dir + "/.mark";
    std::filesystem::create_directory(dir + "/first");
    std::filesystem::create_symlink(image, dir + "/first/u.img");
    std::filesystem::create_symlink(dir + "/big.bin", dir + "/first/big.bin");
    const pid_t first = start_console(dir + "/first",
        "mkdir -p /mnt/x\n"
        "mount -b 512 /mnt/hostfs/u.img /mnt/x\n"
        "update -t /mnt/hostfs/big.bin /mnt/x/TRELLOW/f.bin\n",
        mark);
    ASSERT_GT(first, 0);
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(mark); })) << read_host(dir + "/first/.out");

    std::string out;
    const int status = run(dir,
        "mkdir -p /mnt/y\n"
        "mount -b 512 /mnt/hostfs/u.img /mnt/y\n"
        "update -t /mnt/hostfs/big.bin /mnt/hostfs/u.img\n",
        &out);
    EXPECT_TRUE(WIFEXITED(status)) << out;
    EXPECT_NE(std::string::npos, out.find("fail to mount\r\n/mnt/hostfs/u.img is in use\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("/mnt/hostfs/u.img is in use\r\nfail to update")) << out;

    ASSERT_EQ(0, kill(first, SIGTERM));
    const int ended = wait_end(first);
    EXPECT_TRUE(WIFEXITED(ended)) << read_host(dir + "/first/.out");
    EXPECT_TRUE(disk_image::fsck_clean(image));
}

// The simulated adapter's disk is claimed before the console's shell starts:
// a mount of the same image is refused.
TEST_F(ImageClaim, TheSimulatedAdaptersImageCannotBeMounted) {
    std::string out;
    const int status = run(dir,
        "mkdir -p /mnt/x\n"
        "mount -b 512 /mnt/hostfs/u.img /mnt/x\n",
        &out, {"ZEL_USB=sim", "ZEL_USB_SIM_DISK=" + image});
    EXPECT_TRUE(WIFEXITED(status)) << out;
    EXPECT_NE(std::string::npos, out.find("fail to mount\r\n/mnt/hostfs/u.img is in use\r\n")) << out;
    EXPECT_TRUE(disk_image::fsck_clean(image));
}

TEST_F(ImageClaim, AReadOnlyImageIsMountedReadOnlyAndSaysSo) {
    ASSERT_EQ(0, chmod(image.c_str(), 0444));
    std::string out;
    const int status = run(dir,
        "mkdir -p /mnt/x\n"
        "mount -b 512 /mnt/hostfs/u.img /mnt/x\n"
        "ls /mnt/x/TRELLOW\n",
        &out);
    EXPECT_TRUE(WIFEXITED(status)) << out;
    EXPECT_NE(std::string::npos, out.find("/mnt/hostfs/u.img is read-only: its volumes are mounted read-only\r\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("version.txt")) << out;
    EXPECT_EQ(std::string::npos, out.find("fail to mount")) << out;
}

}  // namespace
