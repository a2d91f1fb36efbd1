// Device files and the terminal description.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shell_harness.h"
#include "zel_linux_dev.h"
#include "zel_linux_libc.h"

namespace {

TEST(DevDevices, NullAndZero) {
    shell::expect_ok([] {
        char buf[100];
        memset(buf, 7, sizeof buf);
        int fd = zel_linux_open("/dev/zero", ZEL_LINUX_O_RDONLY);
        IN_LAYER_CHECK(fd >= 0 && zel_linux_read(fd, buf, 16) == 16);
        for (int i = 0; i < 16; ++i) IN_LAYER_CHECK(buf[i] == 0);
        IN_LAYER_CHECK(buf[16] == 7);
        IN_LAYER_CHECK(zel_linux_write(fd, buf, 4) == -1);
        zel_linux_close(fd);
        fd = zel_linux_open("/dev/null", ZEL_LINUX_O_RDWR);
        IN_LAYER_CHECK(fd >= 0 && zel_linux_write(fd, buf, 100) == 100);
        IN_LAYER_CHECK(zel_linux_read(fd, buf, 4) == -1);
        zel_linux_close(fd);
        return 0;
    });
}

TEST(DevDevices, RandomBytesComeFromTheHost) {
    shell::expect_ok([] {
        unsigned char a[32] = {};
        unsigned char b[32] = {};
        int fd = zel_linux_open("/dev/urandom", ZEL_LINUX_O_RDONLY);
        IN_LAYER_CHECK(fd >= 0 && zel_linux_read(fd, a, sizeof a) == 32 && zel_linux_read(fd, b, 3) == 3);
        IN_LAYER_CHECK(zel_linux_read(fd, b + 3, sizeof b - 3) == 29);
        IN_LAYER_CHECK(memcmp(a, b, sizeof a) != 0);
        zel_linux_close(fd);
        zel_linux_fd *r = zel_linux_fopen("/dev/random", "r");
        IN_LAYER_CHECK(r && zel_linux_fread(a, 1, 5, r) == 5 && !zel_linux_feof(r));
        IN_LAYER_CHECK(zel_linux_fwrite(a, 1, 1, r) == 0);
        zel_linux_fclose(r);
        return 0;
    });
}

TEST(DevDevices, Vt100IsReadOnly) {
    EXPECT_EQ(ZEL_LINUX_VT100_SIZE, 12u + 44 + 38 + 7 * 2 + 270 * 2 + 542);
    EXPECT_EQ(0, memcmp(zel_linux_devfs_vt100, "\x1a\x01\x2c\x00\x26\x00\x07\x00\x0e\x01\x1e\x02", 12));
    shell::expect_ok([] {
        unsigned char buf[2048];
        int fd = zel_linux_open("/usr/share/terminfo/v/vt100", ZEL_LINUX_O_RDWR);
        IN_LAYER_CHECK(fd >= 0);
        IN_LAYER_CHECK(zel_linux_write(fd, "XXXX", 4) == -1);
        IN_LAYER_CHECK(zel_linux_lseek(fd, 0, ZEL_LINUX_SEEK_SET) == 0);
        IN_LAYER_CHECK(zel_linux_read(fd, buf, sizeof buf) == 1190);
        IN_LAYER_CHECK(memcmp(buf, zel_linux_devfs_vt100, 1190) == 0);
        IN_LAYER_CHECK(zel_linux_read(fd, buf, sizeof buf) == 0);
        zel_linux_close(fd);
        struct zel_linux_stat st {};
        IN_LAYER_CHECK(zel_linux_stat("/usr/share/terminfo/v/vt100", &st) == 0 && st.st_size == 1190);
        return 0;
    });
    // The names and the last string of the entry.
    std::string names(reinterpret_cast<const char *>(zel_linux_devfs_vt100) + 12);
    EXPECT_EQ("vt100|vt100-am|dec vt100 (w/advanced video)", names);
    EXPECT_EQ('\0', zel_linux_devfs_vt100[ZEL_LINUX_VT100_SIZE - 1]);
}

}  // namespace
