// The layer's environment, time, conversions, basename and getopt_long.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "shell_harness.h"
#include "zel_linux_getopt.h"
#include "zel_linux_libc.h"

namespace {

bool is(const char *value, const char *expected) {
    return value && expected ? std::string(value) == expected : value == expected;
}

TEST(LibcEnvironment, PutenvKeepsItsOwnCopies) {
    shell::expect_ok([] {
        // Constants and the caller's buffers may be replaced and removed.
        IN_LAYER_CHECK(zel_linux_putenv(const_cast<char *>("A=1")) == 0);
        IN_LAYER_CHECK(zel_linux_putenv(const_cast<char *>("A=2")) == 0);
        IN_LAYER_CHECK(is(zel_linux_getenv("A"), "2"));
        char mine[] = "B=x";
        IN_LAYER_CHECK(zel_linux_putenv(mine) == 0);
        mine[2] = 'y';
        IN_LAYER_CHECK(is(zel_linux_getenv("B"), "x"));
        IN_LAYER_CHECK(zel_linux_putenv(const_cast<char *>("C=3")) == 0);
        IN_LAYER_CHECK(zel_linux_putenv(const_cast<char *>("A")) == 0);
        IN_LAYER_CHECK(!zel_linux_getenv("A") && is(zel_linux_getenv("B"), "x") && is(zel_linux_getenv("C"), "3"));
        IN_LAYER_CHECK(zel_linux_putenv(const_cast<char *>("NOPE")) == 0);
        IN_LAYER_CHECK(zel_linux_putenv(nullptr) == -1);
        // setenv with overwrite 0 keeps the entry
        IN_LAYER_CHECK(zel_linux_setenv("B", "z", 0) == 0 && is(zel_linux_getenv("B"), "x"));
        IN_LAYER_CHECK(zel_linux_setenv("B", "z", 1) == 0 && is(zel_linux_getenv("B"), "z"));
        IN_LAYER_CHECK(zel_linux_setenv("D=E", "z", 1) == -1);
        IN_LAYER_CHECK(!zel_linux_getenv("BB") && !zel_linux_getenv(nullptr));
        return 0;
    });
}

TEST(LibcEnvironment, SystemRunsInTheCallerWithItsVariables) {
    shell::Console &c = shell::console();
    c.take();
    shell::expect_ok([] {
        IN_LAYER_CHECK(zel_linux_setenv("WHO", "caller", 1) == 0);
        IN_LAYER_CHECK(zel_linux_system("echo $WHO") == 0);
        IN_LAYER_CHECK(zel_linux_system("cat /nothing") == static_cast<int>(static_cast<unsigned>(-2) << 8));
        return 0;
    });
    EXPECT_EQ("caller\r\n/nothing not found\r\n", c.take());
}

TEST(LibcEnvironment, AFailedAssertionEndsOnlyItsProcess) {
    shell::Console &c = shell::console();
    shell::install("t_assert", [](int, char **) -> int { zel_linux_assert_fail("x > 1", "t.c", 7, "check"); });
    c.take();
    EXPECT_EQ(0, shell::in_process([] {
        return zel_linux_system("t_assert") == static_cast<int>(static_cast<unsigned>(-1) << 8) ? 0 : 1;
    }));
    EXPECT_EQ("t.c:7: check: assertion \"x > 1\" failed\r\n", c.take());
}

TEST(LibcTime, CalendarArithmetic) {
    zel_linux_tm tm{};
    tm.tm_year = 124;
    tm.tm_mon = 2;
    tm.tm_mday = 1;
    EXPECT_EQ(1709251200, zel_linux_mktime(&tm));
    tm.tm_mon = 14;  // March of the year after
    tm.tm_year = 123;
    EXPECT_EQ(1709251200, zel_linux_mktime(&tm));
    zel_linux_time_t t = 0;
    zel_linux_tm *g = zel_linux_gmtime_r(&t, &tm);
    ASSERT_EQ(&tm, g);
    EXPECT_EQ(70, tm.tm_year);
    EXPECT_EQ(0, tm.tm_mon);
    EXPECT_EQ(1, tm.tm_mday);
    EXPECT_EQ(4, tm.tm_wday);
    EXPECT_EQ(0, tm.tm_yday);
    // Round trips across leap days, centuries and before 1970.
    for (zel_linux_time_t s : {951782400L, 951868799L, 4107542399L, -1L, -86400L * 366, 1709251199L, 253402300799L}) {
        zel_linux_tm *d = zel_linux_gmtime(&s);
        ASSERT_TRUE(d);
        EXPECT_EQ(s, zel_linux_mktime(d)) << s;
        EXPECT_GE(d->tm_wday, 0);
        EXPECT_LT(d->tm_wday, 7);
    }
    t = 951782400;  // 2000-02-29
    zel_linux_gmtime_r(&t, &tm);
    EXPECT_EQ(100, tm.tm_year);
    EXPECT_EQ(1, tm.tm_mon);
    EXPECT_EQ(29, tm.tm_mday);
    EXPECT_EQ(2, tm.tm_wday);
    EXPECT_EQ(59, tm.tm_yday);
    t = -1;
    zel_linux_gmtime_r(&t, &tm);
    EXPECT_EQ(69, tm.tm_year);
    EXPECT_EQ(11, tm.tm_mon);
    EXPECT_EQ(31, tm.tm_mday);
    EXPECT_EQ(23, tm.tm_hour);
    EXPECT_EQ(59, tm.tm_sec);
    EXPECT_EQ(3, tm.tm_wday);
}

// The calendar reaches as far as tm_year does, and says when a time lies
// beyond it.
TEST(LibcTime, YearsThatDoNotFitAreOverflowsAtEitherEnd) {
    zel_linux_tm last{};
    last.tm_year = INT32_MAX;
    last.tm_mon = 11;
    last.tm_mday = 31;
    last.tm_hour = 23;
    last.tm_min = 59;
    last.tm_sec = 59;
    zel_linux_tm first{};
    first.tm_year = INT32_MIN;
    first.tm_mday = 1;
    const zel_linux_time_t ends[2] = {zel_linux_mktime(&last), zel_linux_mktime(&first)};
    zel_linux_tm tm{};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(&tm, zel_linux_gmtime_r(&ends[i], &tm)) << ends[i];
        const zel_linux_tm &want = i == 0 ? last : first;
        EXPECT_EQ(want.tm_year, tm.tm_year);
        EXPECT_EQ(want.tm_mon, tm.tm_mon);
        EXPECT_EQ(want.tm_mday, tm.tm_mday);
        EXPECT_EQ(want.tm_hour, tm.tm_hour);
        EXPECT_EQ(want.tm_sec, tm.tm_sec);
        EXPECT_EQ(ends[i], zel_linux_mktime(&tm));
    }
    // errno belongs to the calling thread of the layer: the overflows are
    // asked for in a process of the layer.
    const zel_linux_time_t beyond[] = {ends[0] + 1, ends[1] - 1, INT64_MAX, INT64_MIN, INT64_MIN + 86399};
    for (zel_linux_time_t t : beyond) {
        SCOPED_TRACE(t);
        shell::expect_ok([t] {
            int *err = zel_linux_errno_ptr();
            zel_linux_tm tm{};
            *err = 0;
            IN_LAYER_CHECK(zel_linux_gmtime_r(&t, &tm) == nullptr);
            IN_LAYER_CHECK(*err == 75);  // EOVERFLOW
            *err = 0;
            IN_LAYER_CHECK(zel_linux_gmtime(&t) == nullptr);
            IN_LAYER_CHECK(*err == 75);
            return 0;
        });
    }
}

TEST(LibcTime, TheClockIsUtc) {
    setenv("TZ", "Asia/Kathmandu", 1);  // a zone 5:45 away from UTC on the host
    zel_linux_time_t before =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    zel_linux_time_t stored = 0;
    zel_linux_time_t now = zel_linux_time(&stored);
    EXPECT_EQ(now, stored);
    EXPECT_LE(before, now);
    EXPECT_LE(now - before, 60) << "the layer's clock is the host's UTC clock";
    zel_linux_timeval tv{};
    EXPECT_EQ(0, zel_linux_gettimeofday(&tv, nullptr));
    EXPECT_LT(tv.tv_usec, 1000000);
    EXPECT_LE(now, tv.tv_sec);
}

TEST(LibcTexts, BasenameStrerrorAndConversions) {
    char relative[] = "dir/file/";
    EXPECT_STREQ("file", zel_linux_path_base(relative));
    char root[] = "/";
    EXPECT_STREQ("/", zel_linux_path_base(root));
    char empty[] = "";
    EXPECT_STREQ(".", zel_linux_path_base(empty));
    EXPECT_STREQ(".", zel_linux_path_base(nullptr));
    char plain[] = "name";
    EXPECT_STREQ("name", zel_linux_path_base(plain));
    EXPECT_STREQ("unknown", zel_linux_strerror(2));
    shell::expect_ok([] {
        IN_LAYER_CHECK(zel_linux_strtoul("0x200", nullptr, 0) == 512);
        IN_LAYER_CHECK(zel_linux_strtoul("0200", nullptr, 0) == 128);
        IN_LAYER_CHECK(zel_linux_atoi("-17") == -17);
        *zel_linux_errno_ptr() = 0;
        zel_linux_strtol("99999999999999999999", nullptr, 10);
        IN_LAYER_CHECK(*zel_linux_errno_ptr() == ZEL_LINUX_ERANGE);
        char text[] = "a,b,,c";
        IN_LAYER_CHECK(is(zel_linux_strtok(text, ","), "a") && is(zel_linux_strtok(nullptr, ","), "b"));
        IN_LAYER_CHECK(is(zel_linux_strtok(nullptr, ","), "c") && !zel_linux_strtok(nullptr, ","));
        return 0;
    });
}

// getopt_long over a vector of words.
struct Args {
    std::vector<std::string> words;
    std::vector<char *> argv;
    explicit Args(std::initializer_list<const char *> list) {
        for (const char *w : list) words.emplace_back(w);
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }
};

TEST(LibcGetopt, PermutesOperandsBehindOptionsPerProcess) {
    shell::expect_ok([] {
        zel_linux_getopt_state_t *st = zel_linux_getopt_state();
        IN_LAYER_CHECK(st && st->optind == 1 && st->opterr == 1 && st->optopt == '?');
        Args a{"mount", "dev", "-t", "fatfs", "dir", "-b0x200", "--", "-x"};
        std::string seen;
        for (int c; (c = zel_linux_getopt_long(a.argc(), a.argv.data(), "t:b:", nullptr, nullptr)) != -1;)
            seen += std::string(1, static_cast<char>(c)) + "=" + st->optarg + ";";
        IN_LAYER_CHECK(seen == "t=fatfs;b=0x200;");
        IN_LAYER_CHECK(st->optind == 5);
        IN_LAYER_CHECK(
            std::string(a.argv[5]) == "dev" && std::string(a.argv[6]) == "dir" && std::string(a.argv[7]) == "-x");
        // A new scan of another vector.
        st->optreset = 1;
        Args b{"p", "-ab", "-c", "--long=v", "--fl", "x", "-q", "-c"};
        int flag = 0;
        const zel_linux_option_t longs[] = {{"long", ZEL_LINUX_REQUIRED_ARGUMENT, nullptr, 'L'},
            {"flag", ZEL_LINUX_NO_ARGUMENT, &flag, 7}, {nullptr, 0, nullptr, 0}};
        st->opterr = 0;
        seen.clear();
        for (int c; (c = zel_linux_getopt_long(b.argc(), b.argv.data(), "abc:", longs, nullptr)) != -1;)
            seen += std::string(1, static_cast<char>(c ? c : '0')) + (st->optarg ? st->optarg : "") + ";";
        IN_LAYER_CHECK(seen == "a;b;c--long=v;0;?;?;");
        IN_LAYER_CHECK(flag == 7 && st->optopt == 'c');
        IN_LAYER_CHECK(st->optind == 7 && std::string(b.argv[7]) == "x");
        return 0;
    });
    // Each process starts from the beginning.
    shell::expect_ok([] {
        zel_linux_getopt_state_t *st = zel_linux_getopt_state();
        IN_LAYER_CHECK(st && st->optind == 1 && !st->optreset);
        return 0;
    });
}

}  // namespace
