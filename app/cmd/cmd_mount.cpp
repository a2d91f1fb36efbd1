// mount [-t vfstype] [-b block_size] device dir
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_commands.h"
#include "app_mount.h"
#include "zel_linux_getopt.h"

namespace {

void usage(const char *program) {
    printf("format: %s [-t vfstype] [-b block_size] device dir\r\nsupported vfstype(mandatory options): ", program);
    for (const mount_type_t &row : mount_types) printf(row.needs_block_size ? "%s(b) " : "%s ", row.name);
    printf("\r\n");
}

const mount_type_t *find_type(const char *name) {
    for (const mount_type_t &row : mount_types)
        if (strcmp(row.name, name) == 0) return &row;
    return nullptr;
}

}  // namespace

int mount_main(int argc, char **argv) {
    const mount_type_t *type = &mount_types[0];
    mount_args_t args = {nullptr, 0};
    zel_linux_getopt_state_t *opt = zel_linux_getopt_state();
    if (!opt) return -1;
    for (int c; (c = zel_linux_getopt_long(argc, argv, "t:b:", nullptr, nullptr)) != -1;) {
        if (c == 'b') {
            args.block_size = (uint32_t)strtoul(opt->optarg, nullptr, 0);
        } else if (c == 't') {
            type = find_type(opt->optarg);
            if (!type) {
                usage(argv[0]);
                return -1;
            }
        }
    }
    if (argc - opt->optind != 2) {
        usage(argv[0]);
        return -1;
    }
    if (type->needs_block_size && args.block_size == 0) {
        printf("block size must be defined for %s\r\n", type->name);
        usage(argv[0]);
        return -1;
    }
    args.device = argv[opt->optind];
    const char *dir = argv[opt->optind + 1];
    void *data = type->prepare(type, &args);
    if (!data) {
        printf("fail to prepare fsdata\r\n");
        return -1;
    }
    char reason[320];
    if (mount_apply(type, &args, dir, data, reason, sizeof reason) != 0) {
        printf("fail to mount\r\n");
        if (reason[0]) printf("%s\r\n", reason);
        return -1;
    }
    if (reason[0]) printf("%s\r\n", reason);
    return 0;
}
