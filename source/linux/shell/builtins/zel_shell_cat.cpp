// cat FILE: copies a file to standard output.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "zel_shell.h"

int cat_main(int argc, char **argv) {
    if (argc != 2) {
        printf("format: cat file_name\r\n");
        return -1;
    }
    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        printf("%s not found\r\n", argv[1]);
        return -2;
    }
    char block[256];
    for (ssize_t n = read(fd, block, sizeof block); n > 0; n = read(fd, block, sizeof block)) write(1, block, (size_t)n);
    close(fd);
    printf("\r\n");
    return 0;
}
