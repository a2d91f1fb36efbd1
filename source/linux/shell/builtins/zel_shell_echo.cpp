// echo WORD ...: prints its words separated by one blank.
#include <stdio.h>

#include "zel_shell.h"

// Status -1 when standard output fails: echo stops at the first failed write.
int echo_main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (printf(i > 1 ? " %s" : "%s", argv[i]) < 0) return -1;
    return printf("\r\n") < 0 ? -1 : 0;
}
