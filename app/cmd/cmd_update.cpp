// update [-t] SRC DST: copies SRC over DST in blocks of 16384 bytes.
// Without -t, DST must exist, is not truncated and keeps its size, so SRC
// may not be larger; with -t, DST is created or truncated.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_commands.h"

namespace {

constexpr size_t kBlock = 16384;

long measure(FILE *f) {
    if (fseek(f, 0, SEEK_END) != 0) return -1;
    long size = ftell(f);
    return fseek(f, 0, SEEK_SET) == 0 ? size : -1;
}

bool copy(FILE *from, FILE *to, const char *src, const char *dst, bool keep_size) {
    long size = measure(from);
    long dst_size = measure(to);
    if (size < 0 || dst_size < 0) return false;
    if (keep_size && size > dst_size) {
        printf("invalid update operation, src size: %d, dst size: %d\r\n", (int)size, (int)dst_size);
        return false;
    }
    copy_progress_notify(src, dst, (uint32_t)size, 0);
    char *block = (char *)malloc(kBlock);
    if (!block) return false;
    bool ok = true;
    for (size_t remaining = (size_t)size; ok && remaining > 0;) {
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
        }
    }
    free(block);
    if (ok) printf("\r\nupdate done\r\n");
    return ok;
}

}  // namespace

int update_main(int argc, char **argv) {
    bool truncate = argc > 1 && strncmp(argv[1], "-t", 2) == 0;
    if (argc != (truncate ? 4 : 3)) {
        printf("format: %s [-t] SRC DST\r\n", argv[0]);
        return -1;
    }
    const char *src = argv[truncate ? 2 : 1];
    const char *dst = argv[truncate ? 3 : 2];
    FILE *from = fopen(src, "rb");
    if (!from) {
        printf("fail to open %s\r\n", src);
        printf("fail to update %s to %s\r\n", src, dst);
        return -1;
    }
    FILE *to = fopen(dst, truncate ? "wb+" : "rb+");
    if (!to) {
        printf("fail to open %s\r\n", dst);
        fclose(from);
        printf("fail to update %s to %s\r\n", src, dst);
        return -1;
    }
    bool ok = copy(from, to, src, dst, !truncate);
    fclose(from);
    fclose(to);
    if (!ok) {
        printf("fail to update %s to %s\r\n", src, dst);
        return -1;
    }
    return 0;
}
