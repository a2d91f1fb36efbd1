/* Calls that the compiler rewrites into other library calls.  Built with
 * optimisation against the layer's headers, the object must import the
 * layer's symbols for the rewritten calls too (puts, putchar, fputs,
 * fputc, fwrite, calloc), never the host's. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void zel_abi_rewrite_printf(const char *text, int c) {
    printf("line\n");     /* puts */
    printf("%s\n", text); /* puts */
    printf("%c", c);      /* putchar */
    printf("x");          /* putchar */
}

void zel_abi_rewrite_fprintf(FILE *stream, const char *text) {
    fprintf(stream, "%s", text); /* fputs */
    fprintf(stream, "%c", 'a');  /* fputc */
    fprintf(stream, "literal");  /* fwrite */
    fputs("y", stream);          /* fputc */
    fputs("several", stream);    /* fwrite */
}

void *zel_abi_rewrite_calloc(size_t size) {
    void *block = malloc(size); /* malloc + memset: calloc */
    if (block) memset(block, 0, size);
    return block;
}

char *zel_abi_rewrite_strdup(const char *text) { return strdup(text); }
