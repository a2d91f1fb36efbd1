// The serial terminal class over a port that the test drives, and the HTTP
// file handler.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "shell_harness.h"
#include "zel_linux_bind.h"
#include "zel_linux_dev_http.h"
#include "zel_linux_dev_term.h"
#include "zel_linux_libc.h"

namespace {

// A serial port: what it is configured with, what it sends, what it has
// received.
struct FakePort {
    zel_usart_t usart;
    zel_usart_cfg_t cfg{};
    int inits = 0;
    bool enabled = false;
    bool refuse_enable = false;
    uint32_t irq_mask = 0;
    std::string sent;
    std::string fifo;
    std::atomic<bool> sending{false};

    static FakePort &of(zel_usart_t *u) { return *reinterpret_cast<FakePort *>(u); }
    static int32_t init(zel_usart_t *u, const zel_usart_cfg_t *cfg) {
        of(u).cfg = *cfg;
        of(u).inits++;
        return 0;
    }
    static int32_t enable(zel_usart_t *u) {
        if (of(u).refuse_enable) return ZEL_USART_ERR_FAILED;
        return of(u).enabled = true, 0;
    }
    static int32_t disable(zel_usart_t *u) { return of(u).enabled = false, 0; }
    static void irq_enable(zel_usart_t *u, uint32_t m) { of(u).irq_mask |= m; }
    static void irq_disable(zel_usart_t *u, uint32_t m) { of(u).irq_mask &= ~m; }
    static uint32_t count(zel_usart_t *u) { return static_cast<uint32_t>(of(u).fifo.size()); }
    static uint32_t fifo_read(zel_usart_t *u, void *buf, uint32_t n) {
        std::string &f = of(u).fifo;
        n = n < f.size() ? n : static_cast<uint32_t>(f.size());
        memcpy(buf, f.data(), n);
        f.erase(0, n);
        return n;
    }
    static int32_t tx(zel_usart_t *u, const void *buf, uint32_t n) {
        of(u).sent.append(static_cast<const char *>(buf), n);
        of(u).sending = true;
        return 0;
    }
    FakePort() {
        static const zel_usart_op_t op = {
            .init = init,
            .enable = enable,
            .disable = disable,
            .reserved3 = nullptr,
            .irq_enable = irq_enable,
            .irq_disable = irq_disable,
            .status = nullptr,
            .rxfifo_get_data_count = count,
            .rxfifo_read = fifo_read,
            .reserved9 = nullptr,
            .reserved10 = nullptr,
            .request_rx = nullptr,
            .request_tx = tx,
            .cancel_rx = nullptr,
            .cancel_tx = nullptr,
            .get_rx_count = nullptr,
            .get_tx_count = nullptr,
        };
        usart.op = &op;
    }
    // The port's interrupt, as its host thread raises it.
    void interrupt(uint32_t bits) {
        zel_test::run_as_irq([&] { cfg.handler(cfg.param, &usart, bits); });
    }
};

TEST(DevSerialTerminal, AppliesAttributesAndMovesBytes) {
    static FakePort port;
    zel_test::TraceCapture trace;
    std::thread wire([] {
        // Completes the transmission the terminal starts, then delivers input.
        while (!port.sending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        port.interrupt(ZEL_USART_IRQ_TX_DONE);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        zel_test::run_as_irq([] { port.fifo = "abc"; });
        port.interrupt(ZEL_USART_IRQ_RX_DONE);
    });
    shell::expect_ok([] {
        if (zel_linux_fs_bind_target("/dev/ttyT0", &port.usart, &zel_linux_term_op, nullptr, nullptr, 3, 0) != 0)
            return 1;
        int fd = zel_linux_open("/dev/ttyT0", ZEL_LINUX_O_RDWR);
        if (fd < 0 || port.inits != 1 || port.cfg.baud != 115200 || port.cfg.mode != 0x2000) return 2;
        if (!port.enabled || !(port.irq_mask & ZEL_USART_IRQ_RX_DONE)) return 3;
        zel_linux_termios t{};
        if (zel_linux_tcgetattr(fd, &t) != 0 || t.c_ospeed != 0x11) return 4;
        // Speed code 19 lies past the table: refused, nothing applied.
        t.c_ispeed = t.c_ospeed = 19;
        zel_linux_tcsetattr(fd, 0, &t);
        t.c_ispeed = 13;
        t.c_ospeed = 12;
        zel_linux_tcsetattr(fd, 0, &t);
        if (port.inits != 1) return 5;
        t.c_ispeed = t.c_ospeed = 13;
        t.c_cflag = 0x20 | 0x40 | 0x100 | 0x200;  // 7 bits, two stop bits, odd parity
        zel_linux_tcsetattr(fd, 0, &t);
        if (port.inits != 2 || port.cfg.baud != 9600 || port.cfg.mode != (0x8000 | 0x600)) return 6;
        if (zel_linux_write(fd, "hello", 5) != 5 || port.sent != "hello") return 7;
        char buf[8] = {};
        if (zel_linux_read(fd, buf, sizeof buf) != 3 || std::string(buf) != "abc") return 8;
        if (zel_linux_fcntl(fd, ZEL_LINUX_F_SETFL, ZEL_LINUX_O_RDWR | ZEL_LINUX_O_NONBLOCK) != 0) return 9;
        if (zel_linux_read(fd, buf, sizeof buf) != 0) return 10;
        zel_linux_close(fd);
        return port.enabled ? 11 : 0;
    });
    wire.join();
    EXPECT_TRUE(trace.contains("term: baudrate does not supported"));
    EXPECT_TRUE(trace.contains("term: doesnot support different input/output speed"));
    EXPECT_EQ(0u, zel_linux_term_baud(19));
    EXPECT_EQ(0u, zel_linux_term_baud(0));
    EXPECT_EQ(50u, zel_linux_term_baud(1));
    EXPECT_EQ(230400u, zel_linux_term_baud(18));
    EXPECT_EQ(0x800u | 0x400, zel_linux_term_mode(0x100 | 0x40));
}

// A port that refuses to be enabled: the terminal does not open, and its
// receive interrupt stays off.
TEST(DevSerialTerminal, APortThatCannotBeEnabledDoesNotOpen) {
    static FakePort port;
    port.refuse_enable = true;
    shell::expect_ok([] {
        if (zel_linux_fs_bind_target("/dev/ttyT1", &port.usart, &zel_linux_term_op, nullptr, nullptr, 3, 0) != 0)
            return 1;
        if (zel_linux_open("/dev/ttyT1", ZEL_LINUX_O_RDWR) != -1 || *zel_linux_errno_ptr() != ZEL_LINUX_EIO) return 2;
        if (port.inits != 1 || port.enabled || (port.irq_mask & ZEL_USART_IRQ_RX_DONE)) return 3;
        return 0;
    });
}

TEST(DevHttpFiles, ServesAFileOrItsDirectorysIndex) {
    shell::expect_ok([] {
        EXPECT_EQ(0, zel_linux_mkdir_by_open("/www/empty", 0));
        zel_linux_fd *f = zel_linux_fopen("/www/index.html", "w");
        std::string page(3000, 'p');
        zel_linux_fwrite(page.data(), 1, page.size(), f);
        zel_linux_fclose(f);
        return 0;
    });
    static zel_http_file_req_t req;
    int opened = -1;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        req = {};
        req.root = "/www";
        req.path = "/nothing";
        EXPECT_EQ(-7, zel_http_file_handler.ops->open(&req));
        EXPECT_EQ(404, req.status);
        req.path = "/empty";
        EXPECT_EQ(-7, zel_http_file_handler.ops->open(&req));
        req.path = "/";
        opened = zel_http_file_handler.ops->open(&req);
        if (opened == 0) {
            zel_stream_connect_rx(&req.response.stream);
            zel_http_file_handler.ops->respond(&req);
        }
    }));
    ASSERT_EQ(0, opened);
    EXPECT_EQ(200, req.status);
    EXPECT_EQ(3000u, req.size);
    std::string got;
    ASSERT_TRUE(zel_test::wait_until([&] {
        char buf[512];
        while (uint32_t n = zel_stream_read(&req.response.stream, buf, sizeof buf)) got.append(buf, n);
        return got.size() >= 3000 && !req.responding;
    }));
    EXPECT_EQ(std::string(3000, 'p'), got);
    EXPECT_EQ(0, req.result);
    ASSERT_TRUE(zel_test::run_in_thread([] { zel_http_file_handler.ops->close(&req); }));
    EXPECT_EQ(200, zel_http_file_status[0].code);
    EXPECT_STREQ("Not Implemented", zel_http_file_status[3].text);
}

}  // namespace
