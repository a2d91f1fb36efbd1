// End to end through zel-console: a person's session at the console shell
// on a FAT disk image made by the host's tools, checked afterwards with
// fsck.fat and mtools.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "console_run.h"
#include "disk_image.h"

namespace {

using namespace console_run;

// Runs zel-console in `dir` with `input` on its standard input; answers the
// console's text (its standard output), its exit status through `status` and
// the trace (its standard error, which the host threads write to whenever
// they like) through `trace`.
// `env` goes before the program (VAR=value ...). The time limit turns a hang
// into status 124.
std::string run_console(const std::string &dir, const std::string &input, int *status, std::string *trace = nullptr,
    const std::string &env = "") {
    write_host(dir + "/.input", input);
    std::string command = "cd '" + dir + "' && " + env + " timeout 60 " ZEL_CONSOLE " < .input 2> .trace";
    FILE *p = popen(command.c_str(), "r");
    if (!p) return "";
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int raw = pclose(p);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (trace) *trace = read_host(dir + "/.trace");
    std::filesystem::remove(dir + "/.input");
    std::filesystem::remove(dir + "/.trace");
    return out;
}

// The sessions of the tests below, each one command line per line.
const char kDiskSession[] = "mkdir -p /mnt/x\n"
                            "mount -b 512 /mnt/hostfs/disk.img /mnt/x\n"
                            "ls /mnt/x\n"
                            "write \"/mnt/x/TRELLOW/PSN Config.txt\" \"PSNID : 1234 && PIN : 5678\"\n"
                            "update /mnt/hostfs/small.bin /mnt/x/TRELLOW/update.bin\n"
                            "update /mnt/hostfs/large.bin /mnt/x/TRELLOW/update.bin\n"
                            "update -t /mnt/hostfs/large.bin /mnt/x/TRELLOW/data.bin\n"
                            "update -t /mnt/hostfs/large.bin\n"
                            "access /mnt/x/TRELLOW/update.bin && echo present\n"
                            "access /mnt/x/TRELLOW/none.bin || echo absent\n"
                            "write /mnt/x/TRELLOW/none.bin text\n";
const char kMountTwiceSession[] = "mkdir -p /mnt/x\n"
                                  "mkdir -p /mnt/y\n"
                                  "mount -b 512 /mnt/hostfs/dm.img /mnt/x\n"
                                  "mount -b 512 /mnt/hostfs/dm.img /mnt/y\n"
                                  "update -t /mnt/hostfs/big.bin /mnt/x/TRELLOW/f.bin\n"
                                  "update -t /mnt/hostfs/small.bin /mnt/y/TRELLOW/g.bin\n";
const char kEchoSession[] = "echo one\r\necho two";
const char kPipelineSession[] = "cat /dev/zero | echo hi\n"
                                "cat /dev/urandom | cat /dev/null\n"
                                "echo still here\n";
// The shell's own commands, as the shell tests use them.
const char kShellSession[] = "cd /dev\n"
                             "pwd\n"
                             "cd /nowhere\n"
                             "export KEPT=yes\n"
                             "cd /mnt/hostfs\n"
                             "mkdir -p /tmp/a/b\n"
                             "mkdir /tmp/x/y\n"
                             "ls /none /tmp\n"
                             "ls /bin\n"
                             "cat /tmp/a/nofile\n"
                             "cat /usr/share/terminfo/v/vt100\n"
                             "time echo a b\n"
                             "echo abc | cat\n"
                             "echo x && echo y || echo z\n"
                             "nothing\n"
                             "echo in the background &\n"
                             "export\n"
                             "echo last\n";

class ZelConsole : public ConsoleFolder {};

TEST_F(ZelConsole, ScriptsTheShellOnADiskImage) {
    const std::string config = "PSNID\t: 0000000000000000\r\nPIN \t: 00000000\r\n" + std::string(200, ' ') + "\n";
    const std::string firmware = pattern(1000, 'A');
    const std::string script = pattern(500, 'a');
    ASSERT_TRUE(disk_image::make(
        dir + "/disk.img", "TRELLOW", {{"PSN Config.txt", config}, {"update.bin", firmware}, {"data.bin", script}}));
    const std::string small = pattern(100, '0');
    const std::string large = pattern(2000, 'K');
    write_host(dir + "/small.bin", small);
    write_host(dir + "/large.bin", large);

    int status = -1;
    std::string trace;
    std::string out = run_console(dir, kDiskSession, &status, &trace);
    EXPECT_EQ(0, status) << out;
    EXPECT_NE(std::string::npos, trace.find("start linux...\r\n")) << trace;
    EXPECT_EQ(std::string::npos, out.find("start linux")) << "the trace stays out of the console's text";
    EXPECT_NE(std::string::npos, out.find("\033[1;37mZEL Linux\r\npath: /bin\r\n>>>")) << out;
    EXPECT_NE(std::string::npos, out.find("\033[1;34mTRELLOW  \033[1;37m\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find(".\r\nupdate done\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("invalid update operation, src size: 2000, dst size: 1000\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("format: update [-t] SRC DST\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\r\npresent\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nabsent\r\n")) << out;
    // The end of the script is no fault: nothing says so.
    EXPECT_EQ(std::string::npos, out.find("is stdin disconnected")) << out;
    EXPECT_EQ(std::string::npos, trace.find("pthread_join")) << trace;

    // The volume is sound and holds what the session wrote.
    const std::string image = dir + "/disk.img";
    EXPECT_TRUE(disk_image::fsck_clean(image));
    const std::string text = "PSNID : 1234 && PIN : 5678";
    EXPECT_EQ(text + config.substr(text.size()), disk_image::read_file(image, "PSN Config.txt"));
    EXPECT_EQ(small + firmware.substr(small.size()), disk_image::read_file(image, "update.bin"));
    EXPECT_EQ(large, disk_image::read_file(image, "data.bin"));
    EXPECT_EQ("(missing)", disk_image::read_file(image, "none.bin"));
}

// The session that lost a write: one image mounted on two directories and
// copied to through each. The second mount is refused, so what went through
// the first is whole and the volume stays sound.
TEST_F(ZelConsole, MountsAnImageOnce) {
    const std::string f = pattern(1100, 'a'), g = pattern(1100, 'b'), big = pattern(300000, 'A');
    ASSERT_TRUE(disk_image::make(dir + "/dm.img", "TRELLOW", {{"f.bin", f}, {"g.bin", g}}));
    write_host(dir + "/big.bin", big);
    write_host(dir + "/small.bin", pattern(1100, 's'));

    int status = -1;
    std::string out = run_console(dir, kMountTwiceSession, &status);
    EXPECT_EQ(0, status) << out;
    EXPECT_NE(std::string::npos, out.find("fail to mount\r\n/mnt/hostfs/dm.img is already mounted\r\n")) << out;
    const std::string image = dir + "/dm.img";
    EXPECT_TRUE(disk_image::fsck_clean(image));
    EXPECT_EQ(big, disk_image::read_file(image, "f.bin"));
    EXPECT_EQ(g, disk_image::read_file(image, "g.bin"));
}

TEST_F(ZelConsole, EndsWhenTheInputEnds) {
    int status = -1;
    std::string trace;
    std::string out = run_console(dir, kEchoSession, &status, &trace);
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::string::npos, out.find("is stdin disconnected")) << out;
    EXPECT_EQ(std::string::npos, trace.find("pthread_join")) << trace;
    EXPECT_EQ(std::string::npos, trace.find("ZEL_USB")) << "no adapter asked for, none talked of: " << trace;
    EXPECT_NE(std::string::npos, out.find("\r\none\r\n>>>")) << out;
    EXPECT_NE(std::string::npos, out.find("\r\ntwo\r\n>>>")) << out;
    EXPECT_EQ(std::string::npos, out.find("\r\n\r\n>>>")) << "a CR LF line end is one Enter";

    // The last line runs in the background and still writes when the shell
    // waits again: the console ends after it, with nothing cut.
    write_host(dir + "/big.bin", pattern(4 << 20, 'A'));
    out = run_console(dir, "update -t /mnt/hostfs/big.bin /tmp/copy &\n", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, out.find(std::string(256, '.') + "\r\nupdate done\r\n"))
        << out.substr(out.size() > 300 ? out.size() - 300 : 0);
}

// A background command that never ends (curl waiting for the answer of a
// server that accepts and never answers) is left once the console has
// waited its while: it says so and ends with status 1, for the script's
// work was cut short.
TEST_F(ZelConsole, EndsWithAFailureWhenItLeavesABackgroundCommandRunning) {
    const int server = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address));
    ASSERT_EQ(0, listen(server, 4));
    ASSERT_EQ(0, getsockname(server, reinterpret_cast<sockaddr *>(&address), &length));
    int status = -1;
    std::string trace;
    const std::string out = run_console(dir,
        "curl http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/ &\necho started\n", &status, &trace);
    close(server);
    EXPECT_NE(std::string::npos, out.find("\r\nstarted\r\n")) << out;
    EXPECT_NE(std::string::npos, trace.find("zel-console: background commands still run after 30 s")) << trace;
    EXPECT_EQ(1, status) << trace;
}

// Pipelines whose last command ends before reading everything: the writers
// stop at their first failed write and the shell comes back to its prompt.
// run_console's time limit turns a hang into a failure.
TEST_F(ZelConsole, PipelinesIntoACommandThatEndsEarlyComeBackToThePrompt) {
    int status = -1;
    std::string out = run_console(dir, kPipelineSession, &status);
    EXPECT_EQ(0, status) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nhi\r\n>>>")) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nstill here\r\n>>>")) << out;
}

// A restart in a piped script replaces the console in place: the process
// its parent started goes on (the parent sees it end after the last line),
// and the new image runs the lines after "reset" from the same input.
TEST_F(ZelConsole, ARestartKeepsTheProcessAndTheRestOfAPipedScript) {
    const pid_t pid = start_console_piped(dir, "echo before\nreset\necho after one\necho after two\n");
    ASSERT_GT(pid, 0);
    const int status = wait_end(pid);
    const std::string out = read_host(dir + "/.out");
    ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << out;
    EXPECT_EQ(0, WEXITSTATUS(status)) << out;
    ASSERT_EQ(2u, count_of(out, "ZEL Linux\r\n")) << "one greeting per image\n" << out;
    const size_t second = out.rfind("ZEL Linux\r\n");
    EXPECT_LT(out.find("\r\nbefore\r\n>>>"), second) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nafter one\r\n>>>", second)) << out;
    EXPECT_NE(std::string::npos, out.find("\r\nafter two\r\n>>>", second)) << out;
}

// The same at a terminal, where "reset" and the line after it are typed in
// one go: the line waits in the terminal for the new image, round after
// round in one session.
TEST_F(ZelConsole, ARestartKeepsWhatIsTypedAfterItAtATerminal) {
    int terminal = -1;
    const pid_t pid = start_console_on_pty(dir, &terminal, false);
    ASSERT_GT(pid, 0);
    const std::string greeting = "ZEL Linux\r\n";
    std::string out;
    // Image `n` (from 1) has greeted and waits at its prompt (its terminal is raw by then).
    const auto at_prompt = [&](size_t n) {
        out = read_host(dir + "/.out");
        return count_of(out, greeting) == n && out.find(">>>", out.rfind(greeting)) != std::string::npos;
    };
    // The rounds stop at the first failure; the console is ended all the same.
    const auto rounds = [&] {
        for (size_t round = 1; round <= 5; ++round) {
            SCOPED_TRACE(round);
            ASSERT_TRUE(eventually([&] { return at_prompt(round); })) << out;
            const std::string said = "typed " + std::to_string(round);
            const std::string typed = "reset\recho " + said + "\r";
            ASSERT_EQ(static_cast<ssize_t>(typed.size()), write(terminal, typed.data(), typed.size()));
            ASSERT_TRUE(eventually([&] {
                return at_prompt(round + 1) &&
                       out.find("\r\n" + said + "\r\n>>>", out.rfind(greeting)) != std::string::npos;
            })) << out;
        }
    };
    rounds();
    // The terminal goes away: the input ends, and so does the console.
    close(terminal);
    const int status = wait_end(pid);
    ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << out;
    EXPECT_EQ(0, WEXITSTATUS(status)) << out;
}

// Every session again with one host heap allocation in fifty refused: a
// command may fail and say so, but each one ends and the shell comes back
// for the next line, and the console ends with its input (the time limit
// would turn a wait that outlives the shortage into status 124).
TEST_F(ZelConsole, EverySessionEndsUnderAHeapThatRefusesOneAllocationInFifty) {
    ASSERT_TRUE(disk_image::make(dir + "/disk.img", "TRELLOW",
        {{"PSN Config.txt", std::string(220, ' ')}, {"update.bin", pattern(1000, 'A')},
            {"data.bin", pattern(500, 'a')}}));
    ASSERT_TRUE(disk_image::make(dir + "/dm.img", "TRELLOW", {{"f.bin", pattern(1100, 'a')}, {"g.bin", "g"}}));
    write_host(dir + "/small.bin", pattern(100, '0'));
    write_host(dir + "/large.bin", pattern(2000, 'K'));
    write_host(dir + "/big.bin", pattern(300000, 'A'));
    struct Session {
        const char *name;
        const char *input;
    };
    const Session sessions[] = {{"disk", kDiskSession}, {"mount twice", kMountTwiceSession}, {"echo", kEchoSession},
        {"pipelines", kPipelineSession}, {"shell", kShellSession}};
    int ran = 0;
    for (const Session &s : sessions) {
        SCOPED_TRACE(s.name);
        int status = -1;
        std::string trace;
        const std::string out = run_console(dir, s.input, &status, &trace, "ZEL_CONSOLE_HEAP_FAIL_EVERY=50");
        EXPECT_EQ(0, status) << "the console did not end by itself\n" << out;
        // A prompt for every line, and one after the last.
        const std::string input = s.input;
        const size_t lines = count_of(input, "\n") + (input.back() == '\n' ? 0 : 1);
        EXPECT_GE(count_of(out, ">>>"), lines + 1) << out;
        ran++;
    }
    EXPECT_EQ(5, ran);
}

}  // namespace
