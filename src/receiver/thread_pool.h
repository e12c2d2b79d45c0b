// A fixed set of threads that runs the tasks 0 .. Count - 1 of one job at a
// time. The tasks are dealt to as few worker threads as finish them in the
// same number of rounds (10 tasks on 7 workers: 5 workers, 2 each), task i
// always to the same one while the count stays, so a caller that gives the
// same work the same index from job to job keeps its data in one core's
// caches, and the workers a job does not need stay asleep. A thread that has
// run its own tasks takes those that others have not yet started, the
// caller's included, so tasks of unequal length still keep every thread
// busy. Between jobs the workers spin for a while before they sleep: jobs
// that come every few tens of microseconds find them awake rather than
// waiting for the system to wake them. Nothing is allocated per job.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
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

  int32_t Threads() const { return FThreads; }

  // Task(i) for every i in 0 .. Count - 1, each once (Count at most 65535,
  // ERangeError otherwise). When tasks throw, the others still run and the
  // first exception caught is rethrown once all are done.
  template <class F>
  void Run(int32_t Count, F&& Task) {
    Start(Count, Task);
    Wait();
  }
  // Run in two halves: Start hands the job to the workers and returns at
  // once, so that the caller can do other work meanwhile; Wait takes part
  // in what is left and returns when every task is done. Task must live
  // until then; Start twice without Wait is an "Assertion failure".
  template <class F>
  void Start(int32_t Count, F& Task) {
    StartJob(Count, [](void* task, int32_t i) { (*static_cast<F*>(task))(i); },
             const_cast<void*>(static_cast<const void*>(&Task)));
  }
  void Wait();

  // How a job of Count tasks is dealt: to the threads First .. First +
  // Workers - 1 (the workers; the caller alone when there are none), task i
  // to thread First + i % Workers, so at most Rounds tasks to each.
  struct TDeal {
    int32_t First;
    int32_t Workers;
    int32_t Rounds;
  };
  static TDeal Deal(int32_t Threads, int32_t Count);

 private:
  using TCall = void (*)(void* Task, int32_t Index);
  // A number one thread waits on and others change; the system is called
  // only to wake the waiter from sleep.
  struct TWakeWord {
    std::atomic<uint32_t> Value{0};
    std::atomic<bool> Sleeping{false};
    // Spins for a while, then sleeps, until Ready() (which reads Value).
    template <class F>
    void Await(F&& Ready);
    void Wake() {
      if (Sleeping.load()) Value.notify_all();
    }
  };
  // A thread's share of a job. Word: the job's number, its task count and
  // how many of the thread's tasks were taken, in one word, so that a thread
  // still looking at an older job takes nothing of a newer one. Job: the
  // number of the latest job the thread has tasks in.
  struct alignas(64) TShare {
    std::atomic<uint64_t> Word{0};
    TWakeWord Job;
  };

  void StartJob(int32_t Count, TCall Call, void* Task);
  void Work(int32_t Self);
  // Runs the tasks of job Job that are left: Self's own first, then the others'.
  void Take(int32_t Self, uint32_t Job);
  // A task of Owner's not yet taken in job Job (and the job's task count),
  // or -1.
  int32_t Claim(int32_t Owner, uint32_t Job, int32_t& Count);

  const int32_t FThreads;
  // Thread 0 is the caller; it has no tasks of its own.
  std::unique_ptr<TShare[]> FShares;
  std::vector<std::thread> FWorkers;
  uint32_t FJob = 0;  // the latest job's number
  // The job, written before the shares.
  std::atomic<TCall> FCall{nullptr};
  std::atomic<void*> FTask{nullptr};
  // Tasks of the current job finished; the caller waits on it.
  alignas(64) TWakeWord FDone;
  std::atomic<bool> FStop{false};
  int32_t FCount = 0;
  bool FStarted = false;
  std::mutex FErrorMutex;
  std::exception_ptr FError;
};

}  // namespace brenvo
