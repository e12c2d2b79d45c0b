// Hands the capture thread's completed buffers to the user-interface thread:
// work items wait in a queue that a posted event empties in Qt's event loop,
// so the decoding road only ever runs on the thread that owns the widgets.
#pragma once

#include <QObject>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "audio/audio_dispatcher.h"

namespace brenvo {

class TQtAudioDispatcher final : public IAudioDispatcher {
 public:
  // Items run on the thread that creates the dispatcher. An item's exception
  // goes to OnError there and ends only that item; the same failure again
  // from the same owner before one of its items succeeds is not passed on, so
  // a source whose every block fails gives one message, not one per block.
  explicit TQtAudioDispatcher(std::function<void(std::exception_ptr)> OnError);
  ~TQtAudioDispatcher() override;
  TQtAudioDispatcher(const TQtAudioDispatcher&) = delete;
  TQtAudioDispatcher& operator=(const TQtAudioDispatcher&) = delete;

  void Post(const void* Owner, std::function<void()> Work) override;
  void Cancel(const void* Owner) override;
  std::size_t Pending() const;

 private:
  void Drain();
  void PostDrainLocked();

  std::function<void(std::exception_ptr)> FOnError;
  // Posted drains die with it: none can run after the dispatcher is gone.
  QObject FContext;
  mutable std::mutex FMutex;
  std::deque<std::pair<const void*, std::function<void()>>> FItems;
  bool FDrainPosted = false;
  // Owners whose latest item failed, with that failure's text (this
  // thread only).
  std::map<const void*, std::string> FFailing;
};

}  // namespace brenvo
