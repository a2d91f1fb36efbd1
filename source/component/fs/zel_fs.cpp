// File objects: node records, name matching and the stock handlers.
#include "zel_fs.h"

#include <string.h>

#include "zel_fs_internal.h"
#include "zel_heap.h"

extern "C" {

void zel_op_not_support(void *locals, zel_evt_t evt) {
    (void)locals;
    if (evt == ZEL_EVT_INIT) zel_answer(ZEL_FS_ERR_NOT_SUPPORTED);
}

void zel_op_succeed(void *locals, zel_evt_t evt) {
    (void)locals;
    if (evt == ZEL_EVT_INIT) zel_answer(0);
}

zel_file_t *zel_file_alloc(uint32_t size) {
    if (size < sizeof(zel_file_t)) size = sizeof(zel_file_t);
    auto *f = static_cast<zel_file_t *>(zel_heap_calloc(1, size));
    if (f) f->attributes = ZEL_FILE_ALLOCATED;
    return f;
}

void zel_file_free(zel_file_t *file) {
    if (file && (file->attributes & ZEL_FILE_ALLOCATED)) zel_heap_free(file);
}

uint32_t zel_file_get_ref(const zel_file_t *file) { return file ? file->references : 0; }

zel_file_t *zel_file_ref_parents(zel_file_t *file) {
    for (zel_file_t *p = file->parent; p; p = p->parent) p->references++;
    return file->parent;
}

const char *zel_file_getfilename(const char *path) {
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (zel_file_is_div(*p)) name = p + 1;
    return name;
}

bool zel_file_is_div(char c) { return c == '/' || c == '\\'; }

bool zel_file_is_match(const char *element, const char *name) {
    size_t n = strlen(name);
    if (strncmp(element, name, n) != 0) return false;
    char after = element[n];
    return after == '\0' || zel_file_is_div(after);
}

}  // extern "C"

char *zel_fs_strndup(const char *s, size_t n) {
    auto *copy = static_cast<char *>(zel_heap_malloc(n + 1));
    if (!copy) return nullptr;
    memcpy(copy, s, n);
    copy[n] = '\0';
    return copy;
}

size_t zel_fs_element_length(const char *path) {
    size_t n = 0;
    while (path[n] && !zel_file_is_div(path[n])) n++;
    return n;
}

bool zel_fs_name_is_valid(const char *name) {
    if (!name || !name[0]) return false;
    if (name[zel_fs_element_length(name)] != '\0') return false;
    return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}
