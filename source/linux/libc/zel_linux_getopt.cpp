// getopt_long with its state per emulated process.
#include "zel_linux_getopt.h"

#include <string.h>

#include "zel_linux_process.h"
#include "zel_linux_stdlib.h"

namespace {

static_assert(sizeof(zel_linux_getopt_state_t) <= ZEL_LINUX_LIBC_AREA / 2);

const zel_linux_dynlib_desc_t g_module = {&zel_linux_libc_slot, 0, ZEL_LINUX_LIBC_MODULES, ZEL_LINUX_LIBC_AREA,
    sizeof(zel_linux_getopt_state_t), zel_linux_getopt_init};

bool is_operand(const char *word) { return word[0] != '-' || word[1] == '\0'; }

// Moves argv[middle..end) in front of argv[first..middle).
void rotate(char *const *argv, int first, int middle, int end) {
    char **v = const_cast<char **>(argv);
    for (int n = middle - first; n > 0; --n) {
        char *w = v[first];
        memmove(&v[first], &v[first + 1], static_cast<size_t>(end - first - 1) * sizeof(char *));
        v[end - 1] = w;
    }
}

struct Scan {
    zel_linux_getopt_state_t *st;
    int argc;
    char *const *argv;
    bool report;  // print messages
    int word;     // index of the word being parsed

    // The word (and `extra` words after it) are used up.
    void finish(int extra) {
        st->next_char = nullptr;
        st->optind = word + 1 + extra;
        if (st->first_operand >= 0) {
            rotate(argv, st->first_operand, word, st->optind);
            st->first_operand += st->optind - word;
        }
    }

    void complain(const char *what, const char *name, int length) {
        if (report) zel_linux_fprintf(zel_linux_stderr(), "%s: %s -- %.*s\r\n", argv[0], what, length, name);
    }
};

int parse_short(Scan &s, const char *optstring, bool colon) {
    zel_linux_getopt_state_t *st = s.st;
    char c = *st->next_char++;
    const char *entry = (c == ':' || c == '-') ? nullptr : strchr(optstring, c);
    bool word_done = *st->next_char == '\0';
    if (!entry) {
        st->optopt = static_cast<unsigned char>(c);
        s.complain("unknown option", &c, 1);
        if (word_done) s.finish(0);
        return '?';
    }
    if (entry[1] != ':') {
        if (word_done) s.finish(0);
        return c;
    }
    if (!word_done) {
        st->optarg = const_cast<char *>(st->next_char);
        s.finish(0);
    } else if (entry[2] == ':') {
        s.finish(0);  // an optional argument is never a separate word
    } else if (s.word + 1 < s.argc) {
        st->optarg = s.argv[s.word + 1];
        s.finish(1);
    } else {
        st->optopt = static_cast<unsigned char>(c);
        s.complain("option requires an argument", &c, 1);
        s.finish(0);
        return colon ? ':' : '?';
    }
    return c;
}

int parse_long(Scan &s, const zel_linux_option_t *longopts, int *longindex, bool colon) {
    zel_linux_getopt_state_t *st = s.st;
    const char *name = s.argv[s.word] + 2;
    const char *eq = strchr(name, '=');
    size_t length = eq ? static_cast<size_t>(eq - name) : strlen(name);
    int found = -1;
    bool ambiguous = false;
    for (int i = 0; longopts && longopts[i].name; ++i) {
        if (strncmp(longopts[i].name, name, length) != 0) continue;
        if (strlen(longopts[i].name) == length) {
            found = i;
            ambiguous = false;
            break;
        }
        if (found < 0)
            found = i;
        else
            ambiguous = true;
    }
    st->optopt = 0;
    if (found < 0 || ambiguous) {
        s.complain(ambiguous ? "ambiguous option" : "unknown option", name, static_cast<int>(length));
        s.finish(0);
        return '?';
    }
    const zel_linux_option_t *o = &longopts[found];
    if (longindex) *longindex = found;
    st->optopt = o->flag ? 0 : o->val;
    if (o->has_arg == ZEL_LINUX_NO_ARGUMENT) {
        if (eq) {
            s.complain("option doesn't take an argument", name, static_cast<int>(length));
            s.finish(0);
            return '?';
        }
        s.finish(0);
    } else if (eq) {
        st->optarg = const_cast<char *>(eq + 1);
        s.finish(0);
    } else if (o->has_arg == ZEL_LINUX_REQUIRED_ARGUMENT) {
        if (s.word + 1 >= s.argc) {
            s.complain("option requires an argument", name, static_cast<int>(length));
            s.finish(0);
            return colon ? ':' : '?';
        }
        st->optarg = s.argv[s.word + 1];
        s.finish(1);
    } else {
        s.finish(0);
    }
    if (o->flag) {
        *o->flag = o->val;
        return 0;
    }
    return o->val;
}

}  // namespace

extern "C" {

void zel_linux_getopt_init(void *data) {
    auto *st = static_cast<zel_linux_getopt_state_t *>(data);
    memset(st, 0, sizeof *st);
    st->opterr = 1;
    st->optind = 1;
    st->optopt = '?';
    st->first_operand = -1;
}

zel_linux_getopt_state_t *zel_linux_getopt_state(void) {
    return static_cast<zel_linux_getopt_state_t *>(zel_linux_dynlib_get(&g_module));
}

int zel_linux_getopt_long(
    int argc, char *const *argv, const char *optstring, const zel_linux_option_t *longopts, int *longindex) {
    zel_linux_getopt_state_t *st = zel_linux_getopt_state();
    if (!st || !argv || !optstring) return -1;
    if (st->optreset || st->optind <= 0) {
        st->optind = 1;
        st->optreset = 0;
        st->next_char = nullptr;
        st->first_operand = -1;
    }
    st->optarg = nullptr;
    bool in_order = *optstring == '+';
    if (in_order) ++optstring;
    bool colon = *optstring == ':';
    Scan s{st, argc, argv, st->opterr != 0 && !colon, st->optind};

    if (!st->next_char || !*st->next_char) {
        st->next_char = nullptr;
        while (st->optind < argc && is_operand(argv[st->optind]) && !in_order) {
            if (st->first_operand < 0) st->first_operand = st->optind;
            ++st->optind;
        }
        s.word = st->optind;
        bool end = st->optind >= argc || is_operand(argv[st->optind]);
        bool dashes = !end && strcmp(argv[st->optind], "--") == 0;
        if (end || dashes) {
            // "--" goes in front of the operands passed over; what follows it stays behind them.
            if (dashes) s.finish(0);
            if (st->first_operand >= 0) st->optind = st->first_operand;
            st->first_operand = -1;
            return -1;
        }
        if (argv[st->optind][1] == '-') return parse_long(s, longopts, longindex, colon);
        st->next_char = argv[st->optind] + 1;
    }
    return parse_short(s, optstring, colon);
}

}  // extern "C"
