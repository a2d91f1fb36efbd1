// Node transport and the buffer-node queue stream over it. The calls are
// made in a framework context: the kernel may run (another case of the
// binary booted it), and they protect as the kernel does.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "zel_host.h"
#include "zel_node_transport.h"
#include "zel_stream_bufnode.h"
#include "zel_test.h"

namespace {

// A link that records every frame; it completes at once or later, as told.
struct Link {
    zel_node_transport_t t{};
    zel_node_link_t header{0, 0, 0};
    std::vector<std::vector<uint8_t>> frames;
    bool sync = false;
    int live = 0;  // allocated blocks not yet freed
    std::function<void()> during_send;

    static Link *current;
    static bool send(const void *frame, uint32_t length, zel_node_transport_t *, zel_node_transport_done_t) {
        const uint8_t *b = static_cast<const uint8_t *>(frame);
        current->frames.emplace_back(b, b + length);
        if (auto fn = std::exchange(current->during_send, nullptr)) fn();
        return current->sync;
    }
    static void *alloc(uint32_t size) {
        current->live++;
        return malloc(size);
    }
    static void release(void *block) {
        current->live--;
        free(block);
    }
    Link() {
        current = this;
        t.send = send;
        t.alloc = alloc;
        t.free = release;
    }
    zel_node_t *node(const std::string &payload, uint16_t type = 0, uint16_t user = 0) {
        void *p = nullptr;
        zel_node_t *n = zel_node_transport_alloc(&t, uint32_t(payload.size()), &p);
        memcpy(p, payload.data(), payload.size());
        n->wire.type = type;
        n->wire.user = user;
        return n;
    }
    std::string payload_of(size_t i) const { return std::string(frames[i].begin() + 16, frames[i].end()); }
    uint32_t u32_of(size_t i, size_t off) const {
        uint32_t v;
        memcpy(&v, frames[i].data() + off, 4);
        return v;
    }
    uint16_t type_of(size_t i) const { return uint16_t(frames[i][12] | frames[i][13] << 8); }
};
Link *Link::current = nullptr;

TEST(NodeTransport, StampsLengthTypeAndChecksums) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        Link link;
        link.sync = true;
        link.header.type_base = 0x0010;
        zel_node_transport_send(&link.t, &link.header, link.node("abc", 0x0102, 0x0304));
        ASSERT_EQ(1u, link.frames.size());
        const std::vector<uint8_t> expect = {3, 0, 0, 0,  // payload length
            68, 0, 0, 0,             // header checksum: 3 + (0x26 + 0x01) + (0x12 + 0x01) + (0x04 + 0x03)
            0x26, 0x01, 0, 0,        // payload checksum: 'a' + 'b' + 'c' = 294
            0x12, 0x01, 0x04, 0x03,  // type with the link's base added, user word
            'a', 'b', 'c'};
        EXPECT_EQ(expect, link.frames[0]);
        EXPECT_EQ(0, link.live);

        // An empty payload: checksum 0, header checksum = bytes of type and user word.
        zel_node_transport_send(&link.t, &link.header, link.node("", 0x00F0, 0x0201));
        EXPECT_EQ(16u, link.frames[1].size());
        EXPECT_EQ(0u, link.u32_of(1, 8));
        EXPECT_EQ(0x00u + 0x01u + 0x01u + 0x02u, link.u32_of(1, 4));
    }));
}

TEST(NodeTransport, NodesLeaveInOrderOneInFlight) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        Link link;
        zel_node_transport_send(&link.t, &link.header, link.node("one"));
        zel_node_transport_send(&link.t, &link.header, link.node("two"));
        zel_node_transport_send(&link.t, &link.header, link.node("three"));
        ASSERT_EQ(1u, link.frames.size());  // the others wait for the completion
        zel_node_transport_on_sent(&link.t);
        ASSERT_EQ(2u, link.frames.size());
        zel_node_transport_on_sent(&link.t);
        zel_node_transport_on_sent(&link.t);
        ASSERT_EQ(3u, link.frames.size());
        EXPECT_EQ("one", link.payload_of(0));
        EXPECT_EQ("two", link.payload_of(1));
        EXPECT_EQ("three", link.payload_of(2));
        EXPECT_EQ(nullptr, link.t.in_flight);
        EXPECT_EQ(0, link.live);

        // A link that completes on the spot sends what queued up meanwhile
        // within the first send call.
        link.frames.clear();
        link.sync = true;
        link.during_send = [&] {
            zel_node_transport_send(&link.t, &link.header, link.node("b"));
            zel_node_transport_send(&link.t, &link.header, link.node("c"));
            EXPECT_EQ(1u, link.frames.size());
        };
        zel_node_transport_send(&link.t, &link.header, link.node("a"));
        ASSERT_EQ(3u, link.frames.size());
        EXPECT_EQ("c", link.payload_of(2));
        EXPECT_EQ(0, link.live);
    }));
}

TEST(NodeTransport, AllocationFailureGivesNoNode) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        zel_node_transport_t t{};
        t.alloc = [](uint32_t) -> void * { return nullptr; };
        void *payload = &t;
        EXPECT_EQ(nullptr, zel_node_transport_alloc(&t, 10, &payload));
    }));
}

// A size whose block (node header and payload) does not fit in 32 bits is
// refused before anything is allocated; the largest that fits is asked for
// whole.
TEST(NodeTransport, SizesBeyondThirtyTwoBitsAreRefused) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        Link link;
        static uint32_t asked;
        link.t.alloc = [](uint32_t size) -> void * {
            asked = size;
            return Link::alloc(64);  // stands in for the block; only the header is touched
        };
        const uint32_t largest = UINT32_MAX - uint32_t(sizeof(zel_node_t));
        for (uint32_t size : {UINT32_MAX, UINT32_MAX - 15, largest + 1}) {
            asked = 0;
            void *payload = nullptr;
            EXPECT_EQ(nullptr, zel_node_transport_alloc(&link.t, size, &payload)) << size;
            EXPECT_EQ(0u, asked) << size;
            EXPECT_EQ(nullptr, payload);
        }
        zel_node_t *n = zel_node_transport_alloc(&link.t, largest, nullptr);
        ASSERT_NE(nullptr, n);
        EXPECT_EQ(UINT32_MAX, asked);
        EXPECT_EQ(largest, n->wire.length);
        zel_node_transport_free(&link.t, n);
        EXPECT_EQ(0, link.live);
    }));
}

struct BufQueue {
    Link link;
    zel_stream_bufnode_t q{};
    BufQueue(uint32_t payload, uint32_t limit, bool announce) {
        link.sync = true;
        link.header.type_base = 0x100;
        q.stream.op = &zel_stream_bufnode_op;
        q.payload_size = payload;
        q.link = &link.header;
        q.transport = &link.t;
        q.limit = limit;
        q.announce = announce;
        EXPECT_EQ(0, zel_stream_init(&q.stream));
    }
    ~BufQueue() { zel_stream_fini(&q.stream); }
    zel_stream_t *s() { return &q.stream; }
    // A node as the peer would send it.
    zel_node_t *incoming(uint16_t type, const void *data, uint32_t size) {
        void *p = nullptr;
        zel_node_t *n = zel_node_transport_alloc(&link.t, size, &p);
        memcpy(p, data, size);
        n->wire.type = uint16_t(0x100 + type);
        return n;
    }
};

TEST(BufferNodeQueue, WritesBecomeDataNodesWithinTheLimit) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        BufQueue bq(16, 10, true);
        ASSERT_EQ(1u, bq.link.frames.size());  // the announced limit
        EXPECT_EQ(0x100, bq.link.type_of(0));
        EXPECT_EQ(10u, bq.link.u32_of(0, 16));
        EXPECT_TRUE(zel_stream_is_tx_connected(bq.s()));

        EXPECT_EQ(6u, zel_stream_write(bq.s(), "abcdef", 6));
        EXPECT_EQ(0x101, bq.link.type_of(1));
        EXPECT_EQ("abcdef", bq.link.payload_of(1));
        EXPECT_EQ(4u, zel_stream_get_free_size(bq.s()));
        EXPECT_EQ(0u, zel_stream_write(bq.s(), "ghijk", 5));  // over the limit: nothing
        EXPECT_EQ(2u, bq.link.frames.size());

        // The peer acknowledges four bytes.
        uint32_t four = 4;
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_ACK, &four, 4));
        EXPECT_EQ(8u, zel_stream_get_free_size(bq.s()));
        EXPECT_EQ(5u, zel_stream_write(bq.s(), "ghijk", 5));
    }));
}

TEST(BufferNodeQueue, WriteAreaCommitsNoMoreThanWasHandedOut) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        BufQueue bq(8, 0, false);
        EXPECT_EQ(0u, bq.link.frames.size());
        EXPECT_EQ(0u, zel_stream_write(bq.s(), "123456789", 9));  // over the node size
        void *area = nullptr;
        ASSERT_EQ(8u, zel_stream_get_wbuf(bq.s(), &area));
        memcpy(area, "xyz", 3);
        EXPECT_EQ(3u, zel_stream_write(bq.s(), nullptr, 3));
        ASSERT_EQ(1u, bq.link.frames.size());
        EXPECT_EQ("xyz", bq.link.payload_of(0));
        // A commit longer than the area is refused and the area released.
        ASSERT_EQ(8u, zel_stream_get_wbuf(bq.s(), &area));
        EXPECT_EQ(0u, zel_stream_write(bq.s(), nullptr, 9));
        EXPECT_EQ(nullptr, bq.q.current);
        EXPECT_EQ(0u, zel_stream_write(bq.s(), nullptr, 3));  // nothing handed out
        EXPECT_EQ(1u, bq.link.frames.size());
        EXPECT_EQ(0, bq.link.live);
    }));
}

TEST(BufferNodeQueue, ReadsReceivedNodesAndAcknowledgesThem) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        BufQueue bq(8, 0, false);
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_DATA, "hello", 5));
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_DATA, "world", 5));
        void *area = nullptr;
        EXPECT_EQ(5u, zel_stream_get_rbuf(bq.s(), &area));
        char out[16] = {};
        EXPECT_EQ(7u, zel_stream_read(bq.s(), out, 7));
        EXPECT_EQ(std::string("hellowo"), std::string(out));
        ASSERT_EQ(1u, bq.link.frames.size());
        EXPECT_EQ(0x102, bq.link.type_of(0));
        EXPECT_EQ(7u, bq.link.u32_of(0, 16));
        EXPECT_EQ(3u, zel_stream_read(bq.s(), nullptr, 16));
        EXPECT_EQ(0u, zel_stream_read(bq.s(), out, 16));
        EXPECT_EQ(2u, bq.link.frames.size());  // no acknowledgement of nothing
        EXPECT_EQ(0, bq.link.live);
    }));
}

// The reader hears of received bytes, once per threshold reached and again
// after a read; the bytes this side sends are not the reader's. The writer
// hears of the space an acknowledgement returns.
TEST(BufferNodeQueue, TheReaderIsToldOfReceivedBytesAndTheWriterOfReturnedSpace) {
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        BufQueue bq(16, 10, false);
        std::vector<std::string> heard;
        auto record = [](zel_stream_t *, uintptr_t param, uint32_t evt) {
            reinterpret_cast<std::vector<std::string> *>(param)->push_back(std::to_string(evt));
        };
        bq.q.stream.rx.handler = record;
        bq.q.stream.rx.param = reinterpret_cast<uintptr_t>(&heard);
        bq.q.stream.tx.handler = record;
        bq.q.stream.tx.param = reinterpret_cast<uintptr_t>(&heard);
        zel_stream_connect_rx(bq.s());
        zel_stream_connect_tx(bq.s());
        heard.clear();
        zel_stream_set_rx_threshold(bq.s(), 4);
        zel_stream_set_tx_threshold(bq.s(), 6);
        EXPECT_EQ(std::vector<std::string>{"3"}, heard) << "10 bytes free";
        heard.clear();

        EXPECT_EQ(6u, zel_stream_write(bq.s(), "abcdef", 6));
        EXPECT_TRUE(heard.empty()) << "sent bytes are not readable";
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_DATA, "xyz", 3));
        EXPECT_TRUE(heard.empty());
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_DATA, "uv", 2));
        EXPECT_EQ(std::vector<std::string>{"2"}, heard);
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_DATA, "w", 1));
        EXPECT_EQ(1u, heard.size()) << "told once";
        char out[8];
        EXPECT_EQ(2u, zel_stream_read(bq.s(), out, 2));
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_DATA, "t", 1));
        EXPECT_EQ((std::vector<std::string>{"2", "2"}), heard) << "re-armed by the read";
        EXPECT_EQ(5u, zel_stream_read(bq.s(), out, 8));
        EXPECT_EQ(0u, zel_stream_get_rbuf(bq.s(), nullptr));

        // Four bytes of ours left to acknowledge: 6 free. The writer is told when
        // an acknowledgement brings the space up to its threshold.
        heard.clear();
        EXPECT_EQ(0u, zel_stream_write(bq.s(), "01234", 5));  // 4 free only: refused
        uint32_t one = 1;
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_ACK, &one, 4));
        EXPECT_TRUE(heard.empty()) << "5 free";
        zel_stream_bufnode_receive(bq.s(), bq.incoming(ZEL_BUFNODE_ACK, &one, 4));
        EXPECT_EQ(std::vector<std::string>{"3"}, heard) << "6 free";
        EXPECT_EQ(5u, zel_stream_write(bq.s(), "01234", 5));
    }));
}

}  // namespace
