// Layer threads: joins, detaching, mutexes, errno, wait triggers, and waits
// that stray events must not end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "zel_host_test_hooks.h"
#include "zel_kernel_internal.h"
#include "zel_linux_pthread.h"
#include "zel_linux_test.h"

using zel_linux_test::run_process;

namespace {

uint64_t ms(uint32_t n) { return zel_systimer_ms_to_tick(n); }

void *return_arg(void *arg) { return arg; }

TEST(LinuxThread, JoinHandsOverTheValueOnce) {
    EXPECT_EQ(0, run_process([] {
        zel_linux_pthread_t tid;
        EXPECT_EQ(0, zel_linux_pthread_create(&tid, nullptr, return_arg, reinterpret_cast<void *>(5)));
        zel_thread_delay(ms(10));  // it has returned by now
        void *value = nullptr;
        EXPECT_EQ(0, zel_linux_pthread_join(tid, &value));
        EXPECT_EQ(reinterpret_cast<void *>(5), value);
        EXPECT_EQ(-1, zel_linux_pthread_join(tid, &value));

        // A join that has to wait.
        EXPECT_EQ(0, zel_linux_pthread_create(
                         &tid, nullptr,
                         [](void *) -> void * {
                             zel_thread_delay(zel_systimer_ms_to_tick(10));
                             zel_linux_pthread_exit(reinterpret_cast<void *>(9));
                         },
                         nullptr));
        EXPECT_EQ(0, zel_linux_pthread_join(tid, &value));
        EXPECT_EQ(reinterpret_cast<void *>(9), value);

        // Nobody joins itself or an unknown thread.
        EXPECT_EQ(-1, zel_linux_pthread_join(zel_linux_get_cur_thread()->tid, nullptr));
        EXPECT_EQ(-1, zel_linux_pthread_join(0xFFFFFFF0u, nullptr));
        return 0;
    }));
}

std::atomic<int> g_started;

void *count_start(void *) {
    ++g_started;
    return reinterpret_cast<void *>(3);
}

// A thread whose host thread cannot be created is refused with EAGAIN,
// joinable or detached, and nothing of it is left listed; the next one runs.
TEST(LinuxThread, AThreadTheHostCannotCreateIsRefusedWithNothingLeft) {
    zel_test::TraceCapture trace;
    g_started = 0;
    EXPECT_EQ(0, run_process([] {
        zel_linux_process_t *p = zel_linux_get_cur_process();
        for (uint32_t detach = 0; detach < 2; ++detach) {
            zel_linux_pthread_attr_t attr{{detach, 0, 0, 1, 0, 0, 0, 0}};
            zel_linux_pthread_t tid = 0;
            zel_host_fail_thread_creations(1);
            EXPECT_EQ(ZEL_LINUX_EAGAIN, zel_linux_pthread_create(&tid, &attr, count_start, nullptr));
            EXPECT_EQ(nullptr, zel_linux_get_thread(tid));
            EXPECT_EQ(-1, zel_linux_pthread_join(tid, nullptr));
            EXPECT_EQ(p->threads.head, p->threads.tail) << "only the main thread is listed";
            EXPECT_TRUE(zel_dlist_is_empty(&p->detached));
        }
        zel_linux_pthread_t tid = 0;
        IN_LAYER_CHECK(zel_linux_pthread_create(&tid, nullptr, count_start, nullptr) == 0);
        void *value = nullptr;
        EXPECT_EQ(0, zel_linux_pthread_join(tid, &value));
        EXPECT_EQ(reinterpret_cast<void *>(3), value);
        return 0;
    }));
    EXPECT_EQ(1, g_started.load());
    zel_host_fail_thread_creations(0);
}

TEST(LinuxThread, DetachedThreadsAreFreedWhenTheyEnd) {
    zel_test::TraceCapture trace;
    EXPECT_EQ(0, run_process([] {
        zel_linux_pthread_attr_t attr{{1, 0, 0, 1, 0, 0, 0, 10000}};  // odd stack size
        zel_linux_pthread_t a;
        EXPECT_EQ(0, zel_linux_pthread_create(&a, &attr, return_arg, nullptr));
        EXPECT_EQ(nullptr, zel_linux_get_thread(a));
        EXPECT_EQ(-1, zel_linux_pthread_join(a, nullptr));
        // Detached after it has ended: freed at once.
        zel_linux_pthread_t b;
        EXPECT_EQ(0, zel_linux_pthread_create(&b, nullptr, return_arg, nullptr));
        zel_thread_delay(ms(10));
        EXPECT_EQ(0, zel_linux_pthread_detach(b));
        EXPECT_EQ(nullptr, zel_linux_get_thread(b));
        return 0;
    }));
    EXPECT_FALSE(trace.contains("undetached thread"));
}

struct mutex_case {
    zel_linux_pthread_mutex_t mutex;
    std::string log;
};

TEST(LinuxThread, RecursiveMutexNeedsAsManyUnlocks) {
    static mutex_case c;
    c.log.clear();
    EXPECT_EQ(0, run_process([] {
        int type = ZEL_LINUX_PTHREAD_MUTEX_RECURSIVE;
        EXPECT_EQ(0, zel_linux_pthread_mutex_init(&c.mutex, &type));
        EXPECT_EQ(0, zel_linux_pthread_mutex_lock(&c.mutex));
        EXPECT_EQ(0, zel_linux_pthread_mutex_lock(&c.mutex));
        zel_linux_pthread_t other;
        zel_linux_pthread_create(
            &other, nullptr,
            [](void *) -> void * {
                zel_linux_pthread_mutex_lock(&c.mutex);
                c.log += "other ";
                zel_linux_pthread_mutex_unlock(&c.mutex);
                return nullptr;
            },
            nullptr);
        zel_thread_delay(ms(5));
        c.log += "unlock1 ";
        zel_linux_pthread_mutex_unlock(&c.mutex);
        zel_thread_delay(ms(5));
        c.log += "unlock2 ";
        zel_linux_pthread_mutex_unlock(&c.mutex);
        zel_linux_pthread_join(other, nullptr);
        zel_linux_pthread_mutex_destroy(&c.mutex);
        return 0;
    }));
    EXPECT_EQ("unlock1 unlock2 other ", c.log);
}

// Unlocking a mutex one does not hold, or destroying one that is held,
// is refused and hands the mutex to nobody.
TEST(LinuxThread, MutexMisuseIsRefusedAndGrantsNothing) {
    static mutex_case c;
    c.log.clear();
    EXPECT_EQ(0, run_process([] {
        auto err = [] { return std::exchange(*zel_linux_errno_ptr(), 0); };
        const zel_linux_mutex_t *rec = reinterpret_cast<const zel_linux_mutex_t *>(&c.mutex);
        EXPECT_EQ(0, zel_linux_pthread_mutex_init(&c.mutex, nullptr));
        EXPECT_EQ(-1, zel_linux_pthread_mutex_unlock(&c.mutex));
        EXPECT_EQ(ZEL_LINUX_EPERM, err()) << "nobody holds it";
        EXPECT_EQ(0, zel_linux_pthread_mutex_lock(&c.mutex));
        EXPECT_EQ(-1, zel_linux_pthread_mutex_destroy(&c.mutex));
        EXPECT_EQ(ZEL_LINUX_EBUSY, err()) << "held";

        zel_linux_pthread_t other;
        zel_linux_pthread_create(
            &other, nullptr,
            [](void *) -> void * {
                *zel_linux_errno_ptr() = 0;
                if (zel_linux_pthread_mutex_unlock(&c.mutex) == -1 && *zel_linux_errno_ptr() == ZEL_LINUX_EPERM)
                    c.log += "refused ";
                zel_linux_pthread_mutex_lock(&c.mutex);
                c.log += "other ";
                zel_linux_pthread_mutex_unlock(&c.mutex);
                return nullptr;
            },
            nullptr);
        for (int i = 0; i < 2000 && zel_dlist_is_empty(&rec->sync.waiters); ++i) zel_thread_delay(ms(1));
        EXPECT_FALSE(zel_dlist_is_empty(&rec->sync.waiters)) << "the other thread waits for the mutex";
        EXPECT_EQ(-1, zel_linux_pthread_mutex_destroy(&c.mutex));
        EXPECT_EQ(ZEL_LINUX_EBUSY, err()) << "with a waiter";
        zel_thread_yield();
        c.log += "main ";
        EXPECT_EQ(0, zel_linux_pthread_mutex_unlock(&c.mutex));
        zel_linux_pthread_join(other, nullptr);
        EXPECT_EQ(0, zel_linux_pthread_mutex_destroy(&c.mutex));
        return 0;
    }));
    EXPECT_EQ("refused main other ", c.log);
}

TEST(LinuxThread, StrayEventsDoNotEndWaits) {
    static mutex_case c;
    c.log.clear();
    EXPECT_EQ(0, run_process([] {
        zel_linux_thread_t *main_thread = zel_linux_get_cur_thread();
        // A pest posts 266 and 257-free noise to the main thread all the time.
        static std::atomic<bool> stop;
        stop = false;
        zel_linux_pthread_t pest;
        zel_linux_pthread_create(
            &pest, nullptr,
            [](void *arg) -> void * {
                auto *target = static_cast<zel_linux_thread_t *>(arg);
                while (!stop) {
                    // Noise only: a timed wait with an event queued already refuses it.
                    (void)zel_eda_post_evt(&target->thread.eda, ZEL_EVT_WAKE);

                    zel_thread_delay(zel_systimer_ms_to_tick(1));
                }
                return nullptr;
            },
            main_thread);

        // waitpid
        int pid = zel_linux_test::spawn([](int, char **) {
            zel_thread_delay(zel_systimer_ms_to_tick(30));
            return 4;
        });
        int status = 0;
        EXPECT_EQ(pid, zel_linux_waitpid(pid, &status, 0));
        EXPECT_EQ(0x400, status);

        // join
        zel_linux_pthread_t slow;
        zel_linux_pthread_create(
            &slow, nullptr,
            [](void *) -> void * {
                zel_thread_delay(zel_systimer_ms_to_tick(30));
                return reinterpret_cast<void *>(3);
            },
            nullptr);
        void *value = nullptr;
        EXPECT_EQ(0, zel_linux_pthread_join(slow, &value));
        EXPECT_EQ(reinterpret_cast<void *>(3), value);

        // a mutex held by another thread
        zel_linux_pthread_mutex_init(&c.mutex, nullptr);
        zel_linux_pthread_t holder;
        zel_linux_pthread_create(
            &holder, nullptr,
            [](void *) -> void * {
                zel_linux_pthread_mutex_lock(&c.mutex);
                zel_thread_delay(zel_systimer_ms_to_tick(30));
                c.log += "released ";
                zel_linux_pthread_mutex_unlock(&c.mutex);
                return nullptr;
            },
            nullptr);
        zel_thread_delay(ms(2));
        zel_linux_pthread_mutex_lock(&c.mutex);
        c.log += "taken ";
        zel_linux_pthread_mutex_unlock(&c.mutex);
        zel_linux_pthread_join(holder, nullptr);

        // a trigger wait with a timeout ends by its timeout, not by the noise
        zel_linux_trig_t trig;
        zel_linux_trig_init(&trig);
        EXPECT_EQ(1u, zel_linux_trig_wait(&trig, static_cast<int64_t>(ms(20))));

        stop = true;
        zel_linux_pthread_join(pest, nullptr);
        return 0;
    }));
    EXPECT_EQ("released taken ", c.log);
}

TEST(LinuxThread, ErrnoBelongsToEachThread) {
    EXPECT_EQ(0, run_process([] {
        *zel_linux_errno_ptr() = 7;
        zel_linux_pthread_t t;
        zel_linux_pthread_create(
            &t, nullptr,
            [](void *) -> void * {
                int mine = *zel_linux_errno_ptr();
                *zel_linux_errno_ptr() = 99;
                return reinterpret_cast<void *>(static_cast<intptr_t>(mine));
            },
            nullptr);
        void *seen = nullptr;
        zel_linux_pthread_join(t, &seen);
        EXPECT_EQ(nullptr, seen);
        EXPECT_EQ(7, *zel_linux_errno_ptr());
        return 0;
    }));
    // Outside any layer thread: one word shared by every such thread, apart
    // from any layer thread's.
    static int *layer_word;
    EXPECT_EQ(0, run_process([] {
        layer_word = zel_linux_errno_ptr();
        return 0;
    }));
    static int *outside[2];
    static int seen;
    ASSERT_TRUE(zel_test::run_in_thread([] {
        outside[0] = zel_linux_errno_ptr();
        *outside[0] = 42;
    }));
    ASSERT_TRUE(zel_test::run_in_thread([] {
        outside[1] = zel_linux_errno_ptr();
        seen = *outside[1];
    }));
    EXPECT_EQ(outside[0], outside[1]);
    EXPECT_EQ(42, seen);
    EXPECT_NE(layer_word, outside[0]);
}

TEST(LinuxThread, TriggersHandOverValuesAndTimeOut) {
    static zel_linux_trig_t trig;
    EXPECT_EQ(0, run_process([] {
        zel_linux_process_t *self = zel_linux_get_cur_process();
        // Nobody waits: a signal does nothing.
        zel_linux_trig_init(&trig);
        EXPECT_EQ(0, zel_linux_trig_signal(&trig, 3));
        EXPECT_EQ(1u, zel_linux_trig_wait(&trig, 0));

        auto signal_later = [](uintptr_t value) {
            zel_linux_pthread_t t;
            zel_linux_pthread_create(
                &t, nullptr,
                [](void *arg) -> void * {
                    zel_thread_delay(zel_systimer_ms_to_tick(5));
                    zel_linux_trig_signal(&trig, reinterpret_cast<uintptr_t>(arg));
                    return nullptr;
                },
                reinterpret_cast<void *>(value));
            zel_linux_pthread_detach(t);
        };
        zel_linux_trig_init(&trig);
        signal_later(0);
        *zel_linux_errno_ptr() = 0;
        EXPECT_EQ(0u, zel_linux_trig_wait(&trig, -1));
        EXPECT_EQ(0, *zel_linux_errno_ptr());

        zel_linux_trig_init(&trig);
        signal_later(6);
        EXPECT_EQ(6u, zel_linux_trig_wait(&trig, -1));
        EXPECT_EQ(ZEL_LINUX_EINTR, *zel_linux_errno_ptr());

        zel_linux_trig_init(&trig);
        EXPECT_EQ(1u, zel_linux_trig_wait(&trig, static_cast<int64_t>(ms(5))));
        EXPECT_TRUE(zel_dlist_is_empty(&self->wait_queue));
        EXPECT_EQ(nullptr, trig.process);
        return 0;
    }));
}

TEST(LinuxThread, InterruptSideSignalWakesTheWaiter) {
    static zel_linux_trig_t trig;
    static std::atomic<bool> waiting;
    waiting = false;
    std::atomic<uintptr_t> result{77};
    zel_linux_test::boot();
    std::thread waiter([&] {
        result = static_cast<uintptr_t>(run_process([] {
            zel_linux_trig_init(&trig);
            waiting = true;
            return static_cast<int>(zel_linux_trig_wait(&trig, -1));
        }));
    });
    ASSERT_TRUE(zel_test::wait_until([] { return waiting.load() && trig.process != nullptr; }));
    zel_test::run_as_irq([] { zel_linux_trig_signal(&trig, 0); });
    waiter.join();
    EXPECT_EQ(0u, result.load());
}

// An unlock during a shortage of event nodes hands the mutex to its waiter
// (the waiter took the node of its wake when it began to wait); a lock that
// cannot take that node does not wait and does not get the mutex.
TEST(LinuxThread, MutexUnlockDuringAShortageHandsTheMutexOn) {
    static mutex_case c;
    c.log.clear();
    EXPECT_EQ(0, run_process(
                     [] {
                         auto err = [] { return std::exchange(*zel_linux_errno_ptr(), 0); };
                         const zel_linux_mutex_t *rec = reinterpret_cast<const zel_linux_mutex_t *>(&c.mutex);
                         EXPECT_EQ(0, zel_linux_pthread_mutex_init(&c.mutex, nullptr));
                         EXPECT_EQ(0, zel_linux_pthread_mutex_lock(&c.mutex));
                         zel_linux_pthread_t other;
                         EXPECT_EQ(0, zel_linux_pthread_create(
                                          &other, nullptr,
                                          [](void *) -> void * {
                                              if (zel_linux_pthread_mutex_lock(&c.mutex) == 0) c.log += "other ";
                                              zel_linux_pthread_mutex_unlock(&c.mutex);
                                              return nullptr;
                                          },
                                          nullptr));
                         zel_thread_delay(ms(5));
                         EXPECT_FALSE(zel_dlist_is_empty(&rec->sync.waiters)) << "the other thread waits";
                         {
                             zel_test::EventNodeDrought drought;
                             EXPECT_EQ(0, zel_linux_pthread_mutex_unlock(&c.mutex));
                             EXPECT_NE(zel_eda_get_cur(), rec->sync.owner) << "handed on";
                         }
                         EXPECT_EQ(0, zel_linux_pthread_join(other, nullptr));
                         EXPECT_EQ(nullptr, rec->sync.owner);

                         // A lock that has to wait without the node of its wake.
                         EXPECT_EQ(0, zel_linux_pthread_create(
                                          &other, nullptr,
                                          [](void *) -> void * {
                                              zel_linux_pthread_mutex_lock(&c.mutex);
                                              zel_thread_delay(ms(10));
                                              zel_linux_pthread_mutex_unlock(&c.mutex);
                                              return nullptr;
                                          },
                                          nullptr));
                         zel_thread_delay(ms(2));
                         EXPECT_NE(nullptr, rec->sync.owner) << "the other thread holds it";
                         zel_eda_t *self = zel_eda_get_cur();
                         zel_evt_node_t *held = self->wake_node;
                         self->wake_node = nullptr;
                         {
                             zel_test::EventNodeDrought drought;
                             EXPECT_EQ(-1, zel_linux_pthread_mutex_lock(&c.mutex));
                             EXPECT_EQ(ZEL_LINUX_ENOMEM, err());
                             EXPECT_TRUE(zel_dlist_is_empty(&rec->sync.waiters)) << "not waiting";
                         }
                         self->wake_node = held;
                         EXPECT_EQ(0, zel_linux_pthread_mutex_lock(&c.mutex));
                         EXPECT_EQ(self, rec->sync.owner);
                         EXPECT_EQ(0, zel_linux_pthread_mutex_unlock(&c.mutex));
                         EXPECT_EQ(0, zel_linux_pthread_join(other, nullptr));
                         EXPECT_EQ(0, zel_linux_pthread_mutex_destroy(&c.mutex));
                         return 0;
                     },
                     std::chrono::milliseconds(5000)));
    EXPECT_EQ("other ", c.log);
}

// A signal from an emulated interrupt while no event node can be had still
// wakes the waiter: the wait reserved the node of the hand-over.
TEST(LinuxThread, InterruptSideSignalDuringAShortageWakesTheWaiter) {
    static zel_linux_trig_t trig;
    static std::atomic<bool> waiting, woke;
    waiting = false;
    woke = false;
    std::atomic<uintptr_t> result{77};
    zel_linux_test::boot();
    std::thread waiter([&] {
        result = static_cast<uintptr_t>(run_process([] {
            zel_linux_trig_init(&trig);
            waiting = true;
            const uintptr_t r = zel_linux_trig_wait(&trig, -1);
            woke = true;
            return static_cast<int>(r);
        }));
    });
    ASSERT_TRUE(zel_test::wait_until([] { return waiting.load() && trig.process != nullptr; }));
    static zel_test::EventNodeDrought *drought;
    zel_test::run_as_irq([] {
        drought = new zel_test::EventNodeDrought;
        EXPECT_EQ(0, zel_linux_trig_signal(&trig, 0));
    });
    const bool woken = zel_test::wait_until([] { return woke.load(); }, std::chrono::milliseconds(5000));
    zel_test::run_as_irq([] { delete drought; });
    if (!woken) {
        waiter.detach();  // waits for ever: the failure is reported, the thread left behind
        FAIL() << "the waiter was not woken";
    }
    waiter.join();
    EXPECT_EQ(0u, result.load());
    EXPECT_EQ(nullptr, trig.irq_node) << "the reserved node was spent";
}

// A trigger wait whose event nodes cannot be had registers nothing and looks
// again until they can; then it waits as usual and a signal wakes it.
TEST(LinuxThread, TriggerWaitLooksAgainUntilItsNodesCanBeHad) {
    static zel_linux_trig_t trig;
    static zel_test::EventNodeDrought *drought;
    static std::atomic<bool> waiting, woke;
    static std::atomic<zel_eda_t *> agent;
    waiting = false;
    woke = false;
    agent = nullptr;
    std::atomic<uintptr_t> result{77};
    zel_linux_test::boot();
    std::thread waiter([&] {
        result = static_cast<uintptr_t>(run_process([] {
            zel_linux_trig_init(&trig);
            agent = zel_eda_get_cur();
            drought = new zel_test::EventNodeDrought;
            waiting = true;
            const uintptr_t r = zel_linux_trig_wait(&trig, -1);
            woke = true;
            return static_cast<int>(r);
        }));
    });
    // It waits a millisecond to look again (its only timer), registered
    // nowhere; or, when nodes of other agents' events came back to the pool
    // meanwhile, it has looked again and registered with one of them.
    if (!zel_test::wait_until(
            [] { return waiting.load() && ((agent.load()->state & ZEL_EDA_ST_TIMER) || trig.process != nullptr); })) {
        waiter.detach();  // the failure is reported, the thread left behind
        FAIL() << "the wait neither looks again nor registered";
    }
    zel_test::run_as_irq([] {
        if (!trig.process) {
            EXPECT_EQ(nullptr, trig.irq_node) << "nothing reserved without its nodes";
        }
        EXPECT_FALSE(woke.load());
        delete drought;
    });
    const bool registered = zel_test::wait_until([] { return trig.process != nullptr; });
    if (registered) zel_test::run_as_irq([] { EXPECT_EQ(0, zel_linux_trig_signal(&trig, 0)); });
    const bool woken = zel_test::wait_until([] { return woke.load(); });
    if (!registered || !woken) {
        waiter.detach();  // waits for ever: the failure is reported, the thread left behind
        FAIL() << "the wait did not register once its nodes were back, or was not woken";
    }
    waiter.join();
    EXPECT_EQ(0u, result.load());
    EXPECT_EQ(nullptr, trig.irq_node) << "given back";
}

}  // namespace

// A thread's start is answered with the node its starter holds for its
// wake: a shortage of event nodes when the new thread first runs does not
// leave the starter waiting, neither then nor once nodes are back.
TEST(LinuxThread, AStartIsAnsweredDuringAShortageOfEventNodes) {
    static zel_test::EventNodeDrought *drought;
    static std::atomic<bool> in_shortage;
    static zel_test::Agent dry;
    static zel_linux_process_t *process;
    drought = nullptr;
    in_shortage = false;
    EXPECT_EQ(0, run_process([] {
        process = zel_linux_get_cur_process();
        // `dry` runs after the start and before the new thread's first run
        // (the order of the ready agents); the thread ends the shortage. It
        // takes the new thread's yield node, so that the node of the
        // thread's first event stays with the thread and none is free.
        dry.set_handler([](zel_test::Agent &, zel_evt_t evt) {
            if (evt != ZEL_EVT_WAKE) return;
            zel_eda_t *started = &ZEL_CONTAINER_OF(process->threads.tail, zel_linux_thread_t, node)->thread.eda;
            zel_evt_node_free(started->yield_node);
            started->yield_node = nullptr;
            drought = new zel_test::EventNodeDrought;
        });
        IN_LAYER_CHECK(dry.start() == 0);
        zel_thread_yield();  // it has taken its 257
        IN_LAYER_CHECK(zel_eda_post_evt(dry.eda(), ZEL_EVT_WAKE) == 0);
        zel_linux_pthread_t tid;
        EXPECT_EQ(0, zel_linux_pthread_create(
                         &tid, nullptr,
                         [](void *) -> void * {
                             in_shortage = drought != nullptr;
                             delete drought;
                             drought = nullptr;
                             return nullptr;
                         },
                         nullptr));
        EXPECT_EQ(0, zel_linux_pthread_join(tid, nullptr));
        return 0;
    }));
    EXPECT_TRUE(in_shortage.load()) << "the new thread first ran during the shortage";
    EXPECT_TRUE(dry.finish());  // not sooner: its finish would give nodes back
}

// A thread that keeps calling without ever waiting (non-blocking reads of an
// empty pipe, each answering EAGAIN) leaves its sibling, which sleeps a
// millisecond at a time, its turns: the sibling's rounds all complete while
// the busy thread still calls. A wall-clock bound only ends the busy loop
// should the sibling be starved.
TEST(LinuxThread, ASiblingGetsItsTurnsBesideAThreadThatKeepsCalling) {
    static std::atomic<bool> sibling_done;
    static std::atomic<long> busy_calls;
    sibling_done = false;
    busy_calls = 0;
    EXPECT_EQ(0, run_process([] {
        static int fds[2];
        IN_LAYER_CHECK(zel_linux_pipe(fds) == 0);
        zel_linux_fcntl(fds[0], ZEL_LINUX_F_SETFL, ZEL_LINUX_O_NONBLOCK);
        zel_linux_pthread_t busy, sibling;
        IN_LAYER_CHECK(
            zel_linux_pthread_create(
                &busy, nullptr,
                [](void *) -> void * {
                    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(15);
                    char c;
                    while (!sibling_done.load() && std::chrono::steady_clock::now() < give_up) {
                        if (zel_linux_read(fds[0], &c, 1) != -1 || *zel_linux_errno_ptr() != ZEL_LINUX_EAGAIN)
                            return reinterpret_cast<void *>(1);
                        ++busy_calls;
                    }
                    return reinterpret_cast<void *>(sibling_done.load() ? 0 : 2);
                },
                nullptr) == 0);
        IN_LAYER_CHECK(zel_linux_pthread_create(
                           &sibling, nullptr,
                           [](void *) -> void * {
                               for (int round = 0; round < 50; ++round) zel_linux_poll(nullptr, 0, 1);
                               sibling_done = true;
                               return nullptr;
                           },
                           nullptr) == 0);
        void *busy_result = nullptr;
        EXPECT_EQ(0, zel_linux_pthread_join(sibling, nullptr));
        EXPECT_EQ(0, zel_linux_pthread_join(busy, &busy_result));
        EXPECT_EQ(nullptr, busy_result) << "1: a read did not answer EAGAIN; 2: the sibling was starved";
        zel_linux_close(fds[0]);
        zel_linux_close(fds[1]);
        return 0;
    }));
    EXPECT_TRUE(sibling_done.load());
    EXPECT_GT(busy_calls.load(), 0);
}
