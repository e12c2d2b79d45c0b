#include "receiver/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dsp/errors.h"

namespace brenvo {
namespace {

TEST(ThreadPool, EveryTaskRunsOnceWhateverTheThreadsAndTasks) {
  for (int32_t threads : {1, 2, 8}) {
    TThreadPool pool(threads);
    ASSERT_EQ(pool.Threads(), threads);
    for (int32_t count : {0, 1, 3, 8, 200}) {
      for (int job = 0; job < 20; ++job) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
        pool.Run(count, [&](int32_t i) { runs[static_cast<std::size_t>(i)].fetch_add(1); });
        for (int32_t i = 0; i < count; ++i)
          ASSERT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << threads << " threads, task " << i << " of " << count;
      }
    }
  }
  EXPECT_THROW(TThreadPool(0), ERangeError);
}

TEST(ThreadPool, AFailingTaskLetsTheOthersRunAndItsErrorComesBack) {
  for (int32_t threads : {1, 4}) {
    TThreadPool pool(threads);
    std::atomic<int> ran{0};
    EXPECT_THROW(pool.Run(50,
                          [&](int32_t i) {
                            ran.fetch_add(1);
                            if (i % 10 == 3) throw std::runtime_error("task failed");
                          }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 50);
    // The pool is whole afterwards.
    ran = 0;
    pool.Run(7, [&](int32_t) { ran.fetch_add(1); });
    EXPECT_EQ(ran.load(), 7);
  }
}

// Started, a job runs on the workers while the caller is busy elsewhere, on
// as few of them as need no more rounds than all would: 10 tasks on 7
// workers go to 5, 2 each.
TEST(ThreadPool, WhileTheCallerIsBusyTheFewestWorkersNeededRunTheJob) {
  TThreadPool pool(8);
  std::mutex mutex;
  std::set<std::thread::id> ranOn;
  std::atomic<int> started{0}, ran{0};
  const auto task = [&](int32_t) {
    // The first five tasks to start wait for each other, the others for all
    // ten: a worker woken late (a busy machine) still finds its own tasks,
    // none taken by one that finished early.
    const int need = started.fetch_add(1) < 5 ? 5 : 10;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (started.load() < need && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    {
      std::lock_guard<std::mutex> lock(mutex);
      ranOn.insert(std::this_thread::get_id());
    }
    ran.fetch_add(1);
  };
  pool.Start(10, task);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ran.load() < 10 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  EXPECT_EQ(ran.load(), 10);
  pool.Wait();
  EXPECT_EQ(ranOn.size(), 5u);
  EXPECT_EQ(ranOn.count(std::this_thread::get_id()), 0u);
}

}  // namespace
}  // namespace brenvo
