// The simulated adapter's disk: commands cross from the transfer's host
// thread to the disk's agent as emulated interrupts; the agent runs the
// virtual SCSI target and hands the answer back through a host wake object.
#include "zel_host_usb_sim_disk.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "zel_host.h"
#include "zel_virtual_scsi.h"

namespace {

// One command on its way through the agent.
struct Command {
    uint8_t cdb[16];
    void *data;
    uint32_t size;
    intptr_t result;
    zel_host_request_t done;
    Command *next;
};

enum class Step : uint8_t { IDLE, INITIALISING, EXECUTING };

}  // namespace

struct zel_host_usb_sim_disk {
    zel_virtual_scsi_t target;  // first: the back end finds the disk from it
    zel_virtual_scsi_param_t param;
    std::vector<uint8_t> memory;
    int fd;
    // Guarded by the interrupt lock (the agent, or a host thread between
    // zel_host_irq_enter and zel_host_irq_leave).
    zel_eda_t agent;
    bool started;
    bool stopping;
    bool ready;  // the target was initialised
    Step step;
    Command *head;
    Command *tail;
    zel_host_request_t terminated;
};

namespace {

using Disk = zel_host_usb_sim_disk;

thread_local zel_host_thread_t t_irq_record;

void enter() {
    if (!t_irq_record.name[0]) strcpy(t_irq_record.name, "host_usb_sim");
    zel_host_irq_enter(&t_irq_record);
}
void leave() { zel_host_irq_leave(&t_irq_record, 0); }

Disk *disk_of(zel_virtual_scsi_t *target) { return reinterpret_cast<Disk *>(target); }

// ---- the image, as the target's plain back end ----

int32_t image_init(zel_virtual_scsi_t *) { return 0; }

int32_t image_rw(zel_virtual_scsi_t *target, const zel_virtual_scsi_rw_t *rw, bool write) {
    Disk *d = disk_of(target);
    const uint64_t offset = rw->lba * d->param.block_size;
    const uint64_t bytes = (uint64_t)rw->count * d->param.block_size;
    auto *buf = static_cast<uint8_t *>(rw->xfer.buffer);
    if (!d->memory.empty()) {
        if (write)
            memcpy(d->memory.data() + offset, buf, bytes);
        else
            memcpy(buf, d->memory.data() + offset, bytes);
        return (int32_t)bytes;
    }
    uint64_t done = 0;
    while (done < bytes) {
        const ssize_t n = write ? pwrite(d->fd, buf + done, bytes - done, (off_t)(offset + done))
                                : pread(d->fd, buf + done, bytes - done, (off_t)(offset + done));
        if (n <= 0) break;
        done += (uint64_t)n;
    }
    return (int32_t)done;  // anything short is the target's medium error
}

int32_t image_read(zel_virtual_scsi_t *t, const zel_virtual_scsi_rw_t *rw) { return image_rw(t, rw, false); }
int32_t image_write(zel_virtual_scsi_t *t, const zel_virtual_scsi_rw_t *rw) { return image_rw(t, rw, true); }

zel_virtual_scsi_backend_t make_backend() {
    zel_virtual_scsi_backend_t be{};
    be.kind = ZEL_VSCSI_BACKEND_PLAIN;
    be.init.plain = image_init;
    be.read.plain = image_read;
    be.write.plain = image_write;
    return be;
}
const zel_virtual_scsi_backend_t g_image_backend = make_backend();

// ---- the agent ----

Disk *disk_of(zel_eda_t *agent) {
    return reinterpret_cast<Disk *>(reinterpret_cast<char *>(agent) - offsetof(Disk, agent));
}

void finish_command(Disk *d, intptr_t result) {
    Command *c = d->head;
    d->head = c->next;
    if (!d->head) d->tail = nullptr;
    d->step = Step::IDLE;
    c->result = result;
    zel_host_request_send(&c->done);
}

// Starts the head command (after the target's initialisation, the first
// time) unless one runs.
void start_next(Disk *d) {
    while (d->step == Step::IDLE && d->head) {
        int32_t started;
        if (!d->ready) {
            d->step = Step::INITIALISING;
            started = zel_scsi_init(&d->target.scsi);
        } else {
            d->step = Step::EXECUTING;
            Command *c = d->head;
            const zel_scsi_xfer_t xfer{c->data, c->size};
            started = zel_scsi_execute(&d->target.scsi, c->cdb, c->size ? &xfer : nullptr);
        }
        if (started == 0) return;
        finish_command(d, -1);
    }
}

void serve(zel_eda_t *agent, zel_evt_t evt) {
    Disk *d = disk_of(agent);
    if (evt == ZEL_EVT_RETURN) {
        const intptr_t result = zel_eda_get_return_code();
        if (d->step == Step::INITIALISING) {
            d->step = Step::IDLE;
            d->ready = result == 0;
            if (!d->ready) finish_command(d, -1);
        } else if (d->step == Step::EXECUTING) {
            finish_command(d, result);
        }
    }
    if (d->stopping && d->step == Step::IDLE) {
        (void)zel_eda_fini(nullptr);  // cannot fail
        return;
    }
    start_next(d);
}

void on_terminate(zel_eda_t *agent) { zel_host_request_send(&disk_of(agent)->terminated); }

int execute(void *unit, const uint8_t *cdb, uint8_t cdb_length, void *data, uint32_t size, bool) {
    Disk *d = static_cast<Disk *>(unit);
    Command c{};
    memcpy(c.cdb, cdb, cdb_length < 16 ? cdb_length : 16);
    c.data = data;
    c.size = size;
    zel_host_request_init(&c.done);
    enter();
    if (d->tail)
        d->tail->next = &c;
    else
        d->head = &c;
    d->tail = &c;
    int32_t posted = 0;
    if (!d->started) {
        d->agent.handler.plain = serve;
        d->agent.on_terminate = on_terminate;
        posted = zel_eda_start(&d->agent, 0, 0);
        d->started = posted == 0;
    } else if (d->step == Step::IDLE) {
        posted = zel_eda_post_evt(&d->agent, ZEL_EVT_WAKE);
    }
    if (posted != 0) {
        // The agent cannot be reached: take the command back (commands of
        // one device come one at a time, so it is the only one).
        d->head = d->tail = nullptr;
        c.result = -1;
    }
    leave();
    if (posted == 0) zel_host_request_pend(&c.done);
    zel_host_request_fini(&c.done);
    return c.result < 0 ? -1 : (int)c.result;
}

Disk *make_disk(uint32_t block_size, uint32_t block_count) {
    Disk *d = new (std::nothrow) Disk{};
    if (!d) return nullptr;
    d->fd = -1;
    d->param.block_size = block_size;
    d->param.block_count = block_count;
    memcpy(d->param.vendor, "Trellow ", 8);
    memcpy(d->param.product, "USB Adapter Disk", 16);
    memcpy(d->param.revision, "1.00", 4);
    d->param.removable = 1;
    d->param.device_type = 0;  // direct access
    d->target.scsi.drv = &zel_virtual_scsi_drv;
    d->target.param = &d->param;
    d->target.backend = &g_image_backend;
    zel_host_request_init(&d->terminated);
    return d;
}

}  // namespace

extern "C" {

zel_host_usb_sim_disk_t *zel_host_usb_sim_disk_memory(uint32_t block_size, uint32_t block_count) {
    if (block_size == 0 || block_count == 0 || (uint64_t)block_size * block_count > (1ull << 32)) return nullptr;
    Disk *d = make_disk(block_size, block_count);
    if (!d) return nullptr;
    try {
        d->memory.assign((size_t)block_size * block_count, 0);
    } catch (...) {
        zel_host_usb_sim_disk_destroy(d);
        return nullptr;
    }
    return d;
}

zel_host_usb_sim_disk_t *zel_host_usb_sim_disk_file(const char *host_path, uint32_t block_size) {
    if (!host_path || block_size == 0) return nullptr;
    const int fd = open(host_path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // The image is the adapter's alone while it is plugged: a mount of the
    // same file, here or in another program, finds it claimed.
    int locked;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK) {
        close(fd);
        errno = EBUSY;
        return nullptr;
    }
    struct stat st;
    int error = fstat(fd, &st) == 0 ? 0 : errno;
    const uint64_t blocks = error == 0 && st.st_size > 0 ? (uint64_t)st.st_size / block_size : 0;
    if (error == 0 && (blocks == 0 || blocks > 0xFFFFFFFFu)) error = EINVAL;
    Disk *d = error == 0 ? make_disk(block_size, (uint32_t)blocks) : nullptr;
    if (!d) {
        close(fd);
        errno = error != 0 ? error : ENOMEM;
        return nullptr;
    }
    d->fd = fd;
    return d;
}

void zel_host_usb_sim_disk_destroy(zel_host_usb_sim_disk_t *disk) {
    if (!disk) return;
    // No command runs (the caller's promise), so `started` holds still.
    if (disk->started) {
        enter();
        disk->stopping = true;
        (void)zel_eda_wake(&disk->agent, ZEL_EVT_WAKE);  // it holds the node of this wake (see zel_eda_wake)
        leave();
        zel_host_request_pend(&disk->terminated);
        // The kernel's last touch of the agent is the on-terminate call.
        enter();
        leave();
    }
    zel_host_request_fini(&disk->terminated);
    if (disk->fd >= 0) close(disk->fd);
    delete disk;
}

uint8_t *zel_host_usb_sim_disk_bytes(zel_host_usb_sim_disk_t *disk) {
    return disk->memory.empty() ? nullptr : disk->memory.data();
}

zel_host_usb_sim_scsi_t zel_host_usb_sim_disk_unit(zel_host_usb_sim_disk_t *disk) {
    return zel_host_usb_sim_scsi_t{execute, disk};
}

}  // extern "C"
