// zel_file_read_to_stream: a file pumped into a ring stream whose reader
// drains it as data arrives.
#include "fs_test.h"
#include "zel_stream_ring.h"

using namespace fs_test;

namespace {

struct Sink {
    zel_stream_ring_t ring{};
    uint8_t buffer[96];
    std::string got;
    size_t leave_after = SIZE_MAX;  // the reader disconnects once it has this many bytes

    Sink() {
        ring.stream.op = &zel_stream_ring_op;
        ring.buffer = buffer;
        ring.size = sizeof buffer;
        EXPECT_EQ(0, zel_stream_init(&ring.stream));
        ring.stream.rx.handler = on_data;
        ring.stream.rx.param = reinterpret_cast<uintptr_t>(this);
        ring.stream.rx.threshold = 1;
        zel_stream_connect_rx(&ring.stream);
    }

    static void on_data(zel_stream_t *s, uintptr_t param, uint32_t evt) {
        auto *sink = reinterpret_cast<Sink *>(param);
        if (evt != ZEL_STREAM_EVT_DATA || !zel_stream_is_rx_connected(s)) return;
        char chunk[64];
        while (uint32_t n = zel_stream_read(s, chunk, sizeof chunk)) sink->got.append(chunk, n);
        if (sink->got.size() >= sink->leave_after) zel_stream_disconnect_rx(s);
    }
};

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

// A fresh file of `content` in `dir`, opened at position 0.
zel_file_t *source_file(zel_file_t *dir, const std::string &content) {
    EXPECT_EQ(0, f_create(dir, "src"));
    zel_file_t *f = f_open_ok(dir, "src");
    EXPECT_EQ(static_cast<intptr_t>(content.size()), f_write(f, content));
    EXPECT_EQ(0, f_seek(f, 0));
    return f;
}

}  // namespace

TEST(ReadToStream, SendsTheWholeFileThroughASmallerStream) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("rts_all");
        const std::string content = pattern(1000);
        zel_file_t *f = source_file(d, content);
        Sink sink;
        zel_file_read_to_stream_t rec{};
        rec.file = f;
        EXPECT_EQ(0, done(zel_file_read_to_stream(&rec, &sink.ring.stream, 1000)));
        EXPECT_EQ(content, sink.got);
        EXPECT_EQ(1000u, rec.sent);
        EXPECT_EQ(0u, rec.remaining);
        EXPECT_EQ(1000u, f->position);
        EXPECT_FALSE(zel_stream_is_tx_connected(&sink.ring.stream));
        f_close(f);
        f_close(d);
    });
}

TEST(ReadToStream, EndsWhenTheFileOrTheReaderEndsFirst) {
    IN_THREAD({
        zel_file_t *d = fresh_dir("rts_short");
        const std::string content = pattern(300);
        zel_file_t *f = source_file(d, content);
        {
            Sink sink;
            zel_file_read_to_stream_t rec{};
            rec.file = f;
            EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_read_to_stream(&rec, &sink.ring.stream, 500)));
            EXPECT_EQ(300u, rec.sent);
            EXPECT_EQ(content, sink.got);
            EXPECT_FALSE(zel_stream_is_tx_connected(&sink.ring.stream));
        }
        {
            ASSERT_EQ(0, f_seek(f, 0));
            Sink sink;
            sink.leave_after = 100;
            zel_file_read_to_stream_t rec{};
            rec.file = f;
            EXPECT_EQ(ZEL_FS_ERR_FAILED, done(zel_file_read_to_stream(&rec, &sink.ring.stream, 300)));
            EXPECT_LT(rec.sent, 300u);
            EXPECT_EQ(content.substr(0, sink.got.size()), sink.got);
        }
        {
            Sink sink;
            zel_file_read_to_stream_t rec{};
            rec.file = d;  // a directory does not read
            EXPECT_EQ(ZEL_FS_ERR_INVALID, done(zel_file_read_to_stream(&rec, &sink.ring.stream, 10)));
            EXPECT_EQ(0u, rec.sent);
        }
        f_close(f);
        f_close(d);
    });
}
