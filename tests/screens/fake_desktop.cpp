// The desktop's helper programs, played by shell scripts.
#include "fake_desktop.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fake_desktop {
namespace {

namespace fs = std::filesystem;

std::string &folder() {
    static std::string dir;
    return dir;
}

// Whole at once (a rename), so that a helper never reads half an answer.
void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path + ".tmp", std::ios::binary | std::ios::trunc) << text;
    std::error_code ignored;
    fs::rename(path + ".tmp", path, ignored);
}

// A helper that takes its answer from <name>.out and <name>.code, then
// records its arguments (one a line, made whole with a rename) and answers:
// once a run is recorded, the next answers the test sets are the next run's.
void write_script(const std::string &name) {
    const std::string d = folder(), path = d + "/" + name;
    write_file(path, "#!/bin/sh\n"
                     "PATH=/usr/bin:/bin\n"
                     "out=$(mktemp)\n"
                     "cat '" +
                         d + "/" + name +
                         ".out' > \"$out\" 2>/dev/null\n"
                         "code=$(cat '" +
                         d + "/" + name +
                         ".code' 2>/dev/null || echo 0)\n"
                         "printf '%s\\n' \"$@\" > '" +
                         d + "/" + name +
                         ".args.tmp'\n"
                         "mv '" +
                         d + "/" + name + ".args.tmp' '" + d + "/" + name +
                         ".args'\n"
                         "while [ -e '" +
                         d + "/" + name +
                         ".hold' ]; do sleep 0.01; done\n"
                         "cat \"$out\"\n"
                         "rm -f \"$out\"\n"
                         "exit $code\n");
    chmod(path.c_str(), 0755);
}

const char *const kHelpers[] = {"zenity", "xclip", "xdg-open"};

}  // namespace

void install() {
    if (!folder().empty()) return;
    std::string pattern = (fs::temp_directory_path() / "zel-desktop-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    folder() = pattern;
    for (const char *helper : kHelpers) write_script(helper);
    const char *path = getenv("PATH");
    setenv("PATH", (folder() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(folder(), ignored);
    });
}

void zenity_answers(const std::string &out, int code) {
    write_file(folder() + "/zenity.out", out);
    write_file(folder() + "/zenity.code", std::to_string(code));
}

void hold(const std::string &helper, bool held) {
    const std::string path = folder() + "/" + helper + ".hold";
    if (held) {
        write_file(path, "");
    } else {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
}

void browser_answers(int code) { write_file(folder() + "/xdg-open.code", std::to_string(code)); }

void clipboard_holds(const std::string &text, int code) {
    write_file(folder() + "/xclip.out", text);
    write_file(folder() + "/xclip.code", std::to_string(code));
}

std::vector<std::string> last_args(const std::string &helper, bool wait) {
    const std::string path = folder() + "/" + helper + ".args";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait || helper == "xdg-open" ? 10 : 0);
    while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::string> args;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) args.push_back(line);
    return args;
}

void forget_runs() {
    std::error_code ignored;
    for (const char *helper : kHelpers) fs::remove(folder() + "/" + helper + ".args", ignored);
}

// Only the scripts' folder stays on PATH, without the helper: a real one
// elsewhere is not found either.
Missing::Missing(const std::string &helper) : helper_(helper) {
    const char *path = getenv("PATH");
    path_ = path ? path : "";
    std::error_code ignored;
    fs::rename(folder() + "/" + helper_, folder() + "/" + helper_ + ".away", ignored);
    setenv("PATH", folder().c_str(), 1);
}

Missing::~Missing() {
    setenv("PATH", path_.c_str(), 1);
    std::error_code ignored;
    fs::rename(folder() + "/" + helper_ + ".away", folder() + "/" + helper_, ignored);
}

}  // namespace fake_desktop
