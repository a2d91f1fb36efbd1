// The task scheduler: periods, priorities, repeat counts and tasks that change the list
// while it runs.
#include <vector>

#include "lvgl_test_env.h"

namespace lvgl_test {
namespace {

class Tasks : public LvglTest {
protected:
    static void count(lv_task_t *t) { (*static_cast<int *>(t->user_data))++; }
};

TEST_F(Tasks, RunWhenTheirPeriodHasElapsed) {
    int runs = 0;
    lv_task_create(count, 100, LV_TASK_PRIO_MID, &runs);
    run_for(90);
    EXPECT_EQ(runs, 0);
    run_for(20);
    EXPECT_EQ(runs, 1);
    run_for(200);
    EXPECT_EQ(runs, 3);
}

TEST_F(Tasks, ReadyRunsAtTheNextPassAndRepeatCountOneRunsOnce) {
    int runs = 0;
    lv_task_t *t = lv_task_create(count, 3000, LV_TASK_PRIO_MID, &runs);
    lv_task_set_repeat_count(t, 1);
    lv_task_ready(t);
    lv_task_handler();
    EXPECT_EQ(runs, 1);
    // It is gone: nothing runs it again.
    run_for(7000);
    EXPECT_EQ(runs, 1);
}

TEST_F(Tasks, ATaskThatSetsItsCountToZeroIsDeletedAfterTheRun) {
    static int runs;
    runs = 0;
    lv_task_create(
        [](lv_task_t *t) {
            if (++runs == 2) lv_task_set_repeat_count(t, 0);
        },
        10, LV_TASK_PRIO_MID, nullptr);
    run_for(200);
    EXPECT_EQ(runs, 2);
}

TEST_F(Tasks, TasksMayDeleteThemselvesAndOthersWhileTheHandlerRuns) {
    static std::vector<int> order;
    static lv_task_t *victim;
    order.clear();
    // The newest task of a priority runs first.
    victim = lv_task_create([](lv_task_t *) { order.push_back(3); }, 0, LV_TASK_PRIO_MID, nullptr);
    lv_task_create(
        [](lv_task_t *t) {
            order.push_back(2);
            lv_task_del(t);
        },
        0, LV_TASK_PRIO_MID, nullptr);
    lv_task_create(
        [](lv_task_t *) {
            order.push_back(1);
            lv_task_del(victim);
            lv_task_create(
                [](lv_task_t *t) {
                    order.push_back(4);
                    lv_task_del(t);
                },
                0, LV_TASK_PRIO_LOW, nullptr);
        },
        0, LV_TASK_PRIO_HIGH, nullptr);
    lv_task_handler();
    // Every task still there ran once in the pass, the new one included.
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4}));
}

TEST_F(Tasks, TheHandlerIsNotEnteredTwice) {
    static int inner_runs;
    static int outer_runs;
    inner_runs = 0;
    outer_runs = 0;
    lv_task_create(
        [](lv_task_t *) {
            outer_runs++;
            lv_task_handler();
        },
        0, LV_TASK_PRIO_MID, nullptr);
    lv_task_create([](lv_task_t *) { inner_runs++; }, 0, LV_TASK_PRIO_LOW, nullptr);
    lv_task_handler();
    EXPECT_EQ(outer_runs, 1);
    EXPECT_EQ(inner_runs, 1);
}

}  // namespace
}  // namespace lvgl_test
