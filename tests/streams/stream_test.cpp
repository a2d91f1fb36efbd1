// Byte streams: notices, connection order and the buffer classes.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "zel_heap.h"
#include "zel_host.h"
#include "zel_host_test_hooks.h"
#include "zel_stream_debug.h"
#include "zel_stream_heapnode.h"
#include "zel_stream_mem.h"
#include "zel_stream_msgfifo.h"
#include "zel_stream_ring.h"
#include "zel_test.h"

namespace {

// Every notice a side received, as "tx0", "rx2" and so on.
struct Notices {
    std::vector<std::string> seen;
    static void on_tx(zel_stream_t *, uintptr_t param, uint32_t evt) {
        reinterpret_cast<Notices *>(param)->seen.push_back("tx" + std::to_string(evt));
    }
    static void on_rx(zel_stream_t *, uintptr_t param, uint32_t evt) {
        reinterpret_cast<Notices *>(param)->seen.push_back("rx" + std::to_string(evt));
    }
    void attach(zel_stream_t *s) {
        s->tx.handler = on_tx;
        s->tx.param = reinterpret_cast<uintptr_t>(this);
        s->rx.handler = on_rx;
        s->rx.param = reinterpret_cast<uintptr_t>(this);
    }
    std::vector<std::string> take() { return std::exchange(seen, {}); }
};

using V = std::vector<std::string>;

struct MemStream {
    uint8_t buf[64];
    zel_stream_mem_t m{};
    explicit MemStream(uint32_t size) {
        m.stream.op = &zel_stream_mem_op;
        m.buffer = buf;
        m.size = size;
        EXPECT_EQ(0, zel_stream_init(&m.stream));
    }
    zel_stream_t *s() { return &m.stream; }
};

TEST(StreamNotices, DataNoticeOnceThenReArmedByARead) {
    MemStream ms(64);
    Notices n;
    n.attach(ms.s());
    ms.s()->tx.handler = nullptr;  // only the reader listens here
    zel_stream_connect_tx(ms.s());
    zel_stream_connect_rx(ms.s());
    EXPECT_EQ(V{"rx0"}, n.take());
    zel_stream_set_rx_threshold(ms.s(), 10);
    const char four[] = "abcd";
    EXPECT_EQ(4u, zel_stream_write(ms.s(), four, 4));
    EXPECT_EQ(4u, zel_stream_write(ms.s(), four, 4));
    EXPECT_EQ(V{}, n.take());
    EXPECT_EQ(4u, zel_stream_write(ms.s(), four, 4));
    EXPECT_EQ(V{"rx2"}, n.take());
    EXPECT_EQ(4u, zel_stream_write(ms.s(), four, 4));  // told once only
    EXPECT_EQ(V{}, n.take());

    char out[4];
    EXPECT_EQ(4u, zel_stream_read(ms.s(), out, 4));  // 12 left: no new notice until a write
    EXPECT_EQ(V{}, n.take());
    EXPECT_EQ(4u, zel_stream_write(ms.s(), four, 4));
    EXPECT_EQ(V{"rx2"}, n.take());
}

TEST(StreamNotices, SpaceNoticeAndZeroThresholds) {
    MemStream ms(16);  // 15 bytes of room
    Notices n;
    n.attach(ms.s());
    zel_stream_connect_rx(ms.s());
    zel_stream_connect_tx(ms.s());
    n.take();
    char data[15] = {};
    ASSERT_EQ(15u, zel_stream_write(ms.s(), data, 15));
    EXPECT_EQ(V{"rx2"}, n.take());           // the reader's threshold is 0
    zel_stream_set_tx_threshold(ms.s(), 8);  // free 0: nothing yet
    EXPECT_EQ(V{}, n.take());
    char out[8];
    zel_stream_read(ms.s(), out, 4);
    EXPECT_EQ(V{}, n.take());
    zel_stream_read(ms.s(), out, 4);
    EXPECT_EQ(V{"tx3"}, n.take());
    zel_stream_read(ms.s(), out, 1);  // the writer has not written since
    EXPECT_EQ(V{}, n.take());

    // Setting a threshold that is already met notifies at once.
    zel_stream_set_rx_threshold(ms.s(), 6);
    EXPECT_EQ(V{"rx2"}, n.take());
    zel_stream_set_rx_threshold(ms.s(), 7);  // 6 bytes buffered
    EXPECT_EQ(V{}, n.take());
}

TEST(StreamNotices, SidesThatAreNotConnectedHearNothing) {
    MemStream ms(64);
    Notices n;
    n.attach(ms.s());
    zel_stream_set_rx_threshold(ms.s(), 1);
    zel_stream_write(ms.s(), "x", 1);
    EXPECT_EQ(V{}, n.take());
    zel_stream_connect_rx(ms.s());  // alone: no connect notice
    EXPECT_EQ(V{}, n.take());
    zel_stream_write(ms.s(), "x", 1);
    EXPECT_EQ(V{"rx2"}, n.take());
}

TEST(StreamConnect, TheSideThatWasThereFirstHearsFirst) {
    MemStream ms(64);
    Notices n;
    n.attach(ms.s());
    zel_stream_connect_tx(ms.s());
    EXPECT_EQ(V{}, n.take());
    zel_stream_connect_rx(ms.s());
    EXPECT_EQ((V{"tx0", "rx0"}), n.take());
    zel_stream_connect_rx(ms.s());  // already connected
    EXPECT_EQ(V{}, n.take());
    EXPECT_TRUE(zel_stream_is_tx_connected(ms.s()));
    EXPECT_TRUE(zel_stream_is_rx_connected(ms.s()));

    zel_stream_disconnect_tx(ms.s());
    EXPECT_EQ(V{"rx1"}, n.take());
    zel_stream_disconnect_rx(ms.s());  // alone: nobody to tell
    EXPECT_EQ(V{}, n.take());
    EXPECT_FALSE(zel_stream_is_rx_connected(ms.s()));

    zel_stream_connect_rx(ms.s());
    zel_stream_connect_tx(ms.s());
    EXPECT_EQ((V{"rx0", "tx0"}), n.take());
    zel_stream_disconnect_rx(ms.s());
    EXPECT_EQ(V{"tx1"}, n.take());

    // init clears both connected bytes.
    EXPECT_EQ(0, zel_stream_init(ms.s()));
    EXPECT_FALSE(zel_stream_is_tx_connected(ms.s()));
}

TEST(MemoryStream, KeepsOneByteFreeAndSurvivesWrapAround) {
    MemStream ms(8);
    memset(ms.buf, 0xEE, sizeof ms.buf);
    EXPECT_EQ(0u, zel_stream_write(ms.s(), "12345678", 8));  // all or nothing
    EXPECT_EQ(0xEE, ms.buf[0]);
    EXPECT_EQ(7u, zel_stream_get_free_size(ms.s()));
    EXPECT_EQ(5u, zel_stream_write(ms.s(), "abcde", 5));
    char out[8] = {};
    EXPECT_EQ(4u, zel_stream_read(ms.s(), out, 4));
    EXPECT_EQ(0, memcmp(out, "abcd", 4));
    // Five more bytes wrap past the end of the buffer.
    EXPECT_EQ(5u, zel_stream_write(ms.s(), "fghij", 5));
    void *area = nullptr;
    EXPECT_EQ(4u, zel_stream_get_rbuf(ms.s(), &area));  // contiguous up to the end
    EXPECT_EQ(ms.buf + 4, area);
    EXPECT_EQ(1u, zel_stream_get_free_size(ms.s()));
    EXPECT_EQ(6u, zel_stream_read(ms.s(), out, 8));
    EXPECT_EQ(0, memcmp(out, "efghij", 6));
    EXPECT_EQ(7u, zel_stream_get_free_size(ms.s()));
    // The write area runs from the write index to the end.
    EXPECT_EQ(6u, zel_stream_get_wbuf(ms.s(), &area));
    EXPECT_EQ(ms.buf + 2, area);
}

TEST(MemoryStream, AreasCommitWithoutCopying) {
    MemStream ms(16);
    void *area = nullptr;
    ASSERT_EQ(15u, zel_stream_get_wbuf(ms.s(), &area));
    memcpy(area, "hello", 5);
    EXPECT_EQ(5u, zel_stream_write(ms.s(), nullptr, 5));
    ASSERT_EQ(5u, zel_stream_get_rbuf(ms.s(), &area));
    EXPECT_EQ(0, memcmp(area, "hello", 5));
    EXPECT_EQ(5u, zel_stream_read(ms.s(), nullptr, 9));
    EXPECT_EQ(0u, zel_stream_get_rbuf(ms.s(), nullptr));
}

struct RingStream {
    uint8_t buf[16];
    zel_stream_ring_t r{};
    RingStream(uint32_t size, uint16_t unit) {
        r.stream.op = &zel_stream_ring_op;
        r.buffer = buf;
        r.size = size;
        r.unit = unit;
        EXPECT_EQ(0, zel_stream_init(&r.stream));
    }
    zel_stream_t *s() { return &r.stream; }
};

TEST(RingStream, ReadsWholeUnitsAndRestartsAtTheFrontWhenEmptied) {
    RingStream rs(16, 4);
    EXPECT_EQ(16u, zel_stream_get_free_size(rs.s()));  // no byte kept free
    EXPECT_EQ(10u, zel_stream_write(rs.s(), "0123456789", 10));
    EXPECT_EQ(0u, zel_stream_get_free_size(rs.s()));  // a unit is partly written
    EXPECT_EQ(0u, zel_stream_get_wbuf(rs.s(), nullptr));
    char out[20] = {};
    EXPECT_EQ(4u, zel_stream_read(rs.s(), out, 6));  // cannot take all: whole units
    EXPECT_EQ(0, memcmp(out, "0123", 4));
    EXPECT_EQ(6u, zel_stream_read(rs.s(), out, 20));
    EXPECT_EQ(0, memcmp(out, "456789", 6));
    void *area = nullptr;
    EXPECT_EQ(16u, zel_stream_get_wbuf(rs.s(), &area));
    EXPECT_EQ(rs.buf, area);
    EXPECT_EQ(0u, zel_stream_write(rs.s(), nullptr, 0));  // commits nothing, ends the hand-out
}

TEST(RingStream, WrapsAndCommitsItsOwnAreas) {
    RingStream rs(8, 0);
    char out[8] = {};
    ASSERT_EQ(6u, zel_stream_write(rs.s(), "abcdef", 6));
    ASSERT_EQ(4u, zel_stream_read(rs.s(), out, 4));
    EXPECT_EQ(6u, zel_stream_write(rs.s(), "ghijkl", 10));  // only 6 fit; wraps
    void *area = nullptr;
    EXPECT_EQ(4u, zel_stream_get_rbuf(rs.s(), &area));
    EXPECT_EQ(rs.buf + 4, area);
    EXPECT_EQ(8u, zel_stream_read(rs.s(), out, 8));
    EXPECT_EQ(0, memcmp(out, "efghijkl", 8));

    // A filled write area is committed without a copy.
    ASSERT_EQ(8u, zel_stream_get_wbuf(rs.s(), &area));
    memcpy(area, "XYZ", 3);
    EXPECT_EQ(3u, zel_stream_write(rs.s(), area, 3));
    EXPECT_EQ(3u, zel_stream_read(rs.s(), out, 8));
    EXPECT_EQ(0, memcmp(out, "XYZ", 3));
}

// The writer commits its area with a null buffer (nothing to copy): only
// indexes left where they were make the committed bytes the ones it wrote.
TEST(RingStream, AnOpenWriteAreaKeepsTheIndexesWhereTheyAre) {
    RingStream rs(8, 0);
    char out[8];
    ASSERT_EQ(3u, zel_stream_write(rs.s(), "abc", 3));
    void *area = nullptr;
    ASSERT_EQ(5u, zel_stream_get_wbuf(rs.s(), &area));  // a writer is filling bytes 3..7
    ASSERT_EQ(3u, zel_stream_read(rs.s(), out, 8));     // drained, but not reset under the writer
    memcpy(area, "de", 2);
    EXPECT_EQ(2u, zel_stream_write(rs.s(), nullptr, 2));
    EXPECT_EQ(2u, zel_stream_read(rs.s(), out, 8));
    EXPECT_EQ(0, memcmp(out, "de", 2));
}

// The same as a race: a host thread streams into the ring as an interrupt
// would, committing the area it filled (with a null buffer) and taking the
// next one in the same emulated interrupt, then filling it outside; a
// framework thread drains the ring meanwhile. Every byte must arrive once and
// in order.
TEST(RingStream, AWriterFillingItsAreaRacesAReaderThatDrains) {
    RingStream rs(16, 0);
    constexpr uint32_t kBytes = 20000;
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> written{0};
    std::thread writer([&] {
        uint32_t next = 0, filled = 0;
        uint8_t *area = nullptr;
        while (next < kBytes && !stop) {
            uint32_t n = 0;
            zel_test::run_as_irq([&] {
                if (filled) {
                    EXPECT_EQ(filled, zel_stream_write(rs.s(), nullptr, filled));
                }
                void *a = nullptr;
                n = zel_stream_get_wbuf(rs.s(), &a);
                area = static_cast<uint8_t *>(a);
            });
            next += filled;
            written = next;
            filled = std::min({n, 5u, kBytes - next});
            for (uint32_t i = 0; i < filled; ++i) area[i] = uint8_t(next + i);
            // A slow writer: the reader drains what was committed meanwhile.
            std::this_thread::sleep_for(std::chrono::microseconds(filled ? 20 : 100));
        }
        if (filled) zel_test::run_as_irq([&] { zel_stream_write(rs.s(), nullptr, 0); });  // gives the area back
    });
    uint32_t got = 0, wrong = 0;
    bool ran = zel_test::run_in_thread([&] {
        for (int idle = 0; got < kBytes && idle < 20000;) {
            uint8_t buf[16];
            uint32_t n = zel_stream_read(rs.s(), buf, sizeof buf);
            for (uint32_t i = 0; i < n; ++i) wrong += buf[i] != uint8_t(got + i);
            got += n;
            if (n) {
                idle = 0;
            } else {
                ++idle;
                zel_thread_delay(1);  // lets the writer in
            }
        }
    });
    stop = true;
    writer.join();
    ASSERT_TRUE(ran);
    EXPECT_EQ(kBytes, written.load());
    EXPECT_EQ(kBytes, got);
    EXPECT_EQ(0u, wrong);
}

// In a framework context: the kernel runs (an earlier case booted it), and
// the stream calls protect as the kernel does.
TEST(RingStream, CapsHandOutAtMostHalfTheBuffer) {
    ASSERT_TRUE(zel_test::run_in_agent([] {
        RingStream rs(16, 0);
        rs.r.stream.wbuf_cap = 1;
        rs.r.stream.rbuf_cap = 1;
        EXPECT_EQ(8u, zel_stream_get_wbuf(rs.s(), nullptr));
        ASSERT_EQ(12u, zel_stream_write(rs.s(), "0123456789ab", 12));
        EXPECT_EQ(8u, zel_stream_get_rbuf(rs.s(), nullptr));
        rs.r.stream.rbuf_cap = 0;
        EXPECT_EQ(12u, zel_stream_get_rbuf(rs.s(), nullptr));
    }));
}

struct HeapQueue {
    zel_stream_heapnode_t q{};
    HeapQueue(int32_t limit, uint32_t max_nodes) {
        q.stream.op = &zel_stream_heapnode_op;
        q.limit = limit;
        q.max_nodes = max_nodes;
        EXPECT_EQ(0, zel_stream_init(&q.stream));
    }
    ~HeapQueue() { zel_stream_fini(&q.stream); }
    zel_stream_t *s() { return &q.stream; }
};

// From here on the kernel runs (an earlier case booted it): the stream calls
// are made in a framework context, as the product makes them.
TEST(HeapNodeQueue, PartialReadsConsumeNodesInOrder) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        HeapQueue hq(-1, 0xFFFFFFFFu);
        EXPECT_EQ(ZEL_STREAM_UNLIMITED, hq.q.stream.op->buffer_size(hq.s()));
        EXPECT_EQ(3u, zel_stream_write(hq.s(), "abc", 3));
        EXPECT_EQ(5u, zel_stream_write(hq.s(), "defgh", 5));
        char out[10] = {};
        EXPECT_EQ(6u, zel_stream_read(hq.s(), out, 6));
        EXPECT_EQ(0, memcmp(out, "abcdef", 6));
        EXPECT_EQ(1u, hq.q.nodes);
        void *area = nullptr;
        EXPECT_EQ(2u, zel_stream_get_rbuf(hq.s(), &area));
        EXPECT_EQ(0, memcmp(area, "gh", 2));
        EXPECT_EQ(2u, zel_stream_read(hq.s(), out, 10));
        EXPECT_EQ(0u, hq.q.nodes);
        EXPECT_EQ(nullptr, hq.q.head);
        EXPECT_EQ(0u, zel_stream_get_wbuf(hq.s(), nullptr));  // there is no write area

        // A null buffer only consumes; size -1 drains everything.
        zel_stream_write(hq.s(), "1234", 4);
        zel_stream_write(hq.s(), "5678", 4);
        EXPECT_EQ(8u, zel_stream_read(hq.s(), nullptr, 0xFFFFFFFFu));
        EXPECT_EQ(0u, hq.q.data);
    }));
}

TEST(HeapNodeQueue, ALimitedQueueStoresExactlyWhatItReports) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        HeapQueue hq(8, 0xFFFFFFFFu);
        EXPECT_EQ(5u, zel_stream_write(hq.s(), "abcde", 5));
        // Three of these bytes fit; the caller will offer "ijk" again.
        EXPECT_EQ(3u, zel_stream_write(hq.s(), "fghijk", 6));
        EXPECT_EQ(0u, zel_stream_write(hq.s(), "ijk", 3));
        EXPECT_EQ(8u, hq.q.data);
        char out[16] = {};
        EXPECT_EQ(8u, zel_stream_read(hq.s(), out, 16));
        EXPECT_EQ(std::string("abcdefgh"), std::string(out));
        EXPECT_EQ(3u, zel_stream_write(hq.s(), "ijk", 3));
        EXPECT_EQ(3u, zel_stream_read(hq.s(), out, 16));
    }));
}

TEST(HeapNodeQueue, NodeCountLimitAndHeapExhaustionTakeNothing) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        HeapQueue hq(-1, 1);
        EXPECT_EQ(2u, zel_stream_write(hq.s(), "ab", 2));
        EXPECT_EQ(0u, zel_stream_get_free_size(hq.s()));
        EXPECT_EQ(0u, zel_stream_write(hq.s(), "cd", 2));

        HeapQueue other(-1, 0xFFFFFFFFu);
        zel_test::TraceCapture trace;
        zel_host_fail_heap_allocations(1);
        EXPECT_EQ(0u, zel_stream_write(other.s(), "xy", 2));
        EXPECT_TRUE(trace.contains("fail to allocate"));
        EXPECT_EQ(0u, other.q.data);
        EXPECT_EQ(nullptr, other.q.head);
        EXPECT_EQ(2u, zel_stream_write(other.s(), "xy", 2));  // the stream still works
    }));
}

struct MsgFifo {
    static constexpr uint16_t kUnit = 8;
    static constexpr uint8_t kCap = 2;
    alignas(8) uint8_t storage[ZEL_STREAM_MSGFIFO_BYTES(kCap, kUnit) + 8];  // 8 guard bytes
    zel_stream_msgfifo_t m{};
    MsgFifo() {
        memset(storage, 0xA5, sizeof storage);
        m.stream.op = &zel_stream_msgfifo_op;
        m.unit = kUnit;
        m.capacity = kCap;
        m.fifo = reinterpret_cast<zel_item_fifo_t *>(storage);
        EXPECT_EQ(0, zel_stream_init(&m.stream));
    }
    zel_stream_t *s() { return &m.stream; }
    bool guard_intact() const {
        for (size_t i = ZEL_STREAM_MSGFIFO_BYTES(kCap, kUnit); i < sizeof storage; ++i)
            if (storage[i] != 0xA5) return false;
        return true;
    }
};

TEST(MessageFifo, AShortReadDropsTheWholeMessage) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        MsgFifo f;
        EXPECT_EQ(16u, zel_stream_get_free_size(f.s()));
        EXPECT_EQ(5u, zel_stream_write(f.s(), "hello", 5));
        EXPECT_EQ(2u, zel_stream_write(f.s(), "hi", 2));
        EXPECT_EQ(0u, zel_stream_write(f.s(), "x", 1));  // full
        char out[8] = {};
        EXPECT_EQ(3u, zel_stream_read(f.s(), out, 3));
        EXPECT_EQ(0, memcmp(out, "hel", 3));
        EXPECT_EQ(2u, zel_stream_read(f.s(), out, 8));  // the next message, not "lo"
        EXPECT_EQ(0, memcmp(out, "hi", 2));
        EXPECT_EQ(0u, zel_stream_read(f.s(), out, 8));
    }));
}

TEST(MessageFifo, AMessageLongerThanTheUnitIsRefused) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        MsgFifo f;
        // Both slots in turn would be the last; neither may spill into the guard.
        EXPECT_EQ(8u, zel_stream_write(f.s(), "12345678", 8));
        EXPECT_EQ(0u, zel_stream_write(f.s(), "123456789ABCDEF", 15));
        EXPECT_EQ(1u, zel_item_fifo_count(f.m.fifo));
        EXPECT_EQ(0u, zel_stream_write(f.s(), nullptr, 9));
        EXPECT_TRUE(f.guard_intact());
        char out[16] = {};
        EXPECT_EQ(8u, zel_stream_read(f.s(), out, 16));
        EXPECT_EQ(0, memcmp(out, "12345678", 8));
    }));
}

TEST(MessageFifo, AreasWrapAroundTheSlots) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        MsgFifo f;
        for (int round = 0; round < 5; ++round) {
            void *area = nullptr;
            ASSERT_EQ(8u, zel_stream_get_wbuf(f.s(), &area));
            memcpy(area, "msg", 3);
            static_cast<char *>(area)[3] = char('0' + round);
            ASSERT_EQ(4u, zel_stream_write(f.s(), nullptr, 4));
            ASSERT_EQ(4u, zel_stream_get_rbuf(f.s(), &area));
            EXPECT_EQ(0, memcmp(area, "msg", 3));
            EXPECT_EQ('0' + round, static_cast<char *>(area)[3]);
            ASSERT_EQ(4u, zel_stream_read(f.s(), nullptr, 4));
        }
        EXPECT_TRUE(f.guard_intact());
    }));
}

TEST(DebugStream, TakesEverythingAndConnectsTheConsole) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        uint8_t in_buf[1024];
        zel_stream_ring_t in{};
        in.stream.op = &zel_stream_ring_op;
        in.buffer = in_buf;
        in.size = sizeof in_buf;
        zel_stream_debug_t out{};
        out.stream.op = &zel_stream_debug_op;
        out.console_in = &in.stream;
        EXPECT_EQ(0, zel_stream_init(&in.stream));
        EXPECT_EQ(0, zel_stream_init(&out.stream));
        EXPECT_TRUE(zel_stream_is_rx_connected(&out.stream));
        EXPECT_TRUE(zel_stream_is_tx_connected(&in.stream));
        char junk[100] = {};
        EXPECT_EQ(100u, zel_stream_write(&out.stream, junk, 100));
        EXPECT_EQ(ZEL_STREAM_UNLIMITED, zel_stream_get_free_size(&out.stream));
        EXPECT_EQ(0u, zel_stream_read(&out.stream, junk, 100));
        EXPECT_EQ(0u, zel_stream_get_wbuf(&out.stream, nullptr));
    }));
}

}  // namespace
