// Whole-file helpers of the GUI, and the copy progress and refusals of update.
#include <stdio.h>

#include "app_commands.h"

copy_progress_t copy_progress_callback;
copy_refused_t copy_refused_callback;

void copy_progress_notify(const char *src, const char *dst, uint32_t total, uint32_t done) {
    if (copy_progress_callback) copy_progress_callback(src, dst, total, done);
}

void copy_refused_notify(const char *src, const char *dst, long src_size, long dst_size) {
    if (copy_refused_callback) copy_refused_callback(src, dst, src_size, dst_size);
}

size_t file_write(const char *path, const void *buf, size_t n) {
    FILE *f = fopen(path, "w");
    if (!f) return 0;
    size_t written = fwrite(buf, 1, n, f);
    fclose(f);
    return written;
}

size_t file_read(const char *path, void *buf, size_t n) {
    FILE *f = fopen(path, "r+");
    if (!f) return 0;
    size_t got = fread(buf, 1, n, f);
    fclose(f);
    return got;
}
