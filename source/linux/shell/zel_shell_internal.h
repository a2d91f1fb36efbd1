/* Helpers shared by the shell's own modules. */
#ifndef ZEL_SHELL_INTERNAL_H
#define ZEL_SHELL_INTERNAL_H

extern "C" {

/* Tab, line feed, vertical tab, form feed, carriage return, blank. */
bool zel_shell_is_space(char c);
/* Past the quote that opens at `at` (the end of the text when unmatched). */
char *zel_shell_skip_quote(char *at);
/* The first `token` outside single and double quotes, or none. */
char *zel_shell_find_unquoted(char *text, const char *token);

}  // extern "C"

#endif
