// The layer's C library as its implementation sees it.
//
// Programs inside the layer are compiled against the headers one folder up;
// those headers bind the standard names to the symbols declared here (read
// becomes zel_linux_read, rename becomes zel_linux_rename_checked, ...).
// The layer implements exactly these functions, with these signatures, and
// reads records and constants in these layouts and values.  This header can
// be included next to the host's own C library headers: every name carries
// the zel_linux_ / ZEL_LINUX_ prefix.  The linux_abi test keeps it and the
// headers of the layer in step.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---- scalar types (x86-64 sizes) -------------------------------------------
using zel_linux_ssize_t = long;
using zel_linux_off_t = long;
using zel_linux_time_t = long;
using zel_linux_mode_t = unsigned int;
using zel_linux_socklen_t = unsigned int;
using zel_linux_sa_family_t = unsigned short;
using zel_linux_nfds_t = unsigned long;
using zel_linux_pthread_t = unsigned int;
using zel_linux_pthread_mutexattr_t = int;  // the mutex type word

// ---- records -----------------------------------------------------------------
// A FILE and a DIR of the layer are the descriptor record itself.
struct zel_linux_fd;

struct zel_linux_timespec {
    zel_linux_time_t tv_sec;
    long tv_nsec;
};

struct zel_linux_timeval {
    zel_linux_time_t tv_sec;
    long tv_usec;
};

struct zel_linux_tm {
    int tm_sec;
    int tm_min;
    int tm_hour;
    int tm_mday;
    int tm_mon;
    int tm_year;  // years since 1900
    int tm_wday;
    int tm_yday;
    int tm_isdst;
    long tm_gmtoff;       // always 0
    const char *tm_zone;  // always null
};

// Only st_mode and st_size are filled; everything else is zero.
struct zel_linux_stat {
    unsigned long st_dev;
    unsigned long st_ino;
    unsigned long st_nlink;
    zel_linux_mode_t st_mode;
    unsigned int st_uid;
    unsigned int st_gid;
    int pad0;
    unsigned long st_rdev;
    zel_linux_off_t st_size;
    long st_blksize;
    long st_blocks;
    zel_linux_timespec st_atim;
    zel_linux_timespec st_mtim;
    zel_linux_timespec st_ctim;
    long reserved[3];
};

struct zel_linux_dirent {
    uint32_t d_ino;     // 1 for the first entry read, then counting
    uint32_t d_off;     // the directory's entry index before this entry
    uint16_t d_reclen;  // 16
    uint8_t d_type;     // ZEL_LINUX_DT_*
    char *d_name;       // the node's own name string
};

struct zel_linux_pollfd {
    int fd;
    short events;
    short revents;
};

struct zel_linux_fd_set {
    long fds_bits[1024 / (8 * sizeof(long))];
};

struct zel_linux_sockaddr {
    zel_linux_sa_family_t sa_family;
    char sa_data[14];
};

struct zel_linux_in_addr {
    uint32_t s_addr;  // network byte order
};

struct zel_linux_sockaddr_in {
    zel_linux_sa_family_t sin_family;
    uint16_t sin_port;  // network byte order
    zel_linux_in_addr sin_addr;
    unsigned char sin_zero[8];
};

struct zel_linux_sockaddr_un {
    zel_linux_sa_family_t sun_family;
    char sun_path[108];
};

struct zel_linux_sockaddr_storage {
    zel_linux_sa_family_t ss_family;
    char padding[118];
    unsigned long align;
};

struct zel_linux_linger {
    int l_onoff;
    int l_linger;
};

struct zel_linux_hostent {
    char *h_name;
    char **h_aliases;    // an empty list
    int h_addrtype;      // ZEL_LINUX_AF_INET
    int h_length;        // 4
    char **h_addr_list;  // one address, then null
};

// The argument of fcntl ZEL_LINUX_TCGETS / ZEL_LINUX_TCSETS: 56 bytes.
struct zel_linux_termios {
    unsigned int c_iflag;
    unsigned int c_oflag;
    unsigned int c_cflag;
    unsigned int c_lflag;
    unsigned char c_cc[32];
    unsigned int c_ispeed;
    unsigned int c_ospeed;
};

// Words read by pthread_create: [0] detach state, [2] priority, [3] inherit
// the process's priority, [6] stack buffer, [7] stack size (0: default).
struct zel_linux_pthread_attr_t {
    unsigned int word[8];
};

// The space a program reserves for a mutex; the layer's own mutex record
// must fit in it (static_assert on the implementation's side).
union zel_linux_pthread_mutex_t {
    unsigned char space[64];
    long align;
};

// ---- constants -----------------------------------------------------------------
// open flags
inline constexpr int ZEL_LINUX_O_RDONLY = 0;
inline constexpr int ZEL_LINUX_O_WRONLY = 1;
inline constexpr int ZEL_LINUX_O_RDWR = 2;
inline constexpr int ZEL_LINUX_O_ACCMODE = 3;
inline constexpr int ZEL_LINUX_O_NONBLOCK = 4;
inline constexpr int ZEL_LINUX_O_APPEND = 8;
inline constexpr int ZEL_LINUX_O_DIRECTORY = 0x100;
inline constexpr int ZEL_LINUX_O_CREAT = 0x200;
inline constexpr int ZEL_LINUX_O_TRUNC = 0x400;
inline constexpr int ZEL_LINUX_O_EXCL = 0x800;
inline constexpr int ZEL_LINUX_O_CLOEXEC = 0x1000;
// fcntl
inline constexpr int ZEL_LINUX_F_DUPFD = 0;
inline constexpr int ZEL_LINUX_F_GETFD = 1;
inline constexpr int ZEL_LINUX_F_SETFD = 2;
inline constexpr int ZEL_LINUX_F_GETFL = 3;
inline constexpr int ZEL_LINUX_F_SETFL = 4;
inline constexpr int ZEL_LINUX_FD_CLOEXEC = 1;
inline constexpr int ZEL_LINUX_TCGETS = 0x7400;
inline constexpr int ZEL_LINUX_TCSETS = 0x7401;
inline constexpr int ZEL_LINUX_VMIN = 6;
// poll
inline constexpr short ZEL_LINUX_POLLIN = 1;
inline constexpr short ZEL_LINUX_POLLOUT = 2;
inline constexpr short ZEL_LINUX_POLLPRI = 4;
inline constexpr short ZEL_LINUX_POLLERR = 8;
inline constexpr short ZEL_LINUX_POLLHUP = 16;
inline constexpr short ZEL_LINUX_POLLNVAL = 32;
// lseek, access
inline constexpr int ZEL_LINUX_SEEK_SET = 0;
inline constexpr int ZEL_LINUX_SEEK_CUR = 1;
inline constexpr int ZEL_LINUX_SEEK_END = 2;
inline constexpr int ZEL_LINUX_F_OK = 0;
inline constexpr int ZEL_LINUX_R_OK = 2;
inline constexpr int ZEL_LINUX_W_OK = 4;
inline constexpr int ZEL_LINUX_X_OK = 8;
// stat modes, directory entry types
inline constexpr unsigned ZEL_LINUX_S_IFMT = 0xF000;
inline constexpr unsigned ZEL_LINUX_S_IFSOCK = 0xC000;
inline constexpr unsigned ZEL_LINUX_S_IFREG = 0x8000;
inline constexpr unsigned ZEL_LINUX_S_IFDIR = 0x4000;
inline constexpr unsigned ZEL_LINUX_S_IFIFO = 0x1000;
inline constexpr int ZEL_LINUX_DT_REG = 1;
inline constexpr int ZEL_LINUX_DT_DIR = 2;
inline constexpr int ZEL_LINUX_DT_EXEC = 8;
// errno values the layer sets itself; the numbering is Linux's throughout,
// so a host socket's errno is handed on unchanged.
inline constexpr int ZEL_LINUX_EPERM = 1;
inline constexpr int ZEL_LINUX_ENOENT = 2;
inline constexpr int ZEL_LINUX_EINTR = 4;
inline constexpr int ZEL_LINUX_EIO = 5;
inline constexpr int ZEL_LINUX_EBADF = 9;
inline constexpr int ZEL_LINUX_EAGAIN = 11;
inline constexpr int ZEL_LINUX_ENOMEM = 12;
inline constexpr int ZEL_LINUX_EBUSY = 16;
inline constexpr int ZEL_LINUX_EEXIST = 17;
inline constexpr int ZEL_LINUX_ENOTDIR = 20;
inline constexpr int ZEL_LINUX_EISDIR = 21;
inline constexpr int ZEL_LINUX_EINVAL = 22;
inline constexpr int ZEL_LINUX_ENFILE = 23;
inline constexpr int ZEL_LINUX_EMFILE = 24;
inline constexpr int ZEL_LINUX_EPIPE = 32;
inline constexpr int ZEL_LINUX_ERANGE = 34;
inline constexpr int ZEL_LINUX_EOVERFLOW = 75;
inline constexpr int ZEL_LINUX_EINPROGRESS = 115;
// sockets
inline constexpr int ZEL_LINUX_AF_UNSPEC = 0;
inline constexpr int ZEL_LINUX_AF_UNIX = 1;
inline constexpr int ZEL_LINUX_AF_INET = 2;
inline constexpr int ZEL_LINUX_SOCK_STREAM = 1;
inline constexpr int ZEL_LINUX_SOCK_DGRAM = 2;
inline constexpr int ZEL_LINUX_IPPROTO_TCP = 6;
inline constexpr int ZEL_LINUX_IPPROTO_UDP = 17;
inline constexpr int ZEL_LINUX_SOL_SOCKET = 0xFFFF;
inline constexpr int ZEL_LINUX_SO_REUSEADDR = 2;
inline constexpr int ZEL_LINUX_SO_TYPE = 3;
inline constexpr int ZEL_LINUX_SO_ERROR = 4;
inline constexpr int ZEL_LINUX_SO_BROADCAST = 6;
inline constexpr int ZEL_LINUX_SO_SNDBUF = 7;
inline constexpr int ZEL_LINUX_SO_RCVBUF = 8;
inline constexpr int ZEL_LINUX_SO_KEEPALIVE = 9;
inline constexpr int ZEL_LINUX_SO_LINGER = 13;
inline constexpr int ZEL_LINUX_SO_RCVTIMEO = 20;
inline constexpr int ZEL_LINUX_SO_SNDTIMEO = 21;
inline constexpr int ZEL_LINUX_SO_NONBLOCK = 100;
inline constexpr int ZEL_LINUX_TCP_NODELAY = 1;
inline constexpr int ZEL_LINUX_MSG_DONTWAIT = 0x10;
inline constexpr int ZEL_LINUX_SHUT_RD = 0;
inline constexpr int ZEL_LINUX_SHUT_WR = 1;
inline constexpr int ZEL_LINUX_SHUT_RDWR = 2;
// threads
inline constexpr int ZEL_LINUX_PTHREAD_CREATE_DETACHED = 1;
inline constexpr int ZEL_LINUX_PTHREAD_MUTEX_RECURSIVE = 4;

// ---- functions -------------------------------------------------------------------
// Calls answer -1 (or null) on failure and set the calling thread's errno
// only where the layer names a value.
extern "C" {

// errno, assert
int *zel_linux_errno_ptr(void);
[[noreturn]] void zel_linux_assert_fail(const char *condition, const char *file, int line, const char *function);

// descriptors and files
int zel_linux_open(const char *path, int flags, ...);
int zel_linux_creat(const char *path, zel_linux_mode_t mode);
int zel_linux_fcntl(int fd, int command, ...);
zel_linux_ssize_t zel_linux_read(int fd, void *buffer, size_t count);
zel_linux_ssize_t zel_linux_write(int fd, const void *buffer, size_t count);
int zel_linux_close(int fd);
zel_linux_off_t zel_linux_lseek(int fd, zel_linux_off_t offset, int whence);
int zel_linux_ftruncate(int fd, zel_linux_off_t length);
int zel_linux_access(const char *path, int mode);
int zel_linux_unlink(const char *path);
int zel_linux_remove(const char *path);
int zel_linux_rename_checked(const char *from, const char *to);
int zel_linux_stat(const char *path, struct zel_linux_stat *out);
int zel_linux_fstat(int fd, struct zel_linux_stat *out);
int zel_linux_mkdir(const char *path, zel_linux_mode_t mode);
int zel_linux_pipe(int fds[2]);
int zel_linux_isatty(int fd);
char *zel_linux_getcwd(char *buffer, size_t size);
char *zel_linux_path_base(char *path);  // basename()
zel_linux_fd *zel_linux_opendir(const char *path);
zel_linux_dirent *zel_linux_readdir(zel_linux_fd *directory);
int zel_linux_closedir(zel_linux_fd *directory);
int zel_linux_tcgetattr(int fd, zel_linux_termios *out);
int zel_linux_tcsetattr(int fd, int action, const zel_linux_termios *in);

// waiting
int zel_linux_poll(zel_linux_pollfd *entries, zel_linux_nfds_t count, int timeout_ms);
int zel_linux_select(int count, zel_linux_fd_set *readable, zel_linux_fd_set *writable, zel_linux_fd_set *failed,
    zel_linux_timeval *timeout);

// standard I/O
zel_linux_fd *zel_linux_stdin(void);
zel_linux_fd *zel_linux_stdout(void);
zel_linux_fd *zel_linux_stderr(void);
zel_linux_fd *zel_linux_fd_to_file(int fd);
zel_linux_fd *zel_linux_fopen(const char *path, const char *mode);
zel_linux_fd *zel_linux_fdopen(int fd, const char *mode);
int zel_linux_fclose(zel_linux_fd *stream);
size_t zel_linux_fread(void *buffer, size_t size, size_t count, zel_linux_fd *stream);
size_t zel_linux_fwrite(const void *buffer, size_t size, size_t count, zel_linux_fd *stream);
int zel_linux_fgetc(zel_linux_fd *stream);
char *zel_linux_fgets(char *buffer, int size, zel_linux_fd *stream);
int zel_linux_fputc(int c, zel_linux_fd *stream);
int zel_linux_putchar(int c);
int zel_linux_fputs(const char *text, zel_linux_fd *stream);
int zel_linux_puts(const char *text);
int zel_linux_fprintf(zel_linux_fd *stream, const char *format, ...);
int zel_linux_vfprintf(zel_linux_fd *stream, const char *format, va_list args);
int zel_linux_printf(const char *format, ...);
int zel_linux_vprintf(const char *format, va_list args);
int zel_linux_fseek(zel_linux_fd *stream, long offset, int whence);
long zel_linux_ftell(zel_linux_fd *stream);
int zel_linux_feof(zel_linux_fd *stream);
int zel_linux_ferror(zel_linux_fd *stream);
int zel_linux_fflush(zel_linux_fd *stream);
int zel_linux_fileno(zel_linux_fd *stream);
int zel_linux_setvbuf(zel_linux_fd *stream, char *buffer, int mode, size_t size);

// memory, environment, processes
void *zel_linux_malloc(size_t size);
void *zel_linux_calloc(size_t count, size_t size);
void *zel_linux_realloc(void *block, size_t size);
void zel_linux_free(void *block);
char *zel_linux_strdup(const char *text);
char *zel_linux_getenv(const char *name);
int zel_linux_setenv(const char *name, const char *value, int overwrite);
int zel_linux_putenv(char *entry);
int zel_linux_system(const char *command);
[[noreturn]] void zel_linux_exit(int status);
int zel_linux_execl(const char *path, const char *arg0, ...);

// conversions and texts that keep state or set errno
long zel_linux_strtol(const char *text, char **end, int base);
unsigned long zel_linux_strtoul(const char *text, char **end, int base);
long long zel_linux_strtoll(const char *text, char **end, int base);
unsigned long long zel_linux_strtoull(const char *text, char **end, int base);
double zel_linux_strtod(const char *text, char **end);
int zel_linux_atoi(const char *text);
long zel_linux_atol(const char *text);
char *zel_linux_strtok(char *text, const char *separators);
char *zel_linux_strerror(int error);

// time (local time is UTC: localtime() is bound to zel_linux_gmtime)
zel_linux_time_t zel_linux_time(zel_linux_time_t *out);
zel_linux_time_t zel_linux_mktime(zel_linux_tm *date);
zel_linux_tm *zel_linux_gmtime_r(const zel_linux_time_t *seconds, zel_linux_tm *out);
zel_linux_tm *zel_linux_gmtime(const zel_linux_time_t *seconds);
int zel_linux_gettimeofday(zel_linux_timeval *now, void *zone);

// threads
int zel_linux_pthread_create(
    zel_linux_pthread_t *thread, const zel_linux_pthread_attr_t *attributes, void *(*start)(void *), void *argument);
int zel_linux_pthread_join(zel_linux_pthread_t thread, void **result);
int zel_linux_pthread_detach(zel_linux_pthread_t thread);
[[noreturn]] void zel_linux_pthread_exit(void *result);
int zel_linux_pthread_mutex_init(zel_linux_pthread_mutex_t *mutex, const zel_linux_pthread_mutexattr_t *type);
int zel_linux_pthread_mutex_lock(zel_linux_pthread_mutex_t *mutex);
int zel_linux_pthread_mutex_unlock(zel_linux_pthread_mutex_t *mutex);
int zel_linux_pthread_mutex_destroy(zel_linux_pthread_mutex_t *mutex);

// sockets
int zel_linux_socket(int domain, int type, int protocol);
int zel_linux_socketpair(int domain, int type, int protocol, int fds[2]);
int zel_linux_connect(int fd, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
int zel_linux_bind(int fd, const zel_linux_sockaddr *address, zel_linux_socklen_t length);
int zel_linux_listen(int fd, int backlog);
int zel_linux_accept(int fd, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
int zel_linux_shutdown(int fd, int how);
int zel_linux_getsockopt(int fd, int level, int option, void *value, zel_linux_socklen_t *length);
int zel_linux_setsockopt(int fd, int level, int option, const void *value, zel_linux_socklen_t length);
int zel_linux_getsockname(int fd, zel_linux_sockaddr *address, zel_linux_socklen_t *length);
zel_linux_ssize_t zel_linux_send(int fd, const void *buffer, size_t length, int flags);
zel_linux_ssize_t zel_linux_recv(int fd, void *buffer, size_t length, int flags);
zel_linux_ssize_t zel_linux_sendto(int fd, const void *buffer, size_t length, int flags,
    const zel_linux_sockaddr *address, zel_linux_socklen_t address_length);
zel_linux_ssize_t zel_linux_recvfrom(
    int fd, void *buffer, size_t length, int flags, zel_linux_sockaddr *address, zel_linux_socklen_t *address_length);
zel_linux_hostent *zel_linux_gethostbyname(const char *name);

}  // extern "C"
