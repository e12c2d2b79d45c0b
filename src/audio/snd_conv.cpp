#include "audio/snd_conv.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "dsp/errors.h"

namespace brenvo {

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void PutGuid(uint8_t* p, const TGuid& g) {
  Put32(p, g.Data1);
  Put16(p + 4, g.Data2);
  Put16(p + 6, g.Data3);
  std::memcpy(p + 8, g.Data4.data(), 8);
}
TGuid GetGuid(const uint8_t* p) {
  TGuid g;
  g.Data1 = Get32(p);
  g.Data2 = Get16(p + 4);
  g.Data3 = Get16(p + 6);
  std::memcpy(g.Data4.data(), p + 8, 8);
  return g;
}

// Checks the frame layout and the destination before any element is touched,
// so that a bad header can never read or write out of bounds.
void CheckLayout(const TWaveFormatExtensible& fmt, const TSampleLayout& lay) {
  if (static_cast<int>(fmt.Format.nChannels) * lay.ContainerBytes > fmt.Format.nBlockAlign) throw ERangeError();
}

template <typename Buffer>
void CheckChannels(const Buffer& data, int channels, int64_t frames) {
  if (static_cast<int64_t>(data.size()) < channels) throw ERangeError();
  for (int c = 0; c < channels; ++c)
    if (static_cast<int64_t>(data[c].size()) < frames) throw ERangeError();
}

int32_t Read24(const uint8_t* p) {
  uint32_t u = (static_cast<uint32_t>(p[0]) << 8) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 24);
  return static_cast<int32_t>(u);
}

// Bits below the top `valid` bits of a 32-bit word.
uint32_t ValidMask(int valid) {
  if (valid <= 0 || valid >= 32) return 0xFFFFFFFFu;
  return ~((1u << (32 - valid)) - 1u);
}

int32_t ReadIntSample(const uint8_t* p, const TSampleLayout& lay, uint32_t mask) {
  switch (lay.Kind) {
    case TSampleLayout::kInt8: return (static_cast<int32_t>(p[0]) - 128) * 16777216;
    case TSampleLayout::kInt16: return static_cast<int32_t>(static_cast<int16_t>(Get16(p))) * 65536;
    case TSampleLayout::kInt24: return static_cast<int32_t>(static_cast<uint32_t>(Read24(p)) & mask);
    case TSampleLayout::kInt32: return static_cast<int32_t>(Get32(p));
    default: return 0;
  }
}

void WriteIntSample(uint8_t* p, int32_t v, const TSampleLayout& lay) {
  switch (lay.Kind) {
    case TSampleLayout::kInt8: p[0] = static_cast<uint8_t>(v / 16777216 + 128); break;
    case TSampleLayout::kInt16: Put16(p, static_cast<uint16_t>(static_cast<int16_t>(v / 65536))); break;
    case TSampleLayout::kInt24: {
      uint32_t u = static_cast<uint32_t>(v >> 8);
      p[0] = static_cast<uint8_t>(u);
      p[1] = static_cast<uint8_t>(u >> 8);
      p[2] = static_cast<uint8_t>(u >> 16);
      break;
    }
    case TSampleLayout::kInt32: Put32(p, static_cast<uint32_t>(v)); break;
    default: break;
  }
}

float BitsToFloat(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
uint32_t FloatToBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// A single rounded half-to-even to a 32-bit integer. `strict` raises on NaN
// and on values outside the range; otherwise they saturate (NaN gives 0).
int32_t RoundToInt32(float f, bool strict) {
  double r = std::nearbyint(static_cast<double>(f));
  if (std::isnan(r)) {
    if (strict) throw ERangeError();
    return 0;
  }
  if (r < -2147483648.0 || r > 2147483647.0) {
    if (strict) throw ERangeError();
    return r < 0 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(r);
}

int32_t FloatSampleToInt(float f) {
  double d = static_cast<double>(f) * 2147483647.0;
  if (std::isnan(d)) return 0;
  if (d > 2147483647.0) d = 2147483647.0;
  if (d < -2147483647.0) d = -2147483647.0;
  return static_cast<int32_t>(std::nearbyint(d));
}

}  // namespace

std::array<uint8_t, kWaveFormatExtensibleSize> PackWaveFormat(const TWaveFormatExtensible& fmt) {
  std::array<uint8_t, kWaveFormatExtensibleSize> b{};
  Put16(&b[0], fmt.Format.wFormatTag);
  Put16(&b[2], fmt.Format.nChannels);
  Put32(&b[4], fmt.Format.nSamplesPerSec);
  Put32(&b[8], fmt.Format.nAvgBytesPerSec);
  Put16(&b[12], fmt.Format.nBlockAlign);
  Put16(&b[14], fmt.Format.wBitsPerSample);
  Put16(&b[16], fmt.Format.cbSize);
  Put16(&b[18], fmt.Samples);
  Put32(&b[20], fmt.dwChannelMask);
  PutGuid(&b[24], fmt.SubFormat);
  return b;
}

TWaveFormatExtensible UnpackWaveFormat(const uint8_t* bytes, int size) {
  std::array<uint8_t, kWaveFormatExtensibleSize> b{};
  if (size > kWaveFormatExtensibleSize) size = kWaveFormatExtensibleSize;
  if (size > 0) std::memcpy(b.data(), bytes, static_cast<size_t>(size));
  TWaveFormatExtensible f;
  f.Format.wFormatTag = Get16(&b[0]);
  f.Format.nChannels = Get16(&b[2]);
  f.Format.nSamplesPerSec = Get32(&b[4]);
  f.Format.nAvgBytesPerSec = Get32(&b[8]);
  f.Format.nBlockAlign = Get16(&b[12]);
  f.Format.wBitsPerSample = Get16(&b[14]);
  f.Format.cbSize = Get16(&b[16]);
  f.Samples = Get16(&b[18]);
  f.dwChannelMask = Get32(&b[20]);
  f.SubFormat = GetGuid(&b[24]);
  return f;
}

TSampleLayout GetSampleLayout(const TWaveFormatExtensible& fmt) {
  TSampleLayout lay;
  bool ext = fmt.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
  if (fmt.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT || (ext && fmt.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)) {
    lay.Kind = TSampleLayout::kFloat32;
    lay.ContainerBytes = 4;
    return lay;
  }
  switch (fmt.Format.wBitsPerSample) {
    case 8: lay.Kind = TSampleLayout::kInt8; lay.ContainerBytes = 1; break;
    case 16: lay.Kind = TSampleLayout::kInt16; lay.ContainerBytes = 2; break;
    case 24: lay.Kind = TSampleLayout::kInt24; lay.ContainerBytes = 3; break;
    case 32: lay.Kind = TSampleLayout::kInt32; lay.ContainerBytes = 4; break;
    default: return lay;
  }
  lay.ValidBits = (ext && fmt.SubFormat == KSDATAFORMAT_SUBTYPE_PCM) ? fmt.Samples : fmt.Format.wBitsPerSample;
  // A valid-bits field of 0 means "not given" in files of some writers: keep
  // every bit rather than clear them all.
  if (lay.ValidBits == 0) lay.ValidBits = fmt.Format.wBitsPerSample;
  return lay;
}

void BytesToFloat(const uint8_t* bytes, int64_t frames, TDataBufferF& data, const TWaveFormatExtensible& fmt) {
  TSampleLayout lay = GetSampleLayout(fmt);
  if (lay.Kind == TSampleLayout::kNone || frames <= 0) return;
  CheckLayout(fmt, lay);
  const int channels = fmt.Format.nChannels;
  const int align = fmt.Format.nBlockAlign;
  CheckChannels(data, channels, frames);
  const uint32_t mask = ValidMask(lay.ValidBits);
  for (int c = 0; c < channels; ++c) {
    const uint8_t* p = bytes + c * lay.ContainerBytes;
    float* out = data[c].data();
    if (lay.Kind == TSampleLayout::kFloat32) {
      for (int64_t i = 0; i < frames; ++i, p += align) out[i] = BitsToFloat(Get32(p));
    } else if (lay.Kind == TSampleLayout::kInt16) {
      // The common soundcard case gets its own loop.
      for (int64_t i = 0; i < frames; ++i, p += align)
        out[i] = static_cast<float>(static_cast<int32_t>(static_cast<int16_t>(Get16(p))) * 65536);
    } else {
      for (int64_t i = 0; i < frames; ++i, p += align) out[i] = static_cast<float>(ReadIntSample(p, lay, mask));
    }
  }
}

void FloatToBytes(const TDataBufferF& data, int64_t frames, uint8_t* bytes, const TWaveFormatExtensible& fmt) {
  TSampleLayout lay = GetSampleLayout(fmt);
  if (lay.Kind == TSampleLayout::kNone || frames <= 0) return;
  CheckLayout(fmt, lay);
  const int channels = fmt.Format.nChannels;
  const int align = fmt.Format.nBlockAlign;
  CheckChannels(data, channels, frames);
  for (int c = 0; c < channels; ++c) {
    uint8_t* p = bytes + c * lay.ContainerBytes;
    const float* in = data[c].data();
    if (lay.Kind == TSampleLayout::kFloat32) {
      for (int64_t i = 0; i < frames; ++i, p += align) Put32(p, FloatToBits(in[i]));
    } else {
      const bool strict = lay.Kind == TSampleLayout::kInt32;
      for (int64_t i = 0; i < frames; ++i, p += align) WriteIntSample(p, RoundToInt32(in[i], strict), lay);
    }
  }
}

void BytesToFloat(const TByteArray& bytes, TDataBufferF& data, const TWaveFormatExtensible& fmt) {
  if (fmt.Format.nBlockAlign == 0) return;
  BytesToFloat(bytes.data(), static_cast<int64_t>(bytes.size() / fmt.Format.nBlockAlign), data, fmt);
}

void FloatToBytes(const TDataBufferF& data, TByteArray& bytes, const TWaveFormatExtensible& fmt) {
  if (fmt.Format.nBlockAlign == 0) return;
  FloatToBytes(data, static_cast<int64_t>(bytes.size() / fmt.Format.nBlockAlign), bytes.data(), fmt);
}

void BytesToInt(const TByteArray& bytes, TDataBufferI& data, const TWaveFormatExtensible& fmt) {
  TSampleLayout lay = GetSampleLayout(fmt);
  if (lay.Kind == TSampleLayout::kNone || fmt.Format.nBlockAlign == 0) return;
  const int64_t frames = static_cast<int64_t>(bytes.size() / fmt.Format.nBlockAlign);
  if (frames <= 0) return;
  CheckLayout(fmt, lay);
  const int channels = fmt.Format.nChannels;
  const int align = fmt.Format.nBlockAlign;
  CheckChannels(data, channels, frames);
  const uint32_t mask = ValidMask(lay.ValidBits);
  for (int c = 0; c < channels; ++c) {
    const uint8_t* p = bytes.data() + c * lay.ContainerBytes;
    int32_t* out = data[c].data();
    for (int64_t i = 0; i < frames; ++i, p += align)
      out[i] = lay.Kind == TSampleLayout::kFloat32 ? FloatSampleToInt(BitsToFloat(Get32(p))) : ReadIntSample(p, lay, mask);
  }
}

void IntToBytes(const TDataBufferI& data, TByteArray& bytes, const TWaveFormatExtensible& fmt) {
  TSampleLayout lay = GetSampleLayout(fmt);
  if (lay.Kind == TSampleLayout::kNone || fmt.Format.nBlockAlign == 0) return;
  const int64_t frames = static_cast<int64_t>(bytes.size() / fmt.Format.nBlockAlign);
  if (frames <= 0) return;
  CheckLayout(fmt, lay);
  const int channels = fmt.Format.nChannels;
  const int align = fmt.Format.nBlockAlign;
  CheckChannels(data, channels, frames);
  for (int c = 0; c < channels; ++c) {
    uint8_t* p = bytes.data() + c * lay.ContainerBytes;
    const int32_t* in = data[c].data();
    for (int64_t i = 0; i < frames; ++i, p += align) {
      if (lay.Kind == TSampleLayout::kFloat32)
        Put32(p, FloatToBits(static_cast<float>(static_cast<double>(in[i]) / 2147483647.0)));
      else
        WriteIntSample(p, in[i], lay);
    }
  }
}

}  // namespace brenvo
