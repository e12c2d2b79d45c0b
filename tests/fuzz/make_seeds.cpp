// Writes a few small WAV files of every header kind as the fuzzer's seeds.
#include <string>

#include "audio/qyx_wav_file.h"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  const std::string dir = argv[1];
  struct Kind {
    int channels, bytes;
    bool isFloat;
  };
  const Kind kinds[] = {{1, 2, false}, {2, 1, false}, {2, 3, false}, {1, 4, true}, {3, 2, false}, {2, 4, false}};
  int n = 0;
  for (const Kind& k : kinds) {
    brenvo::TQyxWavFile w;
    w.SetFileName(dir + "/seed" + std::to_string(n++) + ".wav");
    w.SetChannelCount(k.channels);
    w.SetBytesPerSample(k.bytes);
    w.SetFloatFmt(k.isFloat);
    w.SetSamplesPerSec(6000);
    w.SetInfo({"QTR =2024-01-02 03:04:05 UTC", "ISFT=BRENVO"});
    w.OpenWrite();
    brenvo::TDataBufferF d(k.channels, brenvo::TSingleArray(5, 65536.0f));
    w.Write(d);
    w.Close();
  }
  return 0;
}
