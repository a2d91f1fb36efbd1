/* The curl tool inside the Linux-emulation layer.
 *
 * The tool, libcurl and mbedTLS are linked into one image (see
 * third_party/curl) whose writable static variables all lie in one section,
 * zel_curl_state. The image keeps its statics per process this way:
 *   - the first run copies the section, as the program was loaded, aside;
 *   - every run puts that copy back before the tool's main starts, so each
 *     process sees the statics of a fresh program;
 *   - one process at a time runs image code: it holds the image's turn,
 *     which others wait for in arrival order (a run never fails for it);
 *   - the turn is not held across a wait on a descriptor: when every
 *     thread of a run waits on one (read, write, poll, the socket calls) or
 *     has ended, the turn goes to the next in line, and the run's threads
 *     take it back when a wait ends: the first one back waits in line for
 *     it, and the others that come back meanwhile wait until that one has
 *     it (none runs image code before); the image swaps statics between
 *     runs then, once (each run keeps a copy of its own while another's are
 *     loaded).
 *     So pipe partners (curl | curl) never wait on each other through it.
 * A run's threads are its tool's main and every thread the tool started
 * (the threaded resolver's workers); the run ends when all of them have
 * returned, or at the latest when its process is cleaned up. A resolver
 * thread that outlives the tool's main therefore keeps the run until it
 * ends, and the process's exit waits for it before the process goes.
 *
 * libcurl allocates through the layer's per-process malloc, free, realloc,
 * strdup and calloc (the image imports no other allocator), so whatever a
 * run leaves is given back with its process.
 *
 * A run that cannot start for want of memory (its copy of the arguments,
 * its record with room for its statics, the image's first set-up) answers 2 and says "curl: (2) not enough
 * memory" on standard error, unless -s without -S keeps curl quiet.
 *
 * Binding: "/bin/curl" runs curl_main; zel_linux_curl_install() binds it.
 * An executable links the target zel_linux_curl directly (an object
 * library: linked through a static library its objects would not reach the
 * executable). */
#ifndef ZEL_LINUX_CURL_H
#define ZEL_LINUX_CURL_H

#include <stdint.h>

#include "zel_linux_libc.h"
#include "zel_linux_process.h"

extern "C" {

/* The path the curl tool is bound to. */
#define ZEL_LINUX_CURL_PATH "/bin/curl"

/* The tool's main over the image: its exit status is curl's result code
 * (0 success, 7 could not connect, 18 partial transfer, ...). Argument
 * strings may be constants: the tool works on copies (it blanks passwords
 * in its argv). Called outside a layer thread it answers 2 (curl's "failed
 * to initialise") and runs nothing. */
int curl_main(int argc, char **argv);

/* Binds "/bin/curl" to curl_main; the result of zel_linux_install_builtin
 * (0 or more when bound). */
[[nodiscard]] int zel_linux_curl_install(void);

/* What curl_main does, with `entry` in place of the tool's main. */
int zel_linux_curl_run(zel_linux_main_t entry, int argc, char **argv);

/* Threads waiting for the image's turn at this moment (in line, or for
 * another thread of their run that is in line). */
uint32_t zel_linux_curl_waiting(void);

/* The image's pthread_create: pthread_create of the layer, counting the
 * thread as one that runs image code until its start routine returns. */
[[nodiscard]] int zel_linux_curl_thread_create(
    zel_linux_pthread_t *thread, const zel_linux_pthread_attr_t *attributes, void *(*start)(void *), void *argument);

}  // extern "C"

#endif
