// sh: the console shell. "sh -c LINE" runs one line; otherwise a banner, the
// prompt ">>>" and a line editor with backspace and a history of 10 lines
// browsed with the up and down arrows, until the input ends or a prompt
// cannot be written.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "zel_shell.h"

namespace {

constexpr int kHistory = 10;
constexpr int kTooLong = -12;

enum class Edit {
    Text,    // ordinary characters
    Escape,  // after ESC
    Ss3,     // after ESC O: one more byte ends the sequence
    Csi,     // after ESC [: a letter or '~' ends the sequence
    Discard  // the line grew too long: everything up to the carriage return is dropped
};

struct Editor {
    char line[ZEL_SHELL_LINE_MAX + 1];
    size_t length;
    Edit state;
    size_t sequence_length;  // bytes of the escape sequence after ESC
    char *lines[kHistory];
    int count;           // lines in the history
    int next;            // the slot the next line goes to
    int browse;          // the slot shown by the arrows
    bool output_failed;  // a prompt could not be written: the shell ends
};

void prompt(Editor &e) {
    e.length = 0;
    e.state = Edit::Text;
    e.output_failed = printf(">>>") < 0;
    fflush(stdout);
}

void append(Editor &e, char c) {
    if (e.length >= ZEL_SHELL_LINE_MAX) {
        e.state = Edit::Discard;
        return;
    }
    e.line[e.length++] = c;
}

void remember(Editor &e) {
    char *copy = strdup(e.line);
    if (!copy) return;
    free(e.lines[e.next]);
    e.lines[e.next] = copy;
    if (e.count < kHistory) ++e.count;
    e.next = (e.next + 1) % kHistory;
    e.browse = e.next;
}

void show_history(Editor &e, bool up) {
    if (e.count == 0) return;
    int at;
    if (up)
        at = e.browse == 0 ? e.count - 1 : e.browse - 1;
    else
        at = e.browse < e.count - 1 ? e.browse + 1 : 0;
    for (size_t i = 0; i < e.length; ++i) write(1, "\b \b", 3);
    size_t n = strlen(e.lines[at]);
    memcpy(e.line, e.lines[at], n);
    e.length = n;
    e.browse = at;
    write(1, e.line, n);
}

void end_of_line(Editor &e) {
    if (isatty(0)) write(1, "\n", 1);
    if (e.state == Edit::Discard) {
        printf("line longer than %d characters dropped\r\n", ZEL_SHELL_LINE_MAX);
    } else if (e.length > 0) {
        e.line[e.length] = '\0';
        remember(e);
        // The executor cuts the line in place.
        char text[ZEL_SHELL_LINE_MAX + 1];
        memcpy(text, e.line, e.length + 1);
        errno = 0;
        if (zel_shell_execute(e.line) < 0) {
            const char *why = zel_shell_shortage(errno);
            printf("fail to execute %s\r\n", text);
            if (why) printf("%s\r\n", why);
        }
    }
    prompt(e);
}

void feed(Editor &e, char c) {
    if (c == '\r') {
        end_of_line(e);
        return;
    }
    switch (e.state) {
    case Edit::Discard: break;
    case Edit::Text:
        if (c == 8 || c == 127) {
            if (e.length > 0) --e.length;
        } else if (c == 27) {
            e.state = Edit::Escape;
            e.sequence_length = 0;
        } else if (c != '\n') {
            append(e, c);
        }
        break;
    case Edit::Escape:
        if (c == '[')
            e.state = Edit::Csi;
        else if (c == 'O')
            e.state = Edit::Ss3;
        else {
            e.state = Edit::Text;
            append(e, c);
        }
        break;
    case Edit::Ss3: e.state = Edit::Text; break;
    case Edit::Csi:
        ++e.sequence_length;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '~') {
            e.state = Edit::Text;
            if (e.sequence_length == 1 && (c == 'A' || c == 'B')) show_history(e, c == 'A');
        }
        break;
    }
}

int run_one(const char *command) {
    if (strlen(command) > ZEL_SHELL_LINE_MAX) return kTooLong;
    char line[ZEL_SHELL_LINE_MAX + 1];
    strcpy(line, command);
    return zel_shell_execute(line);
}

}  // namespace

int sh_main(int argc, char **argv) {
    if (argc >= 3 && strcmp(argv[1], "-c") == 0) return run_one(argv[2]);
    Editor *e = (Editor *)calloc(1, sizeof(Editor));
    if (!e) {
        fprintf(stderr, "sh: %s\r\n", zel_shell_shortage(ENOMEM));
        return -1;
    }
    const char *path = getenv("PATH");
    printf("\033[1;37m");
    printf("ZEL Linux\r\npath: %s\r\n", path ? path : "");
    prompt(*e);
    // The shell stops once its output has gone (a prompt could not be written).
    while (!e->output_failed) {
        char c;
        if (read(0, &c, 1) != 1) {
            if (errno != EINTR && isatty(0)) fprintf(stderr, "fail to read from stdin, is stdin disconnected?\r\n");
            break;
        }
        feed(*e, c);
    }
    for (char *copy : e->lines) free(copy);
    free(e);
    return -1;
}
