// Test support for the Linux-emulation layer.
#include "zel_linux_test.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "zel_linux_file.h"
#include "zel_stream_heapnode.h"
#include "zel_stream_ring.h"

namespace zel_linux_test {
namespace {

constexpr int kSlots = 16;
Main g_mains[kSlots];
int g_next_slot;

template <int N>
int slot_main(int argc, char **argv) {
    return g_mains[N](argc, argv);
}

template <int... N>
constexpr zel_linux_main_t slot_table(std::integer_sequence<int, N...>, int i) {
    constexpr zel_linux_main_t table[] = {slot_main<N>...};
    return table[i];
}

uint8_t g_in_buffer[4096];
zel_stream_ring_t g_in;
zel_stream_heapnode_t g_out;

std::once_flag g_boot_once;

}  // namespace

void boot() {
    std::call_once(g_boot_once, [] {
        zel_test::boot();
        ASSERT_TRUE(zel_test::run_in_thread([] {
            g_in.stream.op = &zel_stream_ring_op;
            g_in.buffer = g_in_buffer;
            g_in.size = sizeof g_in_buffer;
            EXPECT_EQ(0, zel_stream_init(&g_in.stream));
            zel_stream_connect_tx(&g_in.stream);
            g_out.stream.op = &zel_stream_heapnode_op;
            g_out.limit = -1;
            g_out.max_nodes = 0xFFFFFFFFu;
            EXPECT_EQ(0, zel_stream_init(&g_out.stream));
            zel_stream_connect_rx(&g_out.stream);
            zel_linux_stdio_stream_t stdio = {&g_in.stream, &g_out.stream, &g_out.stream};
            ASSERT_EQ(0, zel_linux_init(&stdio));
        }));
    });
}

zel_linux_main_t bind_main(Main fn) {
    int slot = g_next_slot++ % kSlots;
    g_mains[slot] = std::move(fn);
    return slot_table(std::make_integer_sequence<int, kSlots>{}, slot);
}

int spawn(Main fn) {
    zel_linux_process_t *child = zel_linux_create_child_process(0);
    if (!child) return -1;
    child->main = bind_main(std::move(fn));
    if (zel_linux_start_process(child) != 0) {
        zel_linux_delete_process(child);
        return -1;
    }
    return child->pid;
}

int run_process(std::function<int()> body, zel_test::milliseconds timeout) {
    boot();
    for (Main &m : g_mains) m = nullptr;
    g_next_slot = 0;
    auto *done = new zel_test::Signal;
    auto *status = new int(-1000);
    zel_linux_main_t body_main = bind_main([body = std::move(body)](int, char **) { return body(); });
    zel_linux_main_t parent_main = bind_main([=](int, char **) {
        zel_linux_process_t *child = zel_linux_create_child_process(0);
        if (child) {
            child->main = body_main;
            const int pid = child->pid;
            if (zel_linux_start_process(child) == 0)
                EXPECT_EQ(pid, zel_linux_waitpid(pid, status, 0));
            else
                zel_linux_delete_process(child);
        }
        done->set();
        return 0;
    });
    bool started = zel_test::run_in_thread([&] {
        zel_linux_process_t *parent = zel_linux_create_process(0);
        if (!parent) return;
        parent->cwd = zel_linux_strdup_p(parent, "/");
        parent->main = parent_main;
        if (zel_linux_start_process(parent) != 0) zel_linux_delete_process(parent);
    });
    if (!started || !done->wait(timeout)) return -1000;  // leaked on purpose: it may still run
    int result = *status;
    delete status;
    delete done;
    return result;
}

int install(const char *path, Main fn) {
    int fd = zel_linux_open(path, ZEL_LINUX_O_CREAT | ZEL_LINUX_O_WRONLY);
    if (fd < 0) return -1;
    int r = zel_linux_bind_executable(fd, bind_main(std::move(fn)));
    zel_linux_close(fd);
    return r;
}

void type(const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        uint32_t n = 0;
        zel_test::run_as_irq([&] {
            n = zel_stream_write(&g_in.stream, bytes.data() + done, static_cast<uint32_t>(bytes.size() - done));
        });
        done += n;
        if (done < bytes.size()) std::this_thread::sleep_for(zel_test::milliseconds(1));
    }
}

std::string take_output() {
    std::string text;
    zel_test::run_as_irq([&] {
        char buf[256];
        while (uint32_t n = zel_stream_read(&g_out.stream, buf, sizeof buf)) text.append(buf, n);
    });
    return text;
}

uint32_t kernel_blocks() { return zel_linux_kernel_process_get()->tracker.count; }

}  // namespace zel_linux_test
