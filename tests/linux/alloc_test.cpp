// Per-process memory, and a program built against the layer's headers.
#include <gtest/gtest.h>

#include <string.h>

#include "zel_host_test_hooks.h"
#include "zel_linux_file.h"
#include "zel_linux_test.h"

extern "C" int zel_layer_program_main(int argc, char **argv);

using zel_linux_test::run_process;

namespace {

TEST(LinuxAlloc, FullTrackerFailsWithoutKeepingTheBlock) {
    EXPECT_EQ(0, run_process([] {
        zel_linux_tracker_t *t = &zel_linux_get_cur_process()->tracker;
        void *last = nullptr;
        while (t->count < ZEL_LINUX_TRACKER_SLOTS) {
            last = zel_linux_malloc(8);
            if (!last) break;
        }
        EXPECT_EQ(ZEL_LINUX_TRACKER_SLOTS, t->count);
        size_t total = t->total;
        *zel_linux_errno_ptr() = 0;
        // LeakSanitizer reports the block if a full tracker kept it.
        EXPECT_EQ(nullptr, zel_linux_malloc(8));
        EXPECT_EQ(ZEL_LINUX_ENOMEM, *zel_linux_errno_ptr());
        EXPECT_EQ(total, t->total);
        zel_linux_free(last);
        EXPECT_NE(nullptr, zel_linux_malloc(8));  // the freed slot is taken again
        return 0;                                 // the teardown gives all of them back
    }));
}

TEST(LinuxAlloc, ReallocCallocAndStrdupKeepTheirPromises) {
    EXPECT_EQ(0, run_process([] {
        zel_linux_tracker_t *t = &zel_linux_get_cur_process()->tracker;
        uint32_t base = t->count;
        EXPECT_EQ(nullptr, zel_linux_realloc(nullptr, 0));
        char *p = static_cast<char *>(zel_linux_realloc(nullptr, 4));
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 16);
        memcpy(p, "abcd", 4);
        p = static_cast<char *>(zel_linux_realloc(p, 100));
        EXPECT_EQ(0, memcmp(p, "abcd", 4));
        // No memory: null, and the old block stays.
        zel_host_fail_heap_allocations(1);
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(nullptr, zel_linux_realloc(p, 1000));
        EXPECT_EQ(ZEL_LINUX_ENOMEM, *zel_linux_errno_ptr());
        EXPECT_EQ(0, memcmp(p, "abcd", 4));
        EXPECT_EQ(nullptr, zel_linux_realloc(p, 0));  // frees
        EXPECT_EQ(base, t->count);

        EXPECT_EQ(nullptr, zel_linux_calloc(SIZE_MAX / 2, 4));
        unsigned char *z = static_cast<unsigned char *>(zel_linux_calloc(10, 10));
        for (int i = 0; i < 100; ++i) EXPECT_EQ(0, z[i]);
        zel_linux_free(z);
        EXPECT_EQ(nullptr, zel_linux_strdup(nullptr));
        char *s = zel_linux_strdup("copy");
        EXPECT_STREQ("copy", s);
        zel_linux_free(s);
        zel_linux_free(nullptr);
        EXPECT_EQ(base, t->count);
        return 0;
    }));
}

TEST(LinuxAlloc, FreeingAnotherProcesssBlockIsRefused) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(0, run_process([] {
        zel_linux_process_t *kernel = zel_linux_kernel_process_get();
        void *theirs = zel_linux_malloc_p(kernel, 32);
        uint32_t mine = zel_linux_get_cur_process()->tracker.count;
        zel_linux_free(theirs);  // not this process's: left alone
        EXPECT_EQ(mine, zel_linux_get_cur_process()->tracker.count);
        zel_linux_free_p(kernel, theirs);
        return 0;
    }));
    EXPECT_TRUE(trace.contains("not the process's"));
}

TEST(LinuxProgram, CallsOfAProgramBuiltForTheLayerLandInTheLayer) {
    EXPECT_EQ(0, run_process([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/prog", 0));
        static char name[] = "program";
        static char word[] = "hello";
        char *argv[] = {name, word, nullptr};
        return zel_layer_program_main(2, argv);
    }));
}

}  // namespace
