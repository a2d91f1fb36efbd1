// Heap front end and fixed-item pools.
#include <gtest/gtest.h>

#include <vector>

#include "zel_host_test_hooks.h"
#include "zel_test.h"

namespace {

TEST(Heap, AlignmentAboveTheHostHeapIsRefusedAndTraced) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(16u, zel_host_heap_alignment());
    void *p = zel_heap_malloc_aligned(16, 16);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 16);
    zel_heap_free(p);
    EXPECT_EQ(nullptr, zel_heap_malloc_aligned(32, 32));
    EXPECT_TRUE(trace.contains("fail to allocate 32 bytes with 32 alignment\r\n"));
}

TEST(Heap, ReallocEdgeCases) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(nullptr, zel_heap_realloc(nullptr, 0));
    void *p = zel_heap_realloc(nullptr, 10);
    ASSERT_NE(nullptr, p);
    memcpy(p, "abcdefghi", 10);
    zel_host_fail_heap_allocations(1);
    EXPECT_EQ(nullptr, zel_heap_realloc(p, 1000));
    EXPECT_STREQ("abcdefghi", static_cast<char *>(p)) << "the old block stays valid";
    EXPECT_TRUE(trace.contains("fail to reallocate 1000 bytes with 0 alignment\r\n"));
    p = zel_heap_realloc(p, 1000);
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("abcdefghi", static_cast<char *>(p));
    EXPECT_GE(zel_heap_size(p), 1000u);
    EXPECT_EQ(nullptr, zel_heap_realloc(p, 0)) << "size 0 frees";
    zel_heap_free(nullptr);
    EXPECT_FALSE(trace.contains("fail to allocate 0"));
}

TEST(Heap, CallocRefusesAnOverflowingProduct) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(nullptr, zel_heap_calloc(SIZE_MAX / 2 + 2, 2));
    EXPECT_EQ(nullptr, zel_heap_calloc(1u << 31, 1ull << 34));
    EXPECT_TRUE(trace.contains("fail to allocate"));
    unsigned char *p = static_cast<unsigned char *>(zel_heap_calloc(3, 5));
    ASSERT_NE(nullptr, p);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(0, p[i]);
    zel_heap_free(p);
}

TEST(Heap, AllocOrFree) {
    EXPECT_EQ(nullptr, zel_heap_alloc_or_free(nullptr, 0, 8));
    void *p = zel_heap_alloc_or_free(nullptr, 24, 8);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(nullptr, zel_heap_alloc_or_free(p, 24, 8));
}

struct Counting {
    static int calls;
    static void init(uintptr_t tag, void *item, uint32_t size) {
        calls++;
        EXPECT_EQ(77u, tag);
        memset(item, 0xAB, size);
    }
};
int Counting::calls = 0;

TEST(Pool, InitStoresAlignmentAndOrdersTheList) {
    zel_pool_cfg_t cfg{"a", 0, nullptr, nullptr};
    static zel_pool_t p0, p1, big;  // pools stay in the global list for good
    zel_pool_init(&p0, 16, 0, &cfg);
    EXPECT_EQ(1u, p0.alignment);
    EXPECT_EQ(&zel_protect_irq, zel_pool_get_protect(&p0));
    zel_pool_init(&p1, 16, 0x8000, &cfg);
    EXPECT_EQ(0u, p1.alignment);
    zel_pool_init(&big, 64, 8, &cfg);
    // larger alignment first, then larger items; a new pool goes ahead of an equal one
    std::vector<zel_pool_t *> order;
    for (zel_pool_t *p = zel_pool_list_head(); p; p = p->next)
        if (p == &p0 || p == &p1 || p == &big) order.push_back(p);
    EXPECT_EQ((std::vector<zel_pool_t *>{&big, &p0, &p1}), order);
}

TEST(Pool, BuffersFixThePoolToTheirItems) {
    zel_pool_cfg_t cfg{"fixed", 0, &zel_protect_none, nullptr};
    static zel_pool_t pool;
    zel_pool_init(&pool, 12, 8, &cfg);
    alignas(16) unsigned char small[10];
    EXPECT_FALSE(zel_pool_add_buffer(&pool, small, sizeof small, 12));
    alignas(16) static unsigned char buf[40];
    EXPECT_FALSE(zel_pool_add_buffer(&pool, buf, sizeof buf, 4)) << "items must hold a pointer";
    EXPECT_EQ(0, zel_pool_get_free_count(&pool));
    zel_pool_set_tag(&pool, 77);
    Counting::calls = 0;
    EXPECT_TRUE(zel_pool_add_buffer_ex(&pool, buf, sizeof buf, 12, Counting::init));
    EXPECT_EQ(3, zel_pool_get_free_count(&pool)) << "the last 4 bytes stay unused";
    EXPECT_EQ(3, Counting::calls);
    std::vector<void *> items;
    for (int i = 0; i < 3; ++i) items.push_back(zel_pool_alloc(&pool));
    for (void *it : items) {
        ASSERT_NE(nullptr, it);
        EXPECT_GE(static_cast<unsigned char *>(it), buf);
        EXPECT_LT(static_cast<unsigned char *>(it), buf + 36);
    }
    zel_host_fail_heap_allocations(0);
    EXPECT_EQ(nullptr, zel_pool_alloc(&pool)) << "an empty fixed pool does not use the heap";
    for (void *it : items) zel_pool_free(&pool, it);
    EXPECT_EQ(3, zel_pool_get_free_count(&pool));
    EXPECT_EQ(0, pool.used_count);
}

TEST(Pool, GrowsFromTheHeapAndReusesFreedItems) {
    zel_test::TraceCapture trace;
    zel_pool_cfg_t cfg{"grow", 0, nullptr, nullptr};
    static zel_pool_t pool;
    zel_pool_init(&pool, 24, 8, &cfg);
    void *a = zel_pool_alloc(&pool);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(1, pool.used_count);
    EXPECT_EQ(0, pool.free_count);
    zel_pool_free(&pool, a);
    EXPECT_EQ(1, pool.free_count);
    EXPECT_EQ(a, zel_pool_alloc(&pool));
    zel_host_fail_heap_allocations(1);
    EXPECT_EQ(nullptr, zel_pool_alloc(&pool));
    EXPECT_TRUE(trace.contains("fail to allocate 24 bytes with 8 alignment"));
    void *b = zel_pool_alloc(&pool);
    EXPECT_NE(nullptr, b);
    zel_pool_free(&pool, a);
    zel_pool_free(&pool, b);
    EXPECT_EQ(2, pool.free_count);
    // items grown from the heap stay with the pool for good; this record is
    // initialised again by the next run, so hand them back here
    while (void *item = pool.free_head) {
        memcpy(&pool.free_head, item, sizeof(void *));
        zel_heap_free(item);
    }
}

}  // namespace
