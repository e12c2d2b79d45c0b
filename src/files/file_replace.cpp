#include "files/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "dsp/errors.h"

namespace brenvo {
namespace {

[[noreturn]] void Fail(const std::string& fileName, int err) {
  throw EFileError("Cannot write the file " + fileName + ": " + std::strerror(err), std::strerror(err));
}

// Closes a descriptor on every path out of a function.
class TFdGuard {
 public:
  explicit TFdGuard(int fd) : fd_(fd) {}
  ~TFdGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFdGuard(const TFdGuard&) = delete;
  TFdGuard& operator=(const TFdGuard&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// "16 MiB", "64 KiB" or "100 bytes".
std::string SizeText(std::size_t n) {
  if (n >= (1u << 20) && n % (1u << 20) == 0) return std::to_string(n >> 20) + " MiB";
  if (n >= 1024 && n % 1024 == 0) return std::to_string(n >> 10) + " KiB";
  return std::to_string(n) + " bytes";
}

std::string TooLarge(std::size_t maxBytes) {
  return "larger than " + SizeText(maxBytes);
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

TFileBytes ReadFileGuarded(const std::string& fileName, std::size_t maxBytes) {
  TFileBytes f;
  TFdGuard fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) {
    f.Exists = errno != ENOENT && errno != ENOTDIR;
    if (f.Exists) f.Error = std::strerror(errno);
    return f;
  }
  f.Exists = true;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    f.Error = std::strerror(errno);
    return f;
  }
  if (!S_ISREG(st.st_mode)) {
    f.Error = "not a regular file";
    return f;
  }
  if (static_cast<uintmax_t>(st.st_size) > maxBytes) {
    f.Error = TooLarge(maxBytes);
    return f;
  }
  // The size is only a hint: the file may grow while it is read.
  f.Bytes.reserve(static_cast<std::size_t>(st.st_size));
  f.Error = ReadFdCapped(fd.Get(), maxBytes, f.Bytes);
  return f;
}

std::string ReadFdCapped(int fd, std::size_t maxBytes, std::string& bytes) {
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return {};
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || bytes.size() > maxBytes || static_cast<std::size_t>(n) > maxBytes - bytes.size()) {
      std::string error = n < 0 ? std::strerror(errno) : TooLarge(maxBytes);
      bytes.clear();
      return error;
    }
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

std::string ReadFileBytes(const std::string& fileName) {
  TFileBytes f = ReadFileGuarded(fileName);
  if (!f.Error.empty()) throw EFileError("Cannot read the file " + fileName + ": " + f.Error, f.Error);
  return std::move(f.Bytes);
}

}  // namespace brenvo
