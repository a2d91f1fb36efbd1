// The line executor: chains, pipelines, simple commands, background lines.
#include <string.h>

#include "zel_linux_process.h"
#include "zel_shell.h"
#include "zel_shell_internal.h"

namespace {

enum class Step {
    Chain,     // run the parts before "&&" / "||"
    Pipeline,  // prepare the commands of the last part
    Start,     // start the pipeline and wait for it
    Detach,    // start the pipeline in the background
    Fail,      // undo what the pipeline made
    Done
};

struct Executor {
    char *rest;
    bool background;
    int status;
    zel_linux_process_t *children[ZEL_SHELL_PIPELINE_MAX];
    int count;
    int read_end;  // the previous pipe's read end, -1 none
};

void cut_trailing_space(char *line) {
    size_t n = strlen(line);
    while (n > 0 && zel_shell_is_space(line[n - 1])) line[--n] = '\0';
}

int count_unquoted(char *text, char c) {
    const char token[2] = {c, '\0'};
    int n = 0;
    for (char *p = zel_shell_find_unquoted(text, token); p; p = zel_shell_find_unquoted(p + 1, token)) ++n;
    return n;
}

int run_and_wait(char *text) {
    zel_linux_process_t *child = zel_shell_run_simple(text, -1, -1);
    if (!child) return -1;
    int pid = child->pid;
    if (zel_linux_start_process(child) != 0) {
        // No thread for it: the command did not run.
        zel_linux_delete_process(child);
        return -1;
    }
    int status = -1;
    if (zel_linux_waitpid(pid, &status, 0) != pid) return -1;
    return status;
}

Step chain(Executor &x) {
    char *and_op = zel_shell_find_unquoted(x.rest, "&&");
    char *or_op = zel_shell_find_unquoted(x.rest, "||");
    if (!and_op && !or_op) return Step::Pipeline;
    bool is_and = and_op && (!or_op || and_op < or_op);
    char *op = is_and ? and_op : or_op;
    op[0] = op[1] = '\0';
    int status = run_and_wait(x.rest);
    x.rest = op + 2;
    if (status == -1) {
        x.status = -1;
        return Step::Done;
    }
    if (is_and && status != 0) {
        x.status = status;
        return Step::Done;
    }
    if (!is_and && status == 0) {
        x.status = 0;
        return Step::Done;
    }
    return Step::Chain;
}

Step pipeline(Executor &x) {
    if (count_unquoted(x.rest, '|') >= ZEL_SHELL_PIPELINE_MAX) {
        zel_linux_printf("too many commands in a pipeline (at most %d)\r\n", ZEL_SHELL_PIPELINE_MAX);
        x.status = -1;
        return Step::Done;
    }
    for (char *bar = zel_shell_find_unquoted(x.rest, "|"); bar; bar = zel_shell_find_unquoted(x.rest, "|")) {
        *bar = '\0';
        int fds[2];
        if (zel_linux_pipe(fds) != 0) return Step::Fail;
        zel_linux_process_t *child = zel_shell_run_simple(x.rest, x.read_end, fds[1]);
        zel_linux_close(fds[1]);
        if (x.read_end >= 0) zel_linux_close(x.read_end);
        x.read_end = fds[0];
        if (!child) return Step::Fail;
        x.children[x.count++] = child;
        x.rest = bar + 1;
    }
    zel_linux_process_t *last = zel_shell_run_simple(x.rest, x.read_end, -1);
    if (x.read_end >= 0) zel_linux_close(x.read_end);
    x.read_end = -1;
    if (!last) return Step::Fail;
    x.children[x.count++] = last;
    return x.background ? Step::Detach : Step::Start;
}

// Starts the children in order; answers how many started. A child that
// cannot start and those after it are deleted unstarted: their ends of the
// pipes close, so the ones that run see the end of their input or a pipe
// without reader, and end.
int start_children(Executor &x) {
    int started = 0;
    while (started < x.count && zel_linux_start_process(x.children[started]) == 0) ++started;
    for (int i = started; i < x.count; ++i) zel_linux_delete_process(x.children[i]);
    return started;
}

Step start(Executor &x) {
    int pids[ZEL_SHELL_PIPELINE_MAX];
    for (int i = 0; i < x.count; ++i) pids[i] = x.children[i]->pid;
    const int started = start_children(x);
    for (int i = 0; i < started; ++i) {
        int status = -1;
        if (zel_linux_waitpid(pids[i], &status, 0) != pids[i]) status = -1;
        x.status = status;
    }
    // A command that did not run fails the line.
    if (started < x.count) x.status = -1;
    x.count = 0;
    return Step::Done;
}

Step detach(Executor &x) {
    for (int i = 0; i < x.count; ++i) zel_linux_detach_process(x.children[i]);
    const int started = start_children(x);
    x.status = started < x.count ? -1 : 0;
    x.count = 0;
    zel_thread_yield();
    return Step::Done;
}

Step fail(Executor &x) {
    if (x.read_end >= 0) zel_linux_close(x.read_end);
    x.read_end = -1;
    for (int i = 0; i < x.count; ++i) zel_linux_delete_process(x.children[i]);
    x.count = 0;
    x.status = -1;
    return Step::Done;
}

}  // namespace

extern "C" {

int zel_shell_execute(char *line) {
    if (!line) return -1;
    Executor x{};
    x.rest = line;
    x.read_end = -1;
    cut_trailing_space(line);
    size_t n = strlen(line);
    if (n > 0 && line[n - 1] == '&' && (n < 2 || line[n - 2] != '&')) {
        line[n - 1] = '\0';
        x.background = true;
    }
    Step step = Step::Chain;
    while (step != Step::Done) {
        switch (step) {
        case Step::Chain: step = chain(x); break;
        case Step::Pipeline: step = pipeline(x); break;
        case Step::Start: step = start(x); break;
        case Step::Detach: step = detach(x); break;
        case Step::Fail: step = fail(x); break;
        case Step::Done: break;
        }
    }
    return x.status;
}

zel_linux_process_t *zel_shell_run_simple(char *text, int in_fd, int out_fd) {
    while (*text && zel_shell_is_space(*text)) ++text;
    cut_trailing_space(text);
    if (!*text) return nullptr;
    zel_linux_process_t *child = zel_linux_create_child_process(0);
    if (!child) return nullptr;
    char *cursor = text;
    char *word = zel_shell_next_word(&cursor);
    for (; word && strchr(word, '='); word = zel_shell_next_word(&cursor)) {
        char *entry = zel_shell_expand_word(child, word);
        char *strings[2] = {entry, nullptr};
        int r = entry ? zel_linux_child_putenv(child, strings) : -1;
        if (entry && entry != word) zel_linux_free_p(child, entry);
        if (r != 0) {
            zel_linux_delete_process(child);
            return nullptr;
        }
    }
    zel_shell_main_t main = nullptr;
    if (!word || zel_shell_lookup(word, &main) != 0) {
        // A lookup that could not open a candidate for want of memory or
        // descriptors keeps that errno: the caller says the reason.
        int error = *zel_linux_errno_ptr();
        if (!word || !zel_shell_shortage(error)) {
            if (word) zel_linux_printf("%s not found\r\n", word);
            error = ZEL_LINUX_ENOENT;
        }
        zel_linux_delete_process(child);
        zel_linux_set_errno(error);
        return nullptr;
    }
    child->main = main;
    child->argv_owned = 1;
    child->argc = 0;
    char *arg0 = zel_linux_strdup_p(child, word);
    bool ok = arg0 != nullptr;
    if (ok) child->argv[child->argc++] = arg0;
    for (word = zel_shell_next_word(&cursor); ok && word && child->argc < ZEL_SHELL_ARGV_MAX;
         word = zel_shell_next_word(&cursor)) {
        char *arg = zel_shell_expand_word(child, word);
        if (arg == word) arg = zel_linux_strdup_p(child, word);
        if (!arg)
            ok = false;
        else
            child->argv[child->argc++] = arg;
    }
    child->argv[child->argc] = nullptr;
    const int from[2] = {in_fd, out_fd};
    for (int n = 0; ok && n < 2; ++n) {
        if (from[n] < 0) continue;
        zel_linux_fd_t *fd = zel_linux_fd_get(from[n]);
        ok = fd && zel_linux_fd_create_ex(child, nullptr, fd->op, n, fd->priv) == n;
    }
    if (!ok) {
        zel_linux_delete_process(child);
        return nullptr;
    }
    return child;
}

}  // extern "C"
