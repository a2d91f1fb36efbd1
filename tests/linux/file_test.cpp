// POSIX file calls, directory streams and bound nodes over the in-memory
// tree; path normalisation.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "zel_linux_bind.h"
#include "zel_linux_eventfd.h"
#include "zel_linux_file.h"
#include "zel_file_mal.h"
#include "zel_linux_test.h"
#include "zel_winfs.h"

using zel_linux_test::run_process;

namespace {

constexpr int kCreate = ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY;

std::string normalised(const char *dir, const char *name, size_t size = 260) {
    char out[260] = {};
    int r = zel_linux_generate_path(out, size, dir, name);
    return r == 0 ? std::string(out) : "error " + std::to_string(r);
}

int put(const char *path, const std::string &text) {
    int fd = zel_linux_open(path, kCreate | ZEL_LINUX_O_TRUNC);
    if (fd < 0) return -1;
    long n = zel_linux_write(fd, text.data(), text.size());
    zel_linux_close(fd);
    return n == static_cast<long>(text.size()) ? 0 : -1;
}

std::string get(const char *path) {
    int fd = zel_linux_open(path, 0);
    if (fd < 0) return "<missing>";
    std::string text(4096, '\0');
    long n = zel_linux_read(fd, text.data(), text.size());
    zel_linux_close(fd);
    return n < 0 ? "<error>" : text.substr(0, static_cast<size_t>(n));
}

unsigned mode_of(const char *path) {
    struct zel_linux_stat st;
    return zel_linux_stat(path, &st) == 0 ? st.st_mode : 0u;
}

TEST(LinuxPath, NormalisesComponentByComponent) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ("/a/c", normalised(nullptr, "/a/b/../c"));
        EXPECT_EQ("/w/x/y", normalised("/w", "x/./y"));
        EXPECT_EQ("/w/x/y", normalised("/w/", "x/./y"));
        EXPECT_EQ("/a", normalised(nullptr, "/a/."));
        EXPECT_EQ("error -2", normalised(nullptr, "/.."));
        EXPECT_EQ("error -2", normalised("/w", "../.."));
        EXPECT_EQ("/x", normalised("/w", "a/../../x"));
        // Names that merely begin with dots are names.
        EXPECT_EQ("/a/..b/c", normalised(nullptr, "/a/..b/c"));
        EXPECT_EQ("/a/.b", normalised(nullptr, "/a/.b"));
        EXPECT_EQ("/b", normalised(nullptr, "/a/./../b"));
        EXPECT_EQ("/a/b", normalised(nullptr, "\\a\\b"));
        EXPECT_EQ("/a/b", normalised(nullptr, "//a///b"));
        EXPECT_EQ("/a/b/", normalised(nullptr, "/a/b/"));
        EXPECT_EQ("/", normalised(nullptr, "/a/.."));
        EXPECT_EQ("/q", normalised(nullptr, "q"));  // from the working directory "/"
        EXPECT_EQ("error -12", normalised(nullptr, "/abcdef", 7));
        EXPECT_EQ("/abcde", normalised(nullptr, "/abcde", 7));
        EXPECT_EQ("error -12", normalised("/wx", "yz", 6));

        char small[1];
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(nullptr, zel_linux_getcwd(small, sizeof small));
        EXPECT_EQ(ZEL_LINUX_ERANGE, *zel_linux_errno_ptr());
        char cwd[16];
        EXPECT_STREQ("/", zel_linux_getcwd(cwd, sizeof cwd));
        return 0;
    }));
}

TEST(LinuxFile, OpenCreatesWhatIsMissingAndHonoursItsFlags) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/open", 0));
        EXPECT_EQ(0, zel_linux_chdir(nullptr, "/open"));
        char cwd[32];
        EXPECT_STREQ("/open/", zel_linux_getcwd(cwd, sizeof cwd));
        int fd = zel_linux_open("d1/d2/f", kCreate);
        EXPECT_GE(fd, 0);
        zel_linux_close(fd);
        EXPECT_EQ(ZEL_LINUX_S_IFDIR | 0777u, mode_of("/open/d1/d2"));
        EXPECT_EQ(ZEL_LINUX_S_IFREG | 0777u, mode_of("d1/d2/f"));
        // mkdir makes only the last component.
        EXPECT_EQ(-1, zel_linux_mkdir("m1/m2", 0));
        EXPECT_EQ(0, zel_linux_mkdir("m1", 0));
        EXPECT_EQ(0, zel_linux_mkdir("m1/m2", 0));
        EXPECT_EQ(-1, zel_linux_mkdir("", 0));

        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_open("nothing", 0));
        EXPECT_EQ(ZEL_LINUX_ENOENT, *zel_linux_errno_ptr());
        EXPECT_EQ(-1, zel_linux_open("d1/d2/f", ZEL_LINUX_O_NONBLOCK));
        EXPECT_EQ(-1, zel_linux_open(nullptr, 0));

        // O_EXCL: the path must be new, and the node stays exclusive while open.
        int x = zel_linux_open("x", kCreate | ZEL_LINUX_O_EXCL);
        EXPECT_GE(x, 0);
        EXPECT_EQ(-1, zel_linux_open("x", kCreate | ZEL_LINUX_O_EXCL));
        EXPECT_EQ(ZEL_LINUX_EEXIST, *zel_linux_errno_ptr());
        EXPECT_EQ(-1, zel_linux_open("x", 0));
        zel_linux_close(x);
        x = zel_linux_open("x", 0);
        EXPECT_GE(x, 0);
        zel_linux_close(x);

        // O_TRUNC only with write access.
        EXPECT_EQ(0, put("t", "hello"));
        zel_linux_close(zel_linux_open("t", ZEL_LINUX_O_RDONLY | ZEL_LINUX_O_TRUNC));
        EXPECT_EQ("hello", get("t"));
        zel_linux_close(zel_linux_open("t", ZEL_LINUX_O_WRONLY | ZEL_LINUX_O_TRUNC));
        EXPECT_EQ("", get("t"));

        // O_APPEND moves to the end once.
        EXPECT_EQ(0, put("ap", "12345"));
        fd = zel_linux_open("ap", ZEL_LINUX_O_RDWR | ZEL_LINUX_O_APPEND);
        EXPECT_EQ(2, zel_linux_write(fd, "67", 2));
        EXPECT_EQ(0, zel_linux_lseek(fd, 0, ZEL_LINUX_SEEK_SET));
        EXPECT_EQ(1, zel_linux_write(fd, "A", 1));
        // A failed seek answers -1 and leaves the position.
        EXPECT_EQ(-1, zel_linux_lseek(fd, 100, ZEL_LINUX_SEEK_SET));
        EXPECT_EQ(1, zel_linux_lseek(fd, 0, ZEL_LINUX_SEEK_CUR));
        EXPECT_EQ(7, zel_linux_lseek(fd, 0, ZEL_LINUX_SEEK_END));
        EXPECT_EQ(0, zel_linux_ftruncate(fd, 3));
        EXPECT_EQ(-1, zel_linux_ftruncate(fd, -1));
        int dirfd = zel_linux_open("/open", ZEL_LINUX_O_DIRECTORY);
        EXPECT_EQ(-1, zel_linux_ftruncate(dirfd, 0));  // the file API refuses a directory (-8)
        zel_linux_close(dirfd);
        zel_linux_close(fd);
        EXPECT_EQ("A23", get("ap"));

        // O_DIRECTORY on a file: ENOTDIR and no descriptor left behind.
        int before = zel_linux_open("t", 0);
        zel_linux_close(before);
        EXPECT_EQ(-1, zel_linux_open("t", ZEL_LINUX_O_DIRECTORY));
        EXPECT_EQ(ZEL_LINUX_ENOTDIR, *zel_linux_errno_ptr());
        EXPECT_EQ(before, zel_linux_open("t", 0));
        zel_linux_close(before);
        EXPECT_EQ(-1, zel_linux_lseek(1, 0, ZEL_LINUX_SEEK_SET));  // not a file
        return 0;
    }));
}

// Misuse answers -1 with Linux's errno and changes nothing.
TEST(LinuxFile, WrongAccessAndDirectoriesAnswerLinuxErrors) {
    EXPECT_EQ(0, run_process([] {
        auto err = [] { return std::exchange(*zel_linux_errno_ptr(), 0); };
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/ms", 0));
        EXPECT_EQ(0, put("/ms/f", "original"));
        err();

        // The access mode of the open decides what the descriptor may do.
        int ro = zel_linux_open("/ms/f", ZEL_LINUX_O_RDONLY);
        EXPECT_EQ(-1, zel_linux_write(ro, "XXXXXXXX", 8));
        EXPECT_EQ(9, err()) << "EBADF";
        zel_linux_close(ro);
        EXPECT_EQ("original", get("/ms/f"));
        int wo = zel_linux_open("/ms/f", ZEL_LINUX_O_WRONLY);
        char buf[16];
        EXPECT_EQ(-1, zel_linux_read(wo, buf, sizeof buf));
        EXPECT_EQ(9, err());
        EXPECT_EQ(3, zel_linux_write(wo, "new", 3));
        zel_linux_close(wo);
        int rw = zel_linux_open("/ms/f", ZEL_LINUX_O_RDWR);
        EXPECT_EQ(3, zel_linux_read(rw, buf, 3));
        EXPECT_EQ(1, zel_linux_write(rw, "G", 1));
        zel_linux_close(rw);
        EXPECT_EQ("newGinal", get("/ms/f"));
        EXPECT_EQ(-1, zel_linux_read(200, buf, 1));
        EXPECT_EQ(9, err()) << "a number that is not open";
        EXPECT_EQ(-1, zel_linux_write(200, buf, 1));
        EXPECT_EQ(9, err());

        // A name that ends in '/' is a directory's: O_CREAT makes no file of
        // it, nor any directory on the way; O_DIRECTORY makes the directory.
        EXPECT_EQ(-1, zel_linux_open("/ms/g/", kCreate));
        EXPECT_EQ(21, err()) << "EISDIR";
        EXPECT_EQ(-1, zel_linux_open("/ms/h/i/", kCreate));
        EXPECT_EQ(21, err());
        EXPECT_EQ(0u, mode_of("/ms/g"));
        EXPECT_EQ(0u, mode_of("/ms/h"));
        int g = zel_linux_open("/ms/g/", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_DIRECTORY);
        EXPECT_GE(g, 0);
        zel_linux_close(g);
        EXPECT_EQ(ZEL_LINUX_S_IFDIR | 0777u, mode_of("/ms/g"));

        // Directories open for reading only, and read nothing.
        EXPECT_EQ(-1, zel_linux_open("/", ZEL_LINUX_O_WRONLY));
        EXPECT_EQ(21, err());
        EXPECT_EQ(-1, zel_linux_open("/ms", ZEL_LINUX_O_RDWR));
        EXPECT_EQ(21, err());
        int dir = zel_linux_open("/ms", ZEL_LINUX_O_RDONLY);
        EXPECT_EQ(-1, zel_linux_read(dir, buf, sizeof buf));
        EXPECT_EQ(21, err());

        // mkdir of what exists, however it is spelled.
        EXPECT_EQ(-1, zel_linux_mkdir("/ms/g/.", 0));
        EXPECT_EQ(17, err()) << "EEXIST";
        EXPECT_EQ(-1, zel_linux_mkdir("/ms/g", 0));
        EXPECT_EQ(17, err());
        EXPECT_EQ(-1, zel_linux_mkdir("/ms/f", 0));
        EXPECT_EQ(17, err());
        EXPECT_EQ(ZEL_LINUX_S_IFREG | 0777u, mode_of("/ms/f"));
        zel_linux_fd *d = zel_linux_opendir("/ms/g");
        EXPECT_EQ(nullptr, zel_linux_readdir(d)) << "nothing was made inside";
        zel_linux_closedir(d);

        // F_DUPFD takes a number a descriptor can have.
        EXPECT_EQ(-1, zel_linux_fcntl(dir, ZEL_LINUX_F_DUPFD, -1));
        EXPECT_EQ(22, err()) << "EINVAL";
        EXPECT_EQ(-1, zel_linux_fcntl(dir, ZEL_LINUX_F_DUPFD, ZEL_LINUX_FD_MAX));
        EXPECT_EQ(22, err());
        EXPECT_EQ(40, zel_linux_fcntl(dir, ZEL_LINUX_F_DUPFD, 40));
        zel_linux_close(40);
        zel_linux_close(dir);
        EXPECT_EQ(0, zel_linux_unlink("/ms/g"));
        EXPECT_EQ(0, zel_linux_unlink("/ms/f"));
        EXPECT_EQ(0, zel_linux_unlink("/ms"));
        return 0;
    }));
}

TEST(LinuxFile, StatTellsWhatADescriptorIs) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/st/dir", 0));
        EXPECT_EQ(0, put("/st/file", "12345"));
        struct zel_linux_stat st;
        EXPECT_EQ(0, zel_linux_stat("/st/file", &st));
        EXPECT_EQ(ZEL_LINUX_S_IFREG | 0777u, st.st_mode);
        EXPECT_EQ(5, st.st_size);
        EXPECT_EQ(0u, st.st_nlink);
        EXPECT_EQ(ZEL_LINUX_S_IFDIR | 0777u, mode_of("/st/dir"));
        EXPECT_EQ(-1, zel_linux_stat("", &st));
        EXPECT_EQ(-1, zel_linux_stat("/st/none", &st));

        int fds[2];
        zel_linux_pipe(fds);
        EXPECT_EQ(0, zel_linux_fstat(fds[0], &st));
        EXPECT_EQ(ZEL_LINUX_S_IFIFO, st.st_mode);
        EXPECT_EQ(0, zel_linux_fstat(fds[1], &st));
        EXPECT_EQ(ZEL_LINUX_S_IFIFO, st.st_mode);
        EXPECT_EQ(0, st.st_size);
        // A socket's name in the tree.
        EXPECT_EQ(0, zel_linux_fs_bind_target(
                         "/st/sock", &st, nullptr, nullptr, nullptr, ZEL_FILE_SOCKET | ZEL_FILE_READABLE, 0));
        EXPECT_EQ(ZEL_LINUX_S_IFSOCK | 0777u, mode_of("/st/sock"));
        // A class registered as a socket class; other classes fail.
        EXPECT_EQ(-1, zel_linux_fstat(1, &st));
        int efd = zel_linux_eventfd_create(0, 0);
        EXPECT_EQ(-1, zel_linux_fstat(efd, &st));
        EXPECT_EQ(0, zel_linux_stat_register_class(&zel_linux_eventfd_op, ZEL_LINUX_S_IFSOCK));
        EXPECT_EQ(0, zel_linux_fstat(efd, &st));
        EXPECT_EQ(ZEL_LINUX_S_IFSOCK, st.st_mode);
        // A node bound to a class of its own opens as that class.
        EXPECT_EQ(0, zel_linux_fs_bind_target(
                         "/st/dev", nullptr, &zel_linux_eventfd_op, nullptr, nullptr, ZEL_FILE_READABLE, 0));
        int dev = zel_linux_open("/st/dev", 0);
        EXPECT_EQ(&zel_linux_eventfd_op, zel_linux_fd_get(dev)->op);
        EXPECT_EQ(-1, zel_linux_fd_get_attr(dev, nullptr));
        return 0;
    }));
}

TEST(LinuxFile, ReaddirCountsEntriesAndTellsTheirTypes) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/rd/empty", 0));
        zel_linux_fd *dir = zel_linux_opendir("/rd/empty");
        EXPECT_NE(nullptr, dir);
        EXPECT_EQ(nullptr, zel_linux_readdir(dir));
        EXPECT_EQ(0, zel_linux_closedir(dir));

        EXPECT_EQ(0, put("/rd/plain", "p"));
        EXPECT_EQ(0, zel_linux_test::install("/rd/tool", [](int, char **) { return 0; }));
        EXPECT_EQ(nullptr, zel_linux_opendir("/rd/plain"));
        dir = zel_linux_opendir("/rd");
        std::vector<std::string> names;
        std::vector<int> types;
        std::vector<unsigned> inos, offs;
        while (zel_linux_dirent *d = zel_linux_readdir(dir)) {
            names.push_back(d->d_name);
            types.push_back(d->d_type);
            inos.push_back(d->d_ino);
            offs.push_back(d->d_off);
            EXPECT_EQ(16, d->d_reclen);
        }
        EXPECT_EQ((std::vector<std::string>{"empty", "plain", "tool"}), names);
        EXPECT_EQ((std::vector<int>{ZEL_LINUX_DT_DIR, ZEL_LINUX_DT_REG, ZEL_LINUX_DT_EXEC}), types);
        EXPECT_EQ((std::vector<unsigned>{1, 2, 3}), inos);
        EXPECT_EQ((std::vector<unsigned>{0, 1, 2}), offs);
        EXPECT_EQ(0, zel_linux_closedir(dir));
        return 0;
    }));
}

TEST(LinuxFile, RenameReplacesClosedFilesOnly) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/rn", 0));
        EXPECT_EQ(0, put("/rn/a", "new"));
        EXPECT_EQ(0, put("/rn/b", "old"));
        EXPECT_EQ(0, zel_linux_rename_checked("/rn/a", "/rn/b"));
        EXPECT_EQ("new", get("/rn/b"));
        EXPECT_EQ("<missing>", get("/rn/a"));
        // Onto itself, however the target is spelled: nothing happens,
        // nothing is lost.
        EXPECT_EQ(0, zel_linux_rename("/rn/b", "/rn/b"));
        EXPECT_EQ("new", get("/rn/b"));
        EXPECT_EQ(0, put("/rn/dir/inner", "kept"));
        EXPECT_EQ(0, zel_linux_rename("/rn/dir", "/rn/dir/"));
        EXPECT_EQ(0, zel_linux_rename("/rn/dir/", "/rn/dir"));
        EXPECT_EQ(0, zel_linux_chdir(nullptr, "/rn"));
        EXPECT_EQ(0, zel_linux_rename("dir", "./dir//"));
        EXPECT_EQ(0, zel_linux_rename("b", "../rn/./b"));
        EXPECT_EQ(0, zel_linux_chdir(nullptr, "/"));
        EXPECT_EQ("kept", get("/rn/dir/inner"));
        EXPECT_EQ("new", get("/rn/b"));
        // An open source or target stays where it is.
        EXPECT_EQ(0, put("/rn/c", "c"));
        int fd = zel_linux_open("/rn/c", 0);
        EXPECT_EQ(-1, zel_linux_rename("/rn/c", "/rn/d"));
        EXPECT_EQ(-1, zel_linux_rename("/rn/b", "/rn/c"));
        zel_linux_close(fd);
        EXPECT_EQ("c", get("/rn/c"));
        EXPECT_EQ(-1, zel_linux_rename_checked("/", "/rn/e"));
        EXPECT_EQ(-1, zel_linux_rename("/rn/none", "/rn/e"));
        EXPECT_EQ(-1, zel_linux_rename("/rn/c", "/rn/nodir/e"));
        return 0;
    }));
}

TEST(LinuxFile, UnlinkRefusesOpenOrNonEmptyDirectories) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/ul/full/inner", 0));
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(-1, zel_linux_unlink("/ul/none"));
        EXPECT_EQ(ZEL_LINUX_ENOENT, *zel_linux_errno_ptr());
        EXPECT_EQ(-1, zel_linux_unlink("/ul/full"));
        EXPECT_EQ(ZEL_LINUX_S_IFDIR | 0777u, mode_of("/ul/full/inner"));
        zel_linux_fd *dir = zel_linux_opendir("/ul/full/inner");
        EXPECT_EQ(-1, zel_linux_remove("/ul/full/inner"));
        zel_linux_closedir(dir);
        EXPECT_EQ(0, zel_linux_remove("/ul/full/inner"));
        EXPECT_EQ(0, zel_linux_unlink("/ul/full"));
        EXPECT_EQ(0u, mode_of("/ul/full"));
        // A mask the node does not match refuses.
        EXPECT_EQ(0, put("/ul/f", "data"));
        EXPECT_EQ(-1, zel_linux_unlink_masked("/ul/f", ZEL_FILE_EXECUTABLE));
        // An open file goes from the tree; its descriptor still reads it.
        int fd = zel_linux_open("/ul/f", 0);
        EXPECT_EQ(0, zel_linux_unlink_masked("/ul/f", ZEL_FILE_READABLE));
        EXPECT_EQ("<missing>", get("/ul/f"));
        char buf[8] = {};
        EXPECT_EQ(4, zel_linux_read(fd, buf, sizeof buf));
        zel_linux_close(fd);
        return 0;
    }));
}

TEST(LinuxFile, AccessAndChdirLookAtTheAttributes) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, put("/ac/f", "x"));
        EXPECT_EQ(0, zel_linux_access("/ac/f", 0));
        EXPECT_EQ(0, zel_linux_access("/ac/f", ZEL_LINUX_R_OK | ZEL_LINUX_W_OK));
        EXPECT_EQ(-1, zel_linux_access("/ac/f", ZEL_LINUX_X_OK));
        EXPECT_EQ(0, zel_linux_access("/ac", ZEL_LINUX_X_OK));
        EXPECT_EQ(-1, zel_linux_access("/ac/none", 0));
        EXPECT_EQ(-1, zel_linux_chdir(nullptr, "/ac/f"));
        char cwd[32];
        EXPECT_STREQ("/", zel_linux_getcwd(cwd, sizeof cwd));
        EXPECT_EQ(0, zel_linux_chdir(nullptr, "/ac"));
        EXPECT_STREQ("/ac/", zel_linux_getcwd(cwd, sizeof cwd));
        EXPECT_EQ("x", get("f"));
        return 0;
    }));
}

TEST(LinuxBind, BufferNodesServeTheirBytes) {
    static char terminfo[1190];
    static char scratch[8] = "abcdefg";
    for (size_t i = 0; i < sizeof terminfo; ++i) terminfo[i] = static_cast<char>(i);
    EXPECT_EQ(0, run_process([] {
        // Missing directories are made.
        EXPECT_EQ(0, zel_linux_fs_bind_buffer("/bn/v/vt100", terminfo, ZEL_FILE_READABLE, sizeof terminfo));
        int fd = zel_linux_open("/bn/v/vt100", 0);
        char buf[512];
        std::vector<long> counts;
        for (long n = 1; n > 0;) counts.push_back(n = zel_linux_read(fd, buf, sizeof buf));
        EXPECT_EQ((std::vector<long>{512, 512, 166, 0}), counts);
        EXPECT_EQ(static_cast<char>(1189 % 256), buf[165]);
        // Read-only data is not written.
        EXPECT_EQ(0, zel_linux_lseek(fd, 0, ZEL_LINUX_SEEK_SET));
        EXPECT_EQ(-1, zel_linux_write(fd, "zz", 2));
        EXPECT_EQ(0, terminfo[0]);
        zel_linux_close(fd);

        EXPECT_EQ(0, zel_linux_fs_bind_buffer("/bn/scratch", scratch, ZEL_FILE_READABLE | ZEL_FILE_WRITABLE, 7));
        fd = zel_linux_open("/bn/scratch", ZEL_LINUX_O_RDWR);
        EXPECT_EQ(5, zel_linux_lseek(fd, 5, ZEL_LINUX_SEEK_SET));
        EXPECT_EQ(2, zel_linux_write(fd, "XYZ", 3));  // stays inside the buffer
        zel_linux_close(fd);
        EXPECT_STREQ("abcdeXY", scratch);

        // Binding again reuses the node.
        EXPECT_EQ(0, zel_linux_fs_bind_buffer("/bn/scratch", scratch, ZEL_FILE_READABLE, 3));
        zel_linux_fd *dir = zel_linux_opendir("/bn");
        int entries = 0;
        while (zel_linux_readdir(dir)) ++entries;
        zel_linux_closedir(dir);
        EXPECT_EQ(2, entries);
        EXPECT_EQ("abc", get("/bn/scratch"));

        void *target = nullptr;
        fd = zel_linux_open("/bn/scratch", 0);
        EXPECT_EQ(0, zel_linux_fs_get_target(fd, &target));
        EXPECT_EQ(static_cast<void *>(scratch), target);
        zel_linux_close(fd);
        fd = zel_linux_open("/bn", ZEL_LINUX_O_DIRECTORY);
        EXPECT_EQ(-1, zel_linux_fs_get_target(fd, &target));
        zel_linux_close(fd);
        EXPECT_EQ(0, zel_linux_socket_node_open("/bn/scratch", &target));
        EXPECT_EQ(-1, zel_linux_socket_node_open("/bn/none", &target));

        // A plain file is no executable.
        EXPECT_EQ(-1, zel_linux_is_executable("/bn/scratch", nullptr));
        return 0;
    }));
}

TEST(LinuxBind, FailingBindSaysSoOnStandardOutput) {
    zel_linux_test::boot();
    zel_linux_test::take_output();
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, put("/bf", "file"));
        EXPECT_EQ(-1, zel_linux_fs_bind_buffer("/bf/under", nullptr, 0, 0));
        EXPECT_EQ(-1, zel_linux_mount(nullptr, "/bf/none", nullptr, 0, nullptr));
        EXPECT_EQ(-1, zel_linux_mount(nullptr, "/", nullptr, 0, nullptr));
        return 0;
    }));
    EXPECT_EQ("fail to create /bf/under.\r\n", zel_linux_test::take_output());
}

// A block device whose partition table lists no FAT partition mounts
// nothing, and the call says so.
TEST(LinuxMount, ABlockDeviceWithoutAFatPartitionIsAFailure) {
    zel_linux_test::boot();
    EXPECT_EQ(0, run_process([] {
        std::string disk(64 * 512, '\0');
        disk[446 + 4] = static_cast<char>(0x83);  // one partition, not FAT
        disk[446 + 8] = 1;                        // from sector 1
        disk[446 + 12] = 63;                      // 63 sectors
        disk[510] = 0x55;
        disk[511] = static_cast<char>(0xAA);
        EXPECT_EQ(0, put("/disk.img", disk));
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/mnt/disk", 0));
        const int fd = zel_linux_open("/disk.img", ZEL_LINUX_O_RDWR);
        EXPECT_GE(fd, 0);
        static zel_file_mal_t dev;
        dev = {};
        dev.mal.drv = &zel_file_mal_drv;
        dev.file = zel_linux_fd_file(fd);
        dev.block_size = 512;
        const int32_t started = zel_mal_init(&dev.mal);
        EXPECT_EQ(0, started == 0 ? static_cast<int32_t>(zel_eda_get_return_code()) : started);
        EXPECT_EQ(-1, zel_linux_mount(nullptr, "/mnt/disk", nullptr, 0, &dev.mal));
        zel_linux_close(fd);
        return 0;
    }));
}

}  // namespace

namespace {

TEST(LinuxMount, HostFolderMountedIntoTheTreeServesTheCalls) {
    static char host_dir[] = "/tmp/zel_linux_mount_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(host_dir));
    static zel_winfs_info_t info;
    info = {};
    info.file.name = host_dir;
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/mnt/host", 0));
        EXPECT_EQ(-1, zel_linux_mount(nullptr, "/mnt/none", &zel_winfs_op, 0, &info.file));
        EXPECT_EQ(0, zel_linux_mount(nullptr, "/mnt/host", &zel_winfs_op, 0, &info.file));
        EXPECT_EQ(0, zel_linux_chdir(nullptr, "/mnt/host"));
        EXPECT_EQ(0, put("sub/a.txt", "on the host"));
        EXPECT_EQ("on the host", get("/mnt/host/sub/a.txt"));
        EXPECT_EQ(ZEL_LINUX_S_IFREG | 0777u, mode_of("sub/a.txt"));
        EXPECT_EQ(0, zel_linux_rename("sub/a.txt", "sub/b.txt"));
        EXPECT_EQ("on the host", get("sub/b.txt"));
        // A host directory renamed onto itself stays on the host.
        EXPECT_EQ(0, zel_linux_rename("sub", "sub/"));
        EXPECT_EQ(0, zel_linux_rename("sub", "./sub//"));
        EXPECT_EQ("on the host", get("sub/b.txt"));
        // Across file systems: refused, nothing moves.
        EXPECT_EQ(-1, zel_linux_rename("sub/b.txt", "/mnt/b.txt"));
        EXPECT_EQ("on the host", get("sub/b.txt"));
        zel_linux_fd *dir = zel_linux_opendir("sub");
        int entries = 0;
        while (zel_linux_dirent *d = zel_linux_readdir(dir)) {
            EXPECT_STREQ("b.txt", d->d_name);
            ++entries;
        }
        zel_linux_closedir(dir);
        EXPECT_EQ(1, entries);
        EXPECT_EQ(-1, zel_linux_unlink("sub"));
        EXPECT_EQ(0, zel_linux_unlink("sub/b.txt"));
        EXPECT_EQ(0, zel_linux_unlink("sub"));
        return 0;
    }));
    EXPECT_EQ(0, rmdir(host_dir));
}

}  // namespace
