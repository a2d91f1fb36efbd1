// The GUI's file dialogs and clipboard: a framework thread asks, the host
// thread runs the desktop's helper and answers with event 266.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_desktop.h"
#include "host_dialogs.h"
#include "zel_eda.h"
#include "zel_host_dialog.h"
#include "zel_test.h"

namespace {

using fake_desktop::last_args;

class HostDialogs : public testing::Test {
protected:
    static void SetUpTestSuite() {
        fake_desktop::install();
        host_dialog_threads_init();
    }
    void SetUp() override { fake_desktop::forget_runs(); }

    struct Choice {
        bool ok = false;
        std::string path, name;
    };
    // A request from a framework thread, with buffers of the given sizes
    // that hold "stale" before it.
    static Choice ask(bool save, uint32_t path_size = 1024, uint32_t name_size = 1024) {
        Choice c;
        EXPECT_TRUE(zel_test::run_in_thread([&] {
            std::vector<char> path(path_size), name(name_size);
            strcpy(path.data(), "stale");
            strcpy(name.data(), "stale");
            c.ok = save ? request_save_file(path.data(), path_size, name.data(), name_size)
                        : request_open_file(path.data(), path_size, name.data(), name_size);
            c.path = path.data();
            c.name = name.data();
        }));
        return c;
    }
    static std::pair<bool, std::string> paste(uint32_t size = 222) {
        std::pair<bool, std::string> r;
        EXPECT_TRUE(zel_test::run_in_thread([&] {
            std::vector<char> text(size, 0);
            r.first = request_clipboard_text(text.data(), size);
            r.second = text.data();
        }));
        return r;
    }
};

TEST_F(HostDialogs, OpenGivesTheDirectoryAndTheNameOfAnExistingBinFile) {
    fake_desktop::zenity_answers("/home/user/固件/fw/update.bin\n");
    Choice c = ask(false);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ("/home/user/固件/fw/", c.path);
    EXPECT_EQ("update.bin", c.name);
    EXPECT_EQ((std::vector<std::string>{"--file-selection", "--file-filter=Binary Files(*.bin) | *.bin",
                  "--file-filter=All Files (*.*) | *"}),
        last_args("zenity"));

    // Cancelled, or the helper failed: nothing chosen, both buffers emptied.
    for (int code : {1, 5, 255}) {
        fake_desktop::zenity_answers("/somewhere/else.bin\n", code);
        c = ask(false);
        EXPECT_FALSE(c.ok) << code;
        EXPECT_EQ("", c.path) << code;
        EXPECT_EQ("", c.name) << code;
    }
}

// Whether process `pid` has ended (gone, or a zombie nobody reaped yet).
bool ended(pid_t pid) {
    if (kill(pid, 0) != 0) return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    return paren == std::string::npos || line.compare(paren + 1, 3, " Z ") == 0;
}

// A program that ends while its file dialog is open (here: killed) takes
// the dialog with it, also once its end signals are blocked (as the end
// watch blocks them, zel_host_end.h).
TEST_F(HostDialogs, TheDialogEndsWithTheProgram) {
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked);
        char tmpl[] = "/tmp/zel-dialog-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        const std::string dir = tmpl;
        // A dialog that stays open: it notes the signals it found blocked
        // (with the shell's own commands), says its process id and waits.
        std::ofstream(dir + "/zenity") << "#!/bin/sh\nwhile read -r l; do case $l in SigBlk*) echo \"$l\" > '" << dir
                                       << "/blocked';; esac; done < /proc/$$/status\necho $$ > '" << dir
                                       << "/pid.tmp'\nmv '" << dir << "/pid.tmp' '" << dir << "/pid'\nexec sleep 120\n";
        std::filesystem::permissions(dir + "/zenity", std::filesystem::perms::owner_all);
        // The program's PATH finds it (set before the fork: the child only asks).
        const std::string saved = getenv("PATH");
        setenv("PATH", (dir + ":/usr/bin:/bin").c_str(), 1);
        const pid_t program = fork();
        if (program == 0) {
            if (blocked) {
                sigset_t ends;
                sigemptyset(&ends);
                for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ends, s);
                sigprocmask(SIG_BLOCK, &ends, nullptr);
            }
            char path[256];
            (void)zel_host_file_dialog(ZEL_HOST_DIALOG_OPEN, nullptr, path, sizeof path);
            _exit(0);
        }
        setenv("PATH", saved.c_str(), 1);
        ASSERT_GT(program, 0);
        ASSERT_TRUE(zel_test::wait_until([&] { return std::filesystem::exists(dir + "/pid"); })) << "no dialog opened";
        pid_t dialog = 0;
        std::ifstream(dir + "/pid") >> dialog;
        ASSERT_GT(dialog, 0);
        // The helper takes the end signals as a program of its own does.
        std::string word, mask;
        std::ifstream(dir + "/blocked") >> word >> mask;
        const unsigned long long bits = std::stoull(mask.empty() ? "ffff" : mask, nullptr, 16);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) EXPECT_EQ(0u, bits >> (s - 1) & 1) << s;
        ASSERT_EQ(0, kill(program, SIGKILL));
        int status = 0;
        ASSERT_EQ(program, waitpid(program, &status, 0));
        EXPECT_TRUE(zel_test::wait_until([&] { return ended(dialog); })) << "the dialog outlived the program";
        if (!ended(dialog)) kill(dialog, SIGKILL);
        std::filesystem::remove_all(dir);
    }
}

TEST_F(HostDialogs, SaveConfirmsOverwritingAndAddsTheDefaultExtension) {
    fake_desktop::zenity_answers("/home/user/scripts/backup\n");
    Choice c = ask(true);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ("/home/user/scripts/", c.path);
    EXPECT_EQ("backup.txt", c.name);
    EXPECT_EQ((std::vector<std::string>{"--file-selection", "--save", "--confirm-overwrite",
                  "--file-filter=Binary Files(*.bin) | *.bin", "--file-filter=All Files (*.*) | *"}),
        last_args("zenity"));

    fake_desktop::zenity_answers("/home/user/v1.2/data.bin\n");
    EXPECT_EQ("data.bin", ask(true).name);
    fake_desktop::zenity_answers("/home/user/v1.2/data\n");
    EXPECT_EQ("data.txt", ask(true).name) << "a dot in the folder is no extension";

    fake_desktop::zenity_answers("", 1);
    c = ask(true);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ("stale", c.name) << "a cancelled save leaves the caller's buffers";
}

TEST_F(HostDialogs, SaveAsksAgainBeforeTheAddedExtensionReplacesAFile) {
    char dir_template[] = "/tmp/trellow-save-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir_template));
    const std::string dir = dir_template;
    std::ofstream(dir + "/backup.txt") << "kept";
    // The person types "backup" where "backup.txt" exists: the dialog comes
    // back on "backup.txt", where its own overwrite question applies; typing
    // the bare name again and again ends as a cancel, with nothing chosen.
    fake_desktop::zenity_answers(dir + "/backup\n");
    Choice c = ask(true);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ("stale", c.name);
    const std::vector<std::string> args = last_args("zenity");
    ASSERT_FALSE(args.empty());
    EXPECT_EQ("--filename=" + dir + "/backup.txt", args.back());
    // Accepting the name the dialog comes back with is an answer with the extension.
    fake_desktop::zenity_answers(dir + "/backup.txt\n");
    EXPECT_EQ("backup.txt", ask(true).name);
    std::filesystem::remove_all(dir);
}

TEST_F(HostDialogs, APathOrNameWithoutRoomToSpareIsRefused) {
    const std::string full = "/data/fw/update.bin";  // 19 characters
    fake_desktop::zenity_answers(full + "\n");
    EXPECT_TRUE(ask(false, 21, 12).ok);
    EXPECT_FALSE(ask(false, 20, 12).ok) << "the path needs its terminator and one byte more";
    EXPECT_FALSE(ask(false, 21, 11).ok) << "so does the name";
    const Choice refused = ask(true, 20, 12);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ("stale", refused.path) << "nothing is written when either part does not fit";

    zel_test::TraceCapture trace;
    fake_desktop::zenity_answers(std::string(1100, 'd') + "/update.bin\n");
    EXPECT_FALSE(ask(false).ok);
    EXPECT_TRUE(trace.contains("open file dialog: the path is too long\r\n")) << trace.text();
}

TEST_F(HostDialogs, AMissingDialogProgramFailsTheRequest) {
    zel_test::TraceCapture trace;
    fake_desktop::Missing missing("zenity");
    EXPECT_FALSE(ask(false).ok);
    EXPECT_FALSE(ask(true).ok);
    EXPECT_TRUE(trace.contains("open file dialog faild\r\n")) << trace.text();
    EXPECT_TRUE(trace.contains("save file dialog faild\r\n")) << trace.text();
}

TEST_F(HostDialogs, ClipboardTextFitsWithItsTerminatorOrIsRefused) {
    zel_test::TraceCapture trace;
    fake_desktop::clipboard_holds(std::string(221, 'a'));
    auto r = paste();
    EXPECT_TRUE(r.first);
    EXPECT_EQ(std::string(221, 'a'), r.second);
    EXPECT_TRUE(trace.contains("clopboard: >>>" + std::string(221, 'a') + "<<<\r\n"));
    EXPECT_EQ((std::vector<std::string>{"-o", "-selection", "clipboard"}), last_args("xclip"));

    fake_desktop::clipboard_holds(std::string(222, 'b'));
    r = paste();
    EXPECT_FALSE(r.first);
    EXPECT_EQ("", r.second);
    EXPECT_TRUE(trace.contains("The content of the clipboard is larger than the buffer\r\n"));

    fake_desktop::clipboard_holds("", 1);
    EXPECT_FALSE(paste().first);
    EXPECT_TRUE(trace.contains("get clipboard text data faild\r\n"));

    // Text up to its first NUL, as the clipboard's text format has it.
    fake_desktop::clipboard_holds(std::string("code", 4) + std::string(1, '\0') + "rest");
    EXPECT_EQ("code", paste().second);

    fake_desktop::Missing missing("xclip");
    EXPECT_FALSE(paste().first);
    EXPECT_TRUE(trace.contains("open clipboard faild\r\n"));
}

TEST_F(HostDialogs, AnotherWakeDoesNotEndTheWait) {
    fake_desktop::zenity_answers("/a/b.bin\n");
    bool ok = false;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        // A 266 already queued for this thread, as a display flush could
        // leave one: the request still waits for its own answer.
        EXPECT_EQ(0, zel_eda_post_evt(zel_eda_get_cur(), ZEL_EVT_WAKE));
        char path[64] = {}, name[64] = {};
        ok = request_open_file(path, sizeof path, name, sizeof name) && strcmp(name, "b.bin") == 0;
    }));
    EXPECT_TRUE(ok);
}

TEST(HostBrowser, StartsTheBrowserWithTheAddressAsOneArgument) {
    fake_desktop::install();
    fake_desktop::forget_runs();
    const std::string address = "https://signin.example/signin/?a=1&b=\"two words\";x=$HOME";
    EXPECT_NE(0u, zel_host_open_browser(address.c_str()));
    EXPECT_EQ(std::vector<std::string>{address}, last_args("xdg-open"));
    fake_desktop::Missing missing("xdg-open");
    EXPECT_EQ(0u, zel_host_open_browser(address.c_str()));
}

// A helper that finds no browser marks its own launch only: one started
// before it that went well is never taken for a failure.
TEST(HostBrowser, TellsWhichLaunchFoundNoBrowser) {
    fake_desktop::install();
    fake_desktop::forget_runs();
    const uint32_t good = zel_host_open_browser("https://signin.example/");
    EXPECT_NE(0u, good);
    EXPECT_FALSE(last_args("xdg-open").empty());
    fake_desktop::browser_answers(3);
    const uint32_t bad = zel_host_open_browser("https://signin.example/");
    EXPECT_NE(0u, bad);
    EXPECT_NE(good, bad);
    EXPECT_TRUE(zel_test::wait_until([&] { return zel_host_browser_failed(bad); }));
    fake_desktop::browser_answers(0);
    EXPECT_FALSE(zel_host_browser_failed(good));
    EXPECT_FALSE(zel_host_browser_failed(0));
}

}  // namespace
