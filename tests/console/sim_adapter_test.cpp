// The simulated adapter as a person uses it: an image made by
// scripts/make_sim_image, and zel-console started with ZEL_USB=sim and
// ZEL_USB_SIM_DISK, which finds and mounts the adapter at start and again
// after a restart.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "disk_image.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kBound{60};

// zel-console with its console text on a pipe and its trace (standard
// error) in a file, in a process group of its own, which the end kills
// whole (a restart goes on in the same process).
class Console {
public:
    // `unpluggable`: unplug() pulls the adapter out.
    bool start(const std::string &dir, const std::string &image, bool unpluggable = false) {
        trace_path_ = dir + "/.trace";
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return false;
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            setpgid(0, 0);
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            const int trace = open(trace_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
            if (trace < 0 || dup2(trace, STDERR_FILENO) < 0) _exit(125);
            close(in[1]);
            close(out[0]);
            if (chdir(dir.c_str()) != 0) _exit(126);
            setenv("ZEL_USB", "sim", 1);
            image.empty() ? unsetenv("ZEL_USB_SIM_DISK") : setenv("ZEL_USB_SIM_DISK", image.c_str(), 1);
            unpluggable ? setenv("ZEL_CONSOLE_UNPLUG_ON_USR1", "1", 1) : unsetenv("ZEL_CONSOLE_UNPLUG_ON_USR1");
            execl(ZEL_CONSOLE, ZEL_CONSOLE, static_cast<char *>(nullptr));
            _exit(127);
        }
        setpgid(pid_, pid_);
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        return true;
    }

    void unplug() {
        if (kill(pid_, SIGUSR1) != 0) ADD_FAILURE() << "unplug";
    }

    void send(const std::string &line) {
        const std::string text = line + "\r";
        if (write(in_, text.data(), text.size()) != (ssize_t)text.size()) ADD_FAILURE() << "console input";
    }

    // Reads until `needle` appears at or after `from`; false at the bound or
    // at the end of the output.
    bool wait_for(const std::string &needle, size_t from, Clock::time_point until) {
        while (output.find(needle, from) == std::string::npos) {
            if (Clock::now() > until || !read_some(until)) return false;
        }
        return true;
    }

    // Waits until the trace holds `needle`; false at the bound.
    bool wait_for_trace(const std::string &needle, Clock::time_point until) {
        while (trace().find(needle) == std::string::npos) {
            if (Clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    std::string trace() const {
        std::ifstream in(trace_path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Runs `command` until its output holds `needle` (the adapter may come a
    // moment after the prompt).
    bool repeat_until(const std::string &command, const std::string &needle, Clock::time_point until) {
        while (Clock::now() < until) {
            const size_t from = output.size();
            send(command);
            if (!wait_for("\r\n>>>", from + command.size(), until)) return false;
            if (output.find(needle, from) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    // Ends the input and reads to the end of the output; kills what is left
    // at the bound. True when everything ended by itself.
    bool finish(Clock::time_point until) {
        close(in_);
        while (read_some(until)) {}
        const bool ended = Clock::now() <= until;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        close(out_);
        return ended;
    }

    ~Console() {
        if (pid_ > 0) kill(-pid_, SIGKILL);
    }

    std::string output;

private:
    bool read_some(Clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, (int)left) <= 0) return false;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return false;
        output.append(buf, (size_t)n);
        return true;
    }

    std::string trace_path_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
};

TEST(SimulatedAdapter, IsFoundAtStartAndAfterARestart) {
    const std::string dir = disk_image::temp_dir();
    ASSERT_FALSE(dir.empty());
    const std::string image = dir + "/adapter.img";
    ASSERT_TRUE(disk_image::run("bash '" ZEL_SOURCE_DIR "/scripts/make_sim_image' '" + image + "'"));
    EXPECT_EQ("Version:1.0.0\r\n", disk_image::read_file(image, "version.txt"));
    for (const char *name : {"PSN Config.txt", "Wifi Config.txt", "update.bin", "data.bin"})
        EXPECT_NE("(missing)", disk_image::read_file(image, name)) << name;

    Console console;
    ASSERT_TRUE(console.start(dir, image));
    const Clock::time_point until = Clock::now() + kBound;
    EXPECT_TRUE(console.repeat_until("ls /scsi", "TRELLOW  ", until)) << console.output;
    size_t from = console.output.size();
    console.send("cat \"/scsi/TRELLOW/PSN Config.txt\"");
    EXPECT_TRUE(console.wait_for("PSNID\t: AAAAAAAAAAA=\r\nPIN \t: 00000000\r\n", from, until)) << console.output;

    // A restart (as after a driver installation) plugs it again: the new
    // instance's console greets anew.
    from = console.output.size();
    console.send("reset");
    EXPECT_TRUE(console.wait_for("ZEL Linux\r\npath: /bin\r\n>>>", from, until)) << console.output;
    EXPECT_TRUE(console.repeat_until("ls /scsi", "TRELLOW  ", until)) << console.output;
    from = console.output.size();
    console.send("cat /scsi/TRELLOW/version.txt");
    EXPECT_TRUE(console.wait_for("Version:1.0.0", from, until)) << console.output;
    EXPECT_TRUE(console.finish(until)) << console.output;
    const std::string trace = console.trace();
    EXPECT_NE(std::string::npos, trace.find("msc: vidABCD pid0000 interface0")) << trace;
    EXPECT_TRUE(disk_image::fsck_clean(image));
    disk_image::clean(dir);
}

// The 2,000,000 bytes a background copy takes, written to dir/big.bin.
std::string copy_source(const std::string &dir) {
    std::string source;
    for (size_t i = 0; i < 2000000; ++i) source += static_cast<char>('A' + i % 23);
    std::ofstream(dir + "/big.bin", std::ios::binary) << source;
    return source;
}

// A restart while a copy onto the adapter's volume runs in the background,
// round after round: the copy stops between two blocks and closes its file
// before the new image starts, so the volume is sound (its FAT copies
// equal) and the destination is whole, untouched, or as long as the line
// that names it left incomplete says, with the source's bytes.
TEST(SimulatedAdapter, ARestartDuringABackgroundCopyLeavesTheVolumeSound) {
    const std::string dir = disk_image::temp_dir();
    ASSERT_FALSE(dir.empty());
    const std::string image = dir + "/adapter.img", source = copy_source(dir);
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(disk_image::run("bash '" ZEL_SOURCE_DIR "/scripts/make_sim_image' '" + image + "'"));
        const std::string before = disk_image::read_file(image, "data.bin");
        Console console;
        ASSERT_TRUE(console.start(dir, image));
        const Clock::time_point until = Clock::now() + kBound;
        size_t from = console.output.size();
        console.send("update -t /mnt/hostfs/big.bin /scsi/TRELLOW/data.bin &");
        // Later each round: at once, then once more of the copy's blocks
        // are on the volume (one dot each).
        const std::string dots(static_cast<size_t>(round) * 15, '.');
        EXPECT_TRUE(console.wait_for(dots, from, until)) << console.output;
        from = console.output.size();
        console.send("reset");
        EXPECT_TRUE(console.wait_for("ZEL Linux\r\npath: /bin\r\n>>>", from, until)) << console.output;
        EXPECT_TRUE(console.finish(until)) << console.output;
        EXPECT_TRUE(disk_image::fsck_clean(image));
        const std::string after = disk_image::read_file(image, "data.bin"), trace = console.trace();
        if (after == source || after == before) continue;
        EXPECT_NE(std::string::npos,
            trace.find("trellow: ended in the middle of a copy: /scsi/TRELLOW/data.bin is left incomplete (" +
                       std::to_string(after.size()) + " of 2000000 bytes copied)\n"))
            << after.size() << " bytes\n"
            << trace;
        EXPECT_EQ(source.substr(0, after.size()), after);
    }
    disk_image::clean(dir);
}

// The adapter pulled out while a copy onto its volume runs in the
// background, round after round at a later block: the restart its removal
// brings does not cut the copy. The copy fails at the block the gone
// adapter refuses ("fail to write"), or stops before its next one (the line
// on the host's standard error), names its destination either way and
// ends before the program starts anew, which then finds the adapter plugged
// again. What the image holds is not looked at: the adapter went away in
// the middle of a write.
TEST(SimulatedAdapter, AnUnplugDuringABackgroundCopyNamesTheFileBeforeTheRestart) {
    const std::string dir = disk_image::temp_dir();
    ASSERT_FALSE(dir.empty());
    const std::string image = dir + "/adapter.img", source = copy_source(dir);
    const std::string dst = "/scsi/TRELLOW/data.bin";
    constexpr int kRounds = 6;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(disk_image::run("bash '" ZEL_SOURCE_DIR "/scripts/make_sim_image' '" + image + "'"));
        Console console;
        ASSERT_TRUE(console.start(dir, image, true));
        const Clock::time_point until = Clock::now() + kBound;
        // The copy's text begins after its echoed line (which has dots of
        // its own).
        const std::string line = "update -t /mnt/hostfs/big.bin " + dst + " &";
        console.send(line);
        ASSERT_TRUE(console.wait_for(line + "\r\n", 0, until)) << console.output;
        const size_t copy_from = console.output.find(line + "\r\n") + line.size() + 2;
        // After the first block, then after 15 more each round (of 123).
        const std::string dots(1 + static_cast<size_t>(round) * 15, '.');
        EXPECT_TRUE(console.wait_for(dots, copy_from, until)) << console.output;
        const size_t from = console.output.size();
        console.unplug();
        EXPECT_TRUE(console.wait_for("ZEL Linux\r\npath: /bin\r\n>>>", from, until)) << console.output;
        const size_t greeting = console.output.find("ZEL Linux\r\npath: /bin\r\n>>>", from);
        const std::string copy_text = console.output.substr(copy_from, greeting - copy_from);
        // A copy that was done before the adapter went has nothing to name.
        if (copy_text.find("update done") == std::string::npos) {
            EXPECT_NE(std::string::npos, copy_text.find("fail to update /mnt/hostfs/big.bin to " + dst + "\r\n"))
                << copy_text;
            const bool named = copy_text.find("fail to write " + dst + "\r\n") != std::string::npos ||
                               console.trace().find("trellow: ended in the middle of a copy: " + dst +
                                                    " is left incomplete (") != std::string::npos;
            EXPECT_TRUE(named) << copy_text << "\n" << console.trace();
        }
        EXPECT_TRUE(console.repeat_until("ls /scsi", "TRELLOW  ", until)) << console.output;
        EXPECT_TRUE(console.finish(until)) << console.output;
    }
    disk_image::clean(dir);
}

size_t count(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// A script's first line already finds the adapter's files: the console reads
// it once the volume is mounted.
TEST(SimulatedAdapter, AScriptsFirstLineFindsTheVolume) {
    const std::string dir = disk_image::temp_dir();
    ASSERT_FALSE(dir.empty());
    const std::string image = dir + "/adapter.img";
    ASSERT_TRUE(disk_image::run("bash '" ZEL_SOURCE_DIR "/scripts/make_sim_image' '" + image + "'"));
    Console console;
    ASSERT_TRUE(console.start(dir, image));
    const Clock::time_point until = Clock::now() + kBound;
    console.send("ls /scsi/TRELLOW");
    EXPECT_TRUE(console.finish(until)) << console.output;
    EXPECT_EQ(std::string::npos, console.output.find("not exists")) << console.output;
    EXPECT_NE(std::string::npos, console.output.find("version.txt")) << console.output;
    EXPECT_EQ(std::string::npos, console.trace().find("is not mounted after")) << console.trace();
    disk_image::clean(dir);
}

TEST(SimulatedAdapter, ZelUsbSimWithoutADiskIsSaidOnce) {
    const std::string dir = disk_image::temp_dir();
    ASSERT_FALSE(dir.empty());
    Console console;
    ASSERT_TRUE(console.start(dir, ""));
    const Clock::time_point until = Clock::now() + kBound;
    console.send("echo up");
    EXPECT_TRUE(console.finish(until)) << console.output;
    EXPECT_NE(std::string::npos, console.output.find("\r\nup\r\n")) << console.output;
    EXPECT_EQ(1u, count(console.trace(), "ZEL_USB=sim but ZEL_USB_SIM_DISK names no disk image")) << console.trace();
    disk_image::clean(dir);
}

TEST(SimulatedAdapter, ImageThatCannotBeUsedIsSaid) {
    const std::string dir = disk_image::temp_dir();
    ASSERT_FALSE(dir.empty());
    Console console;
    ASSERT_TRUE(console.start(dir, dir + "/none.img"));
    const Clock::time_point until = Clock::now() + kBound;
    EXPECT_TRUE(console.wait_for_trace("ZEL_USB_SIM_DISK: cannot use \"" + dir + "/none.img\"", until))
        << console.trace();
    EXPECT_TRUE(console.finish(until)) << console.output;
    disk_image::clean(dir);
}

}  // namespace
