// Claims on host files: a claimed file is opened by everyone else for
// reading only (and they learn why), nobody claims a file that another open
// may write, and closing a handle gives its claim back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "zel_host_file.h"

namespace {

struct Opened {
    zel_host_handle_t handle;
    bool writable;
};

Opened open_file(const std::string &path) {
    Opened o{ZEL_HOST_HANDLE_NONE, true};
    uint64_t size = 0;
    o.handle = zel_host_file_open(path.c_str(), &o.writable, &size);
    return o;
}

TEST(HostFileClaim, AClaimedFileIsOpenedForReadingOnlyElsewhere) {
    char dir[] = "/tmp/zel_claim_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string path = std::string(dir) + "/image";
    std::ofstream(path) << "bytes";

    Opened owner = open_file(path);
    ASSERT_NE(ZEL_HOST_HANDLE_NONE, owner.handle);
    ASSERT_TRUE(owner.writable);
    Opened writer = open_file(path);
    ASSERT_TRUE(writer.writable);
    // Another open may write it: no claim.
    EXPECT_EQ(ZEL_HOST_EBUSY, zel_host_file_claim(owner.handle));
    zel_host_file_close(writer.handle);
    ASSERT_EQ(0, zel_host_file_claim(owner.handle));

    Opened other = open_file(path);
    ASSERT_NE(ZEL_HOST_HANDLE_NONE, other.handle) << "still readable";
    EXPECT_FALSE(other.writable);
    EXPECT_EQ(EBUSY, zel_host_file_error());
    EXPECT_EQ(ZEL_HOST_EBUSY, zel_host_file_claim(other.handle));
    char byte = 0;
    EXPECT_EQ(1, zel_host_file_read(other.handle, &byte, 1, 0));
    EXPECT_GT(0, zel_host_file_write(other.handle, &byte, 1, 0));
    zel_host_file_close(other.handle);

    // The claim goes with its handle.
    zel_host_file_close(owner.handle);
    Opened after = open_file(path);
    EXPECT_TRUE(after.writable);
    EXPECT_EQ(0, zel_host_file_claim(after.handle));
    zel_host_file_close(after.handle);

    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
