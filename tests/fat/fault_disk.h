// A block device over an image that fails one transfer of its choosing: the
// n-th write refused, carried out but reported failed (a disk that loses its
// status phase), carried out for its first half of sectors and reported
// failed, or the n-th read failed. Every transfer counts, whichever region
// of the volume it touches (FAT, directory, information sector, data). An
// unplugged disk fails every transfer from the n-th on, until disarmed.
#ifndef FAULT_DISK_H
#define FAULT_DISK_H

#include "fat_support.h"

namespace fat_test {

enum class Fault { REFUSED, LOST_STATUS, HALF, READ, UNPLUGGED };

inline const char *fault_name(Fault f) {
    switch (f) {
    case Fault::REFUSED: return "write refused";
    case Fault::LOST_STATUS: return "write done, reported failed";
    case Fault::HALF: return "write half done, reported failed";
    case Fault::UNPLUGGED: return "unplugged";
    default: return "read failed";
    }
}

struct FaultDisk {
    static inline FaultDisk *active = nullptr;
    ImageMal &img;
    zel_mal_drv_t drv;
    Fault mode = Fault::REFUSED;
    int fail_at = -1;  // the transfer (of the kind the mode names) that fails; -1 none
    int seen = 0;      // transfers of that kind since arm()
    bool fired = false;
    uint32_t fired_size = 0;     // bytes of the transfer that failed
    uint64_t fired_address = 0;  // and where it began
    // A transfer that fails by place instead: the `skip`+1-th write at this address.
    uint64_t fail_address = UINT64_MAX;
    int skip = 0;

    explicit FaultDisk(Volume &v) : img(v.img), drv(*v.img.mal.drv) {
        drv.read = read;
        drv.write = write;
        v.img.mal.drv = &drv;
        active = this;
    }
    ~FaultDisk() { active = nullptr; }
    void arm(Fault m, int n) {
        mode = m;
        fail_at = n;
        seen = 0;
        fired = false;
    }
    void disarm() { fail_at = -1; }

    // True when this transfer is the one to fail.
    bool hits(const zel_mal_rw_param_t *p, bool w) {
        if (w && p->address == fail_address) {
            if (skip-- == 0) {
                fail_address = UINT64_MAX;
                return fired = true;
            }
            return false;
        }
        if (fail_at >= 0 && mode == Fault::UNPLUGGED) {
            if (seen++ < fail_at) return false;
            return fired = true;
        }
        if (fail_at < 0 || w != (mode != Fault::READ)) return false;
        if (seen++ != fail_at) return false;
        return fired = true;
    }
    static void transfer(void *locals, zel_evt_t evt, bool w) {
        auto *p = static_cast<zel_mal_rw_param_t *>(locals);
        FaultDisk &d = *active;
        if (evt == ZEL_EVT_INIT && d.hits(p, w)) {
            d.img.log.push_back({p->address, p->size, w});
            d.fired_size = p->size;
            d.fired_address = p->address;
            if (w && d.mode == Fault::LOST_STATUS) {
                if (pwrite(d.img.fd, p->buffer, p->size, (off_t)p->address) < 0) perror("fault disk");
            } else if (w && d.mode == Fault::HALF) {
                const uint32_t half = p->size / d.img.block / 2 * d.img.block;
                if (half && pwrite(d.img.fd, p->buffer, half, (off_t)p->address) < 0) perror("fault disk");
            }
            zel_answer(-1);
            return;
        }
        w ? ImageMal::write(locals, evt) : ImageMal::read(locals, evt);
    }
    static void read(void *l, zel_evt_t e) { transfer(l, e, false); }
    static void write(void *l, zel_evt_t e) { transfer(l, e, true); }
};

// Unmounts a volume that Volume::mount mounted.
inline void unmount(Volume &v) {
    const zel_fs_none_param_t none{};
    EXPECT_EQ(0, done(zel_eda_call_param(
                     zel_vfs_op.unmount, reinterpret_cast<uintptr_t>(v.dir), sizeof none, sizeof none, &none)));
    done(zel_file_close(v.dir));
}

}  // namespace fat_test

#endif
