// Host folders mounted with winfs, over a temporary folder of the host.
#include <sys/stat.h>  // mkfifo: a host entry that is neither file nor folder

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fs_test.h"
#include "zel_fs_internal.h"
#include "zel_host_test_hooks.h"
#include "zel_winfs.h"

using namespace fs_test;
namespace stdfs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

Names sorted(Names n) {
    std::sort(n.begin(), n.end());
    return n;
}

std::string host_read(const stdfs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void host_write(const stdfs::path &p, const std::string &data) { std::ofstream(p, std::ios::binary) << data; }

class Winfs : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        host_ = stdfs::temp_directory_path() /
                ("winfs_" + std::string(info->name()) + "_" + std::to_string(serial++) + "_" +
                    std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        stdfs::create_directories(host_);
        path_ = host_.string();
    }

    void TearDown() override {
        std::error_code ec;
        for (auto &e : stdfs::recursive_directory_iterator(host_, ec))
            stdfs::permissions(e.path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
        stdfs::remove_all(host_, ec);
    }

    // In a framework thread: a fresh directory `top` holding "mnt", with the
    // host folder `host_path` mounted there. Answers the mount's result.
    intptr_t mount(const char *top, const std::string &host_path, bool read_only = false) {
        dir_ = fresh_dir(top);
        EXPECT_EQ(0, f_mkdir(dir_, "mnt"));
        name_ = host_path;
        std::memset(&info_, 0, sizeof info_);
        info_.file.name = name_.data();
        info_.read_only = read_only;
        zel_file_t *m = f_open_ok(dir_, "mnt");
        intptr_t r = done(zel_fs_mount(m, &zel_winfs_op, &info_.file));
        f_close(m);
        mounted_ = r == 0;
        return r;
    }

    // In a framework thread: the mount point, opened.
    zel_file_t *mnt() { return f_open_ok(dir_, "mnt"); }

    void unmount() {
        if (mounted_) {
            zel_file_t *m = mnt();
            EXPECT_EQ(0, done(zel_subcall(m->driver->unmount, m, zel_fs_none_param_t{})));
            f_close(m);
            zel_host_dir_close(info_.handle);  // a listing left running by a test
            mounted_ = false;
        }
        f_close(dir_);
    }

    stdfs::path host_;
    std::string path_;
    std::string name_;
    zel_winfs_info_t info_{};
    zel_file_t *dir_ = nullptr;
    bool mounted_ = false;
};

}  // namespace

TEST_F(Winfs, ListingSkipsDotEntriesAndStartsAgainAfterItsEnd) {
    host_write(host_ / "a", "1");
    host_write(host_ / ".hidden", "2");
    stdfs::create_directory(host_ / "sub");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_list", path_));
        zel_file_t *m = mnt();
        const Names all{".hidden", "a", "sub"};
        EXPECT_EQ(all, sorted(f_list(m)));
        EXPECT_EQ(all, sorted(f_list(m)));
        zel_file_t *h = f_open_ok(m, ".hidden");
        EXPECT_EQ(static_cast<uint32_t>(ZEL_FILE_READABLE | ZEL_FILE_WRITABLE | ZEL_FILE_HIDDEN),
            h->attributes & 0xFF & ~ZEL_FILE_ALLOCATED);
        f_close(h);
        zel_file_t *sub = f_open_ok(m, "sub/");
        EXPECT_TRUE(sub->attributes & ZEL_FILE_DIR);
        EXPECT_EQ(Names{}, f_list(sub));
        f_close(sub);
        f_close(m);
        unmount();
    });
}

TEST_F(Winfs, ReadOnlyFileLacksWriteAccessWhoeverRunsTheProgram) {
    host_write(host_ / "ro", "data");
    stdfs::permissions(host_ / "ro", stdfs::perms::owner_read | stdfs::perms::group_read | stdfs::perms::others_read);
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_ro", path_));
        zel_file_t *ro = f_open_ok(dir_, "mnt/ro");
        ASSERT_NE(nullptr, ro);
        EXPECT_FALSE(ro->attributes & ZEL_FILE_WRITABLE);
        EXPECT_EQ(4u, ro->size);
        EXPECT_EQ("data", f_read(ro));
        ASSERT_EQ(0, f_seek(ro, 0));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_write(ro, "XXXX"));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_resize(ro, 0)));
        f_close(ro);
        unmount();
    });
    EXPECT_EQ("data", host_read(host_ / "ro"));
}

TEST_F(Winfs, CreateAndRenameNeverReplaceAnExistingName) {
    host_write(host_ / "x", "original");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_noreplace", path_));
        zel_file_t *m = mnt();
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_create(m, "x"));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_mkdir(m, "x"));
        EXPECT_EQ(0, f_create(m, "y"));
        zel_test::TraceCapture trace;
        EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_rename(m, "y", m, "x")));
        EXPECT_TRUE(trace.contains("winfs: fail to rename "));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_rename(m, "y", m, "a/b")));
        EXPECT_EQ(0, done(zel_file_rename(m, "y", m, "z")));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_create(m, "p/q"));
        f_close(m);
        unmount();
    });
    EXPECT_EQ("original", host_read(host_ / "x"));
    EXPECT_TRUE(stdfs::exists(host_ / "z"));
    EXPECT_FALSE(stdfs::exists(host_ / "y"));
}

// A read-only mount reads the host and changes nothing there, although the
// program may write every one of those host entries.
TEST_F(Winfs, AReadOnlyMountNeverChangesTheHost) {
    host_write(host_ / "f", "data");
    stdfs::create_directory(host_ / "sub");
    host_write(host_ / "sub" / "g", "deep");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_readonly", path_, true));
        zel_file_t *m = mnt();
        zel_file_t *f = f_open_ok(m, "f");
        zel_file_t *g = f_open_ok(m, "sub/g");
        for (zel_file_t *file : {f, g}) {
            ASSERT_NE(nullptr, file);
            EXPECT_FALSE(file->attributes & ZEL_FILE_WRITABLE);
            EXPECT_EQ(ZEL_FS_ERR_FAILED, f_write(file, "XXXX"));
            EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_resize(file, 0)));
            f_close(file);
        }
        zel_file_t *sub = f_open_ok(m, "sub/");
        for (zel_file_t *dir : {m, sub}) {
            EXPECT_EQ(ZEL_FS_ERR_FAILED, f_create(dir, "new"));
            EXPECT_EQ(ZEL_FS_ERR_FAILED, f_mkdir(dir, "newdir"));
        }
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_unlink(m, "f"));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_unlink(sub, "g"));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_rename(m, "f", m, "h")));
        EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_rename(sub, "g", m, "g")));
        zel_file_t *again = f_open_ok(m, "f");
        EXPECT_EQ("data", f_read(again));
        f_close(again);
        f_close(sub);
        f_close(m);
        unmount();
    });
    EXPECT_EQ("data", host_read(host_ / "f"));
    EXPECT_EQ("deep", host_read(host_ / "sub" / "g"));
    EXPECT_FALSE(stdfs::exists(host_ / "new"));
    EXPECT_FALSE(stdfs::exists(host_ / "newdir"));
    EXPECT_FALSE(stdfs::exists(host_ / "h"));
    EXPECT_FALSE(stdfs::exists(host_ / "g"));
}

TEST_F(Winfs, ChineseNamesCrossToTheHostAndBack) {
    const std::string name = "\xe9\x85\x8d\xe7\xbd\xae\xe6\x96\x87\xe4\xbb\xb6.txt";  // 配置文件.txt
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_utf8", path_));
        zel_file_t *m = mnt();
        ASSERT_EQ(0, f_create(m, name.c_str()));
        zel_file_t *f = f_open_ok(m, name.c_str());
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(2, f_write(f, "ok"));
        f_close(f);
        EXPECT_EQ(Names{name}, f_list(m));
        f_close(m);
        unmount();
    });
    EXPECT_EQ("ok", host_read(host_ / name));
}

TEST_F(Winfs, MountNeedsAnExistingFolder) {
    host_write(host_ / "plain", "");
    IN_THREAD({
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, mount("winfs_missing", path_ + "/nowhere"));
        unmount();
        EXPECT_EQ(ZEL_FS_ERR_INVALID, mount("winfs_file", path_ + "/plain"));
        zel_file_t *m = mnt();
        EXPECT_FALSE(m->attributes & ZEL_FILE_MOUNT);
        EXPECT_EQ(0, f_create(m, "still_usable"));
        f_close(m);
        unmount();
    });
}

TEST_F(Winfs, TheHostRootMounts) {
    host_write(host_ / "f", "from the root");
    const std::string below_root = host_.relative_path().string() + "/f";
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_root", "/"));
        zel_file_t *f = f_open_ok(dir_, ("mnt/" + below_root).c_str());
        ASSERT_NE(nullptr, f);
        EXPECT_EQ("from the root", f_read(f));
        f_close(f);
        unmount();
    });
}

TEST_F(Winfs, FilesAndFoldersChangeOnTheHost) {
    stdfs::create_directory(host_ / "sub");
    host_write(host_ / "sub" / "inner", "0123456789");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_rw", path_));
        zel_file_t *m = mnt();
        const auto base = chain_refs(m);
        zel_file_t *f = f_open_ok(m, "sub/inner");
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(10u, f->size);
        ASSERT_EQ(0, f_seek(f, 8));
        EXPECT_EQ(4, f_write(f, "abcd"));
        EXPECT_EQ(12u, f->size);
        ASSERT_EQ(0, done(zel_file_resize(f, 10)));
        ASSERT_EQ(0, f_seek(f, 0));
        EXPECT_EQ("01234567ab", f_read(f));
        f_close(f);
        EXPECT_EQ(base, chain_refs(m));

        EXPECT_EQ(ZEL_FS_ERR_FAILED, f_unlink(m, "sub"));  // not empty
        zel_file_t *sub = f_open_ok(m, "sub");
        EXPECT_EQ(0, done(zel_file_rename(sub, "inner", m, "moved")));
        EXPECT_EQ(ZEL_FS_ERR_INVALID, f_unlink(sub, nullptr));
        f_close(sub);
        EXPECT_EQ(0, f_unlink(m, "sub"));
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_unlink(m, "sub"));
        EXPECT_EQ(Names{"moved"}, f_list(m));
        f_close(m);
        unmount();
    });
    EXPECT_EQ("01234567ab", host_read(host_ / "moved"));
}

TEST_F(Winfs, DotElementsNeverLeaveTheMountedFolder) {
    stdfs::create_directory(host_ / "inside");
    host_write(host_ / "secret", "outside the mount");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_dots", path_ + "/inside"));
        zel_file_t *f = nullptr;
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(dir_, "mnt/../secret", &f));
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(dir_, "mnt/./x", &f));
        EXPECT_EQ(nullptr, f);
        unmount();
    });
}

TEST_F(Winfs, OtherHostEntriesNeitherBlockNorShow) {
    ASSERT_EQ(0, mkfifo((host_ / "fifo").c_str(), 0666));
    host_write(host_ / "file", "");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_fifo", path_));
        zel_file_t *f = nullptr;
        EXPECT_EQ(ZEL_FS_ERR_NOT_FOUND, f_open(dir_, "mnt/fifo", &f));
        zel_file_t *m = mnt();
        EXPECT_EQ(Names{"file"}, f_list(m));
        f_close(m);
        unmount();
    });
}

TEST_F(Winfs, ListingsOfTheMountRootSurviveOtherOpensAndEndWithTheirHolder) {
    for (const char *n : {"a", "b", "c", "d"}) host_write(host_ / n, n);
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_listing", path_));
        // A holder that stops early leaves nothing behind for the next one.
        zel_file_t *m = mnt();
        zel_file_t *e = nullptr;
        ASSERT_EQ(0, f_open(m, nullptr, &e));
        f_close(e);
        f_close(m);
        m = mnt();
        EXPECT_EQ(4u, f_list(m).size());

        // A listing in progress goes on where it was while others open
        // files through the same mount.
        ASSERT_EQ(0, f_open(m, nullptr, &e));
        Names seen{e->name};
        f_close(e);
        zel_file_t *other = f_open_ok(dir_, "mnt/c");
        f_close(other);
        for (const auto &n : f_list(m)) seen.push_back(n);
        EXPECT_EQ((Names{"a", "b", "c", "d"}), sorted(seen));
        f_close(m);
        unmount();
    });
}

// Out of host descriptors, a lookup and a listing say so: a file that is
// there is not "not found", and a listing does not end early as if empty.
TEST_F(Winfs, OutOfHostDescriptorsIsNoMissingFileNorAnEmptyListing) {
    host_write(host_ / "f", "data");
    IN_THREAD({
        ASSERT_EQ(0, mount("winfs_emfile", path_));
        zel_file_t *m = mnt();
        zel_host_fail_file_opens(1, EMFILE);
        zel_file_t *f = nullptr;
        EXPECT_EQ(ZEL_FS_ERR_NO_HANDLES, done(zel_file_open(m, "f", &f)));
        EXPECT_EQ(nullptr, f);
        zel_host_fail_file_opens(1, EMFILE);
        zel_file_t *entry = nullptr;
        EXPECT_EQ(ZEL_FS_ERR_NO_HANDLES, done(zel_file_open(m, nullptr, &entry))) << "the folder listing";
        zel_host_fail_file_opens(1, ENOMEM);
        EXPECT_EQ(ZEL_FS_ERR_NO_MEMORY, done(zel_file_open(m, "f", &f)));
        zel_host_fail_file_opens(0, 0);
        EXPECT_EQ(Names{"f"}, f_list(m)) << "and all is well again";
        f_close(m);
        unmount();
    });
}
