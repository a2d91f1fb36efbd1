/* In-place JSON reader: finds a value inside a NUL-terminated JSON text by a
 * path of object keys and array indexes, without building a tree and without
 * allocating, and copies string values out with their escapes resolved.
 *
 * Paths: components separated by '/' or '\\'; one leading separator is
 * ignored; an empty path addresses the whole text. In an object a component is
 * a key compared byte for byte over its whole length; in an array it is an
 * index (decimal, 0x hexadecimal or leading-0 octal) counted from 0.
 *
 * The reader never reads past the terminator: text that ends early (inside a
 * string, a key or a container) ends the search with null or -1. */
#ifndef ZEL_JSON_H
#define ZEL_JSON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Value types, decided by a value's first character. */
enum {
    ZEL_JSON_OTHER = 0,
    ZEL_JSON_OBJECT = 1,  /* "{" */
    ZEL_JSON_ARRAY = 2,   /* "[" */
    ZEL_JSON_STRING = 3,  /* a quotation mark */
    ZEL_JSON_NUMBER = 4,  /* a digit (a leading minus sign is not recognised) */
    ZEL_JSON_BOOLEAN = 5, /* true or false, not followed by a letter or digit */
    ZEL_JSON_NULL = 6     /* null, not followed by a letter or digit */
};

/* Results of zel_json_get_string besides the length. */
enum {
    ZEL_JSON_ERR_NOT_STRING = -1, /* not a string, bad escape or no closing quotation mark */
    ZEL_JSON_ERR_SMALL = -6       /* the buffer is too small */
};

int zel_json_get_type(const char *value);

/* Pointer to the first character of the value at `path`, or null. */
const char *zel_json_get(const char *json, const char *path);

/* Copies the string value at `value` into `buffer` (escapes resolved, NUL
 * terminated) and returns its length + 1. With a null buffer nothing is written
 * and the length + 1 is returned (the size to provide). -1: not a string, an
 * invalid escape or a string that never closes; -6: the buffer is too small. */
int32_t zel_json_get_string(const char *value, char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
