// Devices for the block tests: a block device over memory and a SCSI device
// that records every command and completes it later, as a USB transport does.
#ifndef TEST_DEVICES_H
#define TEST_DEVICES_H

#include <cstring>
#include <functional>
#include <vector>

#include "zel_mal.h"
#include "zel_scsi.h"
#include "zel_subcall.h"
#include "zel_timer.h"

// A block device over a byte vector; `short_by` bytes are left off every answer.
struct RamMal {
    zel_mal_t mal{};
    std::vector<uint8_t> bytes;
    uint32_t block = 512;
    uint32_t short_by = 0;
    int requests = 0;

    explicit RamMal(size_t size) : bytes(size) {
        static const zel_mal_drv_t drv = {blksz, nullptr, zel_mal_succeed, zel_mal_succeed, 0, read, write};
        mal.drv = &drv;
        mal.size = size;
    }
    static RamMal &of(void *locals) { return *zel_target<RamMal>(locals); }
    static uint32_t blksz(zel_mal_t *m, uint64_t, uint32_t, uint32_t) { return reinterpret_cast<RamMal *>(m)->block; }
    static void transfer(void *locals, zel_evt_t evt, bool write) {
        if (evt != ZEL_EVT_INIT) return;
        RamMal &d = of(locals);
        auto *p = static_cast<zel_mal_rw_param_t *>(locals);
        d.requests++;
        if (!zel_mal_in_range(&d.mal, p->address, p->size)) {
            zel_answer(-7);
            return;
        }
        if (write)
            memcpy(d.bytes.data() + p->address, p->buffer, p->size);
        else
            memcpy(p->buffer, d.bytes.data() + p->address, p->size);
        zel_answer(p->size - (p->size < d.short_by ? p->size : d.short_by));
    }
    static void read(void *locals, zel_evt_t evt) { transfer(locals, evt, false); }
    static void write(void *locals, zel_evt_t evt) { transfer(locals, evt, true); }
};

// A SCSI device whose commands complete 1 ms after they start. `answer`
// decides each command's result (default: the whole transfer).
struct SlowScsi {
    zel_scsi_t scsi{};
    std::vector<std::vector<uint8_t>> cdbs;
    int running = 0;
    int most_running = 0;
    std::function<intptr_t(const uint8_t *cdb, zel_scsi_xfer_t xfer)> answer;

    SlowScsi() {
        static const zel_scsi_drv_t drv = {zel_mal_succeed, zel_mal_succeed, execute, nullptr, nullptr};
        scsi.drv = &drv;
    }
    static void execute(void *locals, zel_evt_t evt) {
        auto &d = *zel_target<SlowScsi>(locals);
        auto *p = static_cast<zel_scsi_exec_param_t *>(locals);
        if (evt == ZEL_EVT_INIT) {
            d.cdbs.emplace_back(p->cdb, p->cdb + 16);
            d.running++;
            if (d.running > d.most_running) d.most_running = d.running;
            EXPECT_EQ(0, zel_eda_set_timer(10000));
        } else if (evt == ZEL_EVT_TIMER) {
            d.running--;
            zel_answer(d.answer ? d.answer(p->cdb, {p->buffer, p->size}) : (intptr_t)p->size);
        }
    }
};

#endif
