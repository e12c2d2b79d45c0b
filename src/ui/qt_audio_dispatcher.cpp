#include "ui/qt_audio_dispatcher.h"

#include <QMetaObject>

#include "ui/user_prompts.h"

namespace brenvo {

TQtAudioDispatcher::TQtAudioDispatcher(std::function<void(std::exception_ptr)> onError)
    : FOnError(std::move(onError)) {}

TQtAudioDispatcher::~TQtAudioDispatcher() = default;

void TQtAudioDispatcher::PostDrainLocked() {
  if (FDrainPosted) return;
  FDrainPosted = true;
  QMetaObject::invokeMethod(&FContext, [this] { Drain(); }, Qt::QueuedConnection);
}

void TQtAudioDispatcher::Post(const void* owner, std::function<void()> work) {
  std::lock_guard<std::mutex> lock(FMutex);
  FItems.emplace_back(owner, std::move(work));
  PostDrainLocked();
}

void TQtAudioDispatcher::Cancel(const void* owner) {
  // A later owner at the same address starts with a clean record.
  FFailing.erase(owner);
  std::lock_guard<std::mutex> lock(FMutex);
  std::erase_if(FItems, [owner](const auto& item) { return item.first == owner; });
}

std::size_t TQtAudioDispatcher::Pending() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FItems.size();
}

void TQtAudioDispatcher::Drain() {
  // Only the items queued now: a source faster than the road must not keep
  // the event loop from painting, closing or answering the user.
  std::size_t n;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FDrainPosted = false;
    n = FItems.size();
  }
  for (; n > 0; --n) {
    const void* owner;
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (FItems.empty()) break;
      owner = FItems.front().first;
      work = std::move(FItems.front().second);
      FItems.pop_front();
    }
    try {
      work();
      if (!FFailing.empty()) FFailing.erase(owner);
    } catch (...) {
      const std::exception_ptr e = std::current_exception();
      std::string text = ExceptionText(e);
      const auto [at, first] = FFailing.try_emplace(owner, text);
      if (!first && at->second == text) continue;
      at->second = std::move(text);
      if (FOnError) FOnError(e);
    }
  }
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FItems.empty()) PostDrainLocked();
}

}  // namespace brenvo
