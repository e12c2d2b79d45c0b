#include "ui/hist2d_table.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>
#include <numbers>

#include "dsp/errors.h"
#include "files/file_replace.h"
#include "ui/format_fixed.h"

namespace brenvo {

namespace {
constexpr int32_t kMaxCount = std::numeric_limits<int32_t>::max();

void Increment(int32_t& c) {
  if (c < kMaxCount) ++c;
}

int32_t SaturatingAdd(int32_t a, int64_t b) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{a} + b, 0, kMaxCount));
}
}  // namespace

int Hist2dIndex(float x) {
  const float i = std::nearbyint(2.0f * x);
  if (!(i >= 0.0f && i <= static_cast<float>(kHist2dSize - 1))) return -1;
  return static_cast<int>(i);
}

double Hist2dDensity(float a, float e) {
  const float sigma = 0.17648166f * e + 0.46745061f;
  const float tau = 0.41736771f * e + 0.36119403f;
  const float w = 0.3568114f * e + 0.09134328f;
  const double da = a, de = e;
  const double g = std::exp(-(da - de) * (da - de) / (2.0 * sigma * sigma)) /
                   (std::sqrt(2.0 * std::numbers::pi) * sigma);
  const double h = da * std::exp(-da / tau) / (static_cast<double>(tau) * tau);
  return 0.5 * std::sqrt(de) * g + h / w;
}

std::size_t THist2dTable::Row(int i) {
  CheckIndex(i, kHist2dSize);
  return static_cast<std::size_t>(i);
}

void THist2dTable::AddSample(float amp, float env) {
  const int e = Hist2dIndex(env);
  if (e < 0) return;
  Increment(FEnvCnt[static_cast<std::size_t>(e)]);
  const int m = Hist2dIndex(amp);
  if (m < 0) return;
  Increment(FHist[static_cast<std::size_t>(e)][static_cast<std::size_t>(m)]);
}

void THist2dTable::Clear() {
  for (auto& row : FHist) row.fill(0);
  FEnvCnt.fill(0);
}

double THist2dTable::RowShare(int e, int m) const {
  const int32_t n = EnvCnt(e);
  if (n <= 0) return 0.0;
  return static_cast<double>(Hist(e, m)) / n;
}

std::vector<uint8_t> THist2dTable::ToBytes() const {
  std::vector<uint8_t> bytes;
  bytes.reserve(kHist2dFileBytes);
  for (const auto& row : FHist)
    for (int32_t c : row) {
      const auto u = static_cast<uint32_t>(c);
      for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(u >> (8 * b)));
    }
  return bytes;
}

std::string THist2dTable::Load(const std::string& fileName) {
  std::string error;
  TFileBytes f = ReadFileGuarded(fileName, kHist2dMaxFileBytes);
  if (f.Error.empty() && f.Exists && f.Bytes.size() < kHist2dFileBytes)
    f.Error = std::to_string(f.Bytes.size()) + " bytes, not " + std::to_string(kHist2dFileBytes);
  if (!f.Error.empty()) {
    // Counts of unknown age are not mixed in, nor lost: the file goes aside
    // (whatever it is), and the save at exit writes a new one in its place.
    const std::string keep = fileName + ".bad";
    error = "Cannot read \"" + fileName + "\": " + f.Error + "; the histogram starts empty";
    if (std::rename(fileName.c_str(), keep.c_str()) == 0) {
      error += ", and the file is kept as \"" + keep + "\".";
    } else {
      error += ", and the file, which cannot be kept aside (" + std::string(std::strerror(errno)) +
               "), is not written over.";
      FFileRefused = true;
    }
  } else if (f.Exists) {
    std::size_t at = 0;
    for (auto& row : FHist)
      for (int32_t& c : row) {
        uint32_t u = 0;
        for (int b = 0; b < 4; ++b) u |= uint32_t{static_cast<uint8_t>(f.Bytes[at++])} << (8 * b);
        c = std::max(static_cast<int32_t>(u), 0);
      }
  }
  for (std::size_t e = 0; e < FHist.size(); ++e) {
    int64_t sum = 0;
    for (int32_t c : FHist[e]) sum += c;
    FEnvCnt[e] = SaturatingAdd(FEnvCnt[e], sum);
  }
  return error;
}

std::string THist2dTable::Save(const std::string& fileName) const {
  if (FFileRefused) return {};
  const std::vector<uint8_t> bytes = ToBytes();
  try {
    WriteFileReplacing(fileName, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } catch (const EFileError& e) {
    return e.what();
  }
  return {};
}

std::string THist2dTable::RowText(int e) const {
  std::string text;
  for (int j = 0; j < kHist2dSize; ++j)
    text += FormatFixed(j / 2.0, 6) + "   " + FormatFixed(RowShare(e, j), 6) + "\r\n";
  return text;
}

const std::array<uint32_t, 256>& Hist2dPalette() {
  static const std::array<uint32_t, 256> palette = [] {
    struct TStop {
      int R, G, B;
    };
    constexpr TStop kStops[5] = {{0x30, 0x40, 0x80}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0x00},
                                 {0xFF, 0x00, 0x00}, {0xFF, 0xFF, 0xFF}};
    std::array<uint32_t, 256> p{};
    auto pack = [](int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); };
    p[0] = pack(kStops[0].R, kStops[0].G, kStops[0].B);
    const float step = 255.0f / 4.0f;
    int a = 0;
    for (int k = 1; k <= 4; ++k) {
      const int b = static_cast<int>(std::nearbyint(k * step));
      const TStop& ca = kStops[k - 1];
      const TStop& cb = kStops[k];
      auto lerp = [&](int from, int to, int i) {
        const float slope = static_cast<float>(to - from) / static_cast<float>(b - a);
        return from + static_cast<int>(std::nearbyint((i - a) * slope));
      };
      for (int i = a + 1; i <= b; ++i) p[std::size_t(i)] = pack(lerp(ca.R, cb.R, i), lerp(ca.G, cb.G, i), lerp(ca.B, cb.B, i));
      a = b;
    }
    return p;
  }();
  return palette;
}

int Hist2dCellColourIndex(int e, int m) {
  const double x = std::nearbyint(7650.0 * (0.18 * Hist2dDensity(m / 2.0f, e / 2.0f)));
  // The density is finite and not negative for indices 0 .. 127.
  if (!(x >= 0.0)) return 0;
  return static_cast<int>(std::min(x, 255.0));
}

}  // namespace brenvo
