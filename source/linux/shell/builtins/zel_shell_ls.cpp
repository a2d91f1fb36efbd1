// ls [DIR ...]: lists directories, coloured by kind.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>

#include "zel_shell.h"

namespace {

const char *colour(unsigned type) {
    if (type == DT_DIR) return "\033[1;34m";
    if (type == DT_EXEC) return "\033[1;32m";
    return "\033[1;37m";
}

enum class Listed { Done, Missing, OutputFailed };

// A listing that cannot be made or finished for want of descriptors or
// memory says so and counts as missing; it never passes for an empty one.
Listed short_of(const char *path, const char *why) {
    return printf("%s: %s\r\n", path, why) < 0 ? Listed::OutputFailed : Listed::Missing;
}

Listed list(const char *path) {
    errno = 0;
    DIR *dir = opendir(path);
    if (!dir) {
        if (const char *why = zel_shell_shortage(errno)) return short_of(path, why);
        return printf("%s not exists\r\n", path) < 0 ? Listed::OutputFailed : Listed::Missing;
    }
    Listed result = Listed::Done;
    bool any = false;
    struct dirent *entry;
    while (result == Listed::Done && (errno = 0, entry = readdir(dir)) != nullptr) {
        any = true;
        if (printf("%s%s  ", colour(entry->d_type), entry->d_name) < 0) result = Listed::OutputFailed;
    }
    const char *why = result == Listed::Done ? zel_shell_shortage(errno) : nullptr;
    closedir(dir);
    if (result != Listed::Done) return result;
    // The entries so far keep their line; the reason follows on its own.
    if ((any || !why) && printf("\033[1;37m\r\n") < 0) return Listed::OutputFailed;
    return why ? short_of(path, why) : Listed::Done;
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
