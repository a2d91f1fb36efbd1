/* Ending the program on request, at an operation boundary.
 *
 * A request to end comes from the host (SIGINT, SIGTERM or SIGHUP, once
 * zel_host_end_watch_signals has run) or from the program itself
 * (zel_host_end_request: its window closed, say). Work that must not be cut
 * in the middle (a copy onto a volume) holds the end off between
 * zel_host_end_hold and zel_host_end_release, and polls
 * zel_host_end_requested at its operation boundaries: once a request is
 * pending it finishes the operation in progress, stops there and releases.
 * The program ends as soon as a request is pending and nothing holds it off:
 * inside the last zel_host_end_release, or, when nothing held it, on a host
 * thread of its own once no framework code runs (it takes the interrupt lock
 * first). It ends through the exit hook (zel_host_set_exit_hook), with the
 * request's code (128 + the signal's number for a signal).
 *
 * The end signals are blocked on the thread that calls
 * zel_host_end_watch_signals and on every thread started after it (they
 * inherit the mask), and read by the watcher alone. A restart
 * (zel_host_reset) stops their taking before it decides: an end requested
 * by then ends the program with its code instead of the restart, and a
 * signal that comes later stays pending and blocked across the exec, for
 * the new image to take once its own watcher runs. Helper programs the
 * program starts get them unblocked.
 *
 * A restart asked for with zel_host_end_restart happens as an end does: at
 * once when nothing holds it off, otherwise inside the last
 * zel_host_end_release (zel_host_reset, on the releasing thread). Until
 * then the holders see it as a request (zel_host_end_requested), so that
 * work in progress stops at its next boundary as for an end and settles
 * what it changed. An end requested meanwhile wins: that release ends the
 * program with the end's code instead.
 *
 * zel_host_end_watch_signals also ignores SIGXFSZ: a write past the file
 * size limit then fails (EFBIG) and is reported like any failed write,
 * instead of killing the program in the middle of an update.
 *
 * Hold and release are called by framework code (under the interrupt lock);
 * the request calls from anywhere, the signal handler included. */
#ifndef ZEL_HOST_END_H
#define ZEL_HOST_END_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Turns SIGINT, SIGTERM and SIGHUP into end requests and ignores SIGXFSZ.
 * Once per program, before the kernel starts. Answers 0, or, with no signal
 * taken over (and the mask as it was), ZEL_HOST_ENOMEM when the host
 * refused the watcher's thread ("end_watch") or the memory for its pipe or
 * signal descriptor, ZEL_HOST_EMFILE when this program and ZEL_HOST_ENFILE
 * when the host had no file handle left for them. */
int zel_host_end_watch_signals(void);
/* What the start-up could not get, for zel_host_fail_start, when
 * zel_host_end_watch_signals answered `code`. */
const char *zel_host_end_watch_failure(int code);
/* Asks for the end with exit code `code`; the first request's code stays. */
void zel_host_end_request(int code);
/* Restarts the program (zel_host_reset) now when nothing holds the end off;
 * otherwise returns, with the holders asked to stop at their next boundary,
 * and the last release restarts it. Called by framework code. */
void zel_host_end_restart(void);
/* True once an end or a restart is requested. */
bool zel_host_end_requested(void);
/* Holds the end off until the matching release; holds nest. */
void zel_host_end_hold(void);
void zel_host_end_release(void);

#ifdef __cplusplus
}
#endif

#endif
