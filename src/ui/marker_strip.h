// The strip beside the waterfall: the default tones, the peak contrast of
// every bin, the channels (in expert mode) and the selected channel's tracked
// tones, each on the waterfall row of its bin.
#pragma once

#include <QColor>
#include <QSize>
#include <cstdint>
#include <span>

class QPainter;
class QPalette;

namespace brenvo {

class TRttyChannels;

struct TMarkerStrip {
  static constexpr int32_t kScaleWidth = 8;  // the button-face scale at the left
  static inline const QColor kBackground{0x13, 0x31, 0x53};
  static inline const QColor kDefaultTone{0x80, 0x80, 0x80};
  static inline const QColor kPeakBar{0xCC, 0xCC, 0xFF};

  int32_t WaterfallTop = 0;  // the waterfall's top in the strip's own rows
  int32_t FftSize = 256;
  int32_t DefaultMarkBin = 0;
  int32_t DefaultSpaceBin = 0;
  std::span<const float> PeakData;  // per-bin peak contrast, FftSize values
  const TRttyChannels* Chans = nullptr;
  bool ExpertMode = false;  // channel circles
  bool DebugMode = false;   // inactive and dead channels among them

  // The row of a bin: bin 16 on the waterfall's bottom row.
  int32_t Row(int32_t Bin) const { return WaterfallTop + FftSize - 17 - Bin; }
  // Right end (exclusive) of a bin's peak bar, clamped to the strip; at most
  // kScaleWidth (no bar) when the contrast is not a finite number.
  static int32_t BarEnd(float PeakContrast, int32_t Width);
  void Paint(QPainter& P, QSize Size, const QPalette& Palette) const;
};

}  // namespace brenvo
