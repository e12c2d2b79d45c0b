#include "decoder/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dsp/errors.h"

namespace brenvo {
namespace {

[[noreturn]] void Fail(const std::string& fileName, int err) {
  throw EBrenvoError("Cannot write the file " + fileName + ": " + std::strerror(err));
}

// Creates a temporary file beside Target that no one else has opened.
int CreateBeside(const std::string& target, std::string& tmpName) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpName = target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
    const int fd = ::open(tmpName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

int ReplaceFile(const std::string& target, std::string_view data, int mode) {
  std::string tmpName;
  const int fd = CreateBeside(target, tmpName);
  if (fd < 0) return errno;
  // On disk before the rename: a crash must not leave an empty file behind.
  const bool ok = (mode < 0 || ::fchmod(fd, static_cast<mode_t>(mode)) == 0) && WriteAll(fd, data) && ::fsync(fd) == 0;
  int err = ok ? 0 : errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmpName.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) ::unlink(tmpName.c_str());
  return err;
}

void WriteFileReplacing(const std::string& fileName, std::string_view data) {
  namespace fs = std::filesystem;
  // A link keeps pointing at the settings the user keeps elsewhere, also at
  // a file that is not there yet: the file at the end of the chain is written.
  std::error_code ec;
  fs::path target = fileName;
  for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
    const fs::path to = fs::read_symlink(target, ec);
    if (ec) Fail(fileName, ec.value());
    target = to.is_absolute() ? to : target.parent_path() / to;
  }
  if (fs::is_symlink(target, ec)) Fail(fileName, ELOOP);

  // A file that could not be written in place is not replaced either: a
  // file marked read-only keeps what its owner froze in it.
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) Fail(fileName, EACCES);
  if (const int err = ReplaceFile(target.string(), data, exists ? static_cast<int>(old.st_mode & 07777) : -1);
      err != 0)
    Fail(fileName, err);
}

std::string ReadFileBytes(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return {};
  std::ifstream in(fileName, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) throw EBrenvoError("Cannot read the file " + fileName);
  return text.str();
}

}  // namespace brenvo
