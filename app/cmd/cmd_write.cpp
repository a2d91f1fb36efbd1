// write FILENAME STRING: overwrites the start of an existing file in place
// (never creates, never truncates).
#include <stdio.h>
#include <string.h>

#include "app_commands.h"
#include "zel_host_end.h"

int write_main(int argc, char **argv) {
    if (argc != 3) {
        printf("format: %s FILENAME STRING\r\n", argv[0]);
        return -1;
    }
    // An end requested meanwhile waits until the file is closed.
    zel_host_end_hold();
    FILE *f = fopen(argv[1], "r+");
    size_t n = strlen(argv[2]), written = 0;
    if (f) {
        written = fwrite(argv[2], 1, n, f);
        fclose(f);
    }
    zel_host_end_release();
    return f && written == n ? 0 : -1;
}
