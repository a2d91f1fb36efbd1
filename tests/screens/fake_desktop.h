// Stand-ins for the desktop's helper programs (zenity, xclip, xdg-open):
// scripts in a folder of their own put first on the host's PATH, which
// record their arguments and answer what the test set. No real dialog,
// clipboard or browser is ever reached.
#ifndef FAKE_DESKTOP_H
#define FAKE_DESKTOP_H

#include <string>
#include <vector>

namespace fake_desktop {

// Writes the scripts and puts their folder first on PATH (once).
void install();

// The next zenity runs print `out` and end with `code` (1: cancelled).
void zenity_answers(const std::string &out, int code = 0);
// While held, a helper that runs stays open once it has recorded its
// arguments (a dialog the user has not answered yet).
void hold(const std::string &helper, bool held);
// xdg-open ends with `code` (3: no browser found).
void browser_answers(int code);
// xclip prints `text` and ends with `code` (1: no text).
void clipboard_holds(const std::string &text, int code = 0);

// The arguments of the last run of a helper ("zenity", "xclip",
// "xdg-open"), one per element; empty when it did not run. Waits up to 10
// seconds for a run when `wait` is set (xdg-open, which runs aside, is
// always waited for).
std::vector<std::string> last_args(const std::string &helper, bool wait = false);
// Forgets the recorded arguments of every helper.
void forget_runs();

// While it lives, `helper` cannot be found on PATH.
class Missing {
public:
    explicit Missing(const std::string &helper);
    ~Missing();
    Missing(const Missing &) = delete;
    Missing &operator=(const Missing &) = delete;

private:
    std::string helper_, path_;
};

}  // namespace fake_desktop

#endif
