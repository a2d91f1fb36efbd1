// mkdir [-p] DIR: makes a directory (with -p, every missing parent too).
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "zel_shell.h"

int mkdir_main(int argc, char **argv) {
    const char *dir = argc > 1 ? argv[1] : nullptr;
    bool parents = false;
    if (dir && dir[0] == '-') {
        if (strcmp(dir, "-p") != 0) {
            printf("unknown option: %s\r\n", dir);
            return -1;
        }
        parents = true;
        dir = argc > 2 ? argv[2] : nullptr;
    }
    if (!dir) {
        printf("format: mkdir [-p] directory_name\r\n");
        return -1;
    }
    if ((parents ? zel_linux_mkdir_by_open(dir, 0) : mkdir(dir, 0)) != 0) {
        printf("fail to create directory %s\r\n", dir);
        return -1;
    }
    return 0;
}
