// Failing calls say why: every -1 comes with the errno Linux gives for the
// same misuse.
#include <gtest/gtest.h>

#include <stdint.h>

#include <utility>

#include "zel_linux_file.h"
#include "zel_linux_stream_fd.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;

namespace {

int err() { return std::exchange(*zel_linux_errno_ptr(), 0); }

TEST(LinuxErrno, MisusedCallsSayWhy) {
    EXPECT_EQ(0, run_process([]() -> int {
        err();
        // The wrong end of a pipe.
        int fds[2];
        EXPECT_EQ(0, zel_linux_pipe(fds));
        char byte = 'x';
        EXPECT_EQ(-1, zel_linux_write(fds[0], &byte, 1));
        EXPECT_EQ(9, err()) << "EBADF";
        EXPECT_EQ(-1, zel_linux_read(fds[1], &byte, 1));
        EXPECT_EQ(9, err());
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);

        EXPECT_EQ(0, zel_linux_mkdir_by_open("/en/dir/sub", 0));
        const int f = zel_linux_open("/en/f", ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
        EXPECT_GE(f, 0);
        zel_linux_close(f);
        err();

        // A file named as a directory.
        EXPECT_EQ(-1, zel_linux_rename("/en/f", "/en/f/"));
        EXPECT_EQ(20, err()) << "ENOTDIR";
        EXPECT_EQ(-1, zel_linux_rename("/en/f/", "/en/g"));
        EXPECT_EQ(20, err());
        struct zel_linux_stat st;
        EXPECT_EQ(0, zel_linux_stat("/en/f", &st)) << "the file stays";

        // A directory into itself.
        EXPECT_EQ(-1, zel_linux_rename("/en/dir", "/en/dir/sub/moved"));
        EXPECT_EQ(22, err()) << "EINVAL";
        EXPECT_EQ(0, zel_linux_stat("/en/dir/sub", &st));

        // A missing parent.
        EXPECT_EQ(-1, zel_linux_mkdir("/en/none/new", 0));
        EXPECT_EQ(2, err()) << "ENOENT";

        // F_DUPFD with a number no int holds.
        const int d = zel_linux_open("/en/f", 0);
        EXPECT_GE(d, 0);
        EXPECT_EQ(-1, zel_linux_fcntl(d, ZEL_LINUX_F_DUPFD, (uintptr_t)1 << 32 | 5u));
        EXPECT_EQ(22, err());
        EXPECT_EQ(-1, zel_linux_fcntl(d, ZEL_LINUX_F_DUPFD, (uintptr_t)INT32_MAX + 1));
        EXPECT_EQ(22, err());
        zel_linux_close(d);
        return 0;
    }));
}

}  // namespace
