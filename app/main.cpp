// The process entry: the kernel takes over the first host thread for good.
#include "zel_kernel.h"

int main() { zel_kernel_main(); }
