// The block device over a file of the file tree, here an in-memory file
// whose reads and writes answer later.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "zel_file.h"
#include "zel_file_mal.h"
#include "zel_subcall.h"
#include "zel_test.h"
#include "zel_timer.h"
#include "zel_vfs.h"

namespace {

intptr_t answer(int32_t started) { return started == 0 ? zel_eda_get_return_code() : started; }

// The bytes behind the file; its callbacks move them at the node's position
// a millisecond after they are asked.
std::vector<uint8_t> g_backing;

void slow_transfer(void *locals, zel_evt_t evt, bool write) {
    auto *node = zel_target<zel_file_t>(locals);
    auto *p = static_cast<zel_fs_rw_param_t *>(locals);
    if (evt == ZEL_EVT_INIT) {
        EXPECT_EQ(0, zel_eda_set_timer(10000));
        return;
    }
    if (evt != ZEL_EVT_TIMER) return;
    const uint64_t at = node->position;
    const uint32_t n = at >= g_backing.size() ? 0 : (uint32_t)std::min<uint64_t>(p->size, g_backing.size() - at);
    if (write)
        memcpy(g_backing.data() + at, p->buffer, n);
    else
        memcpy(p->buffer, g_backing.data() + at, n);
    zel_answer(n);
}
void slow_read(void *l, zel_evt_t e) { slow_transfer(l, e, false); }
void slow_write(void *l, zel_evt_t e) { slow_transfer(l, e, true); }

zel_file_t *open_image(const char *name, size_t size) {
    zel_vfs_init();
    g_backing.assign(size, 0);
    for (size_t i = 0; i < size; i++) g_backing[i] = (uint8_t)(i / 512);
    EXPECT_EQ(0, answer(zel_file_create(nullptr, name, ZEL_FILE_READABLE | ZEL_FILE_WRITABLE)));
    zel_file_t *f = nullptr;
    EXPECT_EQ(0, answer(zel_file_open(nullptr, name, &f)));
    auto *node = reinterpret_cast<zel_vfs_file_t *>(f);
    node->u.bound.read = slow_read;
    node->u.bound.write = slow_write;
    f->size = size;
    return f;
}

TEST(FileMal, SizeInWholeBlocksAndTransfersInPlace) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        zel_file_mal_t dev{};
        dev.mal.drv = &zel_file_mal_drv;
        dev.file = open_image("file_mal_image", 10000);
        dev.block_size = 512;
        ASSERT_EQ(0, answer(zel_mal_init(&dev.mal)));
        EXPECT_EQ(9728u, dev.mal.size);
        EXPECT_EQ(512u, zel_mal_blksz(&dev.mal, 0, 512, ZEL_MAL_OP_READ));
        EXPECT_EQ(0, zel_mal_buffer(&dev.mal, 0, 512, ZEL_MAL_OP_READ, nullptr));

        uint8_t buf[1024];
        ASSERT_EQ(1024, answer(zel_mal_read(&dev.mal, 2048, 1024, buf)));
        EXPECT_EQ(4, buf[0]);
        EXPECT_EQ(5, buf[1023]);
        memset(buf, 0xAB, sizeof buf);
        ASSERT_EQ(512, answer(zel_mal_write(&dev.mal, 9216, 512, buf)));
        EXPECT_EQ(0xAB, g_backing[9216]);
        EXPECT_EQ(0xAB, g_backing[9727]);
        EXPECT_EQ(19, g_backing[9728]);

        // Past the device, not whole blocks: refused, the file untouched.
        EXPECT_EQ(-1, answer(zel_mal_write(&dev.mal, 9728, 512, buf)));
        EXPECT_EQ(-1, answer(zel_mal_read(&dev.mal, 9216, 1024, buf)));
        EXPECT_EQ(-1, answer(zel_mal_read(&dev.mal, 100, 512, buf)));
        EXPECT_EQ(-1, answer(zel_mal_read(&dev.mal, ~0ull - 511, 512, buf)));
        EXPECT_EQ(19, g_backing[9728]);

        dev.block_size = 0;
        EXPECT_EQ(-8, answer(zel_mal_init(&dev.mal)));
        EXPECT_EQ(0, answer(zel_file_close(dev.file)));
    }));
}

// The file has one position: two agents' requests must not mix their seeks.
TEST(FileMal, RequestsOfTwoAgentsKeepTheirPlaces) {
    zel_file_mal_t dev{};
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        dev.mal.drv = &zel_file_mal_drv;
        dev.file = open_image("file_mal_shared", 64 * 512);
        dev.block_size = 512;
        ASSERT_EQ(0, answer(zel_mal_init(&dev.mal)));
    }));
    static uint8_t bufs[4][512];
    int good = 0;
    std::vector<std::unique_ptr<zel_test::Agent>> agents;
    for (int i = 0; i < 4; i++)
        agents.push_back(std::make_unique<zel_test::Agent>([&, i](zel_test::Agent &, zel_evt_t evt) {
            if (evt == ZEL_EVT_INIT)
                EXPECT_EQ(0, zel_mal_read(&dev.mal, (uint64_t)(10 * i + 1) * 512, 512, bufs[i]));
            else if (evt == ZEL_EVT_RETURN && zel_eda_get_return_code() == 512 && bufs[i][0] == 10 * i + 1)
                good++;
        }));
    zel_test::run_as_irq([&] {
        for (auto &a : agents) a->start();
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return good == 4; }));
    ASSERT_TRUE(zel_test::run_in_thread([&] { EXPECT_EQ(0, answer(zel_file_close(dev.file))); }));
}

}  // namespace
