// Keys typed at machine speed into the real SDL window on a virtual X
// server (Xvfb, started here; the suite is skipped without it or without
// the XTest extension). The X client library folds a key's release into
// its next press when they come a moment apart; the window still reports
// every press, in order.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display_fixture.h"
#include "x_window.h"
#include "zel_test.h"

namespace {

using disp_test::Input;

using fake_key_t = int (*)(Display *, unsigned int, Bool, unsigned long);

// A virtual X server of this process's own, on a display number it picks.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (pipe(fds) != 0) return;
        // Everything the child needs is made before the fork: other threads
        // may hold the allocator's locks.
        const std::string fd = std::to_string(fds[1]);
        const char *argv[] = {
            "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp", nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            // The server ends with this process, however it ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            close(fds[0]);
            execvp("Xvfb", const_cast<char **>(argv));
            _exit(127);
        }
        close(fds[1]);
        // The number and its line end: the server ends when it cannot
        // write them whole, so the pipe stays open as long as this process.
        char number[16] = {};
        ssize_t n = 0;
        while (pid_ > 0 && n < ssize_t(sizeof number - 1) && !strchr(number, '\n')) {
            ssize_t got = read(fds[0], number + n, sizeof number - 1 - size_t(n));
            if (got <= 0) break;
            n += got;
        }
        if (!strchr(number, '\n')) n = 0;
        if (n > 0) display_ = ":" + std::to_string(atoi(number));
    }
    const std::string &display() const { return display_; }

private:
    pid_t pid_ = 0;
    std::string display_;
};

// Lives as long as the test binary: the window thread talks to it to the end.
Xvfb &server() {
    static auto *x = new Xvfb;
    return *x;
}

class XKeys : public ::testing::Test {
protected:
    void SetUp() override {
        if (server().display().empty()) GTEST_SKIP() << "no Xvfb";
        void *xtst = dlopen("libXtst.so.6", RTLD_NOW);
        fake_key_ = xtst ? reinterpret_cast<fake_key_t>(dlsym(xtst, "XTestFakeKeyEvent")) : nullptr;
        if (!fake_key_) GTEST_SKIP() << "no XTest";
        setenv("DISPLAY", server().display().c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        unsetenv("ZEL_DISPLAY");
        // The server takes connections before the window opens on it.
        ASSERT_TRUE(zel_test::wait_until([&] { return (dpy_ = XOpenDisplay(nullptr)) != nullptr; }));
        ASSERT_TRUE(disp_test::start_display());
        disp_test::listen_to_input();
        Window win = 0;
        ASSERT_TRUE(
            zel_test::wait_until([&] { return (win = find_window(dpy_, DefaultRootWindow(dpy_), "Trellow v1.4")); }));
        // Keys go to the window that has the focus.
        ASSERT_TRUE(zel_test::wait_until([&] {
            XSetInputFocus(dpy_, win, RevertToParent, CurrentTime);
            XSync(dpy_, False);
            Window focus = 0;
            int revert = 0;
            XGetInputFocus(dpy_, &focus, &revert);
            return focus == win;
        }));
        disp_test::take_inputs();
    }
    void TearDown() override {
        if (dpy_) XCloseDisplay(dpy_);
    }
    // Presses and releases each key in turn, with nothing between them.
    void type(const std::vector<KeySym> &keys, bool shifted) {
        const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
        for (KeySym k : keys) {
            const KeyCode code = XKeysymToKeycode(dpy_, k);
            if (shifted) fake_key_(dpy_, shift, True, 0);
            fake_key_(dpy_, code, True, 0);
            fake_key_(dpy_, code, False, 0);
            if (shifted) fake_key_(dpy_, shift, False, 0);
        }
        XSync(dpy_, False);
    }
    // The keyboard reports until the last key's release, press by press:
    // the usages of the presses in order.
    static std::vector<uint64_t> presses_until_released(uint64_t last_usage, size_t expected) {
        std::vector<uint64_t> presses;
        bool released = false;
        zel_test::wait_until([&] {
            for (const Input &in : disp_test::take_inputs()) {
                // Keys only: the text they type is reported apart.
                if (in.type != ZEL_INPUT_TYPE_KEYBOARD || (in.evt.id & ZEL_INPUT_KEY_TEXT)) continue;
                const uint64_t usage = in.evt.id & ZEL_INPUT_KEY_USAGE_MASK;
                if (in.evt.id & ZEL_INPUT_KEY_PRESS) {
                    presses.push_back(usage);
                    released = false;
                } else if (usage == last_usage) {
                    released = true;
                }
            }
            return released && presses.size() >= expected;
        });
        return presses;
    }

    Display *dpy_ = nullptr;
    fake_key_t fake_key_ = nullptr;
};

TEST_F(XKeys, EveryPressOfABurstIsReportedInOrder) {
    std::vector<KeySym> keys;
    std::vector<uint64_t> usages;
    for (int i = 0; i < 40; ++i) {
        keys.push_back(i % 2 ? XK_b : XK_a);
        usages.push_back(i % 2 ? 5 : 4);
    }
    type(keys, false);
    EXPECT_EQ(usages, presses_until_released(5, usages.size())) << "a and b alternating";

    keys.assign(40, XK_a);
    usages.assign(40, 4);
    type(keys, false);
    EXPECT_EQ(usages, presses_until_released(4, usages.size())) << "the same key";
}

// Text typed with no delay, capitals with Shift: the window reports every
// character as typed, in order, whatever order the keys' reports take, and
// marks the letters' key reports as typed already.
TEST_F(XKeys, TypedTextOfABurstIsReportedAsTyped) {
    const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
    std::string sent;
    for (int i = 0; i < 10; ++i) sent += "AbCd";
    for (char c : sent) {
        const bool upper = c >= 'A' && c <= 'Z';
        const KeyCode code = XKeysymToKeycode(dpy_, XK_a + (upper ? c - 'A' : c - 'a'));
        if (upper) fake_key_(dpy_, shift, True, 0);
        fake_key_(dpy_, code, True, 0);
        fake_key_(dpy_, code, False, 0);
        if (upper) fake_key_(dpy_, shift, False, 0);
    }
    XSync(dpy_, False);
    std::string typed;
    bool letters_marked = true;
    zel_test::wait_until([&] {
        for (const Input &in : disp_test::take_inputs()) {
            if (in.type != ZEL_INPUT_TYPE_KEYBOARD) continue;
            if (in.evt.id & ZEL_INPUT_KEY_TEXT) {
                typed += static_cast<char>(in.evt.value);
            } else {
                const uint64_t usage = in.evt.id & 0x1FF;
                if (usage >= 4 && usage <= 29 && !(in.evt.id & ZEL_INPUT_KEY_TYPED)) letters_marked = false;
            }
        }
        return typed.size() >= sent.size();
    });
    EXPECT_EQ(sent, typed);
    EXPECT_TRUE(letters_marked) << "a letter's key report would type it again";
}

TEST_F(XKeys, ShiftedLettersOfABurstAreAllShifted) {
    type(std::vector<KeySym>(20, XK_a), true);
    std::vector<uint64_t> presses = presses_until_released(225, 40);
    std::vector<uint64_t> expected;
    for (int i = 0; i < 20; ++i) {
        expected.push_back(225);  // Shift
        expected.push_back(0x204);
    }
    EXPECT_EQ(expected, presses);
}

}  // namespace
