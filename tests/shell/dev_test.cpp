// Device files and the terminal description.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
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

// What start makes: the directories, the devices and the terminal
// variables of the init process; and each directory step that fails says
// so on standard error and ends the set-up.
TEST(DevTree, StartMakesTheTreeAndSaysWhichDirectoryFailed) {
    shell::Console &c = shell::console();
    static zel_linux_process_t *init;
    static std::string term, terminfo;
    // A framework thread outside every process acts for the init process.
    ASSERT_TRUE(zel_test::run_in_thread([] {
        init = zel_linux_get_cur_process();
        const char *t = zel_linux_getenv("TERM");
        const char *ti = zel_linux_getenv("TERMINFO");
        term = t ? t : "(unset)";
        terminfo = ti ? ti : "(unset)";
    }));
    ASSERT_NE(nullptr, init);
    EXPECT_NE(zel_linux_kernel_process_get(), init);
    EXPECT_EQ("vt100", term);
    EXPECT_EQ("/usr/share/terminfo", terminfo);

    shell::expect_ok([] {
        struct zel_linux_stat st {};
        for (const char *dir : {"/var/run", "/var/lib", "/run", "/dev", "/usr/share/terminfo/v"})
            IN_LAYER_CHECK(zel_linux_stat(dir, &st) == 0 && st.st_mode == (ZEL_LINUX_S_IFDIR | 0777u));
        for (const char *dev : {"/dev/null", "/dev/zero", "/dev/random", "/dev/urandom"})
            IN_LAYER_CHECK(zel_linux_stat(dev, &st) == 0 && st.st_mode == (ZEL_LINUX_S_IFREG | 0777u));
        std::set<std::string> names;
        zel_linux_fd *dir = zel_linux_opendir("/dev");
        IN_LAYER_CHECK(dir != nullptr);
        for (zel_linux_dirent *e = zel_linux_readdir(dir); e; e = zel_linux_readdir(dir)) names.insert(e->d_name);
        zel_linux_closedir(dir);
        IN_LAYER_CHECK((names == std::set<std::string>{"null", "zero", "random", "urandom"}));
        return 0;
    });

    // Each directory in turn is the one that cannot be made.
    c.take();
    shell::expect_ok([] {
        IN_LAYER_CHECK(zel_linux_create_fs_hierarchy() != 0);  // "/var/lib" exists
        IN_LAYER_CHECK(zel_linux_unlink("/var/lib") == 0);
        IN_LAYER_CHECK(zel_linux_create_fs_hierarchy() != 0);  // "/run" exists
        IN_LAYER_CHECK(zel_linux_unlink("/var/lib") == 0 && zel_linux_unlink("/run") == 0);
        IN_LAYER_CHECK(zel_linux_create_fs_hierarchy() != 0);  // "/dev" exists
        // "/var/run" a file: no directory can be made there.
        IN_LAYER_CHECK(zel_linux_unlink("/var/run") == 0);
        int fd = zel_linux_open("/var/run", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
        IN_LAYER_CHECK(fd >= 0);
        zel_linux_close(fd);
        IN_LAYER_CHECK(zel_linux_create_fs_hierarchy() != 0);
        IN_LAYER_CHECK(zel_linux_unlink("/var/run") == 0 && zel_linux_mkdir("/var/run", 0) == 0);
        return 0;
    });
    EXPECT_EQ("fail to mkdir /var/lib\r\nfail to mkdir /run\r\nfail to mkdir /dev\r\nfail to mkdir /var/run\r\n",
        c.until("fail to mkdir /var/run\r\n"));
    shell::expect_ok([] {
        struct zel_linux_stat st {};
        for (const char *dir : {"/var/run", "/var/lib", "/run"})
            IN_LAYER_CHECK(zel_linux_stat(dir, &st) == 0 && st.st_mode == (ZEL_LINUX_S_IFDIR | 0777u));
        return 0;
    });
}

}  // namespace
