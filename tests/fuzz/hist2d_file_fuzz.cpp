// libFuzzer target: any bytes as Hist2D.bin. A file of the table's size (or
// longer) loads its counts, negative ones as 0, and saves and loads back the
// same; any other is kept aside whole as ".bad" and the table stays empty.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/file_replace.h"
#include "ui/hist2d_table.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brenvo;
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("brenvo_fuzz_" + std::to_string(getpid()) + ".bin")).string();
  // An odd first byte: the bytes as they are; else the start of a whole table.
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size > 0 && data[0] % 2 == 0) bytes.resize(std::max(size, kHist2dFileBytes), '\0');
  WriteFileReplacing(path, bytes);
  THist2dTable t;
  const bool loads = bytes.size() >= kHist2dFileBytes && bytes.size() <= kHist2dMaxFileBytes;
  Check(t.Load(path).empty() == loads);
  const std::vector<uint8_t> table = t.ToBytes();
  for (std::size_t i = 0; i < kHist2dFileBytes; i += 4) {
    const int32_t c = loads ? int32_t(uint32_t(uint8_t(bytes[i])) | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                                      uint32_t(uint8_t(bytes[i + 2])) << 16 | uint32_t(uint8_t(bytes[i + 3])) << 24)
                            : 0;
    Check(t.Hist(int(i / 512), int(i / 4 % 128)) == std::max(c, 0));
  }
  if (!loads) Check(ReadFileBytes(path + ".bad") == bytes);
  Check(t.Save(path).empty());
  THist2dTable back;
  Check(back.Load(path).empty() && back.ToBytes() == table);
  for (int e = 0; e < kHist2dSize; ++e) Check(back.EnvCnt(e) == t.EnvCnt(e));
  return 0;
}
