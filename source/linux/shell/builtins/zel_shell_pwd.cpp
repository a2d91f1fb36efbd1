// pwd: prints the working directory.
#include <stdio.h>
#include <unistd.h>

#include "zel_shell.h"

// Status -1 when standard output fails.
int pwd_main(int, char **) {
    char path[260];
    return printf("%s\r\n", getcwd(path, sizeof path) ? path : "") < 0 ? -1 : 0;
}
