// Standard I/O of the layer on files, pipes and the console.
#include <gtest/gtest.h>

#include <string>

#include "shell_harness.h"
#include "zel_linux_libc.h"
#include "zel_linux_file.h"
#include "zel_linux_stdio.h"

namespace {

std::string slurp(const char *path) {
    std::string text;
    zel_linux_fd *f = zel_linux_fopen(path, "r");
    if (!f) return "(missing)";
    char buf[64];
    for (size_t n; (n = zel_linux_fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    zel_linux_fclose(f);
    return text;
}

bool spit(const char *path, const std::string &text) {
    zel_linux_fd *f = zel_linux_fopen(path, "w");
    if (!f) return false;
    size_t n = zel_linux_fwrite(text.data(), 1, text.size(), f);
    zel_linux_fclose(f);
    return n == text.size();
}

TEST(LibcStdio, ModeTable) {
    EXPECT_EQ(0, zel_linux_fopen_flags("r"));
    EXPECT_EQ(0, zel_linux_fopen_flags(nullptr));
    EXPECT_EQ(0, zel_linux_fopen_flags("x"));
    EXPECT_EQ(0x601, zel_linux_fopen_flags("w"));
    EXPECT_EQ(0x209, zel_linux_fopen_flags("ab"));
    EXPECT_EQ(2, zel_linux_fopen_flags("rb+"));
    EXPECT_EQ(2, zel_linux_fopen_flags("r+b"));
    EXPECT_EQ(0x602, zel_linux_fopen_flags("wb+"));
    EXPECT_EQ(0x20A, zel_linux_fopen_flags("a+"));
}

TEST(LibcStdio, ModesCreateTruncateAndAppendAsAsked) {
    shell::expect_ok([] {
        IN_LAYER_CHECK(zel_linux_mkdir_by_open("/tmp/stdio", 0) == 0);
        IN_LAYER_CHECK(!zel_linux_fopen("/tmp/stdio/none", "r+"));
        IN_LAYER_CHECK(!zel_linux_fopen("/tmp/stdio/none", "r"));
        IN_LAYER_CHECK(spit("/tmp/stdio/f", "0123456789"));
        // r+ writes over the start and keeps the rest
        zel_linux_fd *f = zel_linux_fopen("/tmp/stdio/f", "r+");
        IN_LAYER_CHECK(f && zel_linux_fwrite("ab", 1, 2, f) == 2);
        zel_linux_fclose(f);
        IN_LAYER_CHECK(slurp("/tmp/stdio/f") == "ab23456789");
        // a appends, a+ also reads
        f = zel_linux_fopen("/tmp/stdio/f", "a");
        IN_LAYER_CHECK(f && zel_linux_fputs("XY", f) == 2);
        char c;
        IN_LAYER_CHECK(zel_linux_fread(&c, 1, 1, f) == 0);  // write only
        zel_linux_fclose(f);
        f = zel_linux_fopen("/tmp/stdio/f", "a+");
        IN_LAYER_CHECK(f && zel_linux_fputc('Z', f) == 'Z');
        IN_LAYER_CHECK(zel_linux_fseek(f, 0, ZEL_LINUX_SEEK_SET) == 0);
        IN_LAYER_CHECK(zel_linux_fgetc(f) == 'a');
        zel_linux_fclose(f);
        IN_LAYER_CHECK(slurp("/tmp/stdio/f") == "ab23456789XYZ");
        // w truncates; "x" opens read-only
        IN_LAYER_CHECK(spit("/tmp/stdio/f", "w"));
        IN_LAYER_CHECK(slurp("/tmp/stdio/f") == "w");
        f = zel_linux_fopen("/tmp/stdio/f", "x");
        IN_LAYER_CHECK(f && zel_linux_fgetc(f) == 'w' && zel_linux_fgetc(f) == -1);
        IN_LAYER_CHECK(zel_linux_feof(f));
        IN_LAYER_CHECK(zel_linux_fclose(f) == 0);
        IN_LAYER_CHECK(zel_linux_fclose(nullptr) == -1);
        return 0;
    });
}

TEST(LibcStdio, ItemCountsAndPositions) {
    shell::expect_ok([] {
        zel_linux_fd *f = zel_linux_fopen("/tmp/items", "w+");
        IN_LAYER_CHECK(f);
        const char data[] = "0123456789ab";
        IN_LAYER_CHECK(zel_linux_fwrite(data, 4, 3, f) == 3);
        IN_LAYER_CHECK(zel_linux_fwrite("cd", 1, 2, f) == 2);
        IN_LAYER_CHECK(zel_linux_ftell(f) == 14);
        IN_LAYER_CHECK(zel_linux_fseek(f, 0, ZEL_LINUX_SEEK_SET) == 0);
        char buf[40];
        IN_LAYER_CHECK(zel_linux_fread(buf, 4, 10, f) == 3);  // 14 bytes: 3 whole items
        IN_LAYER_CHECK(zel_linux_fread(buf, 4, 1, f) == 0);
        // seeks that cannot be done answer -1 and leave the position
        IN_LAYER_CHECK(zel_linux_fseek(f, 20, ZEL_LINUX_SEEK_SET) == -1);
        IN_LAYER_CHECK(zel_linux_fseek(f, -1, ZEL_LINUX_SEEK_SET) == -1);
        IN_LAYER_CHECK(zel_linux_fseek(f, 1, ZEL_LINUX_SEEK_END) == -1);
        IN_LAYER_CHECK(zel_linux_fseek(f, 5, 7) == -1);
        IN_LAYER_CHECK(zel_linux_ftell(f) == 14);
        IN_LAYER_CHECK(zel_linux_fseek(f, -4, ZEL_LINUX_SEEK_END) == 0 && zel_linux_ftell(f) == 10);
        IN_LAYER_CHECK(zel_linux_fseek(f, -2, ZEL_LINUX_SEEK_CUR) == 0 && zel_linux_fgetc(f) == '8');
        IN_LAYER_CHECK(zel_linux_fseek(f, 0, ZEL_LINUX_SEEK_END) == 0 && zel_linux_ftell(f) == 14);
        zel_linux_fclose(f);
        // a descriptor that is no file cannot seek
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        IN_LAYER_CHECK(zel_linux_fseek(zel_linux_fd_to_file(fds[0]), 0, ZEL_LINUX_SEEK_SET) == -1);
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    });
}

TEST(LibcStdio, ReadsLinesAcrossPipeChunks) {
    shell::expect_ok([] {
        int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_fd *in = zel_linux_fdopen(fds[0], "r");
        zel_linux_fd *out = zel_linux_fdopen(fds[1], "w");
        IN_LAYER_CHECK(zel_linux_fwrite("ab", 1, 2, out) == 2);
        IN_LAYER_CHECK(zel_linux_fputs("c\nde", out) == 4);
        IN_LAYER_CHECK(zel_linux_fprintf(out, "%s\n%d", "fg", 42) == 5);
        zel_linux_fclose(out);
        char line[16];
        IN_LAYER_CHECK(zel_linux_fgets(line, sizeof line, in) && std::string(line) == "abc\n");
        IN_LAYER_CHECK(zel_linux_fgets(line, sizeof line, in) && std::string(line) == "defg\n");
        IN_LAYER_CHECK(zel_linux_fgets(line, 2, in) && std::string(line) == "4");
        IN_LAYER_CHECK(zel_linux_fgets(line, sizeof line, in) && std::string(line) == "2");
        IN_LAYER_CHECK(!zel_linux_fgets(line, sizeof line, in) && line[0] == '\0');
        IN_LAYER_CHECK(!zel_linux_fgets(line, 1, in) && line[0] == '\0');
        // a short read of a pipe gives a short item count
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        IN_LAYER_CHECK(zel_linux_write(fds[1], "12345", 5) == 5);
        IN_LAYER_CHECK(zel_linux_fread(line, 2, 4, zel_linux_fd_to_file(fds[0])) == 2);
        zel_linux_close(fds[1]);
        IN_LAYER_CHECK(zel_linux_fread(line, 2, 4, zel_linux_fd_to_file(fds[0])) == 0);
        zel_linux_fclose(in);
        zel_linux_close(fds[0]);
        return 0;
    });
}

TEST(LibcStdio, FormattedOutputReachesTheConsoleWhole) {
    shell::Console &c = shell::console();
    c.take();
    std::string big(5000, 'z');
    shell::expect_ok([&] {
        IN_LAYER_CHECK(zel_linux_puts("abc") == 4);
        IN_LAYER_CHECK(zel_linux_printf("%s", big.c_str()) == 5000);
        IN_LAYER_CHECK(zel_linux_printf("%s", "") == 0);
        IN_LAYER_CHECK(zel_linux_putchar('!') == '!');
        IN_LAYER_CHECK(zel_linux_fprintf(zel_linux_stderr(), "e%d", 2) == 2);
        IN_LAYER_CHECK(zel_linux_fileno(zel_linux_stdout()) == 1);
        IN_LAYER_CHECK(zel_linux_fflush(zel_linux_stdout()) == 0);
        return 0;
    });
    EXPECT_EQ("abc\n" + big + "!e2", c.take());
}

}  // namespace
