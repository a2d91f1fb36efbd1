// time CMD ARG ...: runs a command's main in this process and prints how
// long it took.
#include <errno.h>
#include <stdio.h>

#include "zel_shell.h"

int time_main(int argc, char **argv) {
    if (argc < 2) {
        printf("format: time CMD ARG ...\r\n");
        return -1;
    }
    zel_shell_main_t main = nullptr;
    errno = 0;
    if (zel_shell_lookup(argv[1], &main) != 0 || !main) {
        // Short of memory or descriptors, the command may well exist.
        if (const char *why = zel_shell_shortage(errno))
            printf("%s: %s\r\n", argv[1], why);
        else
            printf("command %s not found\r\n", argv[1]);
        return -1;
    }
    uint64_t begin = zel_shell_uptime_ms();
    int r = main(argc - 1, argv + 1);
    // The command's own failure first; else a report that could not be written.
    if (printf("%s take %d ms\r\n", argv[1], (int)(zel_shell_uptime_ms() - begin)) < 0 && r == 0) return -1;
    return r;
}
