// A temporary folder that is removed with everything in it when it goes out of scope.
#pragma once

#include <filesystem>
#include <string>

namespace brenvo::testing {

class TempDir {
 public:
  TempDir();
  // Inside Parent instead of the system's temporary folder (to be on another
  // file system, say).
  explicit TempDir(const std::filesystem::path& Parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Makes or replaces the file Path with exactly Bytes.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace brenvo::testing
