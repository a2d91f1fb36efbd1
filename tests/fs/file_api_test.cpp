// The file API: the path walk and its references, positions, seek, resize,
// rename across volumes and mount points over another driver.
#include <cstring>

#include "fs_test.h"
#include "zel_fs_internal.h"
#include "zel_host_test_hooks.h"

using namespace fs_test;

namespace {

using Names = std::vector<std::string>;

// A driver that records what reaches it and asks for a large local area in
// every slot; its handlers fill that area, so a frame without it would show
// up under the address sanitizer.
constexpr uint8_t kLocal = 48;

struct FakeVolume {
    zel_file_t root{};
    Names calls;
    intptr_t mount_answer = 0;
    zel_fs_rename_param_t last_rename{};
};

FakeVolume *volume_of(zel_file_t *f) { return reinterpret_cast<FakeVolume *>(f->volume); }

template <class P>
P *own_locals_filled(void *locals) {
    std::memset(static_cast<char *>(locals) + sizeof(P), 0xA5, kLocal);
    return static_cast<P *>(locals);
}

void fake_mount(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    own_locals_filled<zel_fs_none_param_t>(locals);
    auto *mp = reinterpret_cast<zel_vfs_file_t *>(zel_fs_target(locals));
    auto *v = reinterpret_cast<FakeVolume *>(mp->mnt_volume);
    v->calls.push_back("mount");
    if (v->mount_answer == 0) mp->mnt_root = &v->root;
    zel_answer(v->mount_answer);
}

void fake_lookup(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = own_locals_filled<zel_fs_lookup_param_t>(locals);
    FakeVolume *v = volume_of(zel_fs_target(locals));
    std::string element(p->name, zel_fs_element_length(p->name));
    v->calls.push_back("lookup " + element);
    *p->out = nullptr;
    if (element != "x") {
        zel_answer(element == "broken" ? ZEL_FS_ERR_FAILED : ZEL_FS_ERR_NOT_FOUND);
        return;
    }
    zel_file_t *n = zel_file_alloc(sizeof(zel_file_t));
    n->name = zel_fs_strndup("x", 1);
    n->attributes |= ZEL_FILE_READABLE;
    n->driver = v->root.driver;
    *p->out = n;
    zel_answer(0);
}

void fake_close(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    own_locals_filled<zel_fs_none_param_t>(locals);
    zel_file_t *n = zel_fs_target(locals);
    volume_of(n)->calls.push_back(std::string("close ") + n->name);
    zel_heap_free(n->name);
    zel_answer(0);
}

void fake_create(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = own_locals_filled<zel_fs_create_param_t>(locals);
    volume_of(zel_fs_target(locals))->calls.push_back(std::string("create ") + p->name);
    zel_answer(0);
}

void fake_unlink(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = own_locals_filled<zel_fs_unlink_param_t>(locals);
    volume_of(zel_fs_target(locals))->calls.push_back(std::string("unlink ") + p->name);
    zel_answer(0);
}

void fake_setpos(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = own_locals_filled<zel_fs_setpos_param_t>(locals);
    volume_of(zel_fs_target(locals))->calls.push_back("setpos " + std::to_string(p->position));
    *p->out = p->position;
    zel_answer(0);
}

void fake_rename(void *locals, zel_evt_t evt) {
    if (evt != ZEL_EVT_INIT) return;
    auto *p = own_locals_filled<zel_fs_rename_param_t>(locals);
    FakeVolume *v = volume_of(zel_fs_target(locals));
    v->calls.push_back(std::string("rename ") + p->old_name + " " + p->new_name);
    v->last_rename = *p;
    zel_answer(0);
}

const zel_fs_op_t fake_op = {
    .volume_local = {kLocal, kLocal, kLocal, 0},
    .mount = fake_mount,
    .unmount = zel_op_succeed,
    .rename = fake_rename,
    .file_local = {kLocal, 0, 0, 0, kLocal, 0, 0, 0},
    .close = fake_close,
    .read = zel_op_not_support,
    .write = zel_op_not_support,
    .resize = zel_op_not_support,
    .setpos = fake_setpos,
    .dir_local = {kLocal, kLocal, kLocal, 0},
    .lookup = fake_lookup,
    .create = fake_create,
    .unlink = fake_unlink,
    .spare = zel_op_not_support,
};

// A file of `content` in `dir`, opened.
zel_file_t *file_with(zel_file_t *dir, const char *name, const std::string &content) {
    EXPECT_EQ(0, f_create(dir, name));
    zel_file_t *f = f_open_ok(dir, name);
    EXPECT_EQ(static_cast<intptr_t>(content.size()), f_write(f, content));
    return f;
}

}  // namespace

TEST(FileApi, WalkResolvesSeparatorsAndLeavesNoReferenceBehind) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_walk");
        ASSERT_EQ(0, f_mkdir(d, "a"));
        zel_file_t *a = f_open_ok(d, "a");
        ASSERT_EQ(0, f_mkdir(a, "b"));
        zel_file_t *b = f_open_ok(a, "b");
        zel_file_t *file = file_with(b, "file", "data");
        ASSERT_EQ(0, f_close(file));
        const auto base = chain_refs(b);

        zel_file_t *f = nullptr;
        EXPECT_EQ(0, f_open(d, "", &f));
        EXPECT_EQ(d, f);
        f_close(f);
        EXPECT_EQ(a, f_open_ok(d, "a/"));
        f_close(a);
        EXPECT_EQ(b, f_open_ok(d, "a\\b"));
        f_close(b);
        EXPECT_EQ(a, f_open_ok(d, "/a"));  // relative all the same
        f_close(a);
        EXPECT_EQ(base, chain_refs(b));

        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_open(d, "a/b/file/x", &f));
        EXPECT_EQ(nullptr, f);
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_open(d, "a/b/file/", &f));
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(d, "a/missing/file", &f));
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(d, "a//b", &f));
        EXPECT_EQ(base, chain_refs(b));

        zel_file_t *plain = f_open_ok(b, "file");
        const auto file_base = chain_refs(plain);
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_open(plain, "x", &f));
        EXPECT_EQ(file_base, chain_refs(plain));
        f_close(plain);

        // No frame for the walk: nothing started, nothing kept.
        zel_host_fail_heap_allocations(1);
        {
            zel_test::TraceCapture quiet;
            EXPECT_EQ(ZEL_FS_ERR_NO_MEMORY, zel_file_open(b, "file", &f));
        }
        zel_host_fail_heap_allocations(0);
        EXPECT_EQ(nullptr, f);
        EXPECT_EQ(base, chain_refs(b));
        f_close(b);
        f_close(a);
        f_close(d);
    });
}

TEST(FileApi, ListingReferencesEachEntryAndReleasesTheDirectoryAtTheEnd) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_listing");
        ASSERT_EQ(0, f_create(d, "e"));
        const auto base = chain_refs(d);
        zel_file_t *e = nullptr;
        ASSERT_EQ(0, f_open(d, nullptr, &e));
        EXPECT_EQ(d, e->parent);
        EXPECT_EQ(base[0] + 1, d->references);
        f_close(e);
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(d, nullptr, &e));
        EXPECT_EQ(base, chain_refs(d));
        f_close(d);
    });
}

TEST(FileApi, SeekStaysInsideAFile) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_seek");
        zel_file_t *f = file_with(d, "ten", "0123456789");
        EXPECT_EQ(0, f_seek(f, 10));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_seek(f, 11));
        EXPECT_EQ(10u, zel_file_tell(f));
        EXPECT_EQ(0, f_seek(f, 4));
        EXPECT_EQ(0, f_seek(f, static_cast<uint64_t>(-3), ZEL_SEEK_CUR));
        EXPECT_EQ("123", f_read(f, 3));
        EXPECT_EQ(0, f_seek(f, 0, ZEL_SEEK_END));
        EXPECT_EQ(10u, zel_file_tell(f));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_seek(f, static_cast<uint64_t>(-11), ZEL_SEEK_END));
        EXPECT_EQ(0, f_seek(f, 99, 7));  // an unknown whence keeps the position
        EXPECT_EQ(10u, zel_file_tell(f));
        EXPECT_EQ("", f_read(f, 0));
        EXPECT_EQ(10u, zel_file_tell(f));
        f_close(f);
        f_close(d);
    });
}

TEST(FileApi, ResizeRefusesDirectoriesAndClampsThePosition) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_resize");
        EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_resize(d, 0)));
        zel_file_t *f = file_with(d, "f", std::string(100, 'x'));
        ASSERT_EQ(0, f_seek(f, 80));
        EXPECT_EQ(0, done(zel_file_resize(f, 50)));
        EXPECT_EQ(50u, f->size);
        EXPECT_EQ(50u, zel_file_tell(f));
        EXPECT_EQ(0, done(zel_file_resize(f, 70)));
        EXPECT_EQ(50u, zel_file_tell(f));
        f_close(f);
        f_close(d);
    });
}

TEST(FileApi, OpeningNeverMovesThePositionOfAnotherHolder) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_holders");
        zel_file_t *writer = file_with(d, "log", std::string(100, 'a'));
        ASSERT_EQ(100u, writer->position);
        zel_file_t *second = f_open_ok(d, "log");
        EXPECT_EQ(writer, second);
        EXPECT_EQ(100u, writer->position);
        ASSERT_EQ(3, f_write(writer, "xyz"));
        f_close(second);
        ASSERT_EQ(0, f_seek(writer, 0));
        EXPECT_EQ(std::string(100, 'a') + "xyz", f_read(writer));
        f_close(writer);
        // Nobody holds it now: a fresh open starts at 0.
        zel_file_t *fresh = f_open_ok(d, "log");
        EXPECT_EQ(0u, fresh->position);
        f_close(fresh);
        f_close(d);
    });
}

TEST(FileApi, WalkingThroughADirectoryKeepsItsListingWhereItWas) {
    IN_THREAD({
        zel_file_t *top = fresh_dir("api_listed");
        ASSERT_EQ(0, f_mkdir(top, "d"));
        zel_file_t *d = f_open_ok(top, "d");
        for (const char *n : {"a", "b", "c"}) ASSERT_EQ(0, f_create(d, n));
        zel_file_t *e = nullptr;
        ASSERT_EQ(0, f_open(d, nullptr, &e));
        EXPECT_STREQ("a", e->name);
        f_close(e);
        zel_file_t *c = f_open_ok(top, "d/c");
        f_close(c);
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(top, "d/missing", &c));
        EXPECT_EQ((Names{"b", "c"}), f_list(d));
        f_close(d);
        f_close(top);
    });
}

TEST(FileApi, MountPointHandsOperationsToTheMountedDriver) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_mount");
        ASSERT_EQ(0, f_mkdir(d, "m"));
        zel_file_t *m = f_open_ok(d, "m");
        ASSERT_EQ(0, f_create(m, "hidden"));
        FakeVolume v;
        ASSERT_EQ(0, done(zel_fs_mount(m, &fake_op, &v.root)));
        EXPECT_TRUE(m->attributes & ZEL_FILE_MOUNT);
        EXPECT_EQ(&fake_op, v.root.driver);
        EXPECT_EQ(static_cast<uint32_t>(ZEL_FILE_READABLE | ZEL_FILE_DIR), v.root.attributes);
        EXPECT_EQ(&v.root, v.root.volume);
        EXPECT_EQ(ZEL_FS_ERR_FAILED, zel_fs_mount(m, &fake_op, &v.root));

        const auto base = chain_refs(m);
        zel_file_t *x = f_open_ok(d, "m/x");
        ASSERT_NE(nullptr, x);
        EXPECT_EQ(m, x->parent);
        EXPECT_EQ(&v.root, x->volume);
        f_close(x);
        EXPECT_EQ(base, chain_refs(m));
        zel_file_t *h = nullptr;
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(m, "hidden", &h));  // its own children stay hidden
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_open(m, "broken", &h));     // a failing driver is not "missing"
        EXPECT_EQ(base, chain_refs(m));
        EXPECT_EQ(0, f_create(m, "new"));
        EXPECT_EQ(0, f_unlink(m, "old"));
        EXPECT_EQ(0, f_seek(m, 3));
        EXPECT_EQ(3u, m->position);
        EXPECT_EQ(3u, v.root.position);
        EXPECT_EQ(0, done(zel_file_rename(m, "p", m, "q")));
        EXPECT_EQ(&v.root, v.last_rename.old_dir);
        EXPECT_EQ(&v.root, v.last_rename.new_dir);
        const Names calls{"mount", "lookup x", "close x", "lookup hidden", "lookup broken", "create new", "unlink old",
            "setpos 3", "rename p q"};
        EXPECT_EQ(calls, v.calls);
        EXPECT_EQ(base, chain_refs(m));

        // Across volumes nothing starts; a mount point is not unlinked.
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_file_rename(d, "m", m, "moved"));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_file_rename(m, "x", d, "x"));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_unlink(d, "m"));
        EXPECT_EQ(calls, v.calls);
        f_close(m);
        f_close(d);
    });
}

TEST(FileApi, FailedMountLeavesTheDirectoryAsItWas) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_mount_fail");
        ASSERT_EQ(0, f_mkdir(d, "n"));
        zel_file_t *n = f_open_ok(d, "n");
        ASSERT_EQ(0, f_create(n, "keep"));
        FakeVolume v;
        v.mount_answer = ZEL_FS_ERR_FAILED;
        EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_fs_mount(n, &fake_op, &v.root)));
        EXPECT_FALSE(n->attributes & ZEL_FILE_MOUNT);
        EXPECT_EQ(Names{"keep"}, f_list(n));
        zel_file_t *keep = f_open_ok(n, "keep");
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_fs_mount(keep, &fake_op, &v.root));
        f_close(keep);
        f_close(n);
        f_close(d);
    });
}

TEST(FileApi, WalkWaitsForTheTreeLockThroughUnrelatedEvents) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_lock");
        ASSERT_EQ(0, f_create(d, "x"));
        // Another agent holds the lock for two timer periods and, meanwhile,
        // sends the walking thread an event of its own.
        zel_eda_t *walker = zel_eda_get_cur();
        int expiries = 0;
        bool released = false;
        zel_test::Agent holder([&](zel_test::Agent &, zel_evt_t evt) {
            if (evt == ZEL_EVT_INIT) {
                EXPECT_EQ(0, zel_eda_sync_decrease(&zel_vfs_lock, 0));
                EXPECT_EQ(0, zel_eda_set_timer(zel_systimer_ms_to_tick(10)));
            } else if (evt == ZEL_EVT_TIMER && ++expiries == 1) {
                EXPECT_EQ(0, zel_eda_post_evt(walker, ZEL_EVT_WAKE));
                EXPECT_EQ(0, zel_eda_set_timer(zel_systimer_ms_to_tick(10)));
            } else if (evt == ZEL_EVT_TIMER) {
                released = true;
                EXPECT_EQ(0, zel_eda_sync_increase(&zel_vfs_lock));
                EXPECT_EQ(0, zel_eda_fini(nullptr));
            }
        });
        ASSERT_EQ(0, holder.start());
        zel_file_t *x = nullptr;
        EXPECT_EQ(0, f_open(d, "x", &x));
        EXPECT_TRUE(released);
        EXPECT_STREQ("x", x->name);
        f_close(x);
        EXPECT_TRUE(holder.finished().wait());
        EXPECT_EQ(0, f_open(d, "x", &x));  // the lock is free again
        f_close(x);
        f_close(d);
    });
}

TEST(FileApi, NameHelpersAndCallsRefusedWithoutStarting) {
    EXPECT_STREQ("c", zel_file_getfilename("a/b\\c"));
    EXPECT_STREQ("c", zel_file_getfilename("a\\b/c"));
    EXPECT_STREQ("plain", zel_file_getfilename("plain"));
    EXPECT_STREQ("", zel_file_getfilename("dir/"));
    EXPECT_TRUE(zel_file_is_match("b\\c", "b"));
    EXPECT_FALSE(zel_file_is_match("bc", "b"));
    EXPECT_FALSE(zel_file_is_match("b", "bc"));
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_refused");
        zel_file_t *f = file_with(d, "f", "");
        const auto base = chain_refs(f);
        EXPECT_EQ(d, zel_file_ref_parents(f));
        EXPECT_EQ(base[1] + 1, d->references);
        EXPECT_EQ(base.back() + 1, zel_vfs_root.file.references);
        for (zel_file_t *p = d; p; p = p->parent) p->references--;
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_file_create(f, "x", 0));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_file_unlink(f, "x"));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_file_rename(f, "x", d, "y"));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, zel_file_open(d, "f", nullptr));
        EXPECT_EQ(base, chain_refs(f));
        f_close(f);
        f_close(d);
    });
}

TEST(FileApi, AnAgentGetsEachResultWithItsNextReturnEvent) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("api_agent");
        f_close(file_with(d, "f", "abc"));
        f_close(d);
    });
    enum { opening, reading, closing } step = opening;
    zel_file_t *f = nullptr;
    char buf[8] = {};
    std::vector<intptr_t> results;
    zel_test::Agent agent([&](zel_test::Agent &, zel_evt_t evt) {
        if (evt == ZEL_EVT_INIT) {
            EXPECT_EQ(0, zel_file_open(nullptr, "api_agent/f", &f));
            return;
        }
        if (evt != ZEL_EVT_RETURN) return;
        results.push_back(zel_eda_get_return_code());
        if (step == opening) {
            step = reading;
            EXPECT_EQ(0, zel_file_read(f, buf, sizeof buf));
        } else if (step == reading) {
            step = closing;
            EXPECT_EQ(0, zel_file_close(f));
        } else {
            EXPECT_EQ(0, zel_eda_fini(nullptr));
        }
    });
    zel_test::run_as_irq([&] { EXPECT_EQ(0, agent.start()); });
    ASSERT_TRUE(agent.finished().wait());
    EXPECT_EQ((std::vector<intptr_t>{0, 3, 0}), results);
    EXPECT_STREQ("abc", buf);
}
