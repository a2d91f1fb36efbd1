// cat FILE: copies a file to standard output.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "zel_shell.h"

namespace {

// Writes all `n` bytes to standard output; false at the first failed write.
bool put(const char *bytes, size_t n) {
    while (n > 0) {
        ssize_t written = write(1, bytes, n);
        if (written <= 0) return false;
        bytes += written;
        n -= (size_t)written;
    }
    return true;
}

}  // namespace

// Status -3: standard output failed (its reader has gone); cat stops there.
int cat_main(int argc, char **argv) {
    if (argc != 2) {
        printf("format: cat file_name\r\n");
        return -1;
    }
    errno = 0;
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        if (const char *why = zel_shell_shortage(errno))
            printf("%s: %s\r\n", argv[1], why);
        else
            printf("%s not found\r\n", argv[1]);
        return -2;
    }
    char block[256];
    ssize_t n;
    while ((n = read(fd, block, sizeof block)) > 0) {
        if (!put(block, (size_t)n)) {
            close(fd);
            return -3;
        }
    }
    const int error = errno;
    close(fd);
    if (n < 0) {
        const char *why = zel_shell_shortage(error);
        printf("fail to read %s%s%s\r\n", argv[1], why ? ": " : "", why ? why : "");
        return -2;
    }
    return printf("\r\n") < 0 ? -3 : 0;
}
