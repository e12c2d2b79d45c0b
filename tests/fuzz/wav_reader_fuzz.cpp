// libFuzzer target: any bytes as a WAV file. Opening, reading every frame (as
// floats and integers), seeking and reading the INFO list must end in a clean
// result or an EBrenvoError, never a crash, a hang or an out-of-bounds access.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/qyx_wav_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/brenvo_fuzz_" + std::to_string(getpid()) + ".wav";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  try {
    brenvo::TQyxWavFile wav;
    wav.SetFileName(path);
    wav.OpenRead();
    brenvo::TDataBufferF block;
    brenvo::TDataBufferI ints;
    while (wav.CurrentSample() < wav.SampleCnt()) {
      const uint32_t before = wav.CurrentSample();
      wav.Read(128, block);
      if (wav.CurrentSample() == before) break;
    }
    wav.Seek(wav.SampleCnt() / 2);
    wav.ReadInt(64, ints);
    (void)wav.ValidBits();
    (void)wav.SubFormatTag();
    wav.Close();
  } catch (const brenvo::EBrenvoError&) {
  }
  // Nothing is left in the temporary folder once the run ends.
  std::remove(path.c_str());
  return 0;
}
