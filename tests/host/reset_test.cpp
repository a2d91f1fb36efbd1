// Program restart in place: the process becomes a new instance of its
// executable, with its arguments, and its parent sees the new image end.
//
// Each case starts this test binary as a child with kChildArg and two more
// arguments; the child sets up what a restart must keep or give back and
// restarts from a thread of its own, as the product does from a framework
// thread. The new image (the same binary, told by the environment) writes
// what it found to a report and ends with kReportedStatus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "zel_host.h"
#include "zel_host_end.h"

extern char **environ;

namespace {

const char *kChildArg = "--restart-child";
// unset, "fail", "ended", "pending", "held" or "held_ended", then "restarted"
const char *kStageVar = "ZEL_RESET_TEST_STAGE";
const char *kReportVar = "ZEL_RESET_TEST_REPORT";  // the new image's report
const char *kMarkVar = "ZEL_RESET_TEST_MARK";      // set before the restart
constexpr int kReportedStatus = 7;

std::string read_all(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

const char *disposition(int signal) {
    struct sigaction now;
    if (sigaction(signal, nullptr, &now) != 0) return "unknown";
    return now.sa_handler == SIG_IGN ? "ignored" : now.sa_handler == SIG_DFL ? "default" : "handled";
}

// ---- the child ----

// The new image: what it was started with and what it inherited.
int report(int argc, char **argv) {
    std::ostringstream out;  // written once the descriptors are counted
    out << "pid=" << getpid() << "\n";
    for (int i = 0; i < argc; ++i) out << "arg=[" << argv[i] << "]\n";
    out << "cwd=" << std::filesystem::current_path().string() << "\n";
    const char *mark = std::getenv(kMarkVar);
    out << "mark=" << (mark ? mark : "") << "\n";
    int open_fds = 0;
    for (auto &fd : std::filesystem::directory_iterator("/proc/self/fd"))
        if (std::atoi(fd.path().filename().c_str()) > 2) open_fds++;
    out << "fds_above_2=" << open_fds - 1 << "\n";  // minus the listing's own
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    out << "usr1_blocked=" << sigismember(&mask, SIGUSR1) << "\n";
    sigset_t pending;
    sigpending(&pending);
    out << "int_blocked=" << sigismember(&mask, SIGINT) << " int_pending=" << sigismember(&pending, SIGINT) << "\n";
    out << "usr2=" << disposition(SIGUSR2) << "\n";
    out << "hup=" << disposition(SIGHUP) << "\n";
    out << "done\n";
    std::ofstream(std::getenv(kReportVar)) << out.str();
    std::printf("new image\n");
    return kReportedStatus;
}

void on_signal(int) {}
void restart_hook() { std::printf("restart hook\n"); }  // left in stdio's buffer
// A signal after the restart's decision: it stays pending for the new image.
void signalling_restart_hook() {
    kill(getpid(), SIGINT);
    restart_hook();
}
void exit_hook(int code) { std::fprintf(stderr, "exit hook %d\n", code); }

// The first image: a descriptor, a signal state and a folder of its own,
// then the restart from another thread with a signal blocked there.
int child(int argc, char **argv) {
    const char *stage = std::getenv(kStageVar);
    if (stage && std::strcmp(stage, "restarted") == 0) return report(argc, argv);
    if (open("/proc/self/exe", O_RDONLY) < 0) return 101;  // not close-on-exec
    if (chdir(std::filesystem::path(std::getenv(kReportVar)).parent_path().c_str()) != 0) return 102;
    signal(SIGUSR2, SIG_IGN);
    signal(SIGHUP, on_signal);  // ignored by the starter: ignored again after
    setenv(kMarkVar, "kept", 1);
    const bool ended = stage && std::strcmp(stage, "ended") == 0, pending = stage && std::strcmp(stage, "pending") == 0;
    const bool held_ended = stage && std::strcmp(stage, "held_ended") == 0,
               held = held_ended || (stage && std::strcmp(stage, "held") == 0);
    if (stage && std::strcmp(stage, "fail") == 0) {
        // One string beyond what exec takes: the new image cannot start.
        setenv("ZEL_RESET_TEST_TOO_LONG", std::string(256 * 1024, 'x').c_str(), 1);
    } else {
        setenv(kStageVar, "restarted", 1);
    }
    zel_host_set_exit_hook(exit_hook);
    zel_host_set_restart_hook(pending ? signalling_restart_hook : restart_hook);
    if (ended || pending) {
        if (zel_host_end_watch_signals() != 0) return 104;
    }
    if (ended) {
        // Held off (so that the watcher leaves it to the restart): the end
        // requested before the restart.
        zel_host_end_hold();
        zel_host_end_request(5);
    }
    if (held) {
        // A restart asked for while held waits for the last release, which
        // restarts the program, on its thread, unless an end was asked for
        // meanwhile.
        zel_host_end_hold();
        zel_host_end_hold();
        zel_host_end_restart();
        std::fprintf(stderr, "restart waits\n");
        if (held_ended) zel_host_end_request(5);
        zel_host_end_release();
        std::fprintf(stderr, "one hold left\n");
    }
    std::thread([held] {
        sigset_t usr1;
        sigemptyset(&usr1);
        sigaddset(&usr1, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
        if (held)
            zel_host_end_release();
        else
            zel_host_reset();
    }).join();
    return 103;  // not reached
}

// ---- the test side ----

struct ChildRun {
    pid_t pid = -1;
    int status = -1;  // the wait status; -1 when it did not end in time
    std::string report, out, err;
};

// Starts the child with the environment's stage, and waits (bounded) for
// the process it started to end.
ChildRun run_child(const std::string &dir, const char *stage) {
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string report_path = dir + "/report.txt", out_path = dir + "/out.txt", err_path = dir + "/err.txt";
    std::vector<std::string> env_text = {std::string(kReportVar) + "=" + report_path};
    if (stage) env_text.push_back(std::string(kStageVar) + "=" + stage);
    std::vector<char *> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "ZEL_RESET_TEST_", 15) != 0) env.push_back(*e);
    for (std::string &e : env_text) env.push_back(e.data());
    env.push_back(nullptr);
    std::string arg_words = "two words", arg_empty;
    char *const argv[] = {
        const_cast<char *>(exe.c_str()), const_cast<char *>(kChildArg), arg_words.data(), arg_empty.data(), nullptr};

    ChildRun run;
    run.pid = fork();
    if (run.pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        close(out);
        close(err);
        signal(SIGHUP, SIG_IGN);
        execve(exe.c_str(), argv, env.data());
        _exit(127);
    }
    for (int i = 0; i < 60000; ++i) {
        int status = 0;
        if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
            run.status = status;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (run.status == -1) {
        kill(run.pid, SIGKILL);
        waitpid(run.pid, nullptr, 0);
    }
    run.report = read_all(report_path);
    run.out = read_all(out_path);
    run.err = read_all(err_path);
    return run;
}

std::string temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zel_reset_XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

TEST(Reset, TheSameProcessGoesOnAsANewImageWithItsArguments) {
    const std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    const ChildRun run = run_child(dir, nullptr);
    ASSERT_NE(-1, run.status) << "the restarted program did not end";
    // The parent waited on the process it started and saw the new image end.
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status << "\n" << run.err;
    EXPECT_EQ(kReportedStatus, WEXITSTATUS(run.status)) << run.err;
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(
        "pid=" + std::to_string(run.pid) + "\narg=[" + exe + "]\narg=[" + kChildArg +
            "]\narg=[two words]\narg=[]\ncwd=" + std::filesystem::canonical(dir).string() +
            "\nmark=kept\nfds_above_2=0\nusr1_blocked=0\nint_blocked=0 int_pending=0\nusr2=default\nhup=ignored\ndone\n",
        run.report);
    // The hook ran and its buffered output came out before the new image's;
    // the exit hook did not run: nothing ended.
    EXPECT_EQ("restart hook\nnew image\n", run.out);
    EXPECT_EQ("", run.err);
    std::filesystem::remove_all(dir);
}

// An end requested before the restart ends the program with its code, and
// no new image starts; an end signal sent after the restart's decision
// reaches the new image pending and blocked, for its own watcher to take.
TEST(Reset, AnEndBeforeTheRestartEndsTheProgramAndASignalAfterItIsTheNewImages) {
    const std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    const ChildRun ended = run_child(dir, "ended");
    ASSERT_NE(-1, ended.status) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(ended.status)) << ended.status << "\n" << ended.err;
    EXPECT_EQ(5, WEXITSTATUS(ended.status)) << ended.err;
    EXPECT_EQ("", ended.report);
    EXPECT_EQ("", ended.out) << "the restart hook ran";
    EXPECT_EQ("exit hook 5\n", ended.err);

    const ChildRun pending = run_child(dir, "pending");
    ASSERT_NE(-1, pending.status) << "the restarted program did not end";
    ASSERT_TRUE(WIFEXITED(pending.status)) << pending.status << "\n" << pending.err;
    EXPECT_EQ(kReportedStatus, WEXITSTATUS(pending.status)) << pending.err;
    EXPECT_NE(std::string::npos, pending.report.find("\nint_blocked=1 int_pending=1\n")) << pending.report;
    EXPECT_EQ("restart hook\nnew image\n", pending.out);
    std::filesystem::remove_all(dir);
}

// A restart asked for while the end is held off comes at the last release,
// on the releasing thread, as the product's copy releases; an end asked for
// meanwhile ends the program there instead.
TEST(Reset, ARestartWhileHeldComesAtTheLastReleaseUnlessAnEndIsAskedForMeanwhile) {
    const std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    const ChildRun held = run_child(dir, "held");
    ASSERT_NE(-1, held.status) << "the restarted program did not end";
    ASSERT_TRUE(WIFEXITED(held.status)) << held.status << "\n" << held.err;
    EXPECT_EQ(kReportedStatus, WEXITSTATUS(held.status)) << held.err;
    EXPECT_NE(std::string::npos, held.report.find("\nusr1_blocked=0\n")) << held.report;
    EXPECT_EQ("restart hook\nnew image\n", held.out);
    EXPECT_EQ("restart waits\none hold left\n", held.err);

    std::filesystem::remove(dir + "/report.txt");
    const ChildRun ended = run_child(dir, "held_ended");
    ASSERT_NE(-1, ended.status) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(ended.status)) << ended.status << "\n" << ended.err;
    EXPECT_EQ(5, WEXITSTATUS(ended.status)) << ended.err;
    EXPECT_EQ("", ended.report);
    EXPECT_EQ("", ended.out) << "the restart hook ran";
    EXPECT_EQ("restart waits\none hold left\nexit hook 5\n", ended.err);
    std::filesystem::remove_all(dir);
}

TEST(Reset, ANewImageThatCannotStartEndsTheProgramWithAFailure) {
    const std::string dir = temp_dir();
    ASSERT_FALSE(dir.empty());
    const ChildRun run = run_child(dir, "fail");
    ASSERT_NE(-1, run.status) << "the program did not end";
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status << "\n" << run.err;
    EXPECT_EQ(1, WEXITSTATUS(run.status));
    EXPECT_EQ("", run.report);
    EXPECT_EQ("restart hook\n", run.out);
    EXPECT_NE(std::string::npos,
        run.err.find("restart: cannot start the program anew: " + std::string(std::strerror(E2BIG)) + "\n"))
        << run.err;
    EXPECT_NE(std::string::npos, run.err.find("exit hook 1\n")) << run.err;
    std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], kChildArg) == 0) return child(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
