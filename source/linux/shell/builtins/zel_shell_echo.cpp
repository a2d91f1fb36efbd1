// echo WORD ...: prints its words separated by one blank.
#include <stdio.h>

#include "zel_shell.h"

int echo_main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) printf(i > 1 ? " %s" : "%s", argv[i]);
    printf("\r\n");
    return 0;
}
