/* The application's shell commands and the table that binds them under
 * "/bin".
 *
 * Binding a new command: write its main(argc, argv) in app/cmd (built
 * against the layer's C library headers, printing its messages with printf
 * and ending them in "\r\n"), add its source to zel_app_commands in
 * app/cmd/cmd.cmake, declare it here and add a row {path, main} to the table
 * in install_commands (app_commands.cpp), at the place the start-up order
 * wants it. The GUI's and curl's rows take their mains from the
 * program's parts (app_parts.h); a row whose main is null is skipped.
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers. */
#ifndef APP_COMMANDS_H
#define APP_COMMANDS_H

#include <stddef.h>
#include <stdint.h>

/* The longest path, with its terminator, that the programs' file calls take
 * (the layer's own limit). */
#define APP_FILE_PATH_MAX 260

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*app_main_t)(int argc, char **argv);

typedef struct app_command {
    const char *path;
    app_main_t main;
} app_command_t;

/* ---- the commands ---- */
/* update [-t] SRC DST: copies SRC over DST (-t: DST created or truncated;
 * without it DST must exist and keeps its size). */
int update_main(int argc, char **argv);
/* write FILENAME STRING: overwrites the start of an existing file. */
int write_main(int argc, char **argv);
/* access FILENAME: 0 when the file opens, else -1. */
int access_main(int argc, char **argv);
/* mount [-t vfstype] [-b block_size] device dir */
int mount_main(int argc, char **argv);
/* reset: restarts the program in place, in the same process
 * (zel_host_end_restart); does not return. Work that holds the end off (a
 * copy, zel_host_end.h) stops at its next boundary first, as for an end,
 * and closes its file; its release restarts the program. */
int reset_main(int argc, char **argv);

/* Provided by the GUI, USB, account and curl parts. */
int lvgl_main(int argc, char **argv);
int lsusb_main(int argc, char **argv);
int curl_main(int argc, char **argv);
int usrid_main(int argc, char **argv);

/* ---- files ---- */
/* Opens with "w" (created or truncated), writes n bytes, closes: the count
 * written, 0 when the file cannot be opened. */
size_t file_write(const char *path, const void *buf, size_t n);
/* Opens with "r+", reads up to n bytes, closes: the count read, 0 when the
 * file cannot be opened. */
size_t file_read(const char *path, void *buf, size_t n);

/* Progress of update's copy: (source, destination, total bytes, bytes
 * copied), called once before the first block and after each block. */
typedef void (*copy_progress_t)(const char *src, const char *dst, uint32_t total, uint32_t done);
/* The transfer job's callback, none when no job watches. */
extern copy_progress_t copy_progress_callback;
void copy_progress_notify(const char *src, const char *dst, uint32_t total, uint32_t done);
/* update's refusal of a source larger than the destination it may not
 * grow: (source, destination, their sizes in bytes), called before update
 * ends without touching the destination. */
typedef void (*copy_refused_t)(const char *src, const char *dst, long src_size, long dst_size);
/* The transfer job's callback, none when no job watches. */
extern copy_refused_t copy_refused_callback;
void copy_refused_notify(const char *src, const char *dst, long src_size, long dst_size);

#ifdef __cplusplus
}
#endif

#endif
