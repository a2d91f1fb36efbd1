// The console shell and the line executor, in the init process as the
// application boots it.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <cctype>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "shell_harness.h"
#include "zel_host_test_hooks.h"
#include "zel_linux_libc.h"
#include "zel_host_test_hooks.h"
#include "zel_shell.h"

namespace {

std::atomic<int> g_marks;
std::atomic<long> g_gen_written;
std::atomic<int> g_gen_errno;

// Commands for the tests, installed once.
void install_test_commands() {
    static bool done = false;
    if (done) return;
    done = true;
    shell::install("t_fail", [](int, char **) { return 3; });
    shell::install("t_mark", [](int, char **) {
        ++g_marks;
        return 0;
    });
    shell::install("t_env", [](int argc, char **argv) {
        const char *v = argc > 1 ? zel_linux_getenv(argv[1]) : nullptr;
        zel_linux_printf("%s\r\n", v ? v : "(unset)");
        return 0;
    });
    shell::install("t_args", [](int argc, char **argv) {
        for (int i = 0; i < argc; ++i) zel_linux_printf("[%s]", argv[i]);
        zel_linux_printf("\r\n");
        return argc;
    });
    // Writes 1 KiB blocks until a write fails (or 64 MiB are out).
    shell::install("t_gen", [](int, char **) {
        static const std::string block(1024, 'g');
        g_gen_written = 0;
        g_gen_errno = 0;
        while (g_gen_written < 64L * 1024 * 1024) {
            long n = zel_linux_write(1, block.data(), block.size());
            if (n < 0) {
                g_gen_errno = *zel_linux_errno_ptr();
                return 1;
            }
            g_gen_written += n;
        }
        return 0;
    });
    // Sleeps 50 ms and ends without reading.
    shell::install("t_nap", [](int, char **) {
        zel_thread_delay(zel_systimer_ms_to_tick(50));
        return 0;
    });
    // A filter: standard input to standard output, upper case.
    shell::install("t_upper", [](int, char **) {
        char buf[64];
        for (long n; (n = zel_linux_read(0, buf, sizeof buf)) > 0;) {
            for (long i = 0; i < n; ++i) buf[i] = static_cast<char>(toupper(static_cast<unsigned char>(buf[i])));
            zel_linux_write(1, buf, static_cast<size_t>(n));
        }
        return 0;
    });
}

shell::Console &ready() {
    shell::Console &c = shell::console();
    install_test_commands();
    return c;
}

int system_status(const std::string &line) {
    return shell::in_process([&] { return zel_linux_system(line.c_str()); });
}

TEST(ShellInit, RunsTheScriptThenTheConsoleShell) {
    const std::string &boot = shell::boot_output();
    EXPECT_NE(std::string::npos, boot.find("/bin/init installed.\r\n"));
    EXPECT_NE(std::string::npos, boot.find("/dev/urandom bound.\r\n"));
    EXPECT_NE(std::string::npos,
        boot.find("execute init script: echo \"zel build on Jul 11 2022\"\r\nzel build on Jul 11 2022\r\n"));
    EXPECT_NE(std::string::npos, boot.find("execute init script: lvgl &\r\n"));
    size_t banner = boot.find("\033[1;37mZEL Linux\r\npath: /bin\r\n>>>");
    ASSERT_NE(std::string::npos, banner);
    EXPECT_EQ(boot.size(), banner + 33) << "the prompt ends the output";
    shell::Console &c = ready();
    EXPECT_EQ("/mnt/hostfs/\r\n", c.run("pwd"));
    EXPECT_EQ("vt100\r\n", c.run("t_env TERM"));
    EXPECT_EQ("/bin\r\n", c.run("t_env PATH"));
    EXPECT_NE(std::string::npos, c.run("export").find("GIT_SSL_NO_VERIFY=\r\n"));
}

TEST(ShellExecutor, ChainsStopTheWholeLineWhenAPartDecidesIt) {
    ready();
    g_marks = 0;
    EXPECT_EQ(0x300, system_status("t_fail && t_mark || t_mark"));
    EXPECT_EQ(0, g_marks);
    EXPECT_EQ(0, system_status("t_mark || t_mark && t_mark"));
    EXPECT_EQ(1, g_marks);
    EXPECT_EQ(0, system_status("t_fail || t_mark && t_mark"));
    EXPECT_EQ(3, g_marks);
    EXPECT_EQ(0x300, system_status("t_mark && t_fail"));
    EXPECT_EQ(4, g_marks);
    EXPECT_EQ(-1, system_status("t_nothing || t_mark"));
    EXPECT_EQ(4, g_marks);
    EXPECT_EQ(-1, shell::in_process([] { return zel_linux_system(nullptr); }));
    EXPECT_EQ("t_nothing not found\r\n", shell::console().take());
}

TEST(ShellExecutor, ExpandsVariablesOutsideSingleQuotes) {
    shell::Console &c = ready();
    EXPECT_EQ("", c.run("export X=hello"));
    EXPECT_EQ(
        "[t_args][hello world][$X][hello_1][.][a\"b c]\r\n", c.run("t_args \"$X world\" '$X' ${X}_1 $UNSET. 'a\"b c'"));
    EXPECT_EQ("fail to parse argument $\r\nfail to execute echo $\r\n", c.run("echo $"));
    EXPECT_EQ("fail to parse argument ${X\r\nfail to execute echo ${X\r\n", c.run("echo ${X"));
    EXPECT_EQ("[t_args][a && b][x|y][c||d]\r\n", c.run("t_args \"a && b\" 'x|y' c\"||\"d"));
}

// A name has no length limit: a long one expands like any other.
TEST(ShellExecutor, ExpandsNamesOfAnyLength) {
    shell::Console &c = ready();
    const std::string name(300, 'N');
    EXPECT_EQ("[t_args][<>]\r\n", c.run("t_args <$" + name + ">"));
    EXPECT_EQ("", c.run("export " + name + "=long"));
    EXPECT_EQ("[t_args][<long>]\r\n", c.run("t_args <$" + name + ">"));
    EXPECT_EQ("[t_args][<long>]\r\n", c.run("t_args <${" + name + "}>"));
    EXPECT_EQ("[t_args][<>]\r\n", c.run("t_args <$" + name + "M>")) << "a longer name is another name";
    char buf[8];
    const std::string text = "$" + name + "!";
    EXPECT_EQ(1, shell::in_process([&] { return zel_shell_expand_vars(text.c_str(), buf, sizeof buf); }));
    EXPECT_EQ(5, shell::in_process([&] {
        zel_linux_setenv(name.c_str(), "long", 1);
        return zel_shell_expand_vars(text.c_str(), buf, sizeof buf);
    }));
    EXPECT_STREQ("long!", buf);
    EXPECT_EQ("", c.run("export " + name)) << "empty again";
}

TEST(ShellExecutor, AssignmentsReachOnlyTheCommand) {
    shell::Console &c = ready();
    EXPECT_EQ("7\r\n", c.run("Y=7 t_env Y"));
    EXPECT_EQ("x y\r\n", c.run("Y=\"x y\" t_env Y"));
    EXPECT_EQ("(unset)\r\n", c.run("t_env Y"));
}

TEST(ShellExecutor, PipesCommandsTogether) {
    shell::Console &c = ready();
    EXPECT_EQ("ABC\r\n", c.run("echo abc | t_upper"));
    EXPECT_EQ("X Y\r\n", c.run("echo x y | t_upper | t_upper | t_upper"));
    EXPECT_EQ(0x300, system_status("echo a | t_fail"));
}

// A writer into a pipe waits once the pipe is full: the command that reads
// (or not) runs, its timer fires, and when it ends the writer's next write
// fails with EPIPE at once instead of writing on.
TEST(ShellExecutor, AWriterFasterThanItsReaderWaitsAndStopsWhenTheReaderEnds) {
    shell::Console &c = ready();
    EXPECT_EQ("", c.run("t_gen | t_nap"));
    EXPECT_EQ(32, g_gen_errno.load());
    EXPECT_LT(g_gen_written.load(), 1024L * 1024);
    c.run("cat /dev/zero | t_nap");
    EXPECT_EQ("ok\r\n", c.run("echo ok"));
}

// A built-in whose reader has gone stops at its first failed write and says
// so by its status, however much it had left to write.
TEST(ShellBuiltins, StopAtTheFirstFailedWrite) {
    ready();
    struct Case {
        zel_shell_main_t main;
        std::vector<const char *> args;
    };
    static const Case cases[] = {
        {cat_main, {"cat", "/dev/zero"}}, {cat_main, {"cat", "/dev/urandom"}}, {echo_main, {"echo", "a", "b"}},
        {ls_main, {"ls", "/", "/bin"}}, {export_main, {"export"}},
        {sh_main, {"sh"}},  // would read the console for ever
        {pwd_main, {"pwd"}}, {clear_main, {"clear"}},
        {time_main, {"time", "mkdir", "-p", "/run"}},  // the command itself writes nothing
    };
    for (const Case &k : cases) {
        static const Case *current;
        current = &k;
        int status = shell::in_process([] {
            int fds[2];
            IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
            zel_linux_close(fds[0]);
            *zel_linux_errno_ptr() = 0;
            IN_LAYER_CHECK(zel_linux_write(fds[1], "x", 1) == -1 && *zel_linux_errno_ptr() == ZEL_LINUX_EPIPE);
            // Standard output is the pipe while the built-in runs.
            int console = zel_linux_fcntl(1, ZEL_LINUX_F_DUPFD, 60);
            zel_linux_close(1);
            IN_LAYER_CHECK(zel_linux_fcntl(fds[1], ZEL_LINUX_F_DUPFD, 1) == 1);
            zel_linux_close(fds[1]);
            std::vector<char *> argv;
            for (const char *a : current->args) argv.push_back(const_cast<char *>(a));
            argv.push_back(nullptr);
            int r = current->main(static_cast<int>(current->args.size()), argv.data());
            zel_linux_close(1);
            zel_linux_fcntl(console, ZEL_LINUX_F_DUPFD, 1);
            zel_linux_close(console);
            return r != 0 ? 0 : 1;
        });
        EXPECT_EQ(0, status) << k.args[0] << " " << (k.args.size() > 1 ? k.args[1] : "");
    }
    shell::console().take();
}

TEST(ShellExecutor, RefusesFiveCommandPipelinesBeforeMakingAnything) {
    shell::Console &c = ready();
    c.run("echo warm | t_upper");
    uint32_t blocks = shell::kernel_blocks();
    g_marks = 0;
    int status = shell::in_process([] {
        int before = 0;
        for (int fd = 0; fd < 256; ++fd) before += zel_linux_fd_to_file(fd) != nullptr;
        int r = zel_linux_system("t_mark | t_mark | t_mark | t_mark | t_mark");
        int after = 0;
        for (int fd = 0; fd < 256; ++fd) after += zel_linux_fd_to_file(fd) != nullptr;
        return r == -1 && before == after ? 0 : 1;
    });
    EXPECT_EQ(0, status);
    EXPECT_EQ(0, g_marks);
    EXPECT_EQ(blocks, shell::kernel_blocks());
    EXPECT_NE(std::string::npos, c.take().find("too many commands in a pipeline"));
    EXPECT_EQ("[t_args][a|b|c|d|e]\r\n", c.run("t_args 'a|b|c|d|e'"));
}

// Every host thread creation of a line, made to fail in turn: the shell
// says the line failed and comes back to its prompt; the commands that did
// start end (their pipe peers went away) and nothing is left behind.
TEST(ShellExecutor, ACommandThatGetsNoThreadFailsTheLineAndNothingHangs) {
    zel_test::TraceCapture trace;  // the kernel traces each refusal
    shell::Console &c = ready();
    const uint32_t blocks = shell::kernel_blocks();
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"echo START", "START\r\n"},
        {"echo abc | t_upper", "ABC\r\n"},
        {"t_mark && echo a b | t_upper | t_upper", "A B\r\n"},
        {"t_mark | t_mark &", ""},
    };
    for (const auto &[line, output] : lines) {
        const uint32_t before = zel_host_thread_creation_count();
        EXPECT_EQ(output, c.run(line)) << line;
        const uint32_t creations = zel_host_thread_creation_count() - before;
        EXPECT_GE(creations, 1u) << line;
        for (uint32_t n = 0; n < creations; ++n) {
            zel_host_fail_thread_creation_after(n);
            const std::string out = c.run(line);
            EXPECT_FALSE(zel_host_thread_failure_armed()) << line << ": creation " << n;
            zel_host_fail_thread_creation_after(-1);
            EXPECT_NE(std::string::npos, out.find("fail to execute " + line + "\r\n"))
                << line << ": creation " << n << " gave " << out;
            EXPECT_EQ("ok\r\n", c.run("echo ok")) << line << ": creation " << n;
        }
    }
    // Background commands may still be ending.
    for (int i = 0; i < 20000 && shell::kernel_blocks() != blocks; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(blocks, shell::kernel_blocks());
}

TEST(ShellExecutor, BackgroundLinesReturnAtOnce) {
    ready();
    g_marks = 0;
    EXPECT_EQ(0, system_status("t_mark &  "));
    EXPECT_TRUE(zel_test::wait_until([] { return g_marks == 1; }));
    EXPECT_EQ(0x300, system_status("t_fail && t_mark &")) << "only the last part runs in the background";
}

TEST(ShellBuiltins, CdAndExportLastForLaterLines) {
    shell::Console &c = ready();
    EXPECT_EQ("", c.run("cd /dev"));
    EXPECT_EQ("/dev/\r\n", c.run("pwd"));
    // A command that fails makes its line fail.
    EXPECT_EQ("/nowhere not exists\r\nfail to execute cd /nowhere\r\n", c.run("cd /nowhere"));
    EXPECT_EQ("format: cd directory_name\r\nfail to execute cd\r\n", c.run("cd"));
    EXPECT_EQ("/dev/\r\n", c.run("pwd"));
    EXPECT_EQ("", c.run("export KEPT"));
    EXPECT_EQ("\r\n", c.run("t_env KEPT"));
    EXPECT_EQ("", c.run("cd /mnt/hostfs"));
}

TEST(ShellBuiltins, ListMakeAndShowFiles) {
    shell::Console &c = ready();
    EXPECT_EQ("", c.run("mkdir -p /tmp/a/b"));
    EXPECT_EQ("fail to create directory /tmp/x/y\r\nfail to execute mkdir /tmp/x/y\r\n", c.run("mkdir /tmp/x/y"));
    EXPECT_EQ("unknown option: -q\r\nfail to execute mkdir -q /tmp/c\r\n", c.run("mkdir -q /tmp/c"));
    EXPECT_EQ("format: mkdir [-p] directory_name\r\nfail to execute mkdir\r\n", c.run("mkdir"));
    EXPECT_EQ("/none:\r\n/none not exists\r\n/tmp:\r\n\033[1;34ma  \033[1;37m\r\n", c.run("ls /none /tmp"));
    EXPECT_EQ("/none not exists\r\nfail to execute ls /none\r\n", c.run("ls /none"));
    EXPECT_NE(std::string::npos, c.run("ls /bin").find("\033[1;32mecho  "));
    EXPECT_EQ("/tmp/a/nofile not found\r\nfail to execute cat /tmp/a/nofile\r\n", c.run("cat /tmp/a/nofile"));
    std::string vt100 = c.run("cat /usr/share/terminfo/v/vt100");
    EXPECT_EQ(1190u + 2u, vt100.size());
    EXPECT_EQ("\r\n", c.run("echo"));
    EXPECT_EQ("\033[2J\033[H", c.run("clear"));
    std::string timed = c.run("time echo a b");
    EXPECT_EQ(0u, timed.find("a b\r\necho take ")) << timed;
    EXPECT_EQ("command nothing not found\r\nfail to execute time nothing\r\n", c.run("time nothing"));
    EXPECT_EQ("nothing not found\r\nfail to execute nothing\r\n", c.run("nothing"));
}

TEST(ShellConsole, EchoesAndEditsWhatIsTyped) {
    shell::Console &c = ready();
    c.type("ecx\x7fho hi\r");
    EXPECT_EQ("ecx\b \bho hi\r\nhi\r\n>>>", c.until(">>>"));
    c.type("\b\becho ok\r");  // nothing to erase: the line stays empty
    EXPECT_EQ("\b \b\b \becho ok\r\nok\r\n>>>", c.until(">>>"));
}

std::string erase(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "\b \b";
    return s;
}

TEST(ShellConsole, BrowsesTheLastTenLines) {
    shell::Console &c = ready();
    for (int i = 0; i < 11; ++i) c.run("echo line" + std::to_string(i));
    c.type("\033[A");
    EXPECT_EQ("echo line10", c.until("echo line10"));
    c.type("\033[A");
    EXPECT_EQ(erase(11) + "echo line9", c.until("echo line9"));
    c.type("\033[B\r");
    EXPECT_EQ(erase(10) + "echo line10\r\nline10\r\n>>>", c.until(">>>"));
    // Ten lines are kept: line1 went when line10 ran again, so ten steps up
    // reach line2.
    for (int i = 0; i < 10; ++i) c.type("\033[A");
    c.type("\r");
    std::string out = c.until(">>>");
    EXPECT_NE(std::string::npos, out.find("echo line2\r\nline2\r\n>>>")) << out;
    EXPECT_EQ(std::string::npos, out.find("line1\r")) << out;
    EXPECT_EQ(std::string::npos, out.find("line0")) << out;
    c.type("\033[C\033OA\033[1;5A\r");  // other sequences are dropped
    EXPECT_EQ("\r\n>>>", c.until(">>>"));
}

TEST(ShellConsole, DropsAnOverlongLineAndKeepsRunning) {
    shell::Console &c = ready();
    std::string line(600, 'x');
    c.type(line + "\r");
    std::string out = c.until(">>>");
    EXPECT_NE(std::string::npos, out.find("line longer than 511 characters dropped\r\n>>>"));
    EXPECT_EQ("alive\r\n", c.run("echo alive"));
    std::string exact = "echo " + std::string(506, 'y');
    EXPECT_EQ(std::string(506, 'y') + "\r\n", c.run(exact));
}

TEST(ShellSh, RunsOneLineWithMinusC) {
    ready();
    // sh answers t_fail's status word, which becomes its own exit status.
    EXPECT_EQ(0x30000, system_status("sh -c t_fail"));
    EXPECT_EQ(0, system_status("sh -c \"echo a && t_mark\""));
    std::string long_line(512, 'e');
    EXPECT_EQ(static_cast<int>(static_cast<unsigned>(-12) << 8), system_status("sh -c " + long_line));
}

}  // namespace

namespace {

std::string short_dir() {
    static const std::string dir = [] {
        char path[] = "/tmp/zel_short_XXXXXX";
        std::string made = mkdtemp(path) ? path : "";
        if (!made.empty()) std::ofstream(made + "/f") << "data";
        return made;
    }();
    return dir;
}

}  // namespace

// Short of descriptors, ls and cat say so instead of showing an empty
// folder or calling an existing file missing, and a line that cannot be
// started says why.
TEST(ShellBuiltins, SayWhenTheSystemIsShortOfDescriptors) {
    shell::Console &c = ready();
    const std::string dir = short_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ("", c.run("mkdir -p /mnt/short"));
    EXPECT_EQ("", c.run("mount -t winfs " + dir + " /mnt/short"));
    zel_host_fail_file_opens(1000, EMFILE);
    const std::string ls = c.run("ls /mnt/short");
    const std::string cat = c.run("cat /mnt/short/f");
    zel_host_fail_file_opens(0, 0);
    EXPECT_EQ("/mnt/short: too many open files\r\nfail to execute ls /mnt/short\r\n", ls);
    EXPECT_EQ("/mnt/short/f: too many open files\r\nfail to execute cat /mnt/short/f\r\n", cat);
    EXPECT_EQ("\033[1;37mf  \033[1;37m\r\n", c.run("ls /mnt/short"));
    EXPECT_EQ("data\r\n", c.run("cat /mnt/short/f"));

    // A line that cannot be started for want of descriptors: the executor
    // fails with errno EMFILE, which the shell turns into its reason line.
    shell::expect_ok([] {
        int opened = 0;
        while (zel_linux_open("/", 0) >= 0) ++opened;
        IN_LAYER_CHECK(opened > 0 && *zel_linux_errno_ptr() == ZEL_LINUX_EMFILE);
        *zel_linux_errno_ptr() = 0;
        char line[] = "echo abc | t_upper";
        IN_LAYER_CHECK(zel_shell_execute(line) < 0);
        IN_LAYER_CHECK(std::string("too many open files") == zel_shell_shortage(*zel_linux_errno_ptr()));
        // The lookup of a command that exists cannot open it: no "not found".
        *zel_linux_errno_ptr() = 0;
        char simple[] = "echo abc";
        IN_LAYER_CHECK(zel_shell_execute(simple) < 0);
        IN_LAYER_CHECK(*zel_linux_errno_ptr() == ZEL_LINUX_EMFILE);
        // time looks its command up in the same process.
        char time[] = "time", echo[] = "echo";
        char *argv[] = {time, echo, nullptr};
        IN_LAYER_CHECK(time_main(2, argv) == -1);
        return 0;
    });
    EXPECT_EQ("echo: too many open files\r\n", c.take()) << "the executor says nothing: the shell says why";
    EXPECT_EQ("ABC\r\n", c.run("echo abc | t_upper"));
}

// Each allocation of a simple command's preparation refused in turn: the
// line runs, or fails with the shortage in errno (which the shell says
// after "fail to execute"); a command that exists is never called missing.
TEST(ShellExecutor, AShortOfMemoryLineSaysWhyAndNeverCallsACommandMissing) {
    zel_test::TraceCapture trace;  // the kernel traces refusals
    shell::Console &c = ready();
    c.take();
    static int swept, failed;
    static std::string silent;
    swept = failed = 0;
    silent.clear();
    shell::expect_ok([] {
        for (int64_t n = 0; n < 5000; ++n) {
            bool all_ran = true;
            for (const char *text : {"echo abc", "echo abc | t_upper"}) {
                char line[32];
                strcpy(line, text);
                *zel_linux_errno_ptr() = 0;
                zel_host_fail_heap_allocation_after(n);
                const int r = zel_shell_execute(line);
                const int error = *zel_linux_errno_ptr();
                const bool met = !zel_host_heap_failure_armed();
                zel_host_fail_heap_allocation_after(-1);
                if (!met) continue;  // the whole line ran before the refusal
                all_ran = false;
                ++swept;
                // -1: the line could not be prepared or started (a command
                // that fails itself gives its status word).
                if (r != -1) continue;
                ++failed;
                if (!zel_shell_shortage(error))
                    silent += std::string(text) + ", allocation " + std::to_string(n) + ": errno " +
                              std::to_string(error) + "\n";
            }
            if (all_ran) break;
        }
        return 0;
    });
    const std::string out = c.take();
    EXPECT_GT(swept, 0);
    EXPECT_LT(swept, 2 * 5000) << "the lines never got past the refusals";
    EXPECT_GT(failed, 0);
    EXPECT_EQ("", silent) << "lines that failed without a reason";
    EXPECT_EQ(std::string::npos, out.find("not found")) << out;
    EXPECT_EQ("abc\r\n", c.run("echo abc"));
    // The interactive shell refused its line editor (its first allocation):
    // it says why before it ends.
    shell::expect_ok([] {
        char name[] = "sh";
        char *argv[] = {name, nullptr};
        zel_host_fail_heap_allocation_after(0);
        const int r = sh_main(1, argv);
        const bool met = !zel_host_heap_failure_armed();
        zel_host_fail_heap_allocation_after(-1);
        return r == -1 && met ? 0 : 1;
    });
    EXPECT_EQ("sh: not enough memory\r\n", c.take());
}
