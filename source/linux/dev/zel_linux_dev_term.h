/* A terminal on a serial port: a descriptor class for an in-memory node
 * whose bound target is the port (zel_usart_t). Nothing in the system makes
 * such a node; a program that wants one binds it with
 *     zel_linux_fs_bind_target(path, port, &zel_linux_term_op, 0, 0, 3, 0)
 * and opens it.
 *
 * The descriptor keeps the console's terminal attributes (default on open,
 * read with fcntl 0x7400, set and applied to the port with 0x7401): input
 * and output speed must be equal and a speed code of 1 to 18 (50 to 230400
 * baud); the character size, parity and stop bits of the control flags
 * become the port's mode word. Received bytes collect in a 64-byte receive
 * stream (what does not fit is dropped with a trace); a read takes what is
 * there, waits for more when there is nothing (answers 0 when non-blocking);
 * a write hands the bytes to the port and waits until they are sent. The
 * descriptor does not echo. */
#ifndef ZEL_LINUX_DEV_TERM_H
#define ZEL_LINUX_DEV_TERM_H

#include <stdint.h>

#include "zel_linux_file.h"
#include "zel_stream_ring.h"
#include "zel_usart.h"

extern "C" {

inline constexpr uint32_t ZEL_LINUX_TERM_RX_BUFSIZE = 64;

typedef struct zel_linux_term_priv {
    zel_linux_file_priv_t file; /* open keeps the node here */
    zel_usart_t *port;
    zel_linux_termios attr;
    zel_stream_ring_t rx;
    uint8_t rx_buffer[ZEL_LINUX_TERM_RX_BUFSIZE];
    zel_eda_t *writer; /* waits for the end of its transmission */
} zel_linux_term_priv_t;

extern const zel_linux_fd_op_t zel_linux_term_op;

[[nodiscard]] int zel_linux_term_init(zel_linux_fd_t *fd);
int zel_linux_term_fcntl(zel_linux_fd_t *fd, int command, uintptr_t arg);
long zel_linux_term_read(zel_linux_fd_t *fd, void *buffer, size_t count);
long zel_linux_term_write(zel_linux_fd_t *fd, const void *buffer, size_t count);
[[nodiscard]] int zel_linux_term_close(zel_linux_fd_t *fd);
/* Applies the attributes to the port: 0, or -1 (traced) when the speeds
 * differ or the speed code is not 1 to 18. */
[[nodiscard]] int zel_linux_term_config(zel_linux_term_priv_t *term);
/* The port's event handler (emulated interrupt). */
void zel_linux_term_uart_isr(uintptr_t param, zel_usart_t *port, uint32_t bits);

/* The baud rate of a speed code, or 0 for a code outside 1 to 18. */
uint32_t zel_linux_term_baud(uint32_t code);
/* The port's mode word for the control flags. */
uint32_t zel_linux_term_mode(uint32_t cflag);

}  // extern "C"

#endif
