#include "ui/qt_audio_dispatcher.h"

#include <QMetaObject>

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
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (FItems.empty()) break;
      work = std::move(FItems.front().second);
      FItems.pop_front();
    }
    try {
      work();
    } catch (...) {
      if (FOnError) FOnError(std::current_exception());
    }
  }
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FItems.empty()) PostDrainLocked();
}

}  // namespace brenvo
