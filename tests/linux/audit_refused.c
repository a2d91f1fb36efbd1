/* What the import audit must refuse: a plain C library name defined, and a
 * host call that touches files. */
#include <stdio.h>

int read(int fd, void *buffer, unsigned long count) {
    (void)fd;
    (void)buffer;
    FILE *f = fopen("/dev/null", "r");
    return f ? (int)count : -1;
}
