// Program restart: a new instance of the executable, then exit code 0.
//
// The new instance is this test binary started without arguments; the
// environment variable below tells it to report what it got and stop.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "zel_host.h"

namespace {

const char *kReportVar = "ZEL_RESET_TEST_REPORT";
const char *kMarkVar = "ZEL_RESET_TEST_MARK";

// Runs in the restarted instance: argv, working directory, environment and
// the descriptors above 2 that are still open.
int report(const char *path, int argc, char **argv) {
    int open_fds = 0;
    for (auto &fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        int n = std::atoi(fd.path().filename().c_str());
        if (n > 2) open_fds++;
    }
    std::ofstream out(path);
    out << "argc=" << argc << "\n";
    out << "argv0=" << (argc > 0 ? argv[0] : "") << "\n";
    out << "cwd=" << std::filesystem::current_path().string() << "\n";
    const char *mark = std::getenv(kMarkVar);
    out << "mark=" << (mark ? mark : "") << "\n";
    out << "fds_above_2=" << open_fds - 1 << "\n";  // minus the directory listing's own
    out << "done\n";
    return 0;
}

std::string read_all(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void noisy_exit(int code) { fprintf(stderr, "exit hook %d\n", code); }

TEST(ResetDeathTest, StartsTheExecutableAnewAndExitsWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The death-test child runs this body again: it must find the same folder.
    static std::string folder;
    if (folder.empty()) {
        const char *given = std::getenv(kReportVar);
        folder = given
                     ? std::filesystem::path(given).parent_path().string()
                     : (std::filesystem::temp_directory_path() /
                           ("zel_reset_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                           .string();
    }
    std::filesystem::path dir = folder;
    std::filesystem::create_directories(dir);
    std::string report_path = (dir / "report.txt").string();
    if (!std::getenv(kReportVar)) std::filesystem::remove(report_path);
    setenv(kReportVar, report_path.c_str(), 1);
    setenv(kMarkVar, "kept", 1);
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();

    EXPECT_EXIT(
        {
            // an extra descriptor that the new instance must not inherit
            std::ofstream held((dir / "held.txt").string());
            std::filesystem::current_path(dir);
            zel_host_set_exit_hook(noisy_exit);
            zel_host_reset();
        },
        ::testing::ExitedWithCode(0), "exit hook 0");

    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text = read_all(report_path);
        if (text.find("done") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    unsetenv(kReportVar);
    EXPECT_NE(std::string::npos, text.find("argc=1\n")) << text;
    EXPECT_NE(std::string::npos, text.find("argv0=" + exe + "\n"));
    EXPECT_NE(std::string::npos, text.find("cwd=" + std::filesystem::canonical(dir).string() + "\n"));
    EXPECT_NE(std::string::npos, text.find("mark=kept\n"));
    EXPECT_NE(std::string::npos, text.find("fds_above_2=0\n")) << text;
    if (!HasFailure()) std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char **argv) {
    if (const char *path = std::getenv(kReportVar); path && argc == 1) return report(path, argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
