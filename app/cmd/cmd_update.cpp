// update [-t] SRC DST: copies SRC over DST in blocks of 16384 bytes.
// Without -t, DST must exist, is not truncated and keeps its size, so SRC
// may not be larger; with -t, DST is created or truncated. A source that
// cannot be read, is a directory or is the destination itself is refused
// before the destination is touched, and so is a destination that is the
// image file of a mounted volume ("DST is in use"). A file that cannot be
// opened for want of descriptors or memory is named with that reason, and
// a destination that cannot be looked at so is not written.
//
// A request to end the program (a signal, the window closing) does not cut
// a block in two: the copy stops before its next block, the destination is
// closed (its directory entry written) and the run fails; the program ends
// once update has returned. A destination left part new (or truncated) is
// named on the host's standard error, as the program ends without a window
// to say so:
//   "trellow: ended in the middle of a copy: DST is left incomplete (N of M bytes copied)"
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_commands.h"
#include "file_node.h"
#include "zel_host.h"
#include "zel_host_end.h"
#include "zel_shell.h"
#if ZEL_HOST_TEST_HOOKS
#include "zel_host_test_hooks.h"
#endif

namespace {

constexpr size_t kBlock = 16384;

long measure(FILE *f) {
    if (fseek(f, 0, SEEK_END) != 0) return -1;
    long size = ftell(f);
    return fseek(f, 0, SEEK_SET) == 0 ? size : -1;
}

// "fail to open PATH", with the reason when `error` (the open's errno) says
// that the system is short of descriptors or memory.
void say_open_failed(const char *path, int error) {
    const char *why = zel_shell_shortage(error);
    printf("fail to open %s%s%s\r\n", path, why ? ": " : "", why ? why : "");
}

void say_left_incomplete(const char *dst, size_t copied, long size) {
    char line[600];
    snprintf(line, sizeof line,
        "trellow: ended in the middle of a copy: %.400s is left incomplete (%zu of %ld bytes copied)", dst, copied,
        size);
    zel_host_error_line(line);
}

// Copies `size` bytes of `from` (at its start) to `to` (at its start); the
// destination was truncated when `truncated`.
bool copy(FILE *from, FILE *to, const char *src, const char *dst, long size, bool truncated) {
    copy_progress_notify(src, dst, (uint32_t)size, 0);
    char *block = (char *)malloc(kBlock);
    if (!block) return false;
    bool ok = true;
    for (size_t remaining = (size_t)size; ok && remaining > 0;) {
        if (zel_host_end_requested()) {
            const size_t copied = (size_t)size - remaining;
            if (copied != 0 || truncated) say_left_incomplete(dst, copied, size);
            ok = false;
            break;
        }
        size_t n = remaining < kBlock ? remaining : kBlock;
        if (fread(block, 1, n, from) != n) {
            printf("fail to read %s\r\n", src);
            ok = false;
        } else if (fwrite(block, 1, n, to) != n) {
            printf("fail to write %s\r\n", dst);
            ok = false;
        } else {
            remaining -= n;
            copy_progress_notify(src, dst, (uint32_t)size, (uint32_t)((size_t)size - remaining));
            printf(".");
#if ZEL_HOST_TEST_HOOKS
            zel_host_test_end_boundary();
#endif
        }
    }
    free(block);
    if (ok) printf("\r\nupdate done\r\n");
    return ok;
}

// The steps of one run, each of which may end it.
enum class Step { OPEN_SRC, SIZE_SRC, CHECK_DST, OPEN_DST, SIZE_RULE, COPY, DONE };

struct Run {
    const char *src;
    const char *dst;
    bool truncate;
    FILE *from = nullptr;
    FILE *to = nullptr;
    long size = 0;
};

// One step; the next, or DONE with `ok` telling how the run went. The
// destination is opened for writing (and with -t created or truncated)
// only once the source is open and measured and is not the destination.
Step step(Run &r, Step at, bool &ok) {
    ok = false;
    switch (at) {
    case Step::OPEN_SRC:
        errno = 0;
        r.from = fopen(r.src, "rb");
        if (!r.from) {
            say_open_failed(r.src, errno);
            return Step::DONE;
        }
        return Step::SIZE_SRC;
    case Step::SIZE_SRC:
        if (file_node_is_dir_fd(fileno(r.from))) {
            printf("%s is a directory\r\n", r.src);
            return Step::DONE;
        }
        r.size = measure(r.from);
        if (r.size < 0) {
            printf("fail to read %s\r\n", r.src);
            return Step::DONE;
        }
        return Step::CHECK_DST;
    case Step::CHECK_DST: {
        // An existing destination as it is: no directory, not the source,
        // writable. A missing one is made by -t. One that cannot be looked
        // at for a shortage is not written unchecked.
        errno = 0;
        FILE *probe = fopen(r.dst, "rb");
        if (!probe) {
            const int error = errno;
            if (!zel_shell_shortage(error)) return Step::OPEN_DST;
            say_open_failed(r.dst, error);
            return Step::DONE;
        }
        const int fd = fileno(probe);
        const bool dir = file_node_is_dir_fd(fd), same = file_node_same_fd(fileno(r.from), fd),
                   writable = file_node_writable_fd(fd), in_use = file_node_in_use_fd(fd);
        fclose(probe);
        if (dir) {
            printf("%s is a directory\r\n", r.dst);
        } else if (same) {
            printf("%s and %s are the same file\r\n", r.src, r.dst);
        } else if (in_use) {
            // The image file of a mounted volume: writing it would go
            // behind the volume's back.
            printf("%s is in use\r\n", r.dst);
        } else if (!writable) {
            printf("fail to open %s\r\n", r.dst);
        } else {
            return Step::OPEN_DST;
        }
        return Step::DONE;
    }
    case Step::OPEN_DST:
        // Asked to end before the copy began: the destination stays as it is.
        if (zel_host_end_requested()) return Step::DONE;
        errno = 0;
        r.to = fopen(r.dst, r.truncate ? "wb+" : "rb+");
        if (!r.to) {
            say_open_failed(r.dst, errno);
            return Step::DONE;
        }
        return Step::SIZE_RULE;
    case Step::SIZE_RULE: {
        if (r.truncate) return Step::COPY;
        const long dst_size = measure(r.to);
        if (dst_size < 0) return Step::DONE;
        if (r.size > dst_size) {
            printf("invalid update operation, src size: %d, dst size: %d\r\n", (int)r.size, (int)dst_size);
            copy_refused_notify(r.src, r.dst, r.size, dst_size);
            return Step::DONE;
        }
        return Step::COPY;
    }
    case Step::COPY: ok = copy(r.from, r.to, r.src, r.dst, r.size, r.truncate); return Step::DONE;
    case Step::DONE: break;
    }
    return Step::DONE;
}

}  // namespace

int update_main(int argc, char **argv) {
    bool truncate = argc > 1 && strncmp(argv[1], "-t", 2) == 0;
    if (argc != (truncate ? 4 : 3)) {
        printf("format: %s [-t] SRC DST\r\n", argv[0]);
        return -1;
    }
    Run r{argv[truncate ? 2 : 1], argv[truncate ? 3 : 2], truncate};
    bool ok = false;
    zel_host_end_hold();
    for (Step at = Step::OPEN_SRC; at != Step::DONE;) at = step(r, at, ok);
    if (r.from) fclose(r.from);
    if (r.to) fclose(r.to);
    if (!ok) printf("fail to update %s to %s\r\n", r.src, r.dst);
    zel_host_end_release();
    return ok ? 0 : -1;
}
