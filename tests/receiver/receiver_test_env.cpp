#include "receiver_test_env.h"

#include <filesystem>

#include "files/data_folders.h"
#include "receiver/decoder_startup.h"

namespace brenvo::testing {

void EnsureDecoderGlobals() {
  static const bool done = [] {
    const auto root = std::filesystem::temp_directory_path() / "brenvo-receiver-tests-data";
    std::filesystem::create_directories(root);
    SetAppDataRoot(root.string());
    StartDecoderGlobals(std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini");
    return true;
  }();
  (void)done;
}

}  // namespace brenvo::testing
