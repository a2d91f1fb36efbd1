// write FILENAME STRING: overwrites the start of an existing file in place
// (never creates, never truncates).
#include <stdio.h>
#include <string.h>

#include "app_commands.h"

int write_main(int argc, char **argv) {
    if (argc != 3) {
        printf("format: %s FILENAME STRING\r\n", argv[0]);
        return -1;
    }
    FILE *f = fopen(argv[1], "r+");
    if (!f) return -1;
    size_t n = strlen(argv[2]);
    size_t written = fwrite(argv[2], 1, n, f);
    fclose(f);
    return written == n ? 0 : -1;
}
