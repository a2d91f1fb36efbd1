/* A program built for the layer: it sees only the layer's own headers, so
 * every call below that touches files, descriptors, threads or memory must
 * land in the layer. */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void *worker(void *arg) {
    int fd = *(int *)arg;
    write(fd, "from thread", 11);
    return (void *)7;
}

int zel_layer_program_main(int argc, char **argv) {
    if (argc < 2) return 10;
    int fd = open("/prog/out.txt", O_CREAT | O_WRONLY | O_TRUNC);
    if (fd < 0) return 1;
    write(fd, argv[1], strlen(argv[1]));
    close(fd);
    struct stat st;
    if (stat("/prog/out.txt", &st) != 0 || st.st_size != (off_t)strlen(argv[1]) || !S_ISREG(st.st_mode)) return 2;

    int p[2];
    pthread_t t;
    if (pipe(p) != 0 || pthread_create(&t, NULL, worker, &p[1]) != 0) return 3;
    struct pollfd e = {p[0], POLLIN, 0};
    if (poll(&e, 1, -1) != 1 || e.revents != POLLIN) return 3;
    char buf[32];
    ssize_t n = read(p[0], buf, sizeof buf);
    void *value = NULL;
    pthread_join(t, &value);
    if (n != 11 || value != (void *)7) return 4;

    errno = 0;
    if (open("/prog/none", O_RDONLY) != -1 || errno != ENOENT) return 5;

    char *kept = strdup(argv[0]); /* left for the process's teardown */
    char *scratch = malloc(100);
    if (!kept || !scratch) return 6;
    free(scratch);

    DIR *d = opendir("/prog");
    int entries = 0;
    while (readdir(d)) ++entries;
    closedir(d);
    if (entries != 1) return 7;
    char cwd[64];
    return getcwd(cwd, sizeof cwd) ? 0 : 8;
}
