// clear: clears the terminal.
#include <stdio.h>

#include "zel_shell.h"

int clear_main(int, char **) {
    printf("\033[2J\033[H");
    return 0;
}
