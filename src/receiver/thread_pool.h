// A fixed set of threads that runs the tasks 0 .. Count - 1 of one job at a
// time, the calling thread taking part; Run returns when every task is done.
// Tasks go out one at a time, in order, to whichever thread is free, so
// tasks of unequal length keep every thread busy. Nothing is allocated per
// job.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace brenvo {

class TThreadPool {
 public:
  // Threads that run a job, the caller's included: 1 .. 256 (ERangeError
  // otherwise); with 1 every task runs on the caller's thread.
  explicit TThreadPool(int32_t Threads);
  ~TThreadPool();
  TThreadPool(const TThreadPool&) = delete;
  TThreadPool& operator=(const TThreadPool&) = delete;

  int32_t Threads() const { return static_cast<int32_t>(FWorkers.size()) + 1; }

  // Task(i) for every i in 0 .. Count - 1, each once, on at most Count
  // threads. When tasks throw, the others still run and the first exception
  // caught is rethrown once all are done.
  template <class F>
  void Run(int32_t Count, F&& Task) {
    RunJob(Count, [](void* task, int32_t i) { (*static_cast<std::remove_reference_t<F>*>(task))(i); },
           &Task);
  }

 private:
  using TCall = void (*)(void* Task, int32_t Index);
  void RunJob(int32_t Count, TCall Call, void* Task);
  void Work(int32_t Worker);
  void Drain();

  std::vector<std::thread> FWorkers;
  std::mutex FMutex;
  std::condition_variable FStart;
  std::condition_variable FDone;
  // The job, written under FMutex before FJob counts up.
  uint64_t FJob = 0;
  bool FStop = false;
  int32_t FHelpers = 0;  // workers that take part in the job
  int32_t FBusy = 0;     // of them, those not yet finished
  TCall FCall = nullptr;
  void* FTask = nullptr;
  int32_t FCount = 0;
  std::atomic<int32_t> FNext{0};
  std::exception_ptr FError;
};

}  // namespace brenvo
