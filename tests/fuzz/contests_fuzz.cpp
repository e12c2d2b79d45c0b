// libFuzzer target: any bytes as Contests.ini. Every section loads its CQ
// words and exchanges or raises a conversion error, and the message model is
// built from the first one or refuses a bad pattern or one beyond its limits;
// nothing else. The limits keep every model to tens of megabytes, whatever
// the input.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "files/file_replace.h"
#include "files/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brenvo;
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("brenvo_fuzz_" + std::to_string(getpid()) + ".ini")).string();
  WriteFileReplacing(path, std::string(reinterpret_cast<const char*>(data), size));
  static const TRttyMessageStatistics builtIn = [] {
    TRttyMessageStatistics s;
    InitMessageStatistics(s);
    return s;
  }();
  bool built = false;
  for (const std::string& name : TIniFile(path).ReadSectionNames()) {
    TRttyMessageStatistics stats = builtIn;
    try {
      LoadContestFromFile(stats, name, path);
      // The model of the first contest only: building one takes milliseconds.
      if (!std::exchange(built, true)) const TRttyMessageHmm hmm(stats);
    } catch (const EConvertError&) {
    } catch (const EBadPattern&) {
    }
  }
  return 0;
}
