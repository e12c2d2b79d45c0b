#include "audio/snd_conv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "dsp/errors.h"

namespace brenvo {
namespace {

TWaveFormatExtensible Plain(int channels, int bits, uint16_t tag = WAVE_FORMAT_PCM) {
  TWaveFormatExtensible f;
  f.Format.wFormatTag = tag;
  f.Format.nChannels = static_cast<uint16_t>(channels);
  f.Format.nSamplesPerSec = 6000;
  f.Format.wBitsPerSample = static_cast<uint16_t>(bits);
  f.Format.nBlockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * 6000u;
  return f;
}

TWaveFormatExtensible Extensible(int channels, int bits, int valid, const TGuid& sub) {
  TWaveFormatExtensible f = Plain(channels, bits, WAVE_FORMAT_EXTENSIBLE);
  f.Format.cbSize = 22;
  f.Samples = static_cast<uint16_t>(valid);
  f.SubFormat = sub;
  return f;
}

TByteArray FloatBytes(std::initializer_list<float> values) {
  TByteArray b(values.size() * 4);
  size_t i = 0;
  for (float v : values) std::memcpy(&b[4 * i++], &v, 4);
  return b;
}

TEST(SndConv, EveryEightBitValueBothWays) {
  const auto fmt = Plain(1, 8);
  TByteArray bytes(256);
  for (int b = 0; b < 256; ++b) bytes[b] = static_cast<uint8_t>(b);
  TDataBufferF f(1, TSingleArray(256));
  TDataBufferI n(1, TIntegerArray(256));
  BytesToFloat(bytes, f, fmt);
  BytesToInt(bytes, n, fmt);
  for (int b = 0; b < 256; ++b) {
    const int64_t expected = (static_cast<int64_t>(b) - 128) * 16777216;
    ASSERT_EQ(f[0][b], static_cast<float>(expected)) << b;
    ASSERT_EQ(n[0][b], expected) << b;
  }
  EXPECT_EQ(n[0][128], 0);
  EXPECT_EQ(n[0][0], std::numeric_limits<int32_t>::min());
  EXPECT_EQ(n[0][255], 127 * 16777216);
  TByteArray back(256, 0xAA), backInt(256, 0xAA);
  FloatToBytes(f, back, fmt);
  IntToBytes(n, backInt, fmt);
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(backInt, bytes);
}

TEST(SndConv, EverySixteenBitValueBothWays) {
  const auto fmt = Plain(1, 16);
  TByteArray bytes(2 * 65536);
  for (int v = 0; v < 65536; ++v) {
    bytes[2 * v] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * v + 1] = static_cast<uint8_t>(v >> 8);
  }
  TDataBufferF f(1, TSingleArray(65536));
  TDataBufferI n(1, TIntegerArray(65536));
  BytesToFloat(bytes, f, fmt);
  BytesToInt(bytes, n, fmt);
  for (int v = 0; v < 65536; ++v) {
    const int64_t s = v < 32768 ? v : v - 65536;
    ASSERT_EQ(f[0][v], static_cast<float>(s * 65536)) << v;
    ASSERT_EQ(n[0][v], s * 65536) << v;
  }
  TByteArray back(bytes.size()), backInt(bytes.size());
  FloatToBytes(f, back, fmt);
  IntToBytes(n, backInt, fmt);
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(backInt, bytes);
}

// Reference: C++20 integer division truncates toward zero, as "div" does.
TEST(SndConv, NarrowingRoundsAsTheTableSays) {
  struct Case {
    int bits;
    float in;
    int32_t out;
  };
  const Case cases[] = {
      {16, 65536.0f, 1},      {16, -65537.0f, -1},   {16, 65535.0f, 0},       {16, -65535.0f, 0},
      {8, 16777216.0f, 129},  {8, -16777217.0f, 127}, {24, -257.0f, -2},       {24, 256.0f, 1},
      {24, 255.0f, 0},        {24, -1.0f, -1},        {16, 98304.5f, 1},       {32, 2.5f, 2},
      {32, 3.5f, 4},          {32, -2.5f, -2},        {32, -2147483648.0f, std::numeric_limits<int32_t>::min()},
  };
  for (const Case& c : cases) {
    const auto fmt = Plain(1, c.bits);
    TByteArray bytes(fmt.Format.nBlockAlign);
    FloatToBytes(TDataBufferF{{c.in}}, bytes, fmt);
    int32_t got = 0;
    if (c.bits == 8) got = bytes[0];
    if (c.bits == 16) got = static_cast<int16_t>(bytes[0] | (bytes[1] << 8));
    if (c.bits == 24) got = static_cast<int32_t>(static_cast<uint32_t>(bytes[0] << 8 | bytes[1] << 16 | bytes[2] << 24)) >> 8;
    if (c.bits == 32) std::memcpy(&got, bytes.data(), 4);
    EXPECT_EQ(got, c.out) << c.bits << " bits, " << c.in;
  }
}

TEST(SndConv, TwentyFourBitsWithTwentyValidBits) {
  const auto fmt = Extensible(1, 24, 20, KSDATAFORMAT_SUBTYPE_PCM);
  const TByteArray bytes = {0xFF, 0xFF, 0x7F, 0x0F, 0x00, 0x80, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00};
  TDataBufferF f(1, TSingleArray(4));
  TDataBufferI n(1, TIntegerArray(4));
  BytesToFloat(bytes, f, fmt);
  BytesToInt(bytes, n, fmt);
  const int32_t expected[] = {0x7FFFF000, static_cast<int32_t>(0x80000000u), 0, 0x1000};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(n[0][i], expected[i]) << i;
    EXPECT_EQ(f[0][i], static_cast<float>(expected[i])) << i;
  }
  // Without the extensible PCM sub-format all 24 bits count.
  const auto plain = Plain(1, 24);
  BytesToInt(bytes, n, plain);
  EXPECT_EQ(n[0][0], 0x7FFFFF00);
  EXPECT_EQ(n[0][1], static_cast<int32_t>(0x80000F00u));
}

TEST(SndConv, ThreeChannelInterleave) {
  // Frame i holds (i, 100 + i, -i) as 16-bit samples, with two padding bytes
  // per frame that nothing may touch.
  auto fmt = Plain(3, 16);
  fmt.Format.nBlockAlign = 8;
  const int frames = 5;
  TByteArray bytes(frames * 8, 0xEE);
  for (int i = 0; i < frames; ++i) {
    const int16_t v[3] = {static_cast<int16_t>(i), static_cast<int16_t>(100 + i), static_cast<int16_t>(-i)};
    std::memcpy(&bytes[i * 8], v, 6);
  }
  TDataBufferF f(3, TSingleArray(frames));
  BytesToFloat(bytes, f, fmt);
  for (int i = 0; i < frames; ++i) {
    EXPECT_EQ(f[0][i], i * 65536.0f);
    EXPECT_EQ(f[1][i], (100 + i) * 65536.0f);
    EXPECT_EQ(f[2][i], -i * 65536.0f);
  }
  TByteArray back(frames * 8, 0xEE);
  FloatToBytes(f, back, fmt);
  EXPECT_EQ(back, bytes);
}

TEST(SndConv, FloatSamples) {
  const auto fmt = Plain(1, 32, WAVE_FORMAT_IEEE_FLOAT);
  const float inf = std::numeric_limits<float>::infinity();
  const TByteArray bytes = FloatBytes({0.5f, 2.0f, -2.0f, -1.0f, std::nanf(""), inf, -inf, 1e-10f});
  TDataBufferF f(1, TSingleArray(8));
  TDataBufferI n(1, TIntegerArray(8));
  BytesToFloat(bytes, f, fmt);
  BytesToInt(bytes, n, fmt);
  EXPECT_EQ(f[0][0], 0.5f);
  EXPECT_TRUE(std::isnan(f[0][4]));
  const int32_t expected[] = {1073741824, 2147483647, -2147483647, -2147483647, 0, 2147483647, -2147483647, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(n[0][i], expected[i]) << i;
  // Floats go back bit for bit, NaN included.
  TByteArray back(bytes.size());
  FloatToBytes(f, back, fmt);
  EXPECT_EQ(back, bytes);
  // Integers become v / 2147483647.
  TByteArray fromInt(4);
  IntToBytes(TDataBufferI{{1073741824}}, fromInt, fmt);
  float g;
  std::memcpy(&g, fromInt.data(), 4);
  EXPECT_EQ(g, static_cast<float>(1073741824.0 / 2147483647.0));
  // The extensible float sub-format reads the same way.
  const auto ext = Extensible(1, 32, 32, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
  BytesToInt(bytes, n, ext);
  EXPECT_EQ(n[0][0], 1073741824);
}

TEST(SndConv, NonFiniteAndOutOfRangeSinglesAreChecked) {
  const float inf = std::numeric_limits<float>::infinity();
  const auto f32 = Plain(1, 32);
  TByteArray b(4);
  for (float bad : {2147483648.0f, -2147483904.0f, inf, -inf, std::nanf("")})
    EXPECT_THROW(FloatToBytes(TDataBufferF{{bad}}, b, f32), ERangeError) << bad;
  FloatToBytes(TDataBufferF{{2147483520.0f}}, b, f32);  // the largest single below 2^31
  int32_t v;
  std::memcpy(&v, b.data(), 4);
  EXPECT_EQ(v, 2147483520);
  // Narrower widths saturate; NaN writes silence.
  const auto f16 = Plain(1, 16);
  TByteArray s(2);
  const std::pair<float, int16_t> cases[] = {{inf, 32767}, {-inf, -32768}, {1e20f, 32767}, {std::nanf(""), 0}};
  for (auto [in, out] : cases) {
    FloatToBytes(TDataBufferF{{in}}, s, f16);
    EXPECT_EQ(static_cast<int16_t>(s[0] | (s[1] << 8)), out) << in;
  }
  const auto f8 = Plain(1, 8);
  TByteArray e(1);
  FloatToBytes(TDataBufferF{{std::nanf("")}}, e, f8);
  EXPECT_EQ(e[0], 128);
  FloatToBytes(TDataBufferF{{-inf}}, e, f8);
  EXPECT_EQ(e[0], 0);
}

TEST(SndConv, ShortArraysAndUnknownWidthsConvertNothing) {
  TDataBufferF f(2, TSingleArray(1, 7.0f));
  BytesToFloat(TByteArray(3), f, Plain(2, 16));  // shorter than one 4-byte frame
  EXPECT_EQ(f[0][0], 7.0f);
  auto twelve = Plain(1, 12);
  BytesToFloat(TByteArray(4, 0x11), f, twelve);
  EXPECT_EQ(f[0][0], 7.0f);
  TByteArray out(4, 0x22);
  FloatToBytes(f, out, twelve);
  EXPECT_EQ(out, TByteArray(4, 0x22));
}

TEST(SndConv, BadLayoutsAndShortDestinationsAreRangeErrors) {
  auto fmt = Plain(2, 16);
  fmt.Format.nBlockAlign = 2;  // two 2-byte samples cannot share 2 bytes
  TDataBufferF f(2, TSingleArray(4));
  EXPECT_THROW(BytesToFloat(TByteArray(8), f, fmt), ERangeError);
  TDataBufferI n(2, TIntegerArray(4));
  EXPECT_THROW(BytesToInt(TByteArray(8), n, fmt), ERangeError);
  const auto ok = Plain(2, 16);
  TDataBufferF one(1, TSingleArray(4));
  EXPECT_THROW(BytesToFloat(TByteArray(8), one, ok), ERangeError);
  TDataBufferF shortArrays(2, TSingleArray(1));
  EXPECT_THROW(BytesToFloat(TByteArray(8), shortArrays, ok), ERangeError);
  TByteArray out(16);
  EXPECT_THROW(FloatToBytes(shortArrays, out, ok), ERangeError);
  // Block align 0 converts nothing instead of dividing by zero.
  fmt.Format.nBlockAlign = 0;
  BytesToFloat(TByteArray(8), f, fmt);
}

TEST(SndConv, FormatRecordPacksToFortyBytes) {
  const auto fmt = Extensible(2, 24, 20, KSDATAFORMAT_SUBTYPE_PCM);
  const auto packed = PackWaveFormat(fmt);
  EXPECT_EQ(packed[0], 0xFE);
  EXPECT_EQ(packed[1], 0xFF);
  EXPECT_EQ(packed[18], 20);
  EXPECT_EQ(packed[24], 1);
  EXPECT_EQ(packed[32], 0x80);
  EXPECT_EQ(packed[39], 0x71);
  const auto back = UnpackWaveFormat(packed.data(), 40);
  EXPECT_EQ(PackWaveFormat(back), packed);
  EXPECT_TRUE(back.SubFormat == KSDATAFORMAT_SUBTYPE_PCM);
  const auto partial = UnpackWaveFormat(packed.data(), 16);
  EXPECT_EQ(partial.Format.cbSize, 0);
  EXPECT_EQ(partial.Format.wBitsPerSample, 24);
}

}  // namespace
}  // namespace brenvo
