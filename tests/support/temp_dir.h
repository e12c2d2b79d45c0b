// A temporary folder that is removed with everything in it when it goes out of scope.
#pragma once

#include <filesystem>

namespace brenvo::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace brenvo::testing
