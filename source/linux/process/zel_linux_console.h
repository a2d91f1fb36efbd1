/* The console terminal descriptor class and the console descriptors.
 *
 * A console descriptor is a stream descriptor (its inner class) with
 * terminal attributes. Reading it echoes what was read to descriptor 1 of
 * the reading process while ECHO is set (escape sequences are swallowed,
 * backspace echoes "\b \b"); with control character VMIN (6) at 0 reads do
 * not wait and answer 0 when nothing is there. fcntl 0x7400 copies the
 * attributes out, 0x7401 copies them in. */
#ifndef ZEL_LINUX_CONSOLE_H
#define ZEL_LINUX_CONSOLE_H

#include <stdint.h>

#include "zel_linux_process.h"
#include "zel_linux_stream_fd.h"

extern "C" {

/* Local flag ECHO of the terminal attributes (zel_linux_termios). */
inline constexpr unsigned ZEL_LINUX_ECHO = 0x08;

/* Where the echo is inside an escape sequence. */
typedef enum zel_linux_echo_state {
    ZEL_LINUX_ECHO_PLAIN = 0,
    ZEL_LINUX_ECHO_ESC = 27,  /* ESC seen */
    ZEL_LINUX_ECHO_SS3 = 'O', /* ESC O: one more byte ends it */
    ZEL_LINUX_ECHO_CSI = '['  /* ESC [: ends at a letter or '~' */
} zel_linux_echo_state_t;

typedef struct zel_linux_console_priv {
    zel_linux_stream_priv_t stream;
    const zel_linux_fd_op_t *inner;
    zel_linux_termios attr;
    uint8_t echo_state;
} zel_linux_console_priv_t;

extern const zel_linux_fd_op_t zel_linux_console_op;
/* The attributes every console descriptor starts with. */
extern const zel_linux_termios zel_linux_console_default_attr;

int zel_linux_stdio_init(zel_linux_fd_t *fd);
int zel_linux_stdio_fcntl(zel_linux_fd_t *fd, int command, uintptr_t arg);
long zel_linux_stdio_read(zel_linux_fd_t *fd, void *buffer, size_t count);
long zel_linux_stdio_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
[[nodiscard]] int zel_linux_stdio_close(zel_linux_fd_t *fd);

/* Descriptors 0 (reads stdin), 1 (writes stdout, O_WRONLY) and 2 (reads
 * stdin, writes stderr) of the kernel process. 0, or -1. */
[[nodiscard]] int zel_linux_console_open_stdio(const zel_linux_stdio_stream_t *stdio);
/* Descriptor 2's relay: its own part, and readable also on the console's
 * descriptor 0 (its link). */
void zel_linux_stdio_relay(zel_linux_fd_priv_t *priv, uintptr_t zero, uint16_t events, int set);
/* tcgetattr and tcsetattr (zel_linux_libc.h) are fcntl 0x7400 and 0x7401;
 * the action is not looked at. isatty answers 1 for a console descriptor. */

}  // extern "C"

#endif
