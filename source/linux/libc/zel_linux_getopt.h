/* Option parsing for programs of the layer: getopt_long with its state kept
 * per emulated process.
 *
 * The state record begins with the five words programs know: optarg, opterr
 * (1: print a message for a bad option), optind (next argument to look at,
 * 1 at first), optopt (the option character in question, '?' at first) and
 * optreset (set it to restart the scan of a new vector). It is made, and
 * filled by zel_linux_getopt_init, when a process first asks for it.
 *
 * zel_linux_getopt_long follows the BSD and GNU behaviour:
 *   - short options from `optstring`: "x" a flag, "x:" an option with an
 *     argument (the rest of the word or the next word), "x::" an optional
 *     argument (the rest of the word only);
 *   - a leading '+' in optstring stops at the first operand; otherwise
 *     operands are moved behind the options, so that when -1 is answered
 *     argv[optind..argc-1] are the operands in their order; "--" ends the
 *     options;
 *   - long options "--name", "--name=value" or "--name value", matched
 *     exactly or by an unambiguous prefix; with `flag` set the option
 *     stores `val` there and answers 0, else it answers `val`;
 *   - an unknown option answers '?', a missing argument '?' (or ':' when
 *     optstring begins with ':', after an optional '+'); with opterr set
 *     and no leading ':' the message goes to the process's stderr as
 *     "<program>: unknown option -- x" or "<program>: option requires an
 *     argument -- x".
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers. */
#ifndef ZEL_LINUX_GETOPT_H
#define ZEL_LINUX_GETOPT_H

#ifdef __cplusplus
extern "C" {
#endif

#define ZEL_LINUX_NO_ARGUMENT 0
#define ZEL_LINUX_REQUIRED_ARGUMENT 1
#define ZEL_LINUX_OPTIONAL_ARGUMENT 2

typedef struct zel_linux_option {
    const char *name;
    int has_arg;
    int *flag;
    int val;
} zel_linux_option_t;

typedef struct zel_linux_getopt_state {
    char *optarg;
    int opterr;
    int optind;
    int optopt;
    int optreset;
    /* the scan: the rest of the current word of grouped short options, and
     * the operands already passed over (argv[first_operand..optind-1]) */
    const char *next_char;
    int first_operand;
} zel_linux_getopt_state_t;

/* The calling process's record, made on first use; null when memory runs
 * out. */
zel_linux_getopt_state_t *zel_linux_getopt_state(void);
/* Fills a record with the starting values (the record of a new process). */
void zel_linux_getopt_init(void *state);

int zel_linux_getopt_long(
    int argc, char *const *argv, const char *optstring, const zel_linux_option_t *longopts, int *longindex);

#ifdef __cplusplus
}
#endif

#endif
