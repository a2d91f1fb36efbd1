// export [NAME=VALUE | NAME]: sets a variable in the shell that runs it, or
// lists the environment.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zel_shell.h"

int export_main(int argc, char **argv) {
    if (argc < 2) {
        char **env = zel_shell_environ();
        // Stops at the first failed write.
        for (size_t i = 0; env && env[i]; ++i)
            if (printf("%s\r\n", env[i]) < 0) return -1;
        return 0;
    }
    const char *entry = argv[1];
    char *formatted = nullptr;
    if (!strchr(entry, '=')) {
        size_t n = strlen(entry) + 2;
        formatted = (char *)malloc(n);
        if (!formatted) {
            printf("fail to allocate environment string\r\n");
            return -1;
        }
        snprintf(formatted, n, "%s=", entry);
        entry = formatted;
    }
    int r = zel_shell_source_putenv(entry);
    free(formatted);
    if (r == -2) {
        printf("fail to allocate environment string\r\n");
        return -1;
    }
    return r;
}
