// access FILENAME: whether the file can be opened.
#include <stdio.h>
#include <unistd.h>

#include "app_commands.h"

int access_main(int argc, char **argv) {
    if (argc != 2) {
        printf("format: %s FILENAME\r\n", argv[0]);
        return -1;
    }
    return access(argv[1], 2);
}
