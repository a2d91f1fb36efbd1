// update, write and access on files of the tree, and the file helpers.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app_commands.h"
#include "shell_harness.h"
#include "zel_host_test_hooks.h"
#include "zel_linux_file.h"
#include "zel_linux_libc.h"

namespace {

bool put(const std::string &path, const std::string &text) {
    return shell::in_process([&] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/tmp/fc", 0));
        zel_linux_fd *f = zel_linux_fopen(path.c_str(), "w");
        if (!f) return 1;
        size_t n = zel_linux_fwrite(text.data(), 1, text.size(), f);
        zel_linux_fclose(f);
        return n == text.size() ? 0 : 1;
    }) == 0;
}

std::string get(const std::string &path) {
    std::string text = "(missing)";
    shell::in_process([&] {
        zel_linux_fd *f = zel_linux_fopen(path.c_str(), "r");
        if (!f) return 1;
        text.clear();
        char buf[1024];
        for (size_t n; (n = zel_linux_fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
        zel_linux_fclose(f);
        return 0;
    });
    return text;
}

struct Progress {
    std::string src, dst;
    uint32_t total, done;
};
std::vector<Progress> g_progress;

void record(const char *src, const char *dst, uint32_t total, uint32_t done) {
    g_progress.push_back({src, dst, total, done});
}

class AppFileCommands : public testing::Test {
protected:
    void SetUp() override {
        shell::console();
        ASSERT_TRUE(put("/tmp/fc/big", std::string(100, 'B')));
        ASSERT_TRUE(put("/tmp/fc/small", std::string(10, 's')));
        g_progress.clear();
        copy_progress_callback = record;
    }
    void TearDown() override { copy_progress_callback = nullptr; }
    shell::Console &c = shell::console();
};

TEST_F(AppFileCommands, UpdateKeepsTheDestinationsSizeUnlessTruncating) {
    EXPECT_EQ(".\r\nupdate done\r\n", c.run("update /tmp/fc/small /tmp/fc/big"));
    EXPECT_EQ(std::string(10, 's') + std::string(90, 'B'), get("/tmp/fc/big"));
    ASSERT_EQ(2u, g_progress.size());
    EXPECT_EQ(0u, g_progress[0].done);
    EXPECT_EQ(10u, g_progress[1].done);
    EXPECT_EQ("/tmp/fc/small", g_progress[1].src);

    EXPECT_EQ("invalid update operation, src size: 100, dst size: 10\r\n"
              "fail to update /tmp/fc/big to /tmp/fc/small\r\n"
              "fail to execute update /tmp/fc/big /tmp/fc/small\r\n",
        c.run("update /tmp/fc/big /tmp/fc/small"));
    EXPECT_EQ(std::string(10, 's'), get("/tmp/fc/small"));

    EXPECT_EQ(".\r\nupdate done\r\n", c.run("update -t /tmp/fc/big /tmp/fc/new/made"));
    EXPECT_EQ(get("/tmp/fc/big"), get("/tmp/fc/new/made"));
    EXPECT_EQ(".\r\nupdate done\r\n", c.run("update -t /tmp/fc/small /tmp/fc/big"));
    EXPECT_EQ(std::string(10, 's'), get("/tmp/fc/big"));
}

TEST_F(AppFileCommands, UpdateRefusesWrongArgumentsAndMissingFiles) {
    const char *usage = "format: update [-t] SRC DST\r\n";
    EXPECT_EQ(std::string(usage) + "fail to execute update -t /tmp/fc/big\r\n", c.run("update -t /tmp/fc/big"));
    EXPECT_EQ(std::string(usage) + "fail to execute update a b c\r\n", c.run("update a b c"));
    EXPECT_EQ(std::string(usage) + "fail to execute update a\r\n", c.run("update a"));
    EXPECT_EQ("fail to open /tmp/fc/none\r\nfail to update /tmp/fc/none to /tmp/fc/big\r\n"
              "fail to execute update /tmp/fc/none /tmp/fc/big\r\n",
        c.run("update /tmp/fc/none /tmp/fc/big"));
    EXPECT_EQ("fail to open /tmp/fc/none\r\nfail to update /tmp/fc/small to /tmp/fc/none\r\n"
              "fail to execute update /tmp/fc/small /tmp/fc/none\r\n",
        c.run("update /tmp/fc/small /tmp/fc/none"));
    EXPECT_EQ("(missing)", get("/tmp/fc/none"));
    EXPECT_TRUE(g_progress.empty());
}

// A source that is the destination, or a directory, is refused before the
// destination is opened for writing: nothing is truncated or made.
TEST_F(AppFileCommands, UpdateRefusesItsOwnDestinationAndDirectories) {
    EXPECT_EQ("/tmp/fc/big and /tmp/fc/big are the same file\r\nfail to update /tmp/fc/big to /tmp/fc/big\r\n"
              "fail to execute update -t /tmp/fc/big /tmp/fc/big\r\n",
        c.run("update -t /tmp/fc/big /tmp/fc/big"));
    EXPECT_EQ(std::string(100, 'B'), get("/tmp/fc/big"));
    EXPECT_EQ("/tmp/fc is a directory\r\nfail to update /tmp/fc to /tmp/fc/made\r\n"
              "fail to execute update -t /tmp/fc /tmp/fc/made\r\n",
        c.run("update -t /tmp/fc /tmp/fc/made"));
    EXPECT_EQ("(missing)", get("/tmp/fc/made"));
    EXPECT_EQ("/tmp/fc is a directory\r\nfail to update /tmp/fc/small to /tmp/fc\r\n"
              "fail to execute update -t /tmp/fc/small /tmp/fc\r\n",
        c.run("update -t /tmp/fc/small /tmp/fc"));
    EXPECT_EQ(std::string(10, 's'), get("/tmp/fc/small"));
    EXPECT_TRUE(g_progress.empty());
}

// Short of descriptors, update names the file it could not open and why,
// and a destination it could not look at is left as it was.
TEST_F(AppFileCommands, UpdateSaysWhyAFileCannotBeOpened) {
    char made[] = "/tmp/zel_update_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(made));
    const std::string dir = made;
    std::ofstream(dir + "/src.bin") << std::string(10, 'S');
    std::ofstream(dir + "/dst.bin") << std::string(100, 'D');
    EXPECT_EQ("", c.run("mkdir -p /mnt/upd"));
    EXPECT_EQ("", c.run("mount -t winfs " + dir + " /mnt/upd"));
    zel_host_fail_file_opens(1000, EMFILE);
    const std::string src = c.run("update /mnt/upd/src.bin /mnt/upd/dst.bin");
    zel_host_fail_file_opens(1, EMFILE);  // the look at the destination
    const std::string dst = c.run("update -t /tmp/fc/small /mnt/upd/dst.bin");
    zel_host_fail_file_opens(0, 0);
    EXPECT_EQ("fail to open /mnt/upd/src.bin: too many open files\r\n"
              "fail to update /mnt/upd/src.bin to /mnt/upd/dst.bin\r\n"
              "fail to execute update /mnt/upd/src.bin /mnt/upd/dst.bin\r\n",
        src);
    EXPECT_EQ("fail to open /mnt/upd/dst.bin: too many open files\r\n"
              "fail to update /tmp/fc/small to /mnt/upd/dst.bin\r\n"
              "fail to execute update -t /tmp/fc/small /mnt/upd/dst.bin\r\n",
        dst);
    std::ifstream kept(dir + "/dst.bin");
    EXPECT_EQ(std::string(100, 'D'), std::string(std::istreambuf_iterator<char>(kept), {}));
    EXPECT_EQ(".\r\nupdate done\r\n", c.run("update /mnt/upd/src.bin /mnt/upd/dst.bin"));
    std::filesystem::remove_all(dir);
}

TEST_F(AppFileCommands, UpdateCopiesInBlocksAndReportsProgress) {
    ASSERT_TRUE(put("/tmp/fc/empty", ""));
    EXPECT_EQ("\r\nupdate done\r\n", c.run("update /tmp/fc/empty /tmp/fc/small"));
    ASSERT_EQ(1u, g_progress.size());
    EXPECT_EQ(0u, g_progress[0].total);
    g_progress.clear();
    std::string big;
    for (int i = 0; i < 40000; ++i) big += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(put("/tmp/fc/40k", big));
    EXPECT_EQ("...\r\nupdate done\r\n", c.run("update -t /tmp/fc/40k /tmp/fc/copy"));
    EXPECT_EQ(big, get("/tmp/fc/copy"));
    std::vector<uint32_t> done;
    for (const Progress &p : g_progress) {
        EXPECT_EQ(40000u, p.total);
        done.push_back(p.done);
    }
    EXPECT_EQ((std::vector<uint32_t>{0, 16384, 32768, 40000}), done);
}

TEST_F(AppFileCommands, WriteOverwritesInPlaceAndNeverCreates) {
    EXPECT_EQ("", c.run("write /tmp/fc/big hello"));
    EXPECT_EQ("hello" + std::string(95, 'B'), get("/tmp/fc/big"));
    EXPECT_EQ("", c.run("write \"/tmp/fc/big\" \"a b\""));
    EXPECT_EQ("a blo" + std::string(95, 'B'), get("/tmp/fc/big"));
    EXPECT_EQ("fail to execute write /tmp/fc/none x\r\n", c.run("write /tmp/fc/none x"));
    EXPECT_EQ("(missing)", get("/tmp/fc/none"));
    EXPECT_EQ("format: write FILENAME STRING\r\nfail to execute write /tmp/fc/big\r\n", c.run("write /tmp/fc/big"));
}

TEST_F(AppFileCommands, AccessTellsWhetherAFileOpens) {
    EXPECT_EQ("", c.run("access /tmp/fc/big"));
    EXPECT_EQ("", c.run("access /tmp/fc"));
    EXPECT_EQ("fail to execute access /tmp/fc/none\r\n", c.run("access /tmp/fc/none"));
    EXPECT_EQ("format: access FILENAME\r\nfail to execute access\r\n", c.run("access"));
    EXPECT_EQ("", c.run("access /tmp/fc/big && write /tmp/fc/big ok"));
    EXPECT_EQ("ok", get("/tmp/fc/big").substr(0, 2));
}

TEST_F(AppFileCommands, FileHelpersWriteWholeFilesAndReadThemBack) {
    shell::expect_ok([] {
        if (file_write("/tmp/fc/cfg.bin", "\x01", 1) != 1) return 1;
        char b[4] = {};
        if (file_read("/tmp/fc/cfg.bin", b, sizeof b) != 1 || b[0] != 1) return 2;
        if (file_read("/tmp/fc/nothing", b, sizeof b) != 0) return 3;
        if (file_write("/tmp/fc/cfg.bin", "", 0) != 0) return 4;
        return file_read("/tmp/fc/cfg.bin", b, sizeof b) == 0 ? 0 : 5;
    });
}

}  // namespace
