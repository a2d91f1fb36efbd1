// init: the start-up script, then the console shell.
#include <stdio.h>
#include <stdlib.h>

#include "zel_shell.h"

namespace {

const char *const kScript[] = {
    "echo \"zel build on Jul 11 2022\"",
    "mkdir -p /mnt/hostfs",
    "mount -t winfs . /mnt/hostfs",
    "cd /mnt/hostfs",
    "export GIT_SSL_NO_VERIFY=",
    "lvgl &",
};

}  // namespace

int init_main(int argc, char **argv) {
    (void)zel_linux_set_path("/bin");  // fails only without memory
    for (const char *line : kScript) {
        printf("execute init script: %s\r\n", line);
        if (int status = system(line); status != 0) app_start_line_failed(line, status);
    }
    return sh_main(argc, argv);
}
