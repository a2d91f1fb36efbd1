/* Serial ports on the host: terminal devices driven through termios.
 *
 * COM port numbers (1 to 254) name devices through a table of device paths
 * that the owner fills (nothing is mapped at start). A port is opened for
 * exclusive use: a second open of the same device reports it busy.
 *
 * Reads follow the COM port timeouts: a read returns once `size` bytes have
 * arrived, or when the total timeout (multiplier x size + constant ms, none
 * when both are 0) runs out, or when more than the interval timeout passes
 * between two bytes after the first, whatever has arrived by then. Writes
 * write everything. Either may be cancelled from another thread; closing a
 * port makes transfers in progress fail and waits for them to leave. */
#ifndef ZEL_HOST_SERIAL_H
#define ZEL_HOST_SERIAL_H

#include <stdbool.h>
#include <stdint.h>

#include "zel_host_err.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_HOST_SERIAL_MAX_COM 254

/* Results: the host port's codes (zel_host_err.h), named for the port. */
enum {
    ZEL_HOST_SERIAL_OK = ZEL_HOST_OK,
    ZEL_HOST_SERIAL_ABSENT = ZEL_HOST_ENOENT,       /* no device behind the number */
    ZEL_HOST_SERIAL_NO_STATE = ZEL_HOST_ENOTTY,     /* the device has no terminal state to read */
    ZEL_HOST_SERIAL_CANCELLED = ZEL_HOST_ECANCELED, /* the transfer was cancelled */
    ZEL_HOST_SERIAL_BUSY = ZEL_HOST_EBUSY,          /* the device exists but is in use */
    ZEL_HOST_SERIAL_ERROR = ZEL_HOST_EIO            /* I/O error, hang-up, or the port was closed */
};

/* Maps COM `com` to `path` (null removes it); -1 for a number out of range. */
[[nodiscard]] int zel_host_serial_map(unsigned com, const char *path);
/* Copies the path of COM `com` into `out`; false when it is not mapped. */
bool zel_host_serial_path(unsigned com, char *out, unsigned size);

/* Storage of one port (a host mutex, condition and descriptors); checked
 * against the real layout in zel_host_serial.cpp. */
#define ZEL_HOST_SERIAL_STORAGE 192

typedef struct zel_host_serial {
    unsigned char opaque[ZEL_HOST_SERIAL_STORAGE] __attribute__((aligned(16)));
    uint8_t initialised;
} zel_host_serial_t;

typedef struct zel_host_serial_cfg {
    uint32_t baud;
    uint8_t data_bits;  /* 8 (9 is refused: terminals carry at most 8) */
    uint8_t stop_bits;  /* 1 or 2 */
    uint8_t odd_parity; /* else none */
    uint8_t cts_flow;   /* CTS output flow control */
    uint8_t rts_flow;   /* RTS handshaking */
} zel_host_serial_cfg_t;

/* Checks that COM `com` can be opened now: OK, ABSENT or BUSY. */
[[nodiscard]] int zel_host_serial_probe(unsigned com);
/* Opens COM `com` into `port` (closing what it held): OK, ABSENT or BUSY. */
[[nodiscard]] int zel_host_serial_open(zel_host_serial_t *port, unsigned com);
/* Fails transfers in progress, waits for them to leave, closes the device.
 * Nothing when the port is not open. */
void zel_host_serial_close(zel_host_serial_t *port);
bool zel_host_serial_is_open(zel_host_serial_t *port);

/* OK; NO_STATE when the port's state cannot be read (not open, not a
 * terminal); ERROR when the settings are refused. */
[[nodiscard]] int zel_host_serial_configure(zel_host_serial_t *port, const zel_host_serial_cfg_t *cfg);
[[nodiscard]] int zel_host_serial_set_timeouts(
    zel_host_serial_t *port, uint32_t interval_ms, uint32_t total_multiplier_ms, uint32_t total_constant_ms);
/* Drops whatever waits in both directions. */
[[nodiscard]] int zel_host_serial_purge(zel_host_serial_t *port);

/* OK (with *done possibly below size after a timeout), CANCELLED or ERROR;
 * *done counts the bytes transferred in every case. */
[[nodiscard]] int zel_host_serial_read(zel_host_serial_t *port, void *buffer, uint32_t size, uint32_t *done);
[[nodiscard]] int zel_host_serial_write(zel_host_serial_t *port, const void *buffer, uint32_t size, uint32_t *done);
/* Makes the transfer in progress in that direction (or the next one to
 * start) end with CANCELLED. */
void zel_host_serial_cancel(zel_host_serial_t *port, bool rx);
/* Drops a cancel that no transfer has consumed. */
void zel_host_serial_clear_cancel(zel_host_serial_t *port, bool rx);

#ifdef __cplusplus
}
#endif

#endif
