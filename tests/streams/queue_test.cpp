// Queues: a full queue with a blocked sender, receivers woken from an
// interrupt, timeouts, cancel, and a freed slot that another sender takes.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "zel_kernel_internal.h"
#include "zel_queue.h"
#include "zel_test.h"
#include "zel_timer.h"

using zel_test::Agent;

namespace {

const int64_t kMs = 10000;

// A queue of ints in a small ring of its own.
struct IntQueue {
    zel_eda_queue_t q{};
    int items[8] = {};
    unsigned head = 0, tail = 0;
    static void put(zel_eda_queue_t *q, const void *item) {
        IntQueue *self = reinterpret_cast<IntQueue *>(q);
        self->items[self->tail++ % 8] = *static_cast<const int *>(item);
    }
    static void take(zel_eda_queue_t *q, void *item) {
        IntQueue *self = reinterpret_cast<IntQueue *>(q);
        *static_cast<int *>(item) = self->items[self->head++ % 8];
    }
    explicit IntQueue(uint16_t max) {
        q.enqueue = put;
        q.dequeue = take;
        zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_queue_init(&q, max)); });
    }
    bool sender_waits() { return q.sender.waiters.head != nullptr; }
};

static_assert(offsetof(IntQueue, q) == 0, "the queue heads its record");

// A framework thread on a host thread of its own, so that the test can act
// while it blocks.
struct Background {
    std::thread host;
    std::atomic<int> result{-1};
    zel_eda_t *agent = nullptr;
    template <class Fn>
    explicit Background(Fn fn) {
        host = std::thread([this, fn] {
            ASSERT_TRUE(zel_test::run_in_thread([&] {
                agent = zel_eda_get_cur();
                result = fn();
            }));
        });
    }
    ~Background() { host.join(); }
    bool done() { return result.load() != -1; }
};

int recv_now(IntQueue &iq) {
    int v = -1;
    zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_queue_recv(&iq.q, &v, 0)); });
    return v;
}

TEST(Queue, AFullQueueBlocksTheSenderUntilAReceive) {
    IntQueue iq(2);
    zel_test::run_in_agent([&] {
        int one = 1, two = 2, three = 3;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &one, 0));
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &two, 0));
        EXPECT_EQ(1, zel_eda_queue_send(&iq.q, &three, 0));  // full, not waiting
        EXPECT_EQ(2, zel_eda_queue_get_count(&iq.q));
    });
    EXPECT_FALSE(iq.sender_waits());

    Background sender([&] {
        int three = 3;
        return zel_thread_queue_send(&iq.q, &three, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return iq.sender_waits(); }));
    EXPECT_FALSE(sender.done());
    EXPECT_EQ(1, recv_now(iq));  // the first item; the freed slot wakes the sender
    ASSERT_TRUE(zel_test::wait_until([&] { return sender.done(); }));
    EXPECT_EQ(ZEL_SYNC_OBTAINED, sender.result.load());
    EXPECT_EQ(2, recv_now(iq));
    EXPECT_EQ(3, recv_now(iq));
}

TEST(Queue, InterruptSideSendWakesTheReceiverAndAnEmptyReceivePostsNothing) {
    IntQueue iq(2);
    Background receiver([&] {
        int v = 0;
        int r = zel_thread_queue_recv(&iq.q, &v, -1);
        return r == ZEL_SYNC_OBTAINED ? v : -2;
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_eda_queue_receiver(&iq.q) != nullptr; }));
    int item = 42, out = 0;
    zel_test::run_as_irq([&] {
        uint16_t used = zel_kernel_evt_node_pool()->used_count;
        EXPECT_EQ(1, zel_eda_queue_recv_isr(&iq.q, &out));
        EXPECT_EQ(used, zel_kernel_evt_node_pool()->used_count);  // no 269 posted
        EXPECT_EQ(0, zel_eda_queue_send_isr(&iq.q, &item));
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return receiver.done(); }));
    EXPECT_EQ(42, receiver.result.load());

    // An interrupt-side receive wakes a waiting sender the same way.
    zel_test::run_in_agent([&] {
        int a = 1, b = 2;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &a, 0));
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &b, 0));
    });
    Background sender([&] {
        int c = 3;
        return zel_thread_queue_send(&iq.q, &c, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return iq.sender_waits(); }));
    zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_eda_queue_recv_isr(&iq.q, &out)); });
    EXPECT_EQ(1, out);
    ASSERT_TRUE(zel_test::wait_until([&] { return sender.done(); }));
    EXPECT_EQ(ZEL_SYNC_OBTAINED, sender.result.load());
}

TEST(Queue, TimeoutsAndCancelEndTheWaits) {
    IntQueue iq(1);
    int r = -1;
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        int v;
        EXPECT_EQ(ZEL_SYNC_TIMEOUT, zel_thread_queue_recv(&iq.q, &v, 0));
        r = zel_thread_queue_recv(&iq.q, &v, 20 * kMs);
    }));
    EXPECT_EQ(ZEL_SYNC_TIMEOUT, r);
    EXPECT_EQ(nullptr, zel_eda_queue_receiver(&iq.q));

    Background receiver([&] {
        int v;
        return zel_thread_queue_recv(&iq.q, &v, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_eda_queue_receiver(&iq.q) != nullptr; }));
    zel_test::run_in_agent([&] { zel_eda_queue_cancel(&iq.q); });
    ASSERT_TRUE(zel_test::wait_until([&] { return receiver.done(); }));
    EXPECT_EQ(ZEL_SYNC_CANCELLED, receiver.result.load());

    zel_test::run_in_agent([&] {
        int one = 1;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &one, 0));
    });
    Background s1([&] {
        int v = 5;
        return zel_thread_queue_send(&iq.q, &v, -1);
    });
    Background s2([&] {
        int v = 6;
        return zel_thread_queue_send(&iq.q, &v, 20 * kMs);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return s2.done(); }));
    EXPECT_EQ(ZEL_SYNC_TIMEOUT, s2.result.load());
    zel_test::run_in_agent([&] { zel_eda_queue_cancel(&iq.q); });
    ASSERT_TRUE(zel_test::wait_until([&] { return s1.done(); }));
    EXPECT_EQ(ZEL_SYNC_CANCELLED, s1.result.load());
    EXPECT_FALSE(iq.sender_waits());
}

// A receive wakes the waiting sender, but another sender fills the freed slot
// before it runs: the woken sender must wait on, not report success.
TEST(Queue, AWokenSenderWhoseSlotWasTakenWaitsOn) {
    IntQueue iq(1);
    zel_test::run_in_agent([&] {
        int a = 1;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &a, 0));
    });
    Background sender([&] {
        int x = 10;
        return zel_thread_queue_send(&iq.q, &x, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return iq.sender_waits(); }));
    zel_test::run_in_agent([&] {
        int v = 0, y = 20;
        EXPECT_EQ(0, zel_eda_queue_recv(&iq.q, &v, 0));
        EXPECT_EQ(1, v);
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &y, 0));  // takes the slot first
    });
    zel_test::settle();
    ASSERT_TRUE(zel_test::wait_until([&] { return iq.sender_waits(); }));
    EXPECT_FALSE(sender.done());
    zel_test::run_as_irq([&] { EXPECT_EQ(1, zel_eda_queue_get_count(&iq.q)); });
    EXPECT_EQ(20, recv_now(iq));
    ASSERT_TRUE(zel_test::wait_until([&] { return sender.done(); }));
    EXPECT_EQ(ZEL_SYNC_OBTAINED, sender.result.load());
    EXPECT_EQ(10, recv_now(iq));
}

bool wake_marked(zel_eda_t *a) {
    bool marked = true;
    zel_test::run_as_irq([&] { marked = a->state & ZEL_EDA_ST_SYNC_WAKE; });
    return marked;
}

// Takes away the node a waiter holds for its wake, as if it waited without
// one; the caller gives it back with zel_evt_node_free.
zel_evt_node_t *strip_wake_node(zel_eda_t *a) {
    zel_evt_node_t *n = nullptr;
    zel_test::run_as_irq([&] {
        n = a->wake_node;
        a->wake_node = nullptr;
    });
    return n;
}

// A waiter took the node of its wake when it began to wait: a send or
// receive wakes the other side without allocating. Only the interrupt forms,
// which hand over to the timer task, still need a node of their own.
TEST(QueueWakeWithoutEventNodes, SendAndReceiveWakeTheOtherSideWithItsOwnNode) {
    IntQueue iq(1);
    Background receiver([&] {
        int v = 0;
        return zel_thread_queue_recv(&iq.q, &v, -1) == ZEL_SYNC_OBTAINED ? v : -2;
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_eda_queue_receiver(&iq.q) != nullptr; }));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::EventNodeDrought drought;
        int item = 7;
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_queue_send_isr(&iq.q, &item)) << "the timer task cannot be told";
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &item, 0));
        EXPECT_EQ(nullptr, zel_eda_queue_receiver(&iq.q));
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return receiver.done(); }));
    EXPECT_EQ(7, receiver.result.load());

    ASSERT_TRUE(zel_test::run_in_agent([&] {
        int one = 1;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &one, 0));
    }));
    Background sender([&] {
        int two = 2;
        return zel_thread_queue_send(&iq.q, &two, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return iq.sender_waits(); }));
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::EventNodeDrought drought;
        int v = 0;
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_queue_recv_isr(&iq.q, &v));
        EXPECT_EQ(0, zel_eda_queue_recv(&iq.q, &v, 0));
        EXPECT_EQ(1, v);
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return sender.done(); }));
    EXPECT_EQ(ZEL_SYNC_OBTAINED, sender.result.load());
    EXPECT_EQ(2, recv_now(iq));
}

// A send or receive that owes a wake to a waiter without its node, and finds
// none, moves nothing: the waiter keeps its place and gets the next wake.
TEST(QueueWakeWithoutEventNodes, SendAndReceiveThatOweAWakeMoveNothing) {
    IntQueue iq(1);
    Background receiver([&] {
        int v = 0;
        return zel_thread_queue_recv(&iq.q, &v, -1) == ZEL_SYNC_OBTAINED ? v : -2;
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_eda_queue_receiver(&iq.q) != nullptr; }));
    zel_evt_node_t *stripped = strip_wake_node(receiver.agent);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::EventNodeDrought drought;
        int item = 7;
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_queue_send(&iq.q, &item, 0));
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_thread_queue_send(&iq.q, &item, -1));
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_queue_send_isr(&iq.q, &item)) << "the timer task cannot be told";
        EXPECT_EQ(0, zel_eda_queue_get_count(&iq.q));
        EXPECT_EQ(receiver.agent, zel_eda_queue_receiver(&iq.q));
    }));
    EXPECT_FALSE(wake_marked(receiver.agent));
    EXPECT_FALSE(receiver.done());
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        int item = 8;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &item, 0));
    }));
    ASSERT_TRUE(zel_test::wait_until([&] { return receiver.done(); }));
    EXPECT_EQ(8, receiver.result.load());
    zel_test::run_as_irq([&] { zel_evt_node_free(stripped); });

    // a full queue with a waiting sender, the same way round
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        int one = 1;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &one, 0));
    }));
    Background sender([&] {
        int two = 2;
        return zel_thread_queue_send(&iq.q, &two, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return iq.sender_waits(); }));
    stripped = strip_wake_node(sender.agent);
    ASSERT_TRUE(zel_test::run_in_thread([&] {
        zel_test::EventNodeDrought drought;
        int v = 0;
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_queue_recv(&iq.q, &v, 0));
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_thread_queue_recv(&iq.q, &v, -1));
        EXPECT_EQ(ZEL_ERR_NO_MEMORY, zel_eda_queue_recv_isr(&iq.q, &v));
        EXPECT_EQ(0, v);
        EXPECT_EQ(1, zel_eda_queue_get_count(&iq.q));
        EXPECT_TRUE(iq.sender_waits());
    }));
    EXPECT_FALSE(wake_marked(sender.agent));
    EXPECT_FALSE(sender.done());
    EXPECT_EQ(1, recv_now(iq));
    ASSERT_TRUE(zel_test::wait_until([&] { return sender.done(); }));
    EXPECT_EQ(ZEL_SYNC_OBTAINED, sender.result.load());
    EXPECT_EQ(2, recv_now(iq));
    zel_test::run_as_irq([&] { zel_evt_node_free(stripped); });
}

// The receiver waits in the queue's own waiter list, so a wake from
// elsewhere (a 266) takes a node of its own and leaves the receiver's to
// the queue: a send during a shortage still wakes the receiver.
TEST(QueueWakeWithoutEventNodes, AWakeFromElsewhereLeavesTheReceiversNodeToTheQueue) {
    IntQueue iq(1);
    Background receiver([&] {
        int v = 0;
        return zel_thread_queue_recv(&iq.q, &v, -1) == ZEL_SYNC_OBTAINED ? v : -2;
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return zel_eda_queue_receiver(&iq.q) != nullptr; }));
    bool sent = false;
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        EXPECT_EQ(0, zel_eda_wake(receiver.agent, ZEL_EVT_WAKE));
        zel_test::EventNodeDrought drought;
        int item = 5;
        sent = zel_eda_queue_send(&iq.q, &item, 0) == 0;
    }));
    EXPECT_TRUE(sent) << "the receiver's node was spent by the other wake";
    if (!sent) {
        ASSERT_TRUE(zel_test::run_in_agent([&] {
            int item = 5;
            EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &item, 0));
        }));
    }
    ASSERT_TRUE(zel_test::wait_until([&] { return receiver.done(); }));
    EXPECT_EQ(5, receiver.result.load());
}

// An agent that waits on the queue with the agent calls; on `kGo` it sends
// (or receives) once; each wake's reason call runs without event nodes while
// `starve` is set.
struct QueueAgent {
    IntQueue &iq;
    bool sends;
    bool starve = false;
    int item = 0;
    std::vector<int> results;
    static constexpr zel_evt_t kGo = 300;
    Agent agent{[this](Agent &self, zel_evt_t evt) {
        if (!zel_eda_is_waiting(self.eda())) {
            if (evt != kGo) return;
            EXPECT_EQ(1, sends ? zel_eda_queue_send(&iq.q, &item, -1) : zel_eda_queue_recv(&iq.q, &item, -1));
            zel_eda_set_waiting(self.eda(), true);
            return;
        }
        // Starved: no node to be had, and the waiting other side holds none
        // for its wake either (as if it had been listed without one).
        std::unique_ptr<zel_test::EventNodeDrought> drought;
        zel_eda_t *other = nullptr;
        zel_evt_node_t *stripped = nullptr;
        if (starve) {
            zel_dlist_node_t *w = iq.q.sender.waiters.head;
            other = sends ? zel_eda_queue_receiver(&iq.q) : (w ? zel_eda_of_wait_node(w) : nullptr);
            if (other) {
                stripped = other->wake_node;
                other->wake_node = nullptr;
            }
            drought = std::make_unique<zel_test::EventNodeDrought>();
        }
        int r =
            sends ? zel_eda_queue_send_get_reason(&iq.q, evt, &item) : zel_eda_queue_recv_get_reason(&iq.q, evt, &item);
        drought.reset();
        if (stripped) {
            if (!other->wake_node)
                other->wake_node = stripped;
            else
                zel_evt_node_free(stripped);
        }
        if (r == ZEL_SYNC_KEEP_WAITING) return;
        zel_eda_set_waiting(self.eda(), false);
        results.push_back(r);
    }};
    QueueAgent(IntQueue &q, bool s, int i) : iq(q), sends(s), item(i) {
        zel_test::run_as_irq([&] {
            agent.start(0);
            EXPECT_EQ(0, zel_eda_post_evt(agent.eda(), kGo));
        });
        zel_test::settle();
    }
    ~QueueAgent() { EXPECT_TRUE(agent.finish()); }
};

// A woken waiter whose own wake of the other side finds no event node still
// moves its item (its wait was granted); the other side keeps its place.
TEST(QueueWakeWithoutEventNodes, AGrantedWaiterMovesItsItemAndTheOtherSideWaitsOn) {
    IntQueue iq(1);
    ASSERT_TRUE(zel_test::run_in_agent([&] {
        int one = 1;
        EXPECT_EQ(0, zel_eda_queue_send(&iq.q, &one, 0));
    }));
    QueueAgent sender(iq, true, 2);
    ASSERT_TRUE(iq.sender_waits());
    sender.starve = true;
    // takes 1 (waking the sender), then waits on the empty queue before the
    // sender runs: the sender's item comes with a wake that cannot be posted
    Background receiver([&] {
        int v = 0;
        if (zel_thread_queue_recv(&iq.q, &v, 0) != ZEL_SYNC_OBTAINED || v != 1) return -3;
        return zel_thread_queue_recv(&iq.q, &v, -1) == ZEL_SYNC_OBTAINED ? v : -2;
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return !sender.results.empty(); }));
    EXPECT_EQ((std::vector<int>{ZEL_SYNC_OBTAINED}), sender.results);
    zel_test::run_as_irq([&] {
        EXPECT_EQ(1, zel_eda_queue_get_count(&iq.q));
        EXPECT_EQ(receiver.agent, zel_eda_queue_receiver(&iq.q)) << "still the waiting receiver";
    });
    EXPECT_FALSE(wake_marked(receiver.agent));
    EXPECT_FALSE(receiver.done());
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_queue_wakeup(&iq.q, false)); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return receiver.done(); }));
    EXPECT_EQ(2, receiver.result.load());

    // the other way round: a woken receiver takes its item, the sender waits on
    QueueAgent taker(iq, false, 0);
    taker.starve = true;
    Background feeder([&] {
        int three = 3, four = 4;
        if (zel_thread_queue_send(&iq.q, &three, 0) != ZEL_SYNC_OBTAINED) return -3;
        return zel_thread_queue_send(&iq.q, &four, -1);
    });
    ASSERT_TRUE(zel_test::wait_until([&] { return !taker.results.empty(); }));
    EXPECT_EQ((std::vector<int>{ZEL_SYNC_OBTAINED}), taker.results);
    EXPECT_EQ(3, taker.item);
    zel_test::run_as_irq([&] {
        EXPECT_EQ(0, zel_eda_queue_get_count(&iq.q));
        EXPECT_TRUE(iq.sender_waits());
    });
    EXPECT_FALSE(wake_marked(feeder.agent));
    EXPECT_FALSE(feeder.done());
    ASSERT_TRUE(zel_test::run_in_agent([&] { EXPECT_EQ(0, zel_eda_queue_wakeup(&iq.q, true)); }));
    ASSERT_TRUE(zel_test::wait_until([&] { return feeder.done(); }));
    EXPECT_EQ(ZEL_SYNC_OBTAINED, feeder.result.load());
    EXPECT_EQ(4, recv_now(iq));
}

// The timer task keeps an interrupt's queue wake that found no event node and
// tries it again later, with the same queue.
TEST(QueueWakeWithoutEventNodes, TheTimerTaskTriesAFailedWakeAgain) {
    static std::atomic<int> calls{0};
    static std::atomic<void *> seen[2];
    calls = 0;
    zel_test::run_as_irq([] {
        zel_timer_set_task_hook(ZEL_EVT_QUEUE_TX, [](void *msg) -> int32_t {
            int n = calls++;
            if (n < 2) seen[n] = msg;
            return n == 0 ? ZEL_ERR_NO_MEMORY : 0;
        });
    });
    int token = 0;
    zel_test::run_as_irq([&] { EXPECT_EQ(0, zel_evtq_post_evt_msg(zel_timer_task(), ZEL_EVT_QUEUE_TX, &token)); });
    ASSERT_TRUE(zel_test::wait_until([] { return calls.load() >= 2; }));
    zel_test::settle();
    EXPECT_EQ(2, calls.load()) << "tried again once, until it went out";
    EXPECT_EQ(&token, seen[0].load());
    EXPECT_EQ(&token, seen[1].load());
    IntQueue restore(1);  // its init sets the queue's own hooks again
}

}  // namespace
