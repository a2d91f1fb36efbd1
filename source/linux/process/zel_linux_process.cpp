// Processes: records, creation, start, exit, waitpid, exec, the process
// main entry and the start of the layer.
#include "zel_linux_process.h"

#include <string.h>

#include "zel_linux_console.h"
#include "zel_linux_file.h"
#include "zel_timer.h"
#include "zel_trace.h"
#include "zel_vfs.h"

namespace {

zel_linux_process_t g_kernel_process;
int32_t g_next_pid;
zel_dlist_t g_processes;
zel_linux_process_t *g_init_process;

zel_linux_process_t *kernel() { return &g_kernel_process; }

zel_linux_process_t *process_of_node(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_linux_process_t, node); }
zel_linux_process_t *child_of_node(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_linux_process_t, child_node); }
zel_linux_thread_t *thread_of_node(zel_dlist_node_t *n) { return ZEL_CONTAINER_OF(n, zel_linux_thread_t, node); }

void unlist(zel_linux_process_t *p) {
    if (!p->listed) return;
    zel_dlist_remove(&g_processes, &p->node);
    p->listed = 0;
}

void relist(zel_linux_process_t *p) {
    if (p->listed) return;
    zel_dlist_append(&g_processes, &p->node);
    p->listed = 1;
}

void free_record(zel_linux_process_t *p) {
    unlist(p);
    if (g_init_process == p) g_init_process = nullptr;
    zel_linux_free_p(kernel(), p);
}

// The record of an ended process nobody will wait for: freed now, or by the
// end of its last detached thread, which still uses it.
void let_go(zel_linux_process_t *p) {
    if (zel_dlist_is_empty(&p->detached))
        free_record(p);
    else
        p->reaped = 1;
}

void close_descriptors(zel_linux_process_t *p) {
    while (p->fds.head) {
        zel_linux_fd_t *fd = ZEL_CONTAINER_OF(p->fds.head, zel_linux_fd_t, node);
        // The number always goes; a class's failing close has nobody left to tell.
        (void)zel_linux_fd_close_in_process(p, fd->number);
    }
}

// Ends every wait of the process's threads but the exiting one: their
// triggers are signalled as ended, and joins, waitpid, mutex locks and the
// wait of a main thread gone with pthread_exit look again (and find the
// process ending). A waitpid woken so no longer waits for its child: the
// exit reaps it.
void end_waits(zel_linux_process_t *p, zel_linux_thread_t *self) {
    while (zel_dlist_node_t *n = p->wait_queue.head) {
        zel_linux_trig_t *trig = ZEL_CONTAINER_OF(n, zel_linux_trig_t, node);
        if (trig->process == p)
            zel_linux_trig_signal(trig, ZEL_LINUX_TRIG_ENDED);
        else
            zel_dlist_remove(&p->wait_queue, n);
    }
    for (zel_dlist_node_t *n = p->children.head; n; n = n->next) {
        zel_linux_process_t *child = child_of_node(n);
        if (child->waiter != self) child->waiter = nullptr;
    }
    // Joiners, waitpid, locks, exec and the main thread gone with
    // pthread_exit all wait parked.
    auto wake = [self](zel_linux_thread_t *t) {
        if (t != self && t->parked)
            (void)zel_eda_wake(&t->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    };
    for (zel_dlist_node_t *n = p->threads.head; n; n = n->next) wake(thread_of_node(n));
    for (zel_dlist_node_t *n = p->detached.head; n; n = n->next) wake(thread_of_node(n));
}

// Frees the argument strings when the process owns them.
void drop_argv(zel_linux_process_t *p) {
    if (!p->argv_owned) return;
    p->argv_owned = 0;
    for (int i = 0; i < p->argc && i < ZEL_LINUX_ARGV_MAX; ++i) {
        zel_linux_free_p(p, p->argv[i]);
        p->argv[i] = nullptr;
    }
}

// Everything of the process but its descriptors and its record.
void release_memory(zel_linux_process_t *p) {
    for (int i = 0; i < ZEL_LINUX_LIB_SLOTS; ++i) {
        zel_linux_lib_slot_t *slot = &p->libs[i];
        if (slot->data && slot->destructor) slot->destructor(slot->data);
        slot->data = nullptr;
        slot->destructor = nullptr;
    }
    while (void *block = p->teardown) {
        memcpy(&p->teardown, block, sizeof(void *));
        zel_linux_free_p(p, block);
    }
    if (p->environ) {
        for (char **e = p->environ; *e; ++e) zel_linux_free_p(p, *e);
        zel_linux_free_p(p, p->environ);
        p->environ = nullptr;
    }
    drop_argv(p);
    zel_linux_free_p(p, p->cwd);
    p->cwd = nullptr;
    if (p->tracker.total || p->tracker.count) zel_linux_tracker_release(&p->tracker);
}

zel_linux_process_t *stdio_source(zel_linux_process_t *p) {
    zel_linux_process_t *s = p->stdio_src;
    return (!s || s == p) ? kernel() : s;
}

// Waits (as `self`) until the child has ended, hands over its status word
// and frees it: true. False (errno 9) when the exit of self's process ends
// the wait: the child is then the exit's, and self does not touch it again.
bool reap(zel_linux_process_t *child, zel_linux_thread_t *self, int *status_out) {
    unlist(child);
    if (child->status & ZEL_LINUX_PROC_RUNNING) {
        if (zel_linux_thread_ending(self)) {
            zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
            return false;
        }
        child->waiter = self;
        while (child->status & ZEL_LINUX_PROC_RUNNING) {
            if (self->restarting) {
                // Exec restarts self: the child can be waited for again.
                child->waiter = nullptr;
                relist(child);
            }
            zel_linux_thread_park(self);
            if (zel_linux_thread_ending(self)) {
                // The exit took the child over (and may have freed it).
                zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
                return false;
            }
        }
    }
    if (status_out) *status_out = static_cast<int>(child->status);
    if (child->never_ran) zel_linux_cleanup_process(child);
    zel_linux_detach_process(child);
    let_go(child);
    return true;
}

// The main entry of every process's main thread.
int process_main_entry(zel_linux_thread_t *t) {
    zel_linux_process_t *p = t->process;
    t->restarting = 0;
    t->left = 0;
    if (zel_linux_thread_t *w = p->exec_waiter) {
        p->exec_waiter = nullptr;
        (void)zel_eda_wake(&w->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    }
    zel_linux_process_t *src = stdio_source(p);
    zel_linux_fd_t *made[3] = {nullptr, nullptr, nullptr};
    for (int n = 0; n < 3; ++n) {
        if (zel_linux_fd_get_in_process(p, n)) continue;
        zel_linux_fd_t *from = zel_linux_fd_get_in_process(src, n);
        // Fails only without memory: the child then lacks that descriptor.
        if (from) (void)zel_linux_fd_create_ex(p, &made[n], from->op, n, from->priv);
    }
    // Console input readiness reaches descriptor 2; it is relayed to the
    // console's descriptor 0, never to a pipe that stands in for it.
    if (made[0] && made[2] && made[0]->op == &zel_linux_console_op && made[2]->op == &zel_linux_console_op)
        made[2]->priv->link = made[0]->priv;
    char *argv[ZEL_LINUX_ARGV_MAX + 1];
    memcpy(argv, p->argv, sizeof argv);
    int r = p->main ? p->main(p->argc, argv) : -1;
    t->exit_value = static_cast<uintptr_t>(static_cast<intptr_t>(r));
    zel_linux_exit(r);
}

// The main of the first process.
int init_thread_main(int, char **) {
    if (!g_init_process) g_init_process = zel_linux_get_cur_process();
    if (app_create_file_hierarchy() != 0) return 0;
    (void)zel_linux_execl("/bin/init", "init", static_cast<char *>(nullptr));
    // Exec came back: no memory for the arguments (or no "/bin/init"). No
    // program would ever run.
    zel_host_fail_start("no memory for the init process's program (\"/bin/init\")");
}

}  // namespace

extern "C" {

const zel_linux_thread_op_t zel_linux_process_main_op = {
    .extra = 0,
    .entry = process_main_entry,
    .on_exit = zel_linux_thread_on_exit,
};

zel_linux_process_t *zel_linux_kernel_process_get(void) { return kernel(); }

zel_linux_process_t *zel_linux_get_cur_process(void) {
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    zel_linux_process_t *p = (t && t->process) ? t->process : kernel();
    if (p->pid == 0 && g_init_process) return g_init_process;
    return p;
}

zel_linux_process_t *zel_linux_create_process(uint32_t stack_size) {
    zel_linux_process_t *p =
        static_cast<zel_linux_process_t *>(zel_linux_calloc_p(kernel(), 1, sizeof(zel_linux_process_t)));
    if (!p) return nullptr;
    p->prio = -1;
    p->stdio_src = p;
    if (!zel_linux_create_thread(p, &zel_linux_process_main_op, stack_size, nullptr)) {
        zel_linux_free_p(kernel(), p);
        return nullptr;
    }
    p->pid = g_next_pid++;
    zel_dlist_append(&g_processes, &p->node);
    p->listed = 1;
    if (p->pid != 0) p->ppid = zel_linux_get_cur_process()->pid;
    return p;
}

zel_linux_process_t *zel_linux_create_child_process(uint32_t stack_size) {
    zel_linux_process_t *parent = zel_linux_get_cur_process();
    zel_linux_process_t *p = zel_linux_create_process(stack_size);
    if (!p) return nullptr;
    p->parent = parent;
    p->stdio_src = parent->stdio_src;
    zel_dlist_append(&parent->children, &p->child_node);
    p->cwd = zel_linux_strdup_p(p, parent->cwd ? parent->cwd : "/");
    if (!p->cwd) {
        zel_linux_delete_process(p);
        return nullptr;
    }
    for (char **e = parent->environ; e && *e; ++e) {
        char *copy = zel_linux_strdup_p(p, *e);
        if (!copy || zel_linux_putenv_p(p, copy) != 0) {
            zel_trace(1, "spawn: failed to dup env %s", *e);
            zel_linux_free_p(p, copy);
            zel_linux_delete_process(p);
            return nullptr;
        }
    }
    return p;
}

int zel_linux_start_process(zel_linux_process_t *process) {
    zel_linux_thread_t *main = process->threads.head ? thread_of_node(process->threads.head) : nullptr;
    if (!main) return -1;
    process->status |= ZEL_LINUX_PROC_RUNNING;
    if (zel_linux_start_thread(main, process->prio) != 0) {
        // It never ran, as when its start fails after an agent started it:
        // its main thread goes (it has ended, or never started), and a
        // caller that reaps it instead of deleting it gets the status of a
        // program that could not run and has it cleaned up.
        zel_linux_discard_thread(main);
        process->never_ran = 1;
        process->status = static_cast<uint32_t>(ZEL_LINUX_START_FAILED) << 8;
        zel_linux_set_errno(ZEL_LINUX_ENOMEM);
        return -1;
    }
    return 0;
}

uint32_t zel_linux_running_processes(void) {
    uint32_t n = 0;
    for (zel_dlist_node_t *node = g_processes.head; node; node = node->next)
        if (process_of_node(node)->status & ZEL_LINUX_PROC_RUNNING) ++n;
    return n;
}

void zel_linux_detach_process(zel_linux_process_t *process) {
    if (!process->parent) return;
    zel_dlist_remove(&process->parent->children, &process->child_node);
    process->parent = nullptr;
}

void zel_linux_cleanup_process(zel_linux_process_t *p) {
    close_descriptors(p);
    release_memory(p);
}

void zel_linux_delete_process(zel_linux_process_t *process) {
    zel_linux_cleanup_process(process);
    while (process->threads.head) zel_linux_discard_thread(thread_of_node(process->threads.head));
    zel_linux_detach_process(process);
    free_record(process);
}

void zel_linux_exit(int status) {
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    zel_linux_process_t *p = t ? t->process : nullptr;
    if (!p || p->exiting) zel_thread_exit();
    p->exiting = t;
    p->status = (static_cast<uint32_t>(status) << 8) | ZEL_LINUX_PROC_RUNNING;
    zel_dlist_remove(t->detached ? &p->detached : &p->threads, &t->node);
    t->detached = 0;
    if (p->at_exit) p->at_exit();
    // The other threads' calls end now (from here on none waits), so the
    // joins below cannot hang on a thread blocked in a call.
    end_waits(p, t);
    while (p->threads.head) {
        zel_linux_thread_t *other = thread_of_node(p->threads.head);
        zel_trace(3, "linux: undetached thread %d, need pthread_join before exit\n", static_cast<int>(other->tid));
        if (zel_linux_thread_join_record(other, nullptr) != 0) {
            // Someone else joins it: that joiner frees it.
            zel_dlist_remove(&p->threads, &other->node);
            other->process = nullptr;
        }
    }
    while (p->children.head) {
        zel_linux_process_t *child = child_of_node(p->children.head);
        zel_trace(3, "linux: undetached process %d, need waitpid before exit\n", static_cast<int>(child->pid));
        reap(child, t, nullptr);
    }
    close_descriptors(p);
    // Detached threads (a resolver, a worker) may still use the process's
    // memory: the last of them to end gives it back.
    if (zel_dlist_is_empty(&p->detached)) release_memory(p);
    p->status &= ~ZEL_LINUX_PROC_RUNNING;
    if (p->waiter) {
        p->waiter->exit_value = p->status;
        (void)zel_eda_wake(&p->waiter->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    } else if (!p->parent) {
        // Nobody will wait for it (detached, or the first process).
        let_go(p);
    }
    t->process = nullptr;
    zel_thread_exit();
}

void zel_linux_process_detached_ended(zel_linux_process_t *p) {
    if (zel_linux_thread_t *w = p->alone_waiter)
        (void)zel_eda_wake(&w->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    if (!p->exiting || (p->status & ZEL_LINUX_PROC_RUNNING)) return;  // its exit is not done yet
    release_memory(p);
    if (p->reaped) free_record(p);
}

void zel_linux_process_start_failed(zel_linux_process_t *p, zel_linux_thread_t *main) {
    zel_dlist_remove(&p->threads, &main->node);
    main->process = nullptr;  // its on-exit frees it
    p->never_ran = 1;
    p->status = static_cast<uint32_t>(ZEL_LINUX_START_FAILED) << 8;
    if (p->waiter) {
        p->waiter->exit_value = p->status;
        (void)zel_eda_wake(&p->waiter->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    } else if (!p->parent) {
        // Nobody will wait for it. What it owns cannot be closed here (a
        // file's close needs a thread): it stays with the record.
        unlist(p);
    }
}

void zel_linux_process_exec_failed(zel_linux_process_t *p, const zel_linux_thread_t *gone) {
    zel_trace(1, "linux: exec: no host thread for the main thread of process %d\r\n", static_cast<int>(p->pid));
    zel_dlist_t *lists[] = {&p->threads, &p->detached};
    for (zel_dlist_t *list : lists)
        for (zel_dlist_node_t *n = list->head; n; n = n->next)
            if (thread_of_node(n)->joiner == gone) thread_of_node(n)->joiner = nullptr;
    for (zel_dlist_node_t *n = p->children.head; n; n = n->next)
        if (child_of_node(n)->waiter == gone) child_of_node(n)->waiter = nullptr;
    if (p == g_init_process) zel_host_fail_start("no host thread for the init process's program (\"zel_thread\")");
    if (zel_linux_thread_t *w = p->exec_waiter) {
        p->exec_failed = 1;
        (void)zel_eda_wake(&w->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
        return;
    }
    p->status = static_cast<uint32_t>(ZEL_LINUX_START_FAILED) << 8;
    // Its children go on without it.
    while (p->children.head) zel_linux_detach_process(child_of_node(p->children.head));
    if (zel_dlist_is_empty(&p->threads) && zel_dlist_is_empty(&p->detached)) {
        p->never_ran = 1;  // its reaper releases what it owns
    } else {
        // Threads of it still run and use what it owns: they go on as
        // detached ones, and the record stays while they do.
        while (zel_dlist_node_t *n = p->threads.head) {
            zel_dlist_remove(&p->threads, n);
            thread_of_node(n)->detached = 1;
            zel_dlist_append(&p->detached, n);
        }
    }
    if (p->waiter) {
        p->waiter->exit_value = p->status;
        (void)zel_eda_wake(&p->waiter->thread.eda, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
    } else if (!p->parent) {
        // Nobody will wait for it; what it owns stays with the record, as
        // for a process that could not start.
        unlist(p);
    }
}

void zel_linux_exit_after_threads(void) {
    zel_linux_thread_t *t = zel_linux_get_cur_thread();
    zel_linux_process_t *p = t ? t->process : nullptr;
    while (p && !p->exiting) {
        zel_linux_thread_t *other = nullptr;
        for (zel_dlist_node_t *n = p->threads.head; n && !other; n = n->next)
            if (thread_of_node(n) != t) other = thread_of_node(n);
        if (other) {
            // Another thread joins it already: look again a little later.
            if (zel_linux_thread_join_record(other, nullptr) != 0 && !p->exiting)
                zel_thread_delay(zel_timer_ms_to_tick(1));
            continue;
        }
        if (zel_dlist_is_empty(&p->detached)) break;
        p->alone_waiter = t;
        zel_linux_thread_park(t);
        p->alone_waiter = nullptr;
    }
    zel_linux_exit(0);
}

int zel_linux_waitpid(int pid, int *status_out, int options) {
    if (pid < 1 || options != 0) return -1;
    zel_linux_process_t *cur = zel_linux_get_cur_process();
    zel_linux_process_t *child = nullptr;
    for (zel_dlist_node_t *n = g_processes.head; n; n = n->next) {
        if (process_of_node(n)->pid == pid) {
            child = process_of_node(n);
            break;
        }
    }
    if (!child || child->parent != cur) return -1;
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    if ((child->status & ZEL_LINUX_PROC_RUNNING) && !self) return -1;  // only a layer thread can wait
    return reap(child, self, status_out) ? pid : -1;
}

int zel_linux_exec_va(const char *path, const char *arg0, va_list args) {
    zel_linux_main_t main = nullptr;
    int fd = zel_linux_is_executable(path, &main);
    if (fd < 0) return -1;
    zel_linux_close(fd);
    zel_linux_process_t *p = zel_linux_get_cur_process();
    zel_linux_thread_t *self = zel_linux_get_cur_thread();
    if (zel_linux_thread_ending(self)) {
        // Its exit has begun: its main thread has no program to run any more.
        zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
        return -1;
    }
    // Copy the new arguments first: they may point into the old ones.
    char *argv[ZEL_LINUX_ARGV_MAX + 1] = {};
    int argc = 0;
    for (const char *a = arg0; a && argc < ZEL_LINUX_ARGV_MAX; a = va_arg(args, const char *)) {
        argv[argc] = zel_linux_strdup_p(p, a);
        if (!argv[argc]) {
            while (argc > 0) zel_linux_free_p(p, argv[--argc]);
            return -1;
        }
        ++argc;
    }
    drop_argv(p);
    memcpy(p->argv, argv, sizeof argv);
    p->argc = argc;
    p->argv_owned = 1;
    p->main = main;
    zel_linux_thread_t *main_thread = p->threads.head ? thread_of_node(p->threads.head) : nullptr;
    if (!main_thread || !self) return -1;
    if (self == main_thread) {
        // Restarts at the process main entry; never returns.
        self->restarting = 1;
        zel_linux_thread_restart_point();
    }
    // The main thread restarts itself where its old code can stop: in its
    // wait, or at the end of the call it is in.
    p->exec_waiter = self;
    zel_linux_thread_request_restart(main_thread);
    while (p->exec_waiter == self) {
        zel_linux_thread_park(self);
        if (p->exec_failed) {
            // No host thread for the new program: the process ends.
            p->exec_failed = 0;
            p->exec_waiter = nullptr;
            zel_linux_exit(ZEL_LINUX_START_FAILED);
        }
        if (p->exec_waiter == self && zel_linux_thread_ending(self)) {
            p->exec_waiter = nullptr;
            zel_linux_set_errno(ZEL_LINUX_FD_EBADF);
            return -1;
        }
    }
    return 0;
}

int zel_linux_execl(const char *path, const char *arg0, ...) {
    va_list args;
    va_start(args, arg0);
    int r = zel_linux_exec_va(path, arg0, args);
    va_end(args);
    return r;
}

int zel_linux_init(const zel_linux_stdio_stream_t *stdio) {
    g_next_pid = 0;
    zel_vfs_init();
    zel_linux_process_t *k = kernel();
    if (!k->cwd) k->cwd = zel_linux_strdup_p(k, "/");
    // Fails only without memory: the processes then have no console.
    if (stdio) (void)zel_linux_console_open_stdio(stdio);
    zel_linux_process_t *p = zel_linux_create_process(0);
    if (!p) return -7;
    p->prio = 0;
    p->main = init_thread_main;
    p->cwd = zel_linux_strdup_p(p, "/");
    if (!p->cwd) {
        zel_linux_delete_process(p);
        return -7;
    }
    if (zel_linux_start_process(p) != 0) {
        zel_linux_delete_process(p);
        return -7;
    }
    return 0;
}

zel_linux_fd_t *zel_linux_stdin(void) { return zel_linux_fd_get(0); }
zel_linux_fd_t *zel_linux_stdout(void) { return zel_linux_fd_get(1); }
zel_linux_fd_t *zel_linux_stderr(void) { return zel_linux_fd_get(2); }

}  // extern "C"
