// The init process and console shell for tests.
#include "shell_harness.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "zel_linux_file.h"
#include "zel_shell.h"

namespace shell {
namespace {

constexpr int kSlots = 16;
Main g_mains[kSlots];
std::mutex g_slots_lock;
int g_next_slot;

template <int N>
int slot_main(int argc, char **argv) {
    return g_mains[N](argc, argv);
}

template <int... N>
zel_shell_main_t slot(std::integer_sequence<int, N...>, int i) {
    static constexpr zel_shell_main_t table[] = {slot_main<N>...};
    return table[i];
}

zel_shell_main_t bind(Main fn) {
    std::lock_guard<std::mutex> hold(g_slots_lock);
    int n = g_next_slot++;
    if (n >= kSlots) {
        ADD_FAILURE() << "more than " << kSlots << " test mains";
        n = kSlots - 1;
    }
    g_mains[n] = std::move(fn);
    return slot(std::make_integer_sequence<int, kSlots>{}, n);
}

std::string g_pending;
std::string g_boot;
Console g_console;
std::once_flag g_once;

void pull() { g_pending += zel_linux_test::take_output(); }

}  // namespace

void Console::type(const std::string &bytes) { zel_linux_test::type(bytes); }

std::string Console::take() {
    pull();
    return std::exchange(g_pending, std::string());
}

std::string Console::until(const std::string &text) {
    auto deadline = std::chrono::steady_clock::now() + zel_test::kTimeout;
    for (;;) {
        pull();
        size_t at = g_pending.find(text);
        if (at != std::string::npos) {
            std::string head = g_pending.substr(0, at + text.size());
            g_pending.erase(0, at + text.size());
            return head;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "no " << testing::PrintToString(text) << " in " << testing::PrintToString(g_pending);
            return std::exchange(g_pending, std::string());
        }
        std::this_thread::sleep_for(zel_test::milliseconds(1));
    }
}

std::string Console::run(const std::string &line) {
    type(line + "\r");
    std::string out = until(">>>");
    std::string echo = line + "\r\n";
    if (out.compare(0, echo.size(), echo) == 0) out.erase(0, echo.size());
    return out.substr(0, out.size() - 3);
}

Console &console() {
    std::call_once(g_once, [] {
        app_use_parts(&program_parts);
        zel_linux_test::boot();
        g_boot = g_console.until(">>>");
    });
    return g_console;
}

const std::string &boot_output() {
    console();
    return g_boot;
}

void install(const std::string &name, Main fn) {
    console();
    zel_shell_main_t main = bind(std::move(fn));
    std::string path = "/bin/" + name;
    ASSERT_EQ(0, in_process([&] { return zel_linux_install_builtin(path.c_str(), main) >= 0 ? 0 : 1; }));
    g_console.take();  // "... installed."
}

namespace {

struct Run {
    std::function<int()> body;
    int status = -1000;
    zel_test::Signal done;
};
std::shared_ptr<Run> g_run;

int run_main(int, char **) {
    std::shared_ptr<Run> run = g_run;
    EXPECT_EQ(0, zel_linux_set_path("/bin"));
    int status = run->body();
    run->status = status;
    run->done.set();
    return status;
}

}  // namespace

int in_process(std::function<int()> body) {
    console();
    auto run = std::make_shared<Run>();
    run->body = std::move(body);
    g_run = run;
    bool started = zel_test::run_in_thread([] {
        zel_linux_process_t *p = zel_linux_create_process(0);
        if (!p) return;
        p->cwd = zel_linux_strdup_p(p, "/");
        p->main = run_main;
        if (zel_linux_start_process(p) != 0) zel_linux_delete_process(p);
    });
    if (!started || !run->done.wait()) return -1000;
    // Let the process finish its exit before the next test looks around.
    zel_test::settle();
    return run->status;
}

void expect_ok(std::function<int()> body) { EXPECT_EQ(0, in_process(std::move(body))) << "the process failed"; }

uint32_t kernel_blocks() {
    uint32_t n = 0;
    zel_test::run_as_irq([&] { n = zel_linux_kernel_process_get()->tracker.count; });
    return n;
}

}  // namespace shell
