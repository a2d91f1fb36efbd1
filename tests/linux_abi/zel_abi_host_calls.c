/* Built against the host's headers: what the audit must refuse. */
#include <stdio.h>
#include <stdlib.h>

FILE *zel_abi_host_open(const char *path) { return getenv("HOME") ? fopen(path, "r") : NULL; }
