#include "receiver/thread_pool.h"

#include <chrono>
#include <utility>

#include "dsp/errors.h"

namespace brenvo {

namespace {

constexpr int32_t kMaxCount = 0xFFFF;
// How long an idle worker stays awake: longer than the gap between the jobs
// of a decoding run, short enough that a pool nobody uses soon sleeps.
constexpr std::chrono::microseconds kSpin{50};

uint64_t ShareWord(uint32_t job, int32_t count, int32_t taken) {
  return uint64_t{job} << 32 | static_cast<uint64_t>(count) << 16 | static_cast<uint64_t>(taken);
}
uint32_t JobOf(uint64_t w) { return static_cast<uint32_t>(w >> 32); }
int32_t CountOf(uint64_t w) { return static_cast<int32_t>(w >> 16 & 0xFFFF); }
int32_t TakenOf(uint64_t w) { return static_cast<int32_t>(w & 0xFFFF); }

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

TThreadPool::TDeal TThreadPool::Deal(int32_t threads, int32_t count) {
  // The workers are 1 .. Threads - 1, or the caller alone when there are none.
  const int32_t first = threads > 1 ? 1 : 0;
  const int32_t rounds = (count + (threads - first) - 1) / (threads - first);
  return {first, rounds > 0 ? (count + rounds - 1) / rounds : 0, rounds};
}

template <class F>
void TThreadPool::TWakeWord::Await(F&& ready) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (;;) {
    for (int i = 0; i < 32; ++i) {
      if (ready()) return;
      Pause();
    }
    if (std::chrono::steady_clock::now() > until) break;
  }
  // A change made after this store sees it and wakes the sleeper; one made
  // before it is seen by the test below.
  Sleeping.store(true);
  for (uint32_t v = Value.load(); !ready(); v = Value.load()) Value.wait(v);
  Sleeping.store(false, std::memory_order_relaxed);
}

TThreadPool::TThreadPool(int32_t threads) : FThreads(threads) {
  if (threads < 1 || threads > 256) throw ERangeError();
  FShares = std::make_unique<TShare[]>(static_cast<std::size_t>(threads));
  FWorkers.reserve(static_cast<std::size_t>(threads - 1));
  for (int32_t w = 1; w < threads; ++w) FWorkers.emplace_back([this, w] { Work(w); });
}

TThreadPool::~TThreadPool() {
  FStop.store(true);
  for (int32_t w = 1; w < FThreads; ++w) {
    TWakeWord& job = FShares[static_cast<std::size_t>(w)].Job;
    job.Value.fetch_add(1);
    job.Wake();
  }
  for (std::thread& t : FWorkers) t.join();
}

void TThreadPool::StartJob(int32_t count, TCall call, void* task) {
  BRENVO_ASSERT(!FStarted);
  if (count > kMaxCount) throw ERangeError();
  FCount = count < 0 ? 0 : count;
  FStarted = true;
  if (FCount == 0) return;
  FCall.store(call, std::memory_order_relaxed);
  FTask.store(task, std::memory_order_relaxed);
  FDone.Value.store(0, std::memory_order_relaxed);
  ++FJob;
  const TDeal deal = Deal(FThreads, FCount);
  for (int32_t t = deal.First; t < deal.First + deal.Workers; ++t) {
    TShare& s = FShares[static_cast<std::size_t>(t)];
    s.Word.store(ShareWord(FJob, FCount, 0), std::memory_order_release);
    if (t == 0) continue;
    s.Job.Value.store(FJob);
    s.Job.Wake();
  }
}

void TThreadPool::Wait() {
  BRENVO_ASSERT(FStarted);
  FStarted = false;
  if (FCount == 0) return;
  Take(0, FJob);
  FDone.Await([&] { return FDone.Value.load(std::memory_order_acquire) == static_cast<uint32_t>(FCount); });
  if (FError) std::rethrow_exception(std::exchange(FError, nullptr));
}

void TThreadPool::Work(int32_t self) {
  TWakeWord& job = FShares[static_cast<std::size_t>(self)].Job;
  uint32_t seen = 0;
  for (;;) {
    job.Await([&] { return job.Value.load(std::memory_order_acquire) != seen; });
    // Stop is read after the number it came with: the destructor's last
    // change, made after Stop, then either is that number or wakes us again.
    seen = job.Value.load(std::memory_order_acquire);
    if (FStop.load()) return;
    Take(self, seen);
  }
}

int32_t TThreadPool::Claim(int32_t owner, uint32_t job, int32_t& count) {
  std::atomic<uint64_t>& word = FShares[static_cast<std::size_t>(owner)].Word;
  uint64_t w = word.load(std::memory_order_acquire);
  for (;;) {
    if (JobOf(w) != job) return -1;
    count = CountOf(w);
    const TDeal deal = Deal(FThreads, count);
    if (owner < deal.First || owner >= deal.First + deal.Workers) return -1;
    const int32_t i = owner - deal.First + TakenOf(w) * deal.Workers;
    if (i >= count) return -1;
    if (word.compare_exchange_weak(w, w + 1, std::memory_order_acq_rel, std::memory_order_acquire)) return i;
  }
}

void TThreadPool::Take(int32_t self, uint32_t job) {
  for (int32_t k = 0; k < FThreads; ++k) {
    const int32_t owner = (self + k) % FThreads;
    int32_t count = 0;
    for (int32_t i = Claim(owner, job, count); i >= 0; i = Claim(owner, job, count)) {
      // A task claimed keeps its job from finishing, so the job's call and
      // task are still the ones written before its shares.
      try {
        FCall.load(std::memory_order_relaxed)(FTask.load(std::memory_order_relaxed), i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(FErrorMutex);
        if (!FError) FError = std::current_exception();
      }
      if (FDone.Value.fetch_add(1) + 1 == static_cast<uint32_t>(count)) FDone.Wake();
    }
  }
}

}  // namespace brenvo
