/* Running a shell command line from the GUI and its worker threads.
 *
 * run_cmd formats the line (at most RUN_CMD_MAX characters; a longer line
 * is cut), traces "run: %s", runs it with the layer's system() in the
 * calling process and thread, and answers true when its status is 0; a
 * failure traces "run: %s faild: %d". Command output goes to the process's
 * console. Variables such as ${VOLUMEID} are expanded by the shell. Any
 * framework thread may call it, several at once. */
#ifndef RUN_CMD_H
#define RUN_CMD_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RUN_CMD_MAX 511

bool run_cmd(const char *format, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
