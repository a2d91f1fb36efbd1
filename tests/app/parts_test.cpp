// The program's parts (app_parts.h) in the start-up: a program without the
// GUI and curl (this one) has no "/bin/lvgl" or "/bin/curl" beside the
// application's own commands, and a start-up with no parts handed over
// stops with a trace line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "app_main.h"
#include "app_parts.h"
#include "shell_harness.h"
#include "zel_linux_file.h"
#include "zel_shell.h"

namespace {

bool bound(const std::string &path) {
    return shell::in_process([&] {
        int fd = zel_linux_open(path.c_str(), 0);
        if (fd < 0) return 1;
        zel_linux_close(fd);
        return 0;
    }) == 0;
}

TEST(AppParts, CommandsOfMissingPartsStayUnbound) {
    shell::console();
    ASSERT_EQ(nullptr, shell::program_parts.lvgl_main);
    ASSERT_EQ(nullptr, shell::program_parts.curl_main);
    EXPECT_FALSE(bound("/bin/lvgl"));
    EXPECT_FALSE(bound("/bin/curl"));
    for (const char *own :
        {"/bin/lsusb", "/bin/mount", "/bin/usrid", "/bin/update", "/bin/reset", "/bin/write", "/bin/access"})
        EXPECT_TRUE(bound(own)) << own;
}

TEST(AppParts, StartUpWithoutPartsTracesTheFaultAndFails) {
    shell::console();
    zel_test::TraceCapture trace;
    int result = 0;
    app_use_parts(nullptr);
    bool ran = zel_test::run_in_thread([&] { result = app_create_file_hierarchy(); });
    app_use_parts(&shell::program_parts);
    ASSERT_TRUE(ran);
    EXPECT_EQ(-1, result);
    EXPECT_TRUE(zel_test::wait_until([&] { return trace.contains("no application parts handed over"); }));
}

// A failed line of the start-up script ends a program that has a GUI when
// the line is the GUI's start, with one line saying so; other lines, and a
// program without the GUI, go on.
TEST(AppParts, AGuiThatCannotStartEndsTheProgramWithALine) {
    shell::console();
    app_start_line_failed("mount -t winfs . /mnt/hostfs", -1);
    app_start_line_failed("lvgl &", -1);  // this program has no GUI
    static const app_parts_t with_gui = {
        .usbh_setup = nullptr, .lvgl_main = [](int, char **) { return 0; }, .curl_main = nullptr};
    EXPECT_EXIT(
        {
            app_use_parts(&with_gui);
            app_start_line_failed("mount -t winfs . /mnt/hostfs", -1);
            app_start_line_failed("lvgl &", -1);
            _exit(0);
        },
        ::testing::ExitedWithCode(1), ": cannot start: no memory or no host thread for the GUI");
    app_use_parts(&shell::program_parts);
}

}  // namespace
