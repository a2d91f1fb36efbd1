// ls [DIR ...]: lists directories, coloured by kind.
#include <dirent.h>
#include <stdio.h>

#include "zel_shell.h"

namespace {

const char *colour(unsigned type) {
    if (type == DT_DIR) return "\033[1;34m";
    if (type == DT_EXEC) return "\033[1;32m";
    return "\033[1;37m";
}

bool list(const char *path) {
    DIR *dir = opendir(path);
    if (!dir) {
        printf("%s not exists\r\n", path);
        return false;
    }
    for (struct dirent *entry = readdir(dir); entry; entry = readdir(dir))
        printf("%s%s  ", colour(entry->d_type), entry->d_name);
    printf("\033[1;37m\r\n");
    closedir(dir);
    return true;
}

}  // namespace

int ls_main(int argc, char **argv) {
    if (argc < 2) return list(".") ? 0 : -1;
    bool any = false;
    for (int i = 1; i < argc; ++i) {
        if (argc > 2) printf("%s:\r\n", argv[i]);
        any = list(argv[i]) || any;
    }
    return any ? 0 : -1;
}
