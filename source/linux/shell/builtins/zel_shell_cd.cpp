// cd DIR: changes the working directory of the shell that runs it.
#include <dirent.h>
#include <stdio.h>

#include "zel_shell.h"

int cd_main(int argc, char **argv) {
    if (argc != 2) {
        printf("format: cd directory_name\r\n");
        return -1;
    }
    DIR *dir = opendir(argv[1]);
    if (dir) closedir(dir);
    if (!dir || zel_shell_source_chdir(argv[1]) != 0) {
        printf("%s not exists\r\n", argv[1]);
        return -2;
    }
    return 0;
}
