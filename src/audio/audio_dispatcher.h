// Hands work from the audio thread to the thread that owns the audio objects
// (the user-interface thread in the program). The owner supplies it: the UI
// posts into its event loop; tests pump a queue; tools may call directly.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

namespace brenvo {

class IAudioDispatcher {
 public:
  virtual ~IAudioDispatcher() = default;
  // Called from any thread: runs `work` later on the owner's thread, in the
  // order of the calls. An exception that `work` throws is the owner's to
  // report (the program shows it in a message box) and ends only that item.
  // Post must never wait for the owner's thread: the stream's Close, run on
  // that thread, waits for the audio thread that posts.
  virtual void Post(const void* owner, std::function<void()> work) = 0;
  // Called on the owner's thread: drops every item that `owner` posted and
  // that has not run yet. An object calls it before it goes away.
  virtual void Cancel(const void* owner) = 0;
};

// Runs the work at once on the posting thread (the audio thread): for tools
// without an event loop. Exceptions go to `onError` (ignored when empty). A
// data handler run this way may Close its stream, but not Open it again.
class TDirectDispatcher : public IAudioDispatcher {
 public:
  explicit TDirectDispatcher(std::function<void(std::exception_ptr)> onError = {}) : OnError(std::move(onError)) {}
  void Post(const void*, std::function<void()> work) override {
    try {
      work();
    } catch (...) {
      if (OnError) OnError(std::current_exception());
    }
  }
  void Cancel(const void*) override {}

 private:
  std::function<void(std::exception_ptr)> OnError;
};

// A queue that the owner's thread empties by calling Pump: a message loop
// in miniature, for tests and headless use.
class TPumpDispatcher : public IAudioDispatcher {
 public:
  void Post(const void* owner, std::function<void()> work) override {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      Items.emplace_back(owner, std::move(work));
    }
    Cond.notify_all();
  }
  void Cancel(const void* owner) override {
    std::lock_guard<std::mutex> lock(Mutex);
    std::erase_if(Items, [owner](const auto& item) { return item.first == owner; });
  }
  // Runs the items queued now and those they queue, until none is left.
  // Returns how many ran. An item's exception propagates out of Pump after
  // that item; the others stay queued for the next call.
  std::size_t Pump() {
    std::size_t ran = 0;
    while (RunOne()) ++ran;
    return ran;
  }
  // Runs the oldest item, if any.
  bool RunOne() {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(Mutex);
      if (Items.empty()) return false;
      work = std::move(Items.front().second);
      Items.pop_front();
    }
    work();
    return true;
  }
  // Waits until an item is queued or the time is up; true when one is.
  bool WaitForItem(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Cond.wait_for(lock, timeout, [this] { return !Items.empty(); });
  }
  std::size_t Pending() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Items.size();
  }

 private:
  mutable std::mutex Mutex;
  std::condition_variable Cond;
  std::deque<std::pair<const void*, std::function<void()>>> Items;
};

}  // namespace brenvo
