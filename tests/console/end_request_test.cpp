// Ending the console in the middle of a copy onto a disk image: a signal
// lets the block under way finish, the copy stops with its failure line and
// the volume is left sound. A test hook of the copy makes "in the middle"
// certain: it marks a file after the first block and holds the copy until
// the end is requested.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk_image.h"

namespace {

std::string pattern(size_t n, char first) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>(first + i % 23);
    return s;
}

std::string read_host(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// zel-console started in `dir` with `input` on its standard input and its
// text in dir/.out; with a mark file, the copy's test hook is armed; with a
// file size limit (bytes), the console runs under it.
pid_t start_console(const std::string &dir, const std::string &input, const std::string &mark, rlim_t fsize = 0) {
    std::ofstream(dir + "/.input", std::ios::binary) << input;
    // Everything the child needs is made before fork.
    const std::string mark_var = "ZEL_TEST_END_MARK=" + mark;
    std::vector<char *> env;
    for (char **e = environ; *e; ++e) env.push_back(*e);
    if (!mark.empty()) env.push_back(const_cast<char *>(mark_var.c_str()));
    env.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int in = open(".input", O_RDONLY), out = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644),
              err = open(".trace", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (fsize) {
        const rlimit limit = {fsize, fsize};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    char *const argv[] = {const_cast<char *>(ZEL_CONSOLE), nullptr};
    execve(ZEL_CONSOLE, argv, env.data());
    _exit(127);
}

// Polls for `done` a bounded number of times (a hang becomes a failure).
template <typename F>
bool eventually(F done) {
    for (int i = 0; i < 60000; ++i) {
        if (done()) return true;
        usleep(1000);
    }
    return done();
}

// The console's wait status once it has ended; -1 when it did not end (it
// is killed then).
int wait_end(pid_t pid) {
    int status = -1;
    if (eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; })) return status;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

class EndRequest : public testing::Test {
protected:
    void SetUp() override {
        dir = disk_image::temp_dir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { disk_image::clean(dir); }
    std::string dir;
};

// SIGINT, SIGTERM and SIGHUP in the middle of a 2.5 MB copy onto an image.
TEST_F(EndRequest, ASignalStopsACopyBetweenBlocksAndLeavesTheVolumeSound) {
    const std::string big = pattern(2500000, 'A');
    std::ofstream(dir + "/big.bin", std::ios::binary) << big;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::string image = dir + "/e.img", mark = dir + "/.mark";
        std::filesystem::remove(mark);
        ASSERT_TRUE(disk_image::make(image, "TRELLOW", {{"f.bin", "old"}}));
        const pid_t pid = start_console(dir,
            "mkdir -p /mnt/x\n"
            "mount -b 512 /mnt/hostfs/e.img /mnt/x\n"
            "update -t /mnt/hostfs/big.bin /mnt/x/TRELLOW/f.bin\n"
            "echo not reached\n",
            mark);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(mark); })) << read_host(dir + "/.out");
        ASSERT_EQ(0, kill(pid, signal));
        const int status = wait_end(pid);
        const std::string out = read_host(dir + "/.out");
        ASSERT_TRUE(WIFEXITED(status)) << status << out;
        EXPECT_EQ(128 + signal, WEXITSTATUS(status)) << out;
        EXPECT_NE(std::string::npos,
            out.find("fail to update /mnt/hostfs/big.bin to /mnt/x/TRELLOW/f.bin\r\n"))
            << out;
        EXPECT_EQ(std::string::npos, out.find("update done")) << out;
        EXPECT_EQ(std::string::npos, out.find("not reached")) << out;
        EXPECT_TRUE(disk_image::fsck_clean(image));
        // The blocks before the stop are in the file, and its size says so.
        const std::string copied = disk_image::read_file(image, "f.bin");
        EXPECT_GE(copied.size(), 16384u);
        EXPECT_LT(copied.size(), big.size());
        EXPECT_EQ(big.substr(0, copied.size()), copied);
    }
}

// A copy that outgrows the file size limit fails as a write and the console
// goes on, instead of being killed by SIGXFSZ.
TEST_F(EndRequest, AWritePastTheFileSizeLimitFailsAndTheConsoleGoesOn) {
    std::ofstream(dir + "/big.bin", std::ios::binary) << pattern(600000, 'a');
    const pid_t pid = start_console(dir,
        "update -t /mnt/hostfs/big.bin /mnt/hostfs/out.bin\n"
        "echo still here\n",
        "", 300000);
    ASSERT_GT(pid, 0);
    const int status = wait_end(pid);
    const std::string out = read_host(dir + "/.out");
    ASSERT_TRUE(WIFEXITED(status)) << status << out;
    EXPECT_EQ(0, WEXITSTATUS(status)) << out;
    EXPECT_NE(std::string::npos, out.find("fail to write /mnt/hostfs/out.bin\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("fail to update /mnt/hostfs/big.bin to /mnt/hostfs/out.bin\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nstill here\r\n")) << out;
}

}  // namespace
