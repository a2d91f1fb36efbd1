// Serial ports over pseudo-terminals: the host layer, the COM driver's
// transfers, hang-up, cancels, and the configuration it derives.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zel_host_serial.h"
#include "zel_host_test_hooks.h"
#include "zel_test.h"
#include "zel_usart_com.h"

namespace {

// A pseudo-terminal pair: the driver opens the slave, the test plays the
// device on the master.
struct Pty {
    int master = -1, slave = -1;
    std::string path;
    Pty() {
        char name[128];
        EXPECT_EQ(0, openpty(&master, &slave, name, nullptr, nullptr));
        path = name;
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        close(slave);  // only the driver keeps the slave open
        slave = -1;
    }
    ~Pty() { hang_up(); }
    void hang_up() {
        if (master >= 0) close(master);
        master = -1;
    }
    void send(const std::string &s) { ASSERT_EQ(ssize_t(s.size()), write(master, s.data(), s.size())); }
    std::string receive(size_t n) {
        std::string out;
        while (out.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            char buf[256];
            ssize_t r = read(master, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) break;
            out.append(buf, size_t(r));
        }
        return out;
    }
};

// What the driver's handler heard, in order.
struct Heard {
    std::mutex m;
    std::vector<uint32_t> bits;
    static void handler(uintptr_t param, zel_usart_t *, uint32_t bits) {
        Heard *h = reinterpret_cast<Heard *>(param);
        std::lock_guard<std::mutex> lock(h->m);
        h->bits.push_back(bits);
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(m);
        return bits.size();
    }
    uint32_t last() {
        std::lock_guard<std::mutex> lock(m);
        return bits.empty() ? 0 : bits.back();
    }
    bool wait_for(size_t n) {
        return zel_test::wait_until([&] { return count() >= n; });
    }
};

zel_usart_cfg_t config(Heard *heard, uint32_t mode = 0) {
    zel_usart_cfg_t cfg{};
    cfg.mode = mode;
    cfg.baud = 115200;
    cfg.rx_timeout_chars = 4;
    cfg.handler = heard ? Heard::handler : nullptr;
    cfg.param = reinterpret_cast<uintptr_t>(heard);
    return cfg;
}

zel_usart_t *port(int i) { return &zel_usart_com[i].usart; }
const zel_usart_op_t *ops() { return &zel_usart_com_op; }

// Kernel-context call of one driver operation.
template <class Fn>
auto framework(Fn fn) {
    decltype(fn()) r{};
    EXPECT_TRUE(zel_test::run_in_thread([&] { r = fn(); }));
    return r;
}

// Opens instance 0 on a fresh pty mapped to COM 3, with `mask` and enabled.
void open_port0(Pty &pty, Heard *heard, uint32_t mask) {
    ASSERT_EQ(0, zel_host_serial_map(3, pty.path.c_str()));
    zel_usart_cfg_t cfg = config(heard);
    ASSERT_EQ(0, framework([&] { return ops()->init(port(0), &cfg); }));
    EXPECT_EQ(3, zel_usart_com_scanned(0));
    framework([&] {
        zel_usart_irq_enable(port(0), mask);
        return zel_usart_enable(port(0));
    });
}

TEST(HostSerial, PortsOpenExclusivelyAndMapByNumber) {
    Pty pty;
    EXPECT_EQ(-1, zel_host_serial_map(0, "/dev/null"));
    EXPECT_EQ(-1, zel_host_serial_map(255, "/dev/null"));
    EXPECT_EQ(ZEL_HOST_SERIAL_ABSENT, zel_host_serial_probe(200));
    ASSERT_EQ(0, zel_host_serial_map(200, pty.path.c_str()));
    EXPECT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_probe(200));
    zel_host_serial_t a{}, b{};
    ASSERT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_open(&a, 200));
    EXPECT_EQ(ZEL_HOST_SERIAL_BUSY, zel_host_serial_open(&b, 200));
    EXPECT_EQ(ZEL_HOST_SERIAL_BUSY, zel_host_serial_probe(200));
    EXPECT_FALSE(zel_host_serial_is_open(&b));

    // Settings reach the terminal; nine data bits and odd speeds do not exist.
    zel_host_serial_cfg_t line{9600, 8, 2, 1, 1, 0};
    ASSERT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_configure(&a, &line));
    int fd = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    termios t;
    ASSERT_EQ(0, tcgetattr(fd, &t));
    close(fd);
    EXPECT_EQ(B9600, cfgetospeed(&t));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    line.data_bits = 9;
    EXPECT_EQ(ZEL_HOST_SERIAL_ERROR, zel_host_serial_configure(&a, &line));
    line.data_bits = 8;
    line.baud = 12345;
    EXPECT_EQ(ZEL_HOST_SERIAL_ERROR, zel_host_serial_configure(&a, &line));

    zel_host_serial_close(&a);
    EXPECT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_probe(200));
    EXPECT_EQ(ZEL_HOST_SERIAL_NO_STATE, zel_host_serial_configure(&a, &line));
    EXPECT_EQ(0, zel_host_serial_map(200, nullptr));
    EXPECT_EQ(ZEL_HOST_SERIAL_ABSENT, zel_host_serial_probe(200));
}

TEST(HostSerial, ReadsTimeOutCancelAndFailOnClose) {
    Pty pty;
    ASSERT_EQ(0, zel_host_serial_map(201, pty.path.c_str()));
    zel_host_serial_t p{};
    ASSERT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_open(&p, 201));
    uint8_t buf[64];
    uint32_t done = 99;

    // The total timeout ends a read with what has arrived.
    ASSERT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_set_timeouts(&p, 0, 1, 1));
    pty.send("abc");
    EXPECT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_read(&p, buf, 20, &done));
    EXPECT_EQ(3u, done);
    EXPECT_EQ(0, memcmp(buf, "abc", 3));
    EXPECT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_read(&p, buf, 5, &done));
    EXPECT_EQ(0u, done);

    // With no timeouts a read waits until cancelled or closed.
    ASSERT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_set_timeouts(&p, 0, 0, 0));
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        zel_host_serial_cancel(&p, true);
    });
    EXPECT_EQ(ZEL_HOST_SERIAL_CANCELLED, zel_host_serial_read(&p, buf, 5, &done));
    canceller.join();
    std::atomic<int> r{1};
    std::thread reader([&] { r = zel_host_serial_read(&p, buf, 5, &done); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    zel_host_serial_close(&p);
    reader.join();
    EXPECT_EQ(ZEL_HOST_SERIAL_ERROR, r.load());
    EXPECT_EQ(ZEL_HOST_SERIAL_ERROR, zel_host_serial_read(&p, buf, 5, &done));

    // A hang-up of the other end fails the transfer.
    ASSERT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_open(&p, 201));
    pty.hang_up();
    EXPECT_EQ(ZEL_HOST_SERIAL_ERROR, zel_host_serial_read(&p, buf, 5, &done));
    EXPECT_EQ(ZEL_HOST_SERIAL_ERROR, zel_host_serial_write(&p, "x", 1, &done));
    zel_host_serial_close(&p);
    EXPECT_EQ(0, zel_host_serial_map(201, nullptr));
}

TEST(ComDriver, ConfigurationFromTheMode) {
    zel_usart_cfg_t cfg{};
    cfg.baud = 9600;
    EXPECT_EQ(0u, zel_usart_com_rx_interval_ms(&cfg));
    cfg.rx_timeout_chars = 4;
    EXPECT_EQ(4u, zel_usart_com_rx_interval_ms(&cfg));  // 4 x 10 x 1000 / 9600
    cfg.mode = ZEL_USART_MODE_9BITS | ZEL_USART_MODE_2STOP;
    cfg.rx_timeout_chars = 100;
    EXPECT_EQ(125u, zel_usart_com_rx_interval_ms(&cfg));  // 100 x 12 x 1000 / 9600
    cfg.baud = 0;
    EXPECT_EQ(0u, zel_usart_com_rx_interval_ms(&cfg));

    zel_host_serial_cfg_t line;
    cfg.mode = 0x0300;
    zel_usart_com_line(&cfg, &line);
    EXPECT_EQ(1, line.cts_flow);
    EXPECT_EQ(1, line.rts_flow);
    EXPECT_EQ(1, line.odd_parity);
    EXPECT_EQ(8, line.data_bits);
    EXPECT_EQ(1, line.stop_bits);
    cfg.mode = 0x0100;
    zel_usart_com_line(&cfg, &line);
    EXPECT_EQ(0, line.cts_flow);
    EXPECT_EQ(1, line.rts_flow);
    EXPECT_EQ(0, line.odd_parity);
    cfg.mode = 0x0400 | ZEL_USART_MODE_2STOP;
    zel_usart_com_line(&cfg, &line);
    EXPECT_EQ(1, line.odd_parity);
    EXPECT_EQ(0, line.cts_flow);
    EXPECT_EQ(2, line.stop_bits);
}

TEST(ComDriver, ReceivesAndSendsWithCompletionHandlers) {
    Pty pty;
    Heard heard;
    open_port0(pty, &heard, ZEL_USART_IRQ_RX_DONE | ZEL_USART_IRQ_TX_DONE);
    EXPECT_EQ(0u, framework([&] { return ops()->status(port(0)); }));

    char buf[16] = {};
    EXPECT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 5); }));
    EXPECT_EQ(ZEL_USART_ERR_BUSY, framework([&] { return ops()->request_rx(port(0), buf, 5); }));
    EXPECT_EQ(1u, framework([&] { return ops()->status(port(0)); }));
    pty.send("hel");
    pty.send("lo");
    ASSERT_TRUE(heard.wait_for(1));
    EXPECT_EQ(ZEL_USART_IRQ_RX_DONE, heard.last());
    EXPECT_EQ(std::string("hello"), std::string(buf, 5));
    EXPECT_EQ(5u, framework([&] { return ops()->get_rx_count(port(0)); }));

    EXPECT_EQ(0, framework([&] { return zel_usart_request_tx(port(0), "world", 5); }));
    EXPECT_EQ("world", pty.receive(5));
    ASSERT_TRUE(heard.wait_for(2));
    EXPECT_EQ(ZEL_USART_IRQ_TX_DONE, heard.last());
    EXPECT_EQ(5u, framework([&] { return ops()->get_tx_count(port(0)); }));

    // A disabled port takes no requests.
    framework([&] { return zel_usart_disable(port(0)); });
    EXPECT_EQ(ZEL_USART_ERR_DISABLED, framework([&] { return ops()->request_rx(port(0), buf, 1); }));
    EXPECT_EQ(0u, framework([&] { return zel_usart_rxfifo_get_data_count(port(0)); }));
}

TEST(ComDriver, AHangUpReportsThePortGone) {
    Pty pty;
    Heard heard;
    open_port0(pty, &heard, ZEL_USART_IRQ_RX_DONE | ZEL_USART_IRQ_RX_ERROR);
    char buf[8];
    ASSERT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 8); }));
    pty.hang_up();
    ASSERT_TRUE(heard.wait_for(1));
    EXPECT_EQ(ZEL_USART_IRQ_GONE, heard.last());
    EXPECT_EQ(1u, framework([&] { return ops()->status(port(0)); }));  // not open
    EXPECT_EQ(ZEL_USART_ERR_DISABLED, framework([&] { return ops()->request_rx(port(0), buf, 8); }));
    EXPECT_EQ(0, framework([&] { return ops()->cancel_rx(port(0)); }));
    EXPECT_EQ(ZEL_USART_ERR_DISABLED, framework([&] { return ops()->cancel_tx(port(0)); }));

    // Without the error bit the failure is traced and the port stays usable.
    Pty again;
    open_port0(again, nullptr, 0);
    zel_test::TraceCapture trace;
    ASSERT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 8); }));
    again.hang_up();
    ASSERT_TRUE(zel_test::wait_until([&] { return ops()->status(port(0)) == 0; }));
    EXPECT_TRUE(trace.contains("error with read!"));
}

// A cancel stops the receive and leaves the port ready for the next request;
// it never hangs, whether the receive is idle or completing at that moment.
TEST(ComDriver, CancelThenANewRequest) {
    Pty pty;
    Heard heard;
    open_port0(pty, &heard, ZEL_USART_IRQ_RX_DONE);
    char buf[16];
    ASSERT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 10); }));
    EXPECT_EQ(0, framework([&] { return ops()->cancel_rx(port(0)); }));
    EXPECT_EQ(0u, framework([&] { return ops()->status(port(0)); }));
    EXPECT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 3); }));
    pty.send("xyz");
    ASSERT_TRUE(heard.wait_for(1));
    EXPECT_EQ(0, memcmp(buf, "xyz", 3));

    // The completion of that receive must not answer the cancel of the next.
    ASSERT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 10); }));
    EXPECT_EQ(0, framework([&] { return ops()->cancel_rx(port(0)); }));
    EXPECT_EQ(0u, framework([&] { return ops()->status(port(0)); }));

    // A receive that completes while the framework is busy wants the
    // interrupt lock for its handler; a cancel made meanwhile must not wait
    // for that handler.
    pty.send("done");
    int32_t can = -1;
    ASSERT_TRUE(zel_test::run_in_thread(
        [&] {
            ASSERT_EQ(0, ops()->request_rx(port(0), buf, 4));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // holds the lock
            can = ops()->cancel_rx(port(0));
        },
        std::chrono::milliseconds(5000)));
    EXPECT_EQ(0, can);
    EXPECT_EQ(0, memcmp(buf, "done", 4));
    ASSERT_TRUE(heard.wait_for(2));

    // Cancels racing with completions.
    for (int i = 0; i < 100; ++i) {
        pty.send("abcd");
        int32_t req = -1, can = -1;
        ASSERT_TRUE(zel_test::run_in_thread(
            [&] {
                req = ops()->request_rx(port(0), buf, 4);
                can = ops()->cancel_rx(port(0));
            },
            std::chrono::milliseconds(5000)));
        ASSERT_EQ(0, req) << "round " << i;
        ASSERT_EQ(0, can);
        // Whatever the cancel left unread is dropped for the next round.
        tcflush(pty.master, TCIOFLUSH);
        EXPECT_EQ(ZEL_HOST_SERIAL_OK, zel_host_serial_purge(&zel_usart_com[0].port));
    }

    // A send cancel with nothing in progress returns at once.
    EXPECT_EQ(0, framework([&] { return ops()->cancel_tx(port(0)); }));
}

// Whether `thread` has asked for the interrupt lock (and may be waiting for
// it) since the log's sequence number `since`.
bool asked_for_the_lock(const zel_host_thread_t *thread, uint32_t since) {
    zel_host_irq_log_t log[64];
    size_t n = zel_host_irq_log_read(log, 64);
    for (size_t i = 0; i < n; ++i)
        if (log[i].kind == 1 && log[i].context == thread && int32_t(log[i].seq - since) >= 0) return true;
    return false;
}

// The previous transfer of a direction has completed and its handler waits
// for the interrupt lock, which the framework holds; the framework makes a
// new request of that direction and cancels it. The cancel must not wait for
// the thread that is stuck behind the lock: the request is withdrawn, and the
// port goes on as before once the lock is free.
TEST(ComDriver, ACancelNeverWaitsForTheHandlerOfThePreviousTransfer) {
    Pty pty;
    Heard heard;
    open_port0(pty, &heard, ZEL_USART_IRQ_RX_DONE | ZEL_USART_IRQ_TX_DONE);
    zel_usart_com_t *c = &zel_usart_com[0];
    char buf[8] = {};
    for (bool rx : {true, false}) {
        SCOPED_TRACE(rx ? "receive" : "send");
        const size_t heard_before = heard.count();
        int32_t first = -1, second = -1, can = -1;
        bool stuck = false;
        ASSERT_TRUE(zel_test::run_in_thread(
            [&] {
                const uint32_t since = zel_host_irq_log_seq();
                const zel_host_thread_t *thread = rx ? &c->rx_thread : &c->tx_thread;
                if (rx) {
                    first = ops()->request_rx(port(0), buf, 4);
                    pty.send("abcd");
                } else {
                    first = ops()->request_tx(port(0), "ab", 2);
                    EXPECT_EQ("ab", pty.receive(2));
                }
                for (int i = 0; i < 2000 && !(stuck = asked_for_the_lock(thread, since)); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (!stuck) return;
                second = rx ? ops()->request_rx(port(0), buf + 4, 4) : ops()->request_tx(port(0), "cd", 2);
                can = rx ? ops()->cancel_rx(port(0)) : ops()->cancel_tx(port(0));
            },
            std::chrono::milliseconds(10000)));
        ASSERT_TRUE(stuck) << "the completion never asked for the interrupt lock";
        EXPECT_EQ(0, first);
        EXPECT_EQ(0, second);
        EXPECT_EQ(0, can);
        ASSERT_TRUE(heard.wait_for(heard_before + 1));
        EXPECT_EQ(rx ? ZEL_USART_IRQ_RX_DONE : ZEL_USART_IRQ_TX_DONE, heard.last());
        ASSERT_TRUE(zel_test::wait_until([&] { return ops()->status(port(0)) == 0; }));

        // The withdrawn request moved nothing; the next one runs as usual.
        if (rx) {
            EXPECT_EQ(0, memcmp(buf, "abcd", 4));
            EXPECT_EQ(0, framework([&] { return ops()->request_rx(port(0), buf, 4); }));
            pty.send("wxyz");
            ASSERT_TRUE(heard.wait_for(heard_before + 2));
            EXPECT_EQ(0, memcmp(buf, "wxyz", 4));
        } else {
            EXPECT_EQ(0, framework([&] { return ops()->request_tx(port(0), "ef", 2); }));
            EXPECT_EQ("ef", pty.receive(2));
            ASSERT_TRUE(heard.wait_for(heard_before + 2));
        }
    }
}

TEST(ComDriver, InitFailuresAreTracedAndReported) {
    zel_test::TraceCapture trace;
    zel_usart_cfg_t cfg = config(nullptr);
    EXPECT_EQ(ZEL_USART_ERR_FAILED, framework([&] { return ops()->init(port(7), &cfg); }));  // no 8th port
    EXPECT_TRUE(trace.contains("initialization failed!This hardware thread will be terminated!\n"));
    EXPECT_EQ(1u, framework([&] { return ops()->status(port(7)); }));
    EXPECT_EQ(0, framework([&] { return ops()->cancel_rx(port(7)); }));  // never opened

    Pty pty;
    ASSERT_EQ(0, zel_host_serial_map(3, pty.path.c_str()));
    cfg.mode = ZEL_USART_MODE_9BITS;
    EXPECT_EQ(ZEL_USART_ERR_FAILED, framework([&] { return ops()->init(port(0), &cfg); }));
    EXPECT_TRUE(trace.contains("cannot set CommState " + pty.path + "--zel_usart0\n"));
    EXPECT_EQ(1u, framework([&] { return ops()->status(port(0)); }));
    cfg.mode = 0;
    EXPECT_EQ(0, framework([&] { return ops()->init(port(0), &cfg); }));
}

}  // namespace
