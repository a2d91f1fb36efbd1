/* Processes of the Linux-emulation layer and the start of the layer.
 *
 * A process owns an argument vector, an environment, a working directory
 * (always ending in '/'), a descriptor table, a tracker of its heap blocks,
 * per-process library data, its threads and its children. Its main thread
 * runs the process main entry: it gives the process descriptors 0 to 2 from
 * its stdio source when it lacks them, calls `main` and exits with its
 * result.
 *
 * Life: created (not running) -> started (running bit) -> exited (status
 * stored, every wait of its other threads ended, joinable threads joined,
 * children reaped, descriptors closed, running bit cleared, the waiter
 * woken) -> freed by the parent's waitpid, at once by waitpid when it had
 * already ended, at its exit when it has no parent, or by
 * zel_linux_delete_process when it never started.
 *
 * Exit never waits for detached threads. Once it has begun, no call of the
 * process's other threads waits any more: waits in progress end and new ones
 * end at once (-1 with errno 9, as when the descriptor is closed), and so do
 * joins, mutex locks and waitpid (whose child the exit then reaps). Detached threads still running keep the process's memory
 * (environment, blocks, library data) and its record: the last of them to
 * end gives the memory back, and frees the record when the parent has let
 * go of it.
 *
 * The status word is the exit code shifted left by 8 (unsigned arithmetic)
 * with bit 0 set while the process runs. */
#ifndef ZEL_LINUX_PROCESS_H
#define ZEL_LINUX_PROCESS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "zel_linux_alloc.h"
#include "zel_linux_fd.h"
#include "zel_linux_thread.h"
#include "zel_list.h"
#include "zel_stream.h"

extern "C" {

#define ZEL_LINUX_ARGV_MAX 32
#define ZEL_LINUX_LIB_SLOTS 16
#define ZEL_LINUX_PATH_MAX 260
#define ZEL_LINUX_PROC_RUNNING 0x1u

typedef int (*zel_linux_main_t)(int argc, char **argv);

typedef struct zel_linux_lib_slot {
    void *data;
    void (*destructor)(void *data);
} zel_linux_lib_slot_t;

struct zel_linux_process {
    int32_t argc;
    char *argv[ZEL_LINUX_ARGV_MAX + 1]; /* at most 32, then a null pointer */
    uint8_t argv_owned;                 /* the strings are blocks of this process */
    zel_linux_main_t main;
    char **environ; /* name=value strings of this process, null-terminated */
    uint32_t status;
    zel_linux_process_t *stdio_src; /* itself or null: the kernel process */
    int32_t pid;
    int32_t ppid;
    zel_linux_tracker_t tracker;
    void (*at_exit)(void);
    char *cwd;
    zel_dlist_node_t node; /* in the list of all processes */
    zel_dlist_t threads;   /* joinable threads; the first is the main thread */
    zel_dlist_t fds;
    zel_bitmap_t fd_used[ZEL_LINUX_FD_MAX / 32];
    zel_linux_thread_t *waiter; /* the thread in waitpid on this process */
    void *teardown;             /* blocks freed at the end, linked through their first word */
    zel_dlist_t wait_queue;     /* triggers its threads wait on */
    int32_t prio;
    zel_linux_thread_t *exiting;
    zel_linux_process_t *parent;
    zel_dlist_t children;
    zel_dlist_node_t child_node;
    zel_linux_lib_slot_t libs[ZEL_LINUX_LIB_SLOTS];
    zel_dlist_t detached;             /* detached threads that have not ended */
    zel_linux_thread_t *exec_waiter;  /* a thread waiting for its exec to restart the main thread */
    uint8_t listed;                   /* in the list of all processes */
    uint8_t reaped;                   /* ended and let go of: its last detached thread frees it */
    uint8_t never_ran;                /* ended without running: its reaper cleans it up */
    uint8_t exec_failed;              /* exec found no host thread: its exec waiter ends it */
    zel_linux_thread_t *alone_waiter; /* the main thread, gone with pthread_exit, waits for the others */
    /* signals (see zel_linux_signal.h) */
    uint32_t sig_pending;                       /* bit n: signal n is pending */
    uint32_t sig_blocked;                       /* bit n: signal n is held back */
    struct zel_linux_sig_handler *sig_handlers; /* handler records, linked through next */
    zel_dlist_t sig_waiters;                    /* zel_linux_sig_waiter_t records of threads waiting for a signal */
    uint8_t sig_delivering;                     /* a delivery is under way */
};

/* The console streams handed to zel_linux_init (stderr may be stdout). */
typedef struct zel_linux_stdio_stream {
    zel_stream_t *in;
    zel_stream_t *out;
    zel_stream_t *err;
} zel_linux_stdio_stream_t;

/* Starts the layer: the console descriptors 0 to 2 of the kernel process,
 * the file tree and the init process (pid 0). 0, or -7. */
[[nodiscard]] int zel_linux_init(const zel_linux_stdio_stream_t *stdio);
zel_linux_process_t *zel_linux_kernel_process_get(void);
/* The application's hook, run by the init process before "/bin/init"; every
 * program that links the layer defines it. Anything but 0 ends the init
 * process without running "/bin/init". */
int app_create_file_hierarchy(void);

/* The process of the calling thread; the kernel process for agents and for
 * threads that are not layer threads; a process with pid 0 reads as the
 * init process once that is recorded. */
zel_linux_process_t *zel_linux_get_cur_process(void);

/* Stack size 0: 131072 bytes. Null when memory runs out. */
zel_linux_process_t *zel_linux_create_process(uint32_t stack_size);
/* The same, made a child of the current process with its stdio source, a
 * copy of its working directory and of its environment. */
zel_linux_process_t *zel_linux_create_child_process(uint32_t stack_size);
/* 0 once the main thread runs (from an agent: once it is started); -1 with
 * errno ENOMEM when it cannot be started (no memory, or no host thread for
 * it): the process has not run (its status is ZEL_LINUX_START_FAILED shifted
 * left by 8, its main thread is gone) and the caller deletes it, or reaps it
 * with waitpid, which cleans it up. */
[[nodiscard]] int zel_linux_start_process(zel_linux_process_t *process);
/* How many processes run now (started and not ended), detached ones too. */
uint32_t zel_linux_running_processes(void);
/* Cleans up a process that never started, takes it out of its parent's
 * children and frees it. */
void zel_linux_delete_process(zel_linux_process_t *process);
void zel_linux_cleanup_process(zel_linux_process_t *process);
void zel_linux_detach_process(zel_linux_process_t *process);
/* The on-exit of the last detached thread of a process: gives back what the
 * process kept for it once the process has ended. */
void zel_linux_process_detached_ended(zel_linux_process_t *process);
/* The on-exit of a main thread that never ran (its host thread could not be
 * created) when nobody waited for its start: the process ends with the
 * status ZEL_LINUX_START_FAILED, and its waitpid, which cleans it up, is
 * woken. */
void zel_linux_process_start_failed(zel_linux_process_t *process, zel_linux_thread_t *main);
/* The on-exit of a main thread that exec could not restart (no host thread
 * for the new program), once it has left the process: nothing of the
 * process waits on `gone` any more (its joins and waitpid are forgotten,
 * so nobody wakes it). The process ends with
 * the status ZEL_LINUX_START_FAILED: through the thread that waits for the
 * exec when there is one (it exits), otherwise here: its waitpid is woken
 * and cleans it up (what other threads of it still use stays until they
 * end). The init process so ends the program: nothing would ever run. */
void zel_linux_process_exec_failed(zel_linux_process_t *process, const zel_linux_thread_t *gone);
/* pthread_exit of a main thread: the process lives on while its other
 * threads run, and ends with status 0 after the last of them. Never
 * returns. */
void zel_linux_exit_after_threads(void) __attribute__((noreturn));

/* exit (zel_linux_libc.h) never returns. */
/* pid >= 1, options 0, a child of the calling process. Answers the pid. */
[[nodiscard]] int zel_linux_waitpid(int pid, int *status_out, int options);

/* execl (zel_linux_libc.h) and this: the argument list ends with a null
 * pointer; -1 when the path is not an executable (nothing changes) or the
 * process's exit has begun (errno 9); the main thread calling it does not
 * come back; another thread gets 0 once the main thread has restarted. The
 * main thread restarts itself (see zel_linux_thread_request_restart): a
 * wait of it ends as under an exit, and it restarts once its call has
 * unwound, after a file-system call it was in has finished, with every
 * registration and hold of the call given back. */
[[nodiscard]] int zel_linux_exec_va(const char *path, const char *arg0, va_list args);
/* Answers an open descriptor of the path when its node is executable (and
 * its bound main through main_out), else -1. The caller closes it. */
int zel_linux_is_executable(const char *path, zel_linux_main_t *main_out);
[[nodiscard]] int zel_linux_bind_executable(int fd, zel_linux_main_t main);

/* Joins `name` to `dir` (null: the working directory) and normalises it
 * component by component ('/' and '\\' separate; "." is dropped; ".."
 * climbs). 0; -12 when it does not fit in `size` (errno 34 when the working
 * directory is too long); -2 when ".." climbs above the root. */
[[nodiscard]] int zel_linux_generate_path(char *out, size_t size, const char *dir, const char *name);
/* getcwd (zel_linux_libc.h): null with errno 34 when the directory does not
 * fit in size. */

/* ---- library slots ---- */
[[nodiscard]] int zel_linux_library_register(int32_t *slot_word, void *data, void (*destructor)(void *data));

/* One module of a library that keeps its static data per process. */
typedef struct zel_linux_dynlib_desc {
    int32_t *slot;      /* the library's slot-number word, -1 until assigned */
    uint16_t module;    /* this module's number */
    uint16_t modules;   /* modules of the library */
    uint32_t area_size; /* the whole data area of the library */
    uint32_t module_size;
    void (*init)(void *data);
} zel_linux_dynlib_desc_t;
void *zel_linux_dynlib_get(const zel_linux_dynlib_desc_t *desc);

/* ---- environment ----
 * Entries are blocks of the process's heap: the vector stores the pointer
 * itself, and replacing or removing an entry frees it. */
[[nodiscard]] int zel_linux_putenv_p(zel_linux_process_t *process, char *entry);
[[nodiscard]] int zel_linux_setenv_p(zel_linux_process_t *process, const char *name, const char *value, int overwrite);
char *zel_linux_getenv_p(zel_linux_process_t *process, const char *name);
/* Copies each string of a null-terminated array into the process. */
[[nodiscard]] int zel_linux_child_putenv(zel_linux_process_t *process, char *const *strings);

/* stdin, stdout and stderr (zel_linux_libc.h) are descriptors 0, 1 and 2 of
 * the calling process. */

}  // extern "C"

#endif
