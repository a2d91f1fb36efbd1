// Trace: prefixes, the message limit, the dump layout and tracing from
// several host threads at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "zel_trace.h"

namespace {

// A stream that keeps everything written to it.
std::string g_out;
uint32_t capture_write(zel_stream_t *, const void *buffer, uint32_t size) {
    g_out.append(static_cast<const char *>(buffer), size);
    return size;
}
const zel_stream_op_t kCaptureOp = {
    .init = nullptr,
    .fini = nullptr,
    .write = capture_write,
    .read = nullptr,
    .buffer_size = nullptr,
    .data_length = nullptr,
    .free_length = nullptr,
    .get_wbuf = nullptr,
    .get_rbuf = nullptr,
    .readable_length = nullptr,
};

class Trace : public ::testing::Test {
protected:
    zel_stream_t stream{};
    void SetUp() override {
        stream.op = &kCaptureOp;
        EXPECT_EQ(0, zel_stream_init(&stream));
        zel_trace_init(&stream);
        g_out.clear();
    }
    void TearDown() override { zel_trace_init(nullptr); }
};

const std::string kRed = "\033[1;31m", kWhite = "\033[1;37m", kBlue = "\033[1;34m";

TEST_F(Trace, AttachingConnectsTheWriterAndSetsTheBackground) {
    zel_stream_t other{};
    other.op = &kCaptureOp;
    EXPECT_EQ(0, zel_stream_init(&other));
    g_out.clear();
    zel_trace_init(&other);
    EXPECT_TRUE(zel_stream_is_tx_connected(&other));
    EXPECT_EQ("\033[40m", g_out);
}

TEST_F(Trace, LevelsPrefixTheirColourAndAreClamped) {
    zel_trace(2, "start linux...\r\n");
    EXPECT_EQ(kWhite + "start linux...\r\n", g_out);
    g_out.clear();
    zel_trace(0, "plain %d", 7);
    EXPECT_EQ("plain 7", g_out);
    g_out.clear();
    zel_trace(9, "x");
    EXPECT_EQ(kBlue + "x", g_out);
    g_out.clear();
    zel_trace(-3, "y");
    EXPECT_EQ("y", g_out);
}

TEST_F(Trace, LongMessagesAreCutTo1023Characters) {
    std::string big(2000, 'q');
    zel_trace(1, "%s", big.c_str());
    EXPECT_EQ(kRed + std::string(1023, 'q'), g_out);
}

TEST_F(Trace, DumpWithCharacterColumnPadsTheLastLine) {
    const uint8_t data[] = {'A', 'B', 'C', 'D', 'E'};
    zel_trace_buffer(2, data, 5, ZEL_TRACE_GROUP(1) | ZEL_TRACE_PER_LINE(4) | ZEL_TRACE_CHARS);
    EXPECT_EQ(kWhite + "41 42 43 44  | ABCD" + "45           | E   ", g_out);
}

TEST_F(Trace, DumpWithoutCharacterColumnStopsAtTheData) {
    const uint8_t data[] = {'A', 'B', 'C', 'D', 'E'};
    zel_trace_buffer(0, data, 5, ZEL_TRACE_GROUP(1) | ZEL_TRACE_PER_LINE(4) | ZEL_TRACE_CRLF);
    EXPECT_EQ("41 42 43 44 \r\n45 \r\n", g_out);
    g_out.clear();
    zel_trace_buffer(0, data, 5, ZEL_TRACE_GROUP(2) | ZEL_TRACE_PER_LINE(4) | ZEL_TRACE_CRLF);
    EXPECT_EQ("4142 4344 45 \r\n", g_out);
}

TEST_F(Trace, DumpWithOffsetsAsTheExampleGivesIt) {
    uint8_t data[20] = {};
    data[16] = 0x41;
    data[17] = 0x42;
    data[18] = 0x0A;
    data[19] = 0x43;
    const uint32_t flags =
        ZEL_TRACE_GROUP(1) | ZEL_TRACE_PER_LINE(4) | ZEL_TRACE_OFFSET | ZEL_TRACE_CHARS | ZEL_TRACE_CRLF;
    zel_trace_buffer(4, data, 20, flags);
    const std::string last = kBlue + "00000010: 41 42 0A 43  | AB.C\r\n";
    ASSERT_GE(g_out.size(), last.size());
    EXPECT_EQ(last, g_out.substr(g_out.size() - last.size()));
    const std::string first = kBlue + kBlue + "00000000: 00 00 00 00  | ....\r\n";
    EXPECT_EQ(first, g_out.substr(0, first.size()));
}

TEST_F(Trace, DumpCharacterColumnAndOddFlags) {
    const uint8_t data[] = {0x7F, 0x80, 0x1F, 0x20};
    zel_trace_buffer(0, data, 4, ZEL_TRACE_GROUP(3) | ZEL_TRACE_PER_LINE(4) | ZEL_TRACE_CHARS);
    EXPECT_EQ(std::string("7F 80 1F 20  | \x7F.. "), g_out);  // width 3 behaves as 1

    g_out.clear();
    uint8_t run[20];
    for (int i = 0; i < 20; ++i) run[i] = uint8_t(i);
    zel_trace_buffer(0, run, 20, ZEL_TRACE_GROUP(4) | ZEL_TRACE_PER_LINE(17) | ZEL_TRACE_CRLF);  // 17: 16 groups
    EXPECT_EQ("00010203 04050607 08090A0B 0C0D0E0F 10111213 \r\n", g_out);

    g_out.clear();
    zel_trace_buffer(0, run, 20, ZEL_TRACE_GROUP(1) | ZEL_TRACE_PER_LINE(0));  // 0: 16 groups
    EXPECT_EQ("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 ", g_out);

    g_out.clear();
    zel_trace_buffer(3, run, 0, ZEL_TRACE_OFFSET);  // only the prefix
    EXPECT_EQ("\033[1;33m", g_out);
}

TEST_F(Trace, WidestLineFitsItsBuffer) {
    uint8_t data[64];
    for (int i = 0; i < 64; ++i) data[i] = uint8_t('a' + i % 26);
    zel_trace_buffer(0, data, 64, ZEL_TRACE_GROUP(4) | ZEL_TRACE_PER_LINE(16) | ZEL_TRACE_CHARS | ZEL_TRACE_CRLF);
    EXPECT_EQ(16u * 9u + 3u + 64u + 2u, g_out.size());
}

// Host threads trace outside the interrupt lock: every message must arrive
// whole, never mixed with another inside the shared format buffer.
TEST_F(Trace, HostThreadsNeverMixTheirMessages) {
    constexpr int kThreads = 4, kEach = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string body(size_t(20 + t * 37), char('a' + t));
            for (int i = 0; i < kEach; ++i) zel_trace(0, "<%d:%s>\n", t, body.c_str());
        });
    }
    for (auto &th : threads) th.join();
    int count[kThreads] = {};
    size_t pos = 0;
    while (pos < g_out.size()) {
        size_t end = g_out.find('\n', pos);
        ASSERT_NE(std::string::npos, end);
        std::string line = g_out.substr(pos, end - pos);
        ASSERT_GE(line.size(), 4u);
        int t = line[1] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ("<" + std::to_string(t) + ":" + std::string(size_t(20 + t * 37), char('a' + t)) + ">", line);
        count[t]++;
        pos = end + 1;
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kEach, count[t]);
}

}  // namespace
