// Helpers for the file-system suites. Everything here runs on a framework
// thread (zel_test::run_in_thread), where every file call blocks until its
// operation has answered.
#ifndef FS_TEST_H
#define FS_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zel_file.h"
#include "zel_test.h"

namespace fs_test {

// The result of a file call: the operation's answer once it was started,
// else the refusal itself.
inline intptr_t done(int32_t started) { return started == 0 ? zel_eda_get_return_code() : started; }

inline intptr_t f_open(zel_file_t *dir, const char *path, zel_file_t **out) {
    return done(zel_file_open(dir, path, out));
}

inline zel_file_t *f_open_ok(zel_file_t *dir, const char *path) {
    zel_file_t *f = nullptr;
    EXPECT_EQ(0, f_open(dir, path, &f)) << path;
    return f;
}

inline intptr_t f_close(zel_file_t *f) { return done(zel_file_close(f)); }
inline intptr_t f_create(
    zel_file_t *dir, const char *name, uint32_t attributes = ZEL_FILE_READABLE | ZEL_FILE_WRITABLE) {
    return done(zel_file_create(dir, name, attributes));
}
inline intptr_t f_mkdir(zel_file_t *dir, const char *name) { return f_create(dir, name, 0x13); }
inline intptr_t f_unlink(zel_file_t *dir, const char *name) { return done(zel_file_unlink(dir, name)); }
inline intptr_t f_write(zel_file_t *f, const std::string &s) {
    return done(zel_file_write(f, s.data(), static_cast<uint32_t>(s.size())));
}
inline intptr_t f_seek(zel_file_t *f, uint64_t offset, uint32_t whence = ZEL_SEEK_SET) {
    return done(zel_file_seek(f, offset, whence));
}

// Reads up to `max` bytes at the position.
inline std::string f_read(zel_file_t *f, uint32_t max = 4096) {
    std::string s(max, '\0');
    intptr_t n = done(zel_file_read(f, s.data(), max));
    EXPECT_GE(n, 0);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

// The names a listing of `dir` gives, until its end.
inline std::vector<std::string> f_list(zel_file_t *dir) {
    std::vector<std::string> names;
    for (;;) {
        zel_file_t *e = nullptr;
        intptr_t r = f_open(dir, nullptr, &e);
        if (r != 0) {
            EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, r);
            EXPECT_EQ(nullptr, e);
            return names;
        }
        names.push_back(e->name);
        EXPECT_EQ(0, f_close(e));
        if (names.size() > 1000) return names;
    }
}

// A new, empty directory under the root for one test, opened.
inline zel_file_t *fresh_dir(const char *name) {
    zel_vfs_init();
    EXPECT_EQ(0, f_mkdir(nullptr, name)) << name;
    return f_open_ok(nullptr, name);
}

// References of a node and every node above it.
inline std::vector<uint32_t> chain_refs(zel_file_t *f) {
    std::vector<uint32_t> refs;
    for (; f; f = f->parent) refs.push_back(f->references);
    return refs;
}

}  // namespace fs_test

#define IN_THREAD(...) ASSERT_TRUE(zel_test::run_in_thread([&] __VA_ARGS__))

#endif
