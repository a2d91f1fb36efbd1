// clear: clears the terminal.
#include <stdio.h>

#include "zel_shell.h"

// Status -1 when standard output fails.
int clear_main(int, char **) { return printf("\033[2J\033[H") < 0 ? -1 : 0; }
