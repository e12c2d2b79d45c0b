#include "receiver/thread_pool.h"

#include <algorithm>
#include <utility>

#include "dsp/errors.h"

namespace brenvo {

TThreadPool::TThreadPool(int32_t threads) {
  if (threads < 1 || threads > 256) throw ERangeError();
  FWorkers.reserve(static_cast<std::size_t>(threads - 1));
  for (int32_t w = 0; w < threads - 1; ++w) FWorkers.emplace_back([this, w] { Work(w); });
}

TThreadPool::~TThreadPool() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FStart.notify_all();
  for (std::thread& t : FWorkers) t.join();
}

void TThreadPool::Drain() {
  for (int32_t i = FNext.fetch_add(1); i < FCount; i = FNext.fetch_add(1)) {
    try {
      FCall(FTask, i);
    } catch (...) {
      std::lock_guard<std::mutex> lock(FMutex);
      if (!FError) FError = std::current_exception();
    }
  }
}

void TThreadPool::Work(int32_t worker) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    FStart.wait(lock, [&] { return FStop || FJob != seen; });
    if (FStop) return;
    seen = FJob;
    if (worker >= FHelpers) continue;  // a job of few tasks
    lock.unlock();
    Drain();
    lock.lock();
    if (--FBusy == 0) FDone.notify_one();
  }
}

void TThreadPool::RunJob(int32_t count, TCall call, void* task) {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FCall = call;
    FTask = task;
    FCount = count;
    FNext.store(0);
    FError = nullptr;
    FHelpers = FBusy = std::min(static_cast<int32_t>(FWorkers.size()), count - 1);
    ++FJob;
  }
  if (FHelpers > 0) FStart.notify_all();
  Drain();
  std::unique_lock<std::mutex> lock(FMutex);
  FDone.wait(lock, [&] { return FBusy == 0; });
  if (FError) std::rethrow_exception(std::exchange(FError, nullptr));
}

}  // namespace brenvo
