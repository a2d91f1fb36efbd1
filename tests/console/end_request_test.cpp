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
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "console_run.h"
#include "disk_image.h"

namespace {

using namespace console_run;

class EndRequest : public ConsoleFolder {};

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
        EXPECT_NE(std::string::npos, out.find("fail to update /mnt/hostfs/big.bin to /mnt/x/TRELLOW/f.bin\r\n")) << out;
        EXPECT_EQ(std::string::npos, out.find("update done")) << out;
        EXPECT_EQ(std::string::npos, out.find("not reached")) << out;
        EXPECT_TRUE(disk_image::fsck_clean(image));
        // The blocks before the stop are in the file, and its size says so.
        const std::string copied = disk_image::read_file(image, "f.bin");
        EXPECT_GE(copied.size(), 16384u);
        EXPECT_LT(copied.size(), big.size());
        EXPECT_EQ(big.substr(0, copied.size()), copied);
        // The program says which file it leaves incomplete.
        const std::string said = read_host(dir + "/.trace");
        EXPECT_NE(std::string::npos,
            said.find("trellow: ended in the middle of a copy: /mnt/x/TRELLOW/f.bin is left incomplete (" +
                      std::to_string(copied.size()) + " of 2500000 bytes copied)\n"))
            << said;
    }
}

// SIGINT sent as a restart begins, round after round at moments spread over
// it: the end requested before the new image starts ends the program with
// the signal's status, and one that comes later stays pending for the new
// image, which ends with it. The program never carries on: the line after
// "reset" never runs and the input's end (which ends a script with 0) is
// never what ends it.
TEST_F(EndRequest, ASignalAsARestartBeginsEndsTheProgramEveryRound) {
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        std::filesystem::remove(dir + "/.out");  // the last round's
        int writer = -1;
        const pid_t pid = start_console_piped(dir, "echo ready\n", &writer);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(eventually([&] { return read_host(dir + "/.out").find("\r\nready\r\n>>>") != std::string::npos; }))
            << read_host(dir + "/.out");
        const std::string rest = "reset\necho carried on\n";
        ASSERT_EQ((ssize_t)rest.size(), write(writer, rest.data(), rest.size()));
        // From at once to a few milliseconds on: before, during and after
        // the exec.
        if (round % 8 != 0) usleep(static_cast<useconds_t>((round % 8) * 400));
        ASSERT_EQ(0, kill(pid, SIGINT));
        close(writer);
        const int status = wait_end(pid);
        const std::string out = read_host(dir + "/.out");
        ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << out;
        EXPECT_EQ(128 + SIGINT, WEXITSTATUS(status)) << out;
        EXPECT_EQ(std::string::npos, out.find("carried on")) << out;
    }
}

// The same typed at a terminal: Ctrl-C right after "reset" and Enter. The
// program ends with the signal's status every round and gives the terminal
// back as it found it (echo and lines on), whichever image the signal finds.
TEST_F(EndRequest, CtrlCTypedAsARestartBeginsEndsTheProgramAndGivesTheTerminalBack) {
    constexpr int kRounds = 24;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        int master = -1;
        const pid_t pid = start_console_on_pty(dir, &master);
        ASSERT_GT(pid, 0);
        std::string out;
        // What the console wrote so far; the terminal is read as it writes,
        // so that it never waits for room.
        const auto drain = [&] {
            pollfd p{master, POLLIN, 0};
            char buffer[4096];
            for (ssize_t n; poll(&p, 1, 0) > 0 && (n = read(master, buffer, sizeof buffer)) > 0;)
                out.append(buffer, static_cast<size_t>(n));
        };
        const auto greetings = [&] { return count_of(out, "ZEL Linux"); };
        ASSERT_TRUE(eventually([&] { return drain(), greetings() == 1; })) << out;
        ASSERT_EQ(6, write(master, "reset\r", 6));
        if (round % 8 != 0) usleep(static_cast<useconds_t>((round % 8) * 400));
        ASSERT_EQ(1, write(master, "\x03", 1));
        // The end, or a new image that greets and runs a line typed at its
        // prompt: it carried on.
        int status = -1;
        bool typed = false;
        const bool ended = eventually([&] {
            drain();
            if (waitpid(pid, &status, WNOHANG) == pid) return true;
            if (greetings() == 2 && !typed) typed = write(master, "echo carried on\r", 16) == 16;
            return out.find("\ncarried on") != std::string::npos;
        });
        termios after = {};
        const bool read_mode = tcgetattr(master, &after) == 0;
        close(master);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        ASSERT_TRUE(ended && WIFEXITED(status)) << status << "\n" << out;
        EXPECT_EQ(128 + SIGINT, WEXITSTATUS(status)) << out;
        ASSERT_TRUE(read_mode);
        EXPECT_EQ(static_cast<tcflag_t>(ECHO | ICANON), after.c_lflag & (ECHO | ICANON)) << "left raw\n" << out;
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

// An exit called on a host thread other than the first, as Xlib calls it
// on the window's thread when its display fails, while the host-USB
// notification thread and the others run: the program ends with that
// status, never with an abort from a static object's destructor. Rounds,
// for the exit meets the other threads wherever they are.
TEST_F(EndRequest, AnExitOnAnotherHostThreadEndsWithItsStatus) {
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        const int status = wait_end(start_console(dir, "echo not reached\n", "", 0, {"ZEL_CONSOLE_EXIT_AT_PROMPT=1"}));
        const std::string said = read_host(dir + "/.trace");
        ASSERT_TRUE(WIFEXITED(status)) << status << said;
        EXPECT_EQ(1, WEXITSTATUS(status)) << said;
        EXPECT_EQ(std::string::npos, said.find("terminate called")) << said;
        EXPECT_EQ(std::string::npos, read_host(dir + "/.out").find("not reached"));
    }
}

}  // namespace
