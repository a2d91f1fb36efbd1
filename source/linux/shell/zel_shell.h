/* The shell of the Linux-emulation layer: the line executor and the
 * commands bound under "/bin".
 *
 * Command lines
 * -------------
 * zel_shell_execute(line) runs one line in the calling process; the line is
 * cut in place. White space is tab, line feed, vertical tab, form feed,
 * carriage return and blank.
 *   - A trailing '&' runs the line's last part in the background.
 *   - "&&" and "||" split the line into a chain, left to right; each part
 *     before them is one simple command run in the foreground; a part that
 *     decides the line (a failure before "&&", a success before "||") ends
 *     the whole line.
 *   - The last part may be a '|' pipeline of at most 4 commands; a longer
 *     one is refused before anything is made.
 *   - Quoted text is never split: "&&", "||", '|' and white space inside
 *     single or double quotes belong to the word.
 *   - A simple command is: name=value words (they go into the command's
 *     environment only), the command word (looked up in "PATH" unless it
 *     begins with '/', then as a path), and at most 31 arguments.
 *   - Arguments lose their quotes; "$NAME" and "${NAME}" (letters, digits
 *     and '_') are replaced by the caller's variable outside single quotes.
 *     A '$' without a name, or "${" without its '}', refuses the line.
 * Every command runs as a child process of the caller; the executor waits
 * for the foreground commands and answers the status word of the last one
 * (its exit status shifted left by 8, 0 for success), 0 for a background
 * line, -1 when a command cannot be prepared or started (no thread for it:
 * the commands of the pipeline that did start are still waited for, and
 * those after it are not run).
 *
 * Binding a command
 * -----------------
 * A command is a main(argc, argv) bound to a file under "/bin":
 *     zel_linux_install_builtin("/bin/hello", hello_main);
 * It prints with printf on its standard output, ends every message line in
 * "\r\n" and returns 0 for success, -1 (or another code) for failure.
 *
 * This header is plain C and usable by code built against the layer's own
 * C library headers (the built-in commands). */
#ifndef ZEL_SHELL_H
#define ZEL_SHELL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*zel_shell_main_t)(int argc, char **argv);
struct zel_linux_process;

/* A pipeline holds at most this many commands. */
#define ZEL_SHELL_PIPELINE_MAX 4
/* An argument vector holds at most this many words. */
#define ZEL_SHELL_ARGV_MAX 32
/* Console lines and "sh -c" commands hold at most this many characters. */
#define ZEL_SHELL_LINE_MAX 511

/* ---- the line executor ---- */
int zel_shell_execute(char *line);
/* One simple command as a child process of the current process, not
 * started; in_fd / out_fd (descriptors of the current process, or -1)
 * become its descriptors 0 / 1. None when it cannot be prepared. */
struct zel_linux_process *zel_shell_run_simple(char *text, int in_fd, int out_fd);
/* The next word at *cursor (quotes keep white space inside the word); the
 * white space after it becomes NULs and *cursor moves past it. None at the
 * end of the text. */
char *zel_shell_next_word(char **cursor);
/* The word without its quotes and with its variables expanded: the word
 * itself (changed in place) when it holds no '$', else a new string in the
 * process's heap. None after a failure (its message printed). */
char *zel_shell_expand_word(struct zel_linux_process *process, char *word);
/* Appends the expansion of `text` to *out, a string of the process's heap
 * (grown as needed). 0, or -1 after printing the failure. */
[[nodiscard]] int zel_shell_expand_arg(struct zel_linux_process *process, const char *text, char **out);
/* Writes the expansion of `text` into buf (at most size - 1 characters and
 * a NUL; no buffer: measures only) and answers its full length, or -1 for
 * a malformed reference. */
int zel_shell_expand_vars(const char *text, char *buf, size_t size);

/* ---- finding commands ---- */
/* An open descriptor of the first executable `name` in the directories of
 * "PATH" (its main through main_out), or -1. buf (size bytes) receives the
 * path; none: a buffer of its own. When a candidate could not be opened
 * for want of memory or descriptors, -1 leaves that errno (ENOMEM, EMFILE):
 * the command may exist. */
int zel_linux_find_in_path(char *buf, size_t size, const char *name, zel_shell_main_t *main_out);
/* Looks a command word up as the shell does ("PATH" unless it begins with
 * '/', then as a path): 0 and its main, or -1 (errno as above). */
int zel_shell_lookup(const char *name, zel_shell_main_t *main_out);
/* setenv("PATH", value, 1). */
[[nodiscard]] int zel_linux_set_path(const char *value);

/* ---- binding commands ---- */
/* Binds `main` to `path` (made when missing) as an executable; prints
 * "<path> installed." or "fail to install <path>.". Answers the descriptor
 * number used (0 or more) or a negative result. */
[[nodiscard]] int zel_linux_install_builtin(const char *path, zel_shell_main_t main);
/* Makes "/bin" and installs the built-in commands; 0, or -1 at the first
 * failure. */
[[nodiscard]] int zel_linux_install_builtins(void);

/* ---- what the built-in commands change in the shell that runs them ----
 * A command runs as a child; its stdio source is the shell (for everything
 * started from the init process, the init process). */
/* chdir of the stdio source; 0 or -1. */
[[nodiscard]] int zel_shell_source_chdir(const char *path);
/* Puts a copy of `entry` ("NAME=VALUE", or a bare "NAME" to remove) into
 * the stdio source's environment: the environment update's result, or -2
 * when the copy cannot be made. */
[[nodiscard]] int zel_shell_source_putenv(const char *entry);
/* The current process's environment vector (null-terminated, or none). */
char **zel_shell_environ(void);
/* Milliseconds of the system timer. */
uint64_t zel_shell_uptime_ms(void);
/* Why a call failed, for the errno values that mean the system is short of
 * something: "too many open files" (EMFILE, ENFILE) and "not enough memory"
 * (ENOMEM); null for every other value. The commands say this instead of
 * "not found" or an empty answer. */
const char *zel_shell_shortage(int error);
/* mkdir with every missing parent (open with O_CREAT | O_DIRECTORY). */
[[nodiscard]] int zel_linux_mkdir_by_open(const char *path, unsigned int mode);

/* ---- the built-in commands ---- */
/* init runs the start-up script, then the console shell. A line of the
 * script that fails is handed to the application's app_start_line_failed
 * (with its status word), which may end the program: a line the program
 * cannot do without (the product's GUI) is a start-up step. */
int init_main(int argc, char **argv);
void app_start_line_failed(const char *line, int status);
int sh_main(int argc, char **argv);
int ls_main(int argc, char **argv);
int cd_main(int argc, char **argv);
int pwd_main(int argc, char **argv);
int cat_main(int argc, char **argv);
int echo_main(int argc, char **argv);
int mkdir_main(int argc, char **argv);
int clear_main(int argc, char **argv);
int time_main(int argc, char **argv);
int export_main(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
