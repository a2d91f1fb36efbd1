/* Terminal attributes of the console descriptors.  The record is the
 * layer's own (no line discipline byte); the flag bits and control
 * character slots are Linux's.  fcntl() with TCGETS copies the attributes
 * out, TCSETS copies them in. */
#ifndef _TERMIOS_H
#define _TERMIOS_H 1

#include <sys/cdefs.h>

typedef unsigned int tcflag_t;
typedef unsigned char cc_t;
typedef unsigned int speed_t;

#define NCCS 32
struct termios {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_cc[NCCS];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

#define TCGETS 0x7400
#define TCSETS 0x7401
#define TCSANOW 0

/* c_lflag */
#define ISIG 0x01
#define ICANON 0x02
#define ECHO 0x08
#define ECHOE 0x10
#define ECHOK 0x20
#define ECHONL 0x40

/* c_cc slots */
#define VERASE 2
#define VKILL 3
#define VTIME 5
#define VMIN 6 /* 0: reads do not wait */
#define VWERASE 14

__BEGIN_DECLS
int tcgetattr(int fd, struct termios *out) __ZEL_LINUX(tcgetattr);
/* The action is not looked at: the change is immediate. */
int tcsetattr(int fd, int action, const struct termios *in) __ZEL_LINUX(tcsetattr);
__END_DECLS

#endif
