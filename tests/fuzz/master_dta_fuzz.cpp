// libFuzzer target: any bytes as the calls of MASTER.DTA after its header.
// Loading takes nothing from beyond the file's end, and every entry that
// can be looked up (3 characters or more) rates as found in the database.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "callsigns/callsign_validator.h"
#include "callsigns/master_dta.h"
#include "files/data_file.h"
#include "files/file_replace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace brenvo;
  static const std::string dir = [] {
    const auto d = std::filesystem::temp_directory_path() / ("brenvo_fuzz_" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d.string() + "/";
  }();
  const std::string body(reinterpret_cast<const char*>(data), size);
  WriteFileReplacing(dir + "dta", std::string(kMasterDtaHeaderSize, '\0') + body);
  // Folders without files: only the database is entered.
  TCallsignValidator v(dir + "none/", dir + "none/");
  v.LoadMasterDta(dir + "dta");
  for (std::size_t at = 0; at < body.size();) {
    const std::size_t end = std::min(body.find('\0', at), body.size());
    std::string call(TrimBlanks(std::string_view(body).substr(at, end - at)));
    UpperCaseAscii(call);
    if (call.size() >= 3 && v.Validate(call) != vrDta) std::abort();
    at = end + 1;
  }
  return 0;
}
