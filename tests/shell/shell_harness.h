// The system's init process and console shell, booted once per test binary
// as the application boots it (the file hierarchy, the built-ins, the
// application's commands, the start-up script), with console streams the
// tests type into and read from.
//
//   TEST(Shell, Echo) {
//       shell::Console &c = shell::console();
//       EXPECT_EQ("hi\r\n", c.run("echo hi"));
//   }
//
// The application's parts (app_parts.h) that the boot hands over are the
// test program's: it links one of the records of tests/shell/parts_*.cpp
// (the libraries zel_test_parts_none, _gui, _curl, _gui_curl), which defines
// shell::program_parts.
#ifndef SHELL_HARNESS_H
#define SHELL_HARNESS_H

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app_parts.h"
#include "zel_linux_process.h"
#include "zel_linux_test.h"
#include "zel_test.h"

namespace shell {

// The test program's parts, handed to the start-up before the boot.
extern const app_parts_t program_parts;

using Main = std::function<int(int argc, char **argv)>;

class Console {
public:
    // Bytes typed at the console.
    void type(const std::string &bytes);
    // Everything written to the console so far that was not yet taken.
    std::string take();
    // Waits until the output (not yet taken) holds `text`; answers the output
    // up to and including it (taken), or what there was after a timeout.
    std::string until(const std::string &text);
    // Types the line and Enter and answers what the shell printed before its
    // next prompt, without the echo of the line and its line end.
    std::string run(const std::string &line);
};

// Boots (once) and waits for the first prompt; the banner and the script's
// output are kept in boot_output().
Console &console();
const std::string &boot_output();

// A command under "/bin" whose main is `fn` (16 at a time).
void install(const std::string &name, Main fn);

// Runs `body` as the main of a new process that is not a child of the
// shell (its stdio is the console, its "PATH" "/bin"); answers its exit
// status, or -1000 when it does not end in time.
int in_process(std::function<int()> body);
// in_process, expecting 0.
void expect_ok(std::function<int()> body);

// Descriptors open in the kernel process's heap (private parts, process
// records): a measure for leaks.
uint32_t kernel_blocks();

}  // namespace shell

#endif
