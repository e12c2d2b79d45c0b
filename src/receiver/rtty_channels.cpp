#include "receiver/rtty_channels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>

#include "dsp/errors.h"

namespace brenvo {

// ---------------------------------------------------------------- channel

TRttyChannel::TRttyChannel(int32_t markBin, int32_t spaceBin, int64_t id)
    : Rx(markBin, spaceBin), FMarkBin(Rx.Afc.BinM), FId(id) {}

void TRttyChannel::SpectraArrived(std::span<const std::span<const float>> spectra) {
  Rx.SpectraArrived(spectra);
  FMarkBin = Rx.Afc.BinM;
}

void TRttyChannel::PeaksArrived(std::span<int32_t> peaks) {
  const int32_t binM = Rx.Afc.BinM, binS = Rx.Afc.BinS;
  const long long n = static_cast<long long>(peaks.size());
  auto cell = [&](int32_t i) -> int32_t& {
    CheckIndex(i, n);
    return peaks[static_cast<std::size_t>(i)];
  };
  bool active = false;
  for (int32_t d = -1; d <= 1; ++d)
    if (cell(binM + d) != kPeakNone || cell(binS + d) != kPeakNone) active = true;

  if (active) {
    NoActivityAge = 0;
    FState = csActive;
  } else {
    ++NoActivityAge;
    const double age = static_cast<double>(NoActivityAge);
    if (age > DeadTimeOut * kPeakMapsPerSecond)
      MarkAsDead();
    else if (age > InactiveTimeOut * kPeakMapsPerSecond)
      FState = csInactive;
  }

  const int32_t c = std::max(binM, binS);
  for (int32_t i = c - 2; i <= c + 2; ++i)
    if (cell(i) == kPeakUnclaimed) cell(i) = kPeakClaimed;
}

// ---------------------------------------------------------------- list

TRttyChannels::TRttyChannels() { MakeRing(); }

void TRttyChannels::SetFftSize(int32_t value) {
  if (value < 48 || value > 65536) throw ERangeError();
  if (value != FFftSize) {
    FFftSize = value;
    MakeRing();
  }
}

void TRttyChannels::SetThrottle(float value) {
  if (!(value >= 0.0f && value <= 1.0f)) throw ERangeError();
  FThrottle = value;
}

void TRttyChannels::SetUsb(bool value) {
  FUsb = value;
  for (auto& ch : Items) ch->Rx.Afc.SetUsb(value);
}

void TRttyChannels::SetAfcEnabled(bool value) {
  FAfcEnabled = value;
  for (auto& ch : Items) ch->Rx.Afc.Enabled = value;
}

void TRttyChannels::SetHist2d(IHist2dSink* value) {
  FHist2d = value;
  for (auto& ch : Items) ch->Rx.Hist2d = value;
}

TRttyChannel& TRttyChannels::Item(int32_t i) {
  CheckIndex(i, Count());
  return *Items[static_cast<std::size_t>(i)];
}

const TRttyChannel& TRttyChannels::Item(int32_t i) const {
  CheckIndex(i, Count());
  return *Items[static_cast<std::size_t>(i)];
}

int32_t TRttyChannels::DefaultMarkBin() const {
  // In double from the start: any tone, however far off, gives a bin.
  const double hz = static_cast<double>(DefaultHighTone) - (FUsb ? 0 : 170);
  return static_cast<int32_t>(std::nearbyint(hz * 256 / 3000.0));
}

int32_t TRttyChannels::DefaultSpaceBin() const {
  const double hz = static_cast<double>(DefaultHighTone) - (FUsb ? 170 : 0);
  return static_cast<int32_t>(std::nearbyint(hz * 256 / 3000.0));
}

void TRttyChannels::UpdateStopAt() {
  FStopAt = static_cast<int32_t>(std::nearbyint(static_cast<double>(Count()) * FThrottle));
}

void TRttyChannels::ProcessPeaks(std::span<int32_t> peaks) {
  if (static_cast<int64_t>(peaks.size()) != FFftSize) throw ERangeError();
  FChanged = false;
  ++FAge;
  // The spectrum engine settles during the first 0.3 s of peak maps.
  if (static_cast<double>(FAge) <= 0.3 * TRttyChannel::kPeakMapsPerSecond) return;
  FPeaks = peaks;
  KillOutOfRange();
  UpdateStopAt();
  KillDuplicates();
  DeleteDead();
  AddNewChannels();
  UpdateStopAt();
}

void TRttyChannels::KillOutOfRange() {
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TRttyChannel& ch = *Items[static_cast<std::size_t>(i)];
    if (ch.MarkBin() < kMinMarkBin || ch.MarkBin() > FFftSize - 17) ch.MarkAsDead();
  }
}

void TRttyChannels::KillDuplicates() {
  if (FAge % 16 != 0 || Count() < 2 || FStopAt - 1 < 1) return;
  for (int32_t i = FStopAt - 1; i >= 1; --i) {
    TRttyChannel& a = *Items[static_cast<std::size_t>(i)];
    // Tested once: a channel i killed below still takes part in the
    // comparisons that follow.
    if (a.State() == csDead) continue;
    for (int32_t j = i - 1; j >= 0; --j) {
      TRttyChannel& b = *Items[static_cast<std::size_t>(j)];
      if (b.State() == csDead) continue;
      if (std::abs(a.MarkBin() - b.MarkBin()) > kDuplicateDist) continue;
      if (&a == FSelected)
        b.MarkAsDead();
      else if (&b == FSelected)
        a.MarkAsDead();
      else if (a.NoActivityAge > b.NoActivityAge)
        a.MarkAsDead();
      else
        b.MarkAsDead();
    }
  }
}

void TRttyChannels::DeleteDead() {
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TRttyChannel* ch = Items[static_cast<std::size_t>(i)].get();
    if (ch->State() != csDead || ch == FSelected) continue;
    if (OnChannelDeleted) OnChannelDeleted(*ch);
    Items.erase(Items.begin() + i);
    FChanged = true;
  }
}

void TRttyChannels::AddNewChannels() {
  for (auto& ch : Items) ch->PeaksArrived(FPeaks);
  for (int32_t k = kFirstNewBin; k <= FFftSize - 17; ++k) {
    if (FPeaks[static_cast<std::size_t>(k)] != kPeakUnclaimed) continue;
    for (int32_t d = kMinShift; d <= kMaxShift; ++d) {
      if (FPeaks[static_cast<std::size_t>(k - d)] == kPeakNone) continue;
      TRttyChannel& ch = AddChannel(k, k - d);
      ch.Rx.OnChar = DebugOnChar;
      ch.PeaksArrived(FPeaks);
      break;
    }
  }
  SortByMarkBin();
}

void TRttyChannels::SortByMarkBin() {
  // Insertion sort: stable, allocates nothing (std::stable_sort takes a
  // buffer on every call, 23 times a second) and linear on a list that is
  // sorted but for the channels just appended.
  for (std::size_t i = 1; i < Items.size(); ++i) {
    std::unique_ptr<TRttyChannel> cur = std::move(Items[i]);
    std::size_t j = i;
    for (; j > 0 && Items[j - 1]->MarkBin() > cur->MarkBin(); --j) Items[j] = std::move(Items[j - 1]);
    Items[j] = std::move(cur);
  }
}

TRttyChannel& TRttyChannels::AddChannel(int32_t markBin, int32_t spaceBin) {
  auto ch = std::make_unique<TRttyChannel>(markBin, spaceBin, FNextId++);
  ch->Rx.Afc.SetUsb(FUsb);
  ch->Rx.Afc.Enabled = FAfcEnabled;
  ch->Rx.OnCharSpy = CharSpy;
  ch->Rx.Hist2d = FHist2d;
  ch->FirstSpectrum = FSpectrumCnt;
  Items.push_back(std::move(ch));
  TRttyChannel& added = *Items.back();
  if (OnChannelAdded) OnChannelAdded(added);
  return added;
}

void TRttyChannels::SpectrumArrived(std::span<const float> spectrum) {
  BRENVO_ASSERT(static_cast<int64_t>(spectrum.size()) == FFftSize);
  SpectraArrived(spectrum);
}

std::size_t TRttyChannels::Slot(int32_t i) const {
  return static_cast<std::size_t>(PosMod(FRingIdx + 1 + i, kRingLength)) *
         static_cast<std::size_t>(FFftSize);
}

void TRttyChannels::MakeRing() {
  FRing.assign(static_cast<std::size_t>(kRingLength) * static_cast<std::size_t>(FFftSize), 0.0f);
  FRingIdx = -1;
}

std::span<float> TRttyChannels::Room(int32_t i) {
  BRENVO_ASSERT(i >= 0 && i < kRoomLength);
  return std::span<float>(FRing).subspan(Slot(i), static_cast<std::size_t>(FFftSize));
}

void TRttyChannels::StepChannel(TRttyChannel& ch, int32_t n) const {
  const auto kept = [&](int32_t i) {
    return std::span<const float>(FRing).subspan(Slot(i), static_cast<std::size_t>(FFftSize));
  };
  // The channel's spectra in order, handed over a few at a time: its
  // receiver takes them together.
  std::array<std::span<const float>, TSignalExtractor::TPairSteps::kMaxSteps> list;
  std::size_t listed = 0;
  auto take = [&](std::span<const float> s) {
    list[listed++] = s;
    if (listed == list.size()) {
      ch.SpectraArrived(list);
      listed = 0;
    }
  };
  for (int32_t j = 0; j < n; ++j) {
    if (ch.BackLogCnt > 0) {
      take(kept(j - ch.BackLogCnt));
      --ch.BackLogCnt;
    }
    take(kept(j - ch.BackLogCnt));
  }
  if (listed > 0) ch.SpectraArrived(std::span(list.data(), listed));
}

void TRttyChannels::SpectraArrived(std::span<const float> spectra, TThreadPool* pool,
                                   const std::function<void()>& meanwhile) {
  const auto size = static_cast<std::size_t>(FFftSize);
  BRENVO_ASSERT(spectra.size() % size == 0);
  for (std::size_t done = 0; done < spectra.size();) {
    const auto n =
        static_cast<int32_t>(std::min<std::size_t>((spectra.size() - done) / size, kRoomLength));
    for (int32_t j = 0; j < n; ++j, done += size)
      std::copy_n(spectra.begin() + static_cast<std::ptrdiff_t>(done), size, Room(j).begin());
    RoomArrived(n, pool, meanwhile);
  }
}

void TRttyChannels::RoomArrived(int32_t n, TThreadPool* pool,
                                const std::function<void()>& meanwhile) {
  BRENVO_ASSERT(n >= 1 && n <= kRoomLength);
  FSpectrumCnt += n;

  // The run is the ring's after the channels, whatever happens to them.
  std::exception_ptr failure;
  const auto keep = [&] {
    if (!failure) failure = std::current_exception();
  };
  const bool onPool = pool && pool->Threads() > 1 && Count() > 0;
  if (onPool) {
    for (auto& ch : Items) ch->Rx.BeginDeferring();
    const auto step = [&](int32_t i) { StepChannel(*Items[static_cast<std::size_t>(i)], n); };
    pool->Start(Count(), step);
    try {
      if (meanwhile) meanwhile();
    } catch (...) {
      keep();
    }
    try {
      pool->Wait();
    } catch (...) {
      keep();
    }
    for (auto& ch : Items) {
      try {
        ch->Rx.RaiseDeferredEvents();
      } catch (...) {
        keep();
      }
    }
  } else {
    try {
      for (auto& ch : Items) StepChannel(*ch, n);
      if (meanwhile) meanwhile();
    } catch (...) {
      keep();
    }
  }
  FRingIdx = PosMod(FRingIdx + n, kRingLength);
  if (failure) std::rethrow_exception(failure);
}

void TRttyChannels::Reset() {
  for (auto& ch : Items) ch->Rx.Reset();
}

bool TRttyChannels::SelectNear(int32_t bin, int32_t maxDist) {
  TRttyChannel* best = nullptr;
  int64_t bestDist = std::numeric_limits<int64_t>::max();
  for (auto& ch : Items) {
    if (ch.get() == FSelected || ch->State() != csActive) continue;
    const int64_t d = std::llabs(int64_t{ch->MarkBin()} - bin);
    if (d < bestDist) {
      bestDist = d;
      best = ch.get();
    }
  }
  if (!best || bestDist > maxDist) return false;
  if (FSelected) {
    best->Rx.OnChar = std::move(FSelected->Rx.OnChar);
    FSelected->Rx.OnChar = nullptr;
  }
  FSelected = best;
  return true;
}

void TRttyChannels::SelectDefault() {
  const int32_t anyDist = std::numeric_limits<int32_t>::max();
  if (SelectNear(DefaultMarkBin(), anyDist) && FSelected->MarkBin() == DefaultMarkBin()) return;
  AddChannel(DefaultMarkBin(), DefaultSpaceBin());
  SelectNear(DefaultMarkBin(), anyDist);
}

}  // namespace brenvo
