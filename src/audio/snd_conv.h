// Interleaved sample bytes (as a sound device or a WAV file holds them) to
// per-channel arrays and back. One layout record, TWaveFormatExtensible,
// describes plain PCM, IEEE-float and extensible data alike.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

// A Windows GUID, compared field by field.
struct TGuid {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  std::array<uint8_t, 8> Data4{};
  friend bool operator==(const TGuid&, const TGuid&) = default;
};

inline constexpr TGuid KSDATAFORMAT_SUBTYPE_PCM{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TGuid KSDATAFORMAT_SUBTYPE_IEEE_FLOAT{0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// WAVEFORMATEX: the first 18 bytes of the record as stored.
struct TWaveFormatEx {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;   // frames per second
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;      // bytes per frame
  uint16_t wBitsPerSample = 0;   // container bits of one sample
  uint16_t cbSize = 0;           // bytes that follow these 18 (22 for extensible)
};

// WAVEFORMATEXTENSIBLE: 40 bytes as stored, little-endian.
struct TWaveFormatExtensible {
  TWaveFormatEx Format;
  uint16_t Samples = 0;  // valid bits per sample
  uint32_t dwChannelMask = 0;
  TGuid SubFormat;
};

inline constexpr int kWaveFormatExSize = 18;
inline constexpr int kWaveFormatExtensibleSize = 40;

// Stores the record in its file layout (all 40 bytes).
std::array<uint8_t, kWaveFormatExtensibleSize> PackWaveFormat(const TWaveFormatExtensible& fmt);
// Reads the record from up to 40 bytes of file layout; fields beyond `size`
// stay zero.
TWaveFormatExtensible UnpackWaveFormat(const uint8_t* bytes, int size);

// How the four routines below read a format: sample kind, container bytes and
// valid bits. Kind is kNone for a width none of them converts (12 bits, say).
struct TSampleLayout {
  enum TKind { kNone, kInt8, kInt16, kInt24, kInt32, kFloat32 } Kind = kNone;
  int ContainerBytes = 0;  // 1..4
  int ValidBits = 0;       // 24-bit samples only: bits kept from the top
};
TSampleLayout GetSampleLayout(const TWaveFormatExtensible& fmt);

// Every frame of every channel. Frame count = Bytes.size() div nBlockAlign.
// Data must hold at least nChannels arrays of at least that many frames
// (ERangeError otherwise), and a frame must hold nChannels containers
// (ERangeError otherwise). A width that none of them converts leaves the
// destination as it was.
//
// Integer samples are kept on the scale of a 32-bit integer (a 16-bit s
// arrives as s * 65536); float samples are copied bit for bit.
void BytesToFloat(const TByteArray& bytes, TDataBufferF& data, const TWaveFormatExtensible& fmt);
// Singles are rounded half-to-even. For 32-bit integer output a value outside
// the signed 32-bit range or a NaN raises ERangeError; the narrower widths
// saturate and write NaN as 0. The caller sizes Bytes: its length sets the
// frame count, as above.
void FloatToBytes(const TDataBufferF& data, TByteArray& bytes, const TWaveFormatExtensible& fmt);
// Float samples become f * 2147483647 rounded half-to-even, limited to
// +-2147483647; NaN becomes 0.
void BytesToInt(const TByteArray& bytes, TDataBufferI& data, const TWaveFormatExtensible& fmt);
void IntToBytes(const TDataBufferI& data, TByteArray& bytes, const TWaveFormatExtensible& fmt);

// The same on raw memory: `frames` frames at `bytes`, which must hold
// frames * nBlockAlign bytes.
void BytesToFloat(const uint8_t* bytes, int64_t frames, TDataBufferF& data, const TWaveFormatExtensible& fmt);
void FloatToBytes(const TDataBufferF& data, int64_t frames, uint8_t* bytes, const TWaveFormatExtensible& fmt);

}  // namespace brenvo
