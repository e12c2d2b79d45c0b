// Builds RIFF/WAVE files byte by byte, for tests that need layouts our
// writer never makes (odd chunk orders, broken sizes, hand-made INFO lists).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brenvo::testing {

using Bytes = std::vector<uint8_t>;

inline void Append32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Append16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendStr(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A chunk with the given id and body; `size` overrides the size field; a pad
// byte follows an odd body unless `pad` is false.
inline Bytes Chunk(const std::string& id, const Bytes& body, int64_t size = -1, bool pad = true) {
  Bytes b;
  AppendStr(b, id);
  Append32(b, static_cast<uint32_t>(size < 0 ? static_cast<int64_t>(body.size()) : size));
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
  return b;
}

// An 18-byte "fmt " body (16 bytes when `cb` is negative).
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align, uint16_t bits, int cb = 0) {
  Bytes b;
  Append16(b, tag);
  Append16(b, channels);
  Append32(b, rate);
  Append32(b, rate * align);
  Append16(b, align);
  Append16(b, bits);
  if (cb >= 0) Append16(b, static_cast<uint16_t>(cb));
  return b;
}

inline Bytes Riff(const std::vector<Bytes>& chunks, int64_t size = -1) {
  Bytes body;
  AppendStr(body, "WAVE");
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("RIFF", body, size);
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace brenvo::testing
