// The stream pumps, driven through the virtual target's stream data phase:
// READ(10) into a ring stream drained by its reader, WRITE(10) from a ring
// stream filled beforehand, and a reader that goes away half-way.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_devices.h"
#include "zel_stream_ring.h"
#include "zel_test.h"
#include "zel_virtual_scsi.h"

namespace {

intptr_t answer(int32_t started) { return started == 0 ? zel_eda_get_return_code() : started; }

struct StreamDisk {
    RamMal ram{64 * 512};
    zel_virtual_scsi_param_t param{512, 64, {'Z'}, {'S'}, {'1'}, 0, {}, 0};
    zel_mal_scsi_t target{};
    uint8_t ring_bytes[4096];
    zel_stream_ring_t ring{};
    std::vector<uint8_t> drained;
    size_t drain_limit = SIZE_MAX;  // the reader leaves after this many bytes

    StreamDisk() {
        for (size_t i = 0; i < ram.bytes.size(); i++) ram.bytes[i] = (uint8_t)(i * 7 + i / 512);
        zel_mal_scsi_construct(&target, &param, &ram.mal);
        ring.stream.op = &zel_stream_ring_op;
        ring.buffer = ring_bytes;
        ring.size = sizeof ring_bytes;
        EXPECT_EQ(0, zel_stream_init(&ring.stream));
    }
    zel_stream_t *stream() { return &ring.stream; }
    zel_scsi_t *scsi() { return &target.target.scsi; }

    // The reader takes what arrives, until its limit.
    void connect_reader() {
        ring.stream.rx.param = reinterpret_cast<uintptr_t>(this);
        ring.stream.rx.threshold = 1;
        ring.stream.rx.handler = [](zel_stream_t *s, uintptr_t param, uint32_t evt) {
            auto *d = reinterpret_cast<StreamDisk *>(param);
            if (evt != ZEL_STREAM_EVT_DATA && evt != ZEL_STREAM_EVT_CONNECTED) return;
            uint8_t buf[4096];
            while (d->drained.size() < d->drain_limit) {
                const uint32_t n = zel_stream_read(s, buf, sizeof buf);
                if (n == 0) return;
                d->drained.insert(d->drained.end(), buf, buf + n);
            }
            zel_stream_disconnect_rx(s);
        };
        zel_stream_connect_rx(&ring.stream);
    }
    std::pair<int, int> sense() {
        const uint8_t cdb[6] = {0x03, 0, 0, 0, 18};
        uint8_t s[18] = {};
        const zel_scsi_xfer_t x{s, sizeof s};
        EXPECT_EQ(18, answer(zel_scsi_execute(scsi(), cdb, &x)));
        return {s[2], s[12]};
    }
};

TEST(MalStream, ReadAndWriteThroughARingStream) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        StreamDisk d;
        ASSERT_EQ(0, answer(zel_scsi_init(d.scsi())));
        d.connect_reader();
        const uint8_t read10[10] = {0x28, 0, 0, 0, 0, 4, 0, 0, 16};  // 16 blocks: four times the ring
        ASSERT_EQ(16 * 512, answer(zel_scsi_execute_stream(d.scsi(), read10, d.stream())));
        ASSERT_EQ(16u * 512, d.drained.size());
        EXPECT_EQ(0, memcmp(d.drained.data(), d.ram.bytes.data() + 4 * 512, 16 * 512));
        EXPECT_FALSE(zel_stream_is_tx_connected(d.stream()));
        zel_stream_disconnect_rx(d.stream());

        std::vector<uint8_t> src(4096);
        for (size_t i = 0; i < src.size(); i++) src[i] = (uint8_t)(255 - i % 251);
        ASSERT_EQ(4096u, zel_stream_write(d.stream(), src.data(), 4096));
        const uint8_t write10[10] = {0x2A, 0, 0, 0, 0, 40, 0, 0, 8};
        ASSERT_EQ(4096, answer(zel_scsi_execute_stream(d.scsi(), write10, d.stream())));
        EXPECT_EQ(0, memcmp(d.ram.bytes.data() + 40 * 512, src.data(), 4096));
        EXPECT_FALSE(zel_stream_is_rx_connected(d.stream()));
    }));
}

TEST(MalStream, AReaderThatLeavesEndsTheTransferAsAMediumError) {
    ASSERT_TRUE(zel_test::run_in_thread([] {
        StreamDisk d;
        ASSERT_EQ(0, answer(zel_scsi_init(d.scsi())));
        d.drain_limit = 2 * 512;
        d.connect_reader();
        const uint8_t read10[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 32};
        EXPECT_EQ(-7, answer(zel_scsi_execute_stream(d.scsi(), read10, d.stream())));
        EXPECT_EQ(std::make_pair(3, 0x11), d.sense());
        EXPECT_FALSE(zel_stream_is_tx_connected(d.stream()));
    }));
}

}  // namespace
