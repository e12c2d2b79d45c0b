// The 2-D histogram of observed tone amplitude against the tone level the bit
// decoder expected, over all channels and (in debug mode, through the file
// "Hist2D.bin") over many runs; and the model density it is compared with.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace brenvo {

inline constexpr int kHist2dSize = 128;  // indices 0 .. 127 on both axes
// 128 rows (expected level) of 128 signed 32-bit little-endian counts
// (amplitude); no header.
inline constexpr std::size_t kHist2dFileBytes = std::size_t{kHist2dSize} * kHist2dSize * 4;
// A larger file is no table of ours.
inline constexpr std::size_t kHist2dMaxFileBytes = std::size_t{1} << 20;

// The index of a level or amplitude: round(2x), halves to even, so that
// index 2 is the noise floor 1.0; -1 outside 0 .. 127 (x >= 63.75, x below
// -0.25, NaN).
int Hist2dIndex(float X);

// Model density of an amplitude A given the expected level E (E >= 0): half
// a normal density around E weighted by sqrt(E), plus a gamma density of
// shape 2 whose scale and weight grow with E. Widths rounded to single.
double Hist2dDensity(float A, float E);

class THist2dTable {
 public:
  // One sample. A level outside the table is not counted; an amplitude
  // outside it is counted in EnvCnt only. Counts stop at the 32-bit maximum.
  void AddSample(float Amp, float Env);
  void Clear();

  // Count of (expected-level index e, amplitude index m), both 0 .. 127.
  int32_t Hist(int e, int m) const { return FHist[Row(e)][Row(m)]; }
  // Samples counted with level index e (amplitudes beyond the table too).
  int32_t EnvCnt(int e) const { return FEnvCnt[Row(e)]; }
  // Hist(e, m) / EnvCnt(e), 0 while EnvCnt(e) is 0.
  double RowShare(int e, int m) const;

  // The file image of the counts (kHist2dFileBytes).
  std::vector<uint8_t> ToBytes() const;
  // Loads the file if there is one ("" then; a missing file loads nothing),
  // then adds each row's sum to EnvCnt. Negative counts read as 0; bytes past
  // the table are ignored. A file ReadFileGuarded refuses (at most
  // kHist2dMaxFileBytes) or one shorter than the table is not loaded: the
  // counts stay, the file is renamed to FileName + ".bad", and the text says
  // why; when it cannot be renamed, Save leaves it alone.
  std::string Load(const std::string& FileName);
  // Writes the table to FileName as the settings file is written
  // (WriteFileReplacing: a link is followed, a read-only file refused, the
  // old file replaced only by a complete new one). "" or the reason it failed.
  std::string Save(const std::string& FileName) const;

  // The clipboard text of a row: 128 lines "%.6f   %.6f\r\n" of the
  // amplitude j / 2 and RowShare(e, j).
  std::string RowText(int e) const;

 private:
  static std::size_t Row(int i);  // index check, ERangeError outside 0 .. 127

  std::array<std::array<int32_t, kHist2dSize>, kHist2dSize> FHist{};
  std::array<int32_t, kHist2dSize> FEnvCnt{};
  bool FFileRefused = false;  // the loaded file could be neither read nor kept aside
};

// The colour ramp of the map, 256 entries of 0xRRGGBB: dark blue, cyan,
// yellow, red, white.
const std::array<uint32_t, 256>& Hist2dPalette();
// Palette index of a map cell of level index e and amplitude index m.
int Hist2dCellColourIndex(int e, int m);

}  // namespace brenvo
