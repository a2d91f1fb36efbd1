// pwd: prints the working directory.
#include <stdio.h>
#include <unistd.h>

#include "zel_shell.h"

int pwd_main(int, char **) {
    char path[260];
    printf("%s\r\n", getcwd(path, sizeof path) ? path : "");
    return 0;
}
