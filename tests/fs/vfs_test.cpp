// The in-memory tree: listings, names, data, callbacks, unlink and rename.
#include <cstring>

#include "fs_test.h"
#include "zel_fs_internal.h"
#include "zel_host_test_hooks.h"

using namespace fs_test;

namespace {

using Names = std::vector<std::string>;

zel_eda_frame_handler_t g_starved_slot;

void starved_handler(void *locals, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_host_fail_heap_allocations(1);
    g_starved_slot(locals, evt);
}

// Runs a vfs slot straight on a node, with the heap failing from the slot's
// first allocation on: the frame is already there when the handler starts.
template <class P>
intptr_t run_starved(zel_eda_frame_handler_t slot, zel_file_t *node, const P &params) {
    g_starved_slot = slot;
    intptr_t r = done(zel_subcall(starved_handler, node, params));
    zel_host_fail_heap_allocations(0);
    return r;
}

// Callbacks that answer the size they were asked for; the reader fills.
void fill_callback(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = static_cast<zel_fs_rw_param_t *>(locals);
    std::memset(p->buffer, 'c', p->size);
    zel_answer(p->size);
}

void take_callback(void *locals, zel_evt_t evt) {
    if (evt == ZEL_EVT_INIT) zel_answer(static_cast<zel_fs_rw_param_t *>(locals)->size);
}

zel_vfs_file_t *vfs(zel_file_t *f) { return reinterpret_cast<zel_vfs_file_t *>(f); }

}  // namespace

TEST(Vfs, ListsChildrenInCreationOrderAndStartsAgainAfterTheEnd) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_list");
        EXPECT_EQ(Names{}, f_list(d));
        for (const char *n : {"one", "two", "three"}) ASSERT_EQ(0, f_create(d, n));
        EXPECT_EQ((Names{"one", "two", "three"}), f_list(d));
        EXPECT_EQ(0u, d->position);
        EXPECT_EQ((Names{"one", "two", "three"}), f_list(d));
        f_close(d);
    });
}

TEST(Vfs, LookupMatchesAWholeElement) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_match");
        ASSERT_EQ(0, f_mkdir(d, "b"));
        zel_file_t *found = nullptr;
        EXPECT_EQ(0, done(zel_subcall(zel_vfs_lookup, d, zel_fs_lookup_param_t{"b/c", &found})));
        ASSERT_NE(nullptr, found);
        EXPECT_STREQ("b", found->name);
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, done(zel_subcall(zel_vfs_lookup, d, zel_fs_lookup_param_t{"bc", &found})));
        EXPECT_EQ(nullptr, found);
        f_close(d);
    });
}

TEST(Vfs, CreateRefusesBadAndExistingNames) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_names");
        ASSERT_EQ(0, f_create(d, "a"));
        for (const char *bad : {"", "x/y", "x\\y", "/", ".", ".."})
            EXPECT_EQ(ZEL_FS_ERR_INVALID, f_create(d, bad)) << bad;
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_create(d, nullptr));
        EXPECT_EQ(ZEL_FS_ERR_EXISTS, f_create(d, "a"));
        EXPECT_EQ(Names{"a"}, f_list(d));
        // Only a mount sets the mount bit.
        ASSERT_EQ(0, f_create(d, "m", ZEL_FILE_DIR | ZEL_FILE_MOUNT));
        zel_file_t *m = f_open_ok(d, "m");
        EXPECT_EQ(0u, m->attributes & ZEL_FILE_MOUNT);
        f_close(m);
        f_close(d);
    });
}

TEST(Vfs, FileDataGrowsZeroFilledAndReadsStopAtTheEnd) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_data");
        ASSERT_EQ(0, f_create(d, "f"));
        zel_file_t *f = f_open_ok(d, "f");
        // A driver-level position past the end: the gap reads as zeros.
        f->position = 10;
        EXPECT_EQ(3, f_write(f, "abc"));
        EXPECT_EQ(13u, f->size);
        ASSERT_EQ(0, f_seek(f, 0));
        EXPECT_EQ(std::string(10, '\0') + "abc", f_read(f));
        EXPECT_EQ("", f_read(f));
        EXPECT_EQ(13u, f->position);
        ASSERT_EQ(0, done(zel_file_resize(f, 16)));
        ASSERT_EQ(0, f_seek(f, 10));
        EXPECT_EQ(std::string("abc") + std::string(3, '\0'), f_read(f));
        ASSERT_EQ(0, done(zel_file_resize(f, 0)));
        EXPECT_EQ(nullptr, vfs(f)->u.bound.data);
        EXPECT_EQ(0u, f->position);
        f_close(f);
        f_close(d);
    });
}

TEST(Vfs, FailedGrowthKeepsTheDataAndAnswersNoMemory) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_oom");
        ASSERT_EQ(0, f_create(d, "f"));
        zel_file_t *f = f_open_ok(d, "f");
        ASSERT_EQ(5, f_write(f, "hello"));
        char more[64] = {};
        zel_test::TraceCapture quiet;
        EXPECT_EQ(ZEL_FS_ERR_NO_MEMORY, run_starved(zel_vfs_write, f, zel_fs_rw_param_t{more, sizeof more}));
        EXPECT_EQ(ZEL_FS_ERR_NO_MEMORY, run_starved(zel_vfs_resize, f, zel_fs_resize_param_t{4096}));
        EXPECT_EQ(5u, f->size);
        ASSERT_EQ(0, f_seek(f, 0));
        EXPECT_EQ("hello", f_read(f));
        f_close(f);
        f_close(d);
    });
}

TEST(Vfs, CallbackNodesRefuseTheOtherDirection) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_cb");
        ASSERT_EQ(0, f_create(d, "r"));
        ASSERT_EQ(0, f_create(d, "w"));
        zel_file_t *r = f_open_ok(d, "r");
        zel_file_t *w = f_open_ok(d, "w");
        vfs(r)->u.bound.read = fill_callback;
        vfs(w)->u.bound.write = take_callback;
        char buf[8];
        EXPECT_EQ(ZEL_FS_ERR_NOT_BOUND, done(zel_file_write(r, "x", 1)));
        EXPECT_EQ(ZEL_FS_ERR_NOT_BOUND, done(zel_file_read(w, buf, sizeof buf)));
        EXPECT_EQ(8, done(zel_file_read(r, buf, sizeof buf)));
        EXPECT_EQ('c', buf[7]);
        EXPECT_EQ(8u, r->position);
        EXPECT_EQ(4, done(zel_file_write(w, "data", 4)));
        // Bound nodes are not in-memory files: no resize.
        EXPECT_EQ(ZEL_FS_ERR_NOT_SUPPORTED, done(zel_file_resize(w, 0)));
        f_close(r);
        f_close(w);
        f_close(d);
    });
}

TEST(Vfs, DataBoundByAnotherLayerIsNeverResizedOrReleased) {
    IN_THREAD({
        static char entry[] = "not a heap block";
        zel_file_t *d = fresh_dir("vfs_bound");
        ASSERT_EQ(0, f_create(d, "cmd"));
        zel_file_t *f = f_open_ok(d, "cmd");
        vfs(f)->u.bound.data = entry;
        EXPECT_EQ(ZEL_FS_ERR_NOT_SUPPORTED, f_write(f, "x"));
        EXPECT_EQ(ZEL_FS_ERR_NOT_SUPPORTED, done(zel_file_resize(f, 4)));
        f_close(f);
        EXPECT_EQ(0, f_unlink(d, "cmd"));  // ASan: the entry is not freed
        f_close(d);
    });
}

TEST(Vfs, UnlinkRefusesDirectoriesInUse) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_rmdir");
        ASSERT_EQ(0, f_mkdir(d, "full"));
        ASSERT_EQ(0, f_mkdir(d, "empty"));
        zel_file_t *full = f_open_ok(d, "full");
        ASSERT_EQ(0, f_create(full, "x"));
        f_close(full);
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_unlink(d, "full"));
        zel_file_t *empty = f_open_ok(d, "empty");
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_unlink(d, "empty"));
        f_close(empty);
        EXPECT_EQ(0, f_unlink(d, "empty"));
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_unlink(d, "empty"));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_unlink(d, "full/x"));
        EXPECT_EQ(Names{"full"}, f_list(d));
        f_close(d);
    });
}

TEST(Vfs, UnlinkedOpenFileLivesUntilItsLastClose) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_unlink_open");
        ASSERT_EQ(0, f_create(d, "f"));
        zel_file_t *f = f_open_ok(d, "f");
        ASSERT_EQ(4, f_write(f, "kept"));
        const auto before = chain_refs(d);
        EXPECT_EQ(0, f_unlink(d, "f"));
        EXPECT_EQ(Names{}, f_list(d));
        ASSERT_EQ(0, f_create(d, "f"));  // the name is free again
        ASSERT_EQ(0, f_seek(f, 0));
        EXPECT_EQ("kept", f_read(f));
        EXPECT_EQ(2, f_write(f, "!!"));
        EXPECT_EQ(0, f_close(f));  // ASan: released here, exactly once
        EXPECT_EQ(before[0] - 1, d->references);
        zel_file_t *fresh = f_open_ok(d, "f");
        EXPECT_EQ(0u, fresh->size);
        f_close(fresh);
        f_close(d);
    });
}

TEST(Vfs, RenameChecksClashesFirstAndMovesEntriesToTheEnd) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_rename");
        for (const char *n : {"a", "b", "c"}) ASSERT_EQ(0, f_create(d, n));
        EXPECT_EQ(ZEL_FS_ERR_EXISTS, done(zel_file_rename(d, "a", d, "b")));
        EXPECT_EQ(ZEL_FS_ERR_EXISTS, done(zel_file_rename(d, "missing", d, "b")));
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, done(zel_file_rename(d, "missing", d, "z")));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_rename(d, "a", d, "x/y")));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_rename(d, "a", d, "")));
        EXPECT_EQ((Names{"a", "b", "c"}), f_list(d));
        EXPECT_EQ(0, done(zel_file_rename(d, "a", d, "z")));
        EXPECT_EQ((Names{"b", "c", "z"}), f_list(d));
        f_close(d);
    });
}

TEST(Vfs, RenameNeverMovesADirectoryIntoItsOwnSubtree) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("vfs_subtree");
        ASSERT_EQ(0, f_mkdir(d, "top"));
        zel_file_t *top = f_open_ok(d, "top");
        ASSERT_EQ(0, f_mkdir(top, "mid"));
        zel_file_t *mid = f_open_ok(top, "mid");
        EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_rename(d, "top", mid, nullptr)));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_rename(d, "top", top, "again")));
        ASSERT_EQ(0, f_create(mid, "leaf"));
        // Moving it elsewhere keeps what lies below it.
        ASSERT_EQ(0, f_mkdir(d, "other"));
        zel_file_t *other = f_open_ok(d, "other");
        f_close(mid);
        f_close(top);
        EXPECT_EQ(0, done(zel_file_rename(d, "top", other, nullptr)));
        zel_file_t *leaf = f_open_ok(d, "other/top/mid/leaf");
        EXPECT_STREQ("leaf", leaf->name);
        f_close(leaf);
        f_close(other);
        f_close(d);
    });
}
