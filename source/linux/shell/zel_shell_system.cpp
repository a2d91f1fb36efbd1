// system(): the C library's call that runs a line through the shell.
#include "zel_linux_libc.h"
#include "zel_shell.h"

extern "C" {

int zel_linux_system(const char *command) {
    if (!command) return -1;
    char *line = zel_linux_strdup(command);
    if (!line) return -1;
    int status = zel_shell_execute(line);
    zel_linux_free(line);
    return status;
}

}  // extern "C"
