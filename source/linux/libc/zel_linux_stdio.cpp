// Standard I/O over descriptors: no buffering, one read or write per call.
#include "zel_linux_stdio.h"

#include <stdio.h>
#include <string.h>

#include "zel_linux_fd.h"

namespace {

constexpr size_t kFormatBuffer = 4096;

bool usable(const zel_linux_fd *stream) { return stream && stream->number >= 0; }

// Hands out the pushed-back character, if any: 1 when one was stored.
size_t take_ungot(zel_linux_fd *stream, unsigned char *out) {
    if (stream->ungot < 0) return 0;
    *out = static_cast<unsigned char>(stream->ungot);
    stream->ungot = -1;
    return 1;
}

int write_text(zel_linux_fd *stream, const char *text, size_t length) {
    if (length == 0) return 0;
    if (!usable(stream)) return -1;
    zel_linux_ssize_t n = zel_linux_write(stream->number, text, length);
    return n == static_cast<zel_linux_ssize_t>(length) ? static_cast<int>(length) : -1;
}

}  // namespace

extern "C" {

int zel_linux_fopen_flags(const char *mode) {
    if (!mode) return ZEL_LINUX_O_RDONLY;
    int flags = ZEL_LINUX_O_RDONLY;
    if (mode[0] == 'w')
        flags = ZEL_LINUX_O_CREAT | ZEL_LINUX_O_TRUNC | ZEL_LINUX_O_WRONLY;
    else if (mode[0] == 'a')
        flags = ZEL_LINUX_O_CREAT | ZEL_LINUX_O_APPEND | ZEL_LINUX_O_WRONLY;
    if (mode[0] == '\0') return flags;
    size_t i = 1;
    if (mode[i] == 't' || mode[i] == 'b') ++i;
    if (mode[i] == '+')
        flags = (flags & (ZEL_LINUX_O_CREAT | ZEL_LINUX_O_TRUNC | ZEL_LINUX_O_APPEND)) | ZEL_LINUX_O_RDWR;
    return flags;
}

zel_linux_fd *zel_linux_fd_to_file(int fd) { return zel_linux_fd_get(fd); }

zel_linux_fd *zel_linux_fopen(const char *path, const char *mode) {
    int fd = zel_linux_open(path, zel_linux_fopen_flags(mode));
    return fd < 0 ? nullptr : zel_linux_fd_get(fd);
}

zel_linux_fd *zel_linux_fdopen(int fd, const char *) { return zel_linux_fd_get(fd); }

int zel_linux_fclose(zel_linux_fd *stream) {
    if (!usable(stream)) return -1;
    return zel_linux_close(stream->number) == 0 ? 0 : -1;
}

size_t zel_linux_fread(void *buffer, size_t size, size_t count, zel_linux_fd *stream) {
    if (size == 0 || count == 0 || !usable(stream) || count > SIZE_MAX / size) return 0;
    size_t total = size * count;
    auto *bytes = static_cast<unsigned char *>(buffer);
    size_t got = take_ungot(stream, bytes);
    if (got < total) {
        zel_linux_ssize_t n = zel_linux_read(stream->number, bytes + got, total - got);
        if (n < 0 && got == 0) return 0;
        if (n > 0) got += static_cast<size_t>(n);
    }
    return got == total ? count : got / size;
}

size_t zel_linux_fwrite(const void *buffer, size_t size, size_t count, zel_linux_fd *stream) {
    if (size == 0 || count == 0 || !usable(stream) || count > SIZE_MAX / size) return 0;
    size_t total = size * count;
    zel_linux_ssize_t n = zel_linux_write(stream->number, buffer, total);
    if (n < 0) return 0;
    return static_cast<size_t>(n) == total ? count : static_cast<size_t>(n) / size;
}

int zel_linux_fgetc(zel_linux_fd *stream) {
    if (!usable(stream)) return -1;
    unsigned char c;
    if (take_ungot(stream, &c)) return c;
    return zel_linux_read(stream->number, &c, 1) == 1 ? c : -1;
}

char *zel_linux_fgets(char *buffer, int size, zel_linux_fd *stream) {
    if (!buffer) return nullptr;
    if (size < 2) {
        if (size == 1) buffer[0] = '\0';
        return nullptr;
    }
    bool console_input = stream == zel_linux_stdin();
    bool terminal = console_input && zel_linux_isatty(stream->number);
    int stored = 0;
    while (stored < size - 1) {
        int c = zel_linux_fgetc(stream);
        if (c < 0) break;
        if (console_input && (c == 8 || c == 127)) {
            if (stored > 0) --stored;
            continue;
        }
        if (terminal && c == '\r') c = '\n';
        buffer[stored++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[stored] = '\0';
    return stored ? buffer : nullptr;
}

int zel_linux_fputc(int c, zel_linux_fd *stream) {
    if (!usable(stream)) return -1;
    unsigned char byte = static_cast<unsigned char>(c);
    return zel_linux_write(stream->number, &byte, 1) == 1 ? c : -1;
}

int zel_linux_putchar(int c) { return zel_linux_fputc(c, zel_linux_stdout()); }

int zel_linux_fputs(const char *text, zel_linux_fd *stream) {
    return text ? write_text(stream, text, strlen(text)) : -1;
}

int zel_linux_puts(const char *text) { return zel_linux_printf("%s\n", text ? text : ""); }

int zel_linux_vfprintf(zel_linux_fd *stream, const char *format, va_list args) {
    if (!format) return -1;
    char local[kFormatBuffer];
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(local, sizeof local, format, args);
    int result = -1;
    if (length >= 0 && static_cast<size_t>(length) < sizeof local) {
        result = write_text(stream, local, static_cast<size_t>(length));
    } else if (length >= 0) {
        char *block = static_cast<char *>(zel_linux_malloc(static_cast<size_t>(length) + 1));
        if (block) {
            vsnprintf(block, static_cast<size_t>(length) + 1, format, again);
            result = write_text(stream, block, static_cast<size_t>(length));
            zel_linux_free(block);
        }
    }
    va_end(again);
    return result;
}

int zel_linux_fprintf(zel_linux_fd *stream, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int r = zel_linux_vfprintf(stream, format, args);
    va_end(args);
    return r;
}

int zel_linux_vprintf(const char *format, va_list args) { return zel_linux_vfprintf(zel_linux_stdout(), format, args); }

int zel_linux_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int r = zel_linux_vfprintf(zel_linux_stdout(), format, args);
    va_end(args);
    return r;
}

int zel_linux_fseek(zel_linux_fd *stream, long offset, int whence) {
    if (!usable(stream)) return -1;
    long target;
    if (whence == ZEL_LINUX_SEEK_SET) {
        target = offset;
    } else if (whence == ZEL_LINUX_SEEK_CUR) {
        long here = zel_linux_lseek(stream->number, 0, ZEL_LINUX_SEEK_CUR);
        if (here < 0) return -1;
        target = here + offset;
    } else if (whence == ZEL_LINUX_SEEK_END) {
        struct zel_linux_stat st {};
        if (zel_linux_fstat(stream->number, &st) != 0 || (st.st_mode & ZEL_LINUX_S_IFMT) != ZEL_LINUX_S_IFREG)
            return -1;
        target = st.st_size + offset;
    } else {
        return -1;
    }
    if (target < 0) return -1;
    stream->ungot = -1;
    return zel_linux_lseek(stream->number, offset, whence) == target ? 0 : -1;
}

long zel_linux_ftell(zel_linux_fd *stream) {
    if (!usable(stream)) return -1;
    return zel_linux_lseek(stream->number, 0, ZEL_LINUX_SEEK_CUR);
}

int zel_linux_feof(zel_linux_fd *stream) {
    if (!stream || !stream->op || !stream->op->eof) return 0;
    return stream->op->eof(stream);
}

int zel_linux_ferror(zel_linux_fd *) { return 0; }
int zel_linux_fflush(zel_linux_fd *) { return 0; }
int zel_linux_fileno(zel_linux_fd *stream) { return stream ? stream->number : -1; }
int zel_linux_setvbuf(zel_linux_fd *, char *, int, size_t) { return 0; }

}  // extern "C"
