#include "receiver/thread_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
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
// workers go to 5, 2 each; 200 to 7, 29 rounds (not 6 for 34). Task i goes
// to the worker of task i % workers, job after job.
TEST(ThreadPool, WhileTheCallerIsBusyTheFewestWorkersNeededRunTheJob) {
  TThreadPool pool(8);
  for (const auto& [count, workers, rounds] : {std::tuple(10, 5, 2), std::tuple(200, 7, 29)}) {
    std::vector<std::thread::id> first;
    for (int job = 0; job < 2; ++job) {
      std::vector<std::thread::id> ranOn(static_cast<std::size_t>(count));
      std::atomic<int> started{0}, ran{0};
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      const auto task = [&](int32_t i) {
        // Each round's tasks wait for each other: a worker woken late (a busy
        // machine) still finds its own tasks, none taken by one that finished
        // early, until the last round.
        const int need = std::min(count, (started.fetch_add(1) / workers + 1) * workers);
        while (started.load() < need && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        ranOn[static_cast<std::size_t>(i)] = std::this_thread::get_id();
        ran.fetch_add(1);
      };
      pool.Start(count, task);
      while (ran.load() < count && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      EXPECT_EQ(ran.load(), count);
      pool.Wait();
      EXPECT_EQ(std::set<std::thread::id>(ranOn.begin(), ranOn.end()).size(), static_cast<std::size_t>(workers)) << count;
      EXPECT_EQ(std::count(ranOn.begin(), ranOn.end(), std::this_thread::get_id()), 0) << count;
      for (int i = 0; i < (rounds - 1) * workers; ++i)
        EXPECT_EQ(ranOn[static_cast<std::size_t>(i)], (job == 0 ? ranOn : first)[static_cast<std::size_t>(i % workers)])
            << count << " tasks, task " << i << ", job " << job;
      first = ranOn;
    }
  }
}

// The deal in numbers, for the decoding road's jobs (the caller keeps no
// task while there are workers) and at the ends of the ranges.
TEST(ThreadPool, DealsToTheFewestWorkersThatNeedNoMoreRounds) {
  struct Case {
    int32_t threads, count, first, workers, rounds;
  };
  const Case cases[] = {{8, 200, 1, 7, 29}, {8, 13, 1, 7, 2},  {8, 10, 1, 5, 2},     {8, 8, 1, 4, 2},
                        {8, 7, 1, 7, 1},    {8, 1, 1, 1, 1},   {8, 0, 1, 0, 0},      {2, 5, 1, 1, 5},
                        {1, 200, 0, 1, 200}, {256, 256, 1, 128, 2}, {256, 65535, 1, 255, 257}};
  for (const Case& c : cases) {
    const TThreadPool::TDeal d = TThreadPool::Deal(c.threads, c.count);
    EXPECT_EQ(std::tuple(d.First, d.Workers, d.Rounds), std::tuple(c.first, c.workers, c.rounds))
        << c.count << " tasks on " << c.threads << " threads";
  }
}

// What the README promises of --jobs: 1 to 256 threads.
TEST(ThreadPool, OneTo256Threads) {
  EXPECT_THROW(TThreadPool(0), ERangeError);
  EXPECT_THROW(TThreadPool(257), ERangeError);
  for (int32_t threads : {1, 256}) {
    TThreadPool pool(threads);
    std::atomic<int> ran{0};
    pool.Run(1000, [&](int32_t) { ran.fetch_add(1); });
    EXPECT_EQ(ran.load(), 1000) << threads;
  }
}

}  // namespace
}  // namespace brenvo
