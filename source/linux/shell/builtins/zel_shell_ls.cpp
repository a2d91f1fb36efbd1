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

enum class Listed { Done, Missing, OutputFailed };

Listed list(const char *path) {
    DIR *dir = opendir(path);
    if (!dir) return printf("%s not exists\r\n", path) < 0 ? Listed::OutputFailed : Listed::Missing;
    Listed result = Listed::Done;
    for (struct dirent *entry = readdir(dir); entry && result == Listed::Done; entry = readdir(dir))
        if (printf("%s%s  ", colour(entry->d_type), entry->d_name) < 0) result = Listed::OutputFailed;
    if (result == Listed::Done && printf("\033[1;37m\r\n") < 0) result = Listed::OutputFailed;
    closedir(dir);
    return result;
}

}  // namespace

// Status -1 when no directory could be listed, -2 when standard output
// fails: ls stops at the first failed write.
int ls_main(int argc, char **argv) {
    if (argc < 2) {
        Listed r = list(".");
        return r == Listed::Done ? 0 : r == Listed::Missing ? -1 : -2;
    }
    bool any = false;
    for (int i = 1; i < argc; ++i) {
        if (argc > 2 && printf("%s:\r\n", argv[i]) < 0) return -2;
        Listed r = list(argv[i]);
        if (r == Listed::OutputFailed) return -2;
        any = r == Listed::Done || any;
    }
    return any ? 0 : -1;
}
