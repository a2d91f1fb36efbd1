// Test support for the Linux-emulation layer: boots the kernel and the layer
// once per test binary with console streams the tests can feed and read, and
// runs test code as the `main` of emulated processes.
//
//   TEST(Layer, Something) {
//       EXPECT_EQ(0x300, zel_linux_test::run_process([] { return 3; }));
//   }
#ifndef ZEL_LINUX_TEST_H
#define ZEL_LINUX_TEST_H

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "zel_linux_process.h"
#include "zel_test.h"

namespace zel_linux_test {

using Main = std::function<int(int argc, char **argv)>;

// Boots the kernel and zel_linux_init (once), with console streams of the
// tests. What the init process does then is the application hook's, which
// each test binary defines (app_create_file_hierarchy).
void boot();

// Runs `body` as the main of a child of a fresh process and answers the
// status word its parent's waitpid gives; -1000 when it does not end in time.
int run_process(std::function<int()> body, zel_test::milliseconds timeout = zel_test::kTimeout);

// A `main` for a process made inside a test (16 at a time; the table is
// cleared by run_process).
zel_linux_main_t bind_main(Main fn);

// Inside the layer: a started child of the current process running `fn`;
// answers its pid, or -1.
int spawn(Main fn);

// Inside the layer: makes `path` (and its directories) an executable whose
// main is `fn`; 0 or -1.
int install(const char *path, Main fn);

// The console: bytes typed on its input (as the host feeder does, from an
// emulated interrupt; waits while its buffer is full) and what was written
// to its output so far (taken).
void type(const std::string &bytes);
std::string take_output();

// Live blocks of the kernel process's tracker (process records, private
// parts of descriptors).
uint32_t kernel_blocks();

}  // namespace zel_linux_test

// Inside a process body: fails the test and ends the body with 1.
#define IN_LAYER_CHECK(cond)                           \
    do {                                               \
        if (!(cond)) {                                 \
            ADD_FAILURE() << "in the process: " #cond; \
            return 1;                                  \
        }                                              \
    } while (0)

#endif
