#include "files/data_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "dsp/errors.h"
#include "files/file_replace.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void ThrowWriteError(const std::string& path, int err) {
  throw EBrenvoError("Cannot write file \"" + path + "\": " + std::strerror(err));
}

// Where a data file named Path is written, and the mode it gets: Path itself
// when it names nothing yet or a regular file, the target of a symbolic link
// to a regular file (the link stays). Renaming over anything else would
// replace a device, a pipe or a folder by a file.
std::string WriteTarget(const std::string& Path, mode_t& Mode) {
  Mode = 0644;
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0) {
    if (errno == ENOENT) return Path;
    ThrowWriteError(Path, errno);
  }
  std::string target = Path;
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    target = fs::canonical(Path, ec).string();
    if (ec || ::stat(target.c_str(), &st) != 0)
      throw EBrenvoError("Cannot write file \"" + Path + "\": a symbolic link to nothing");
  }
  if (!S_ISREG(st.st_mode)) throw EBrenvoError("Cannot write file \"" + Path + "\": not a regular file");
  Mode = st.st_mode & 07777;
  return target;
}

}  // namespace

std::string ResolveFileNoCase(const std::string& Path) {
  std::error_code ec;
  const fs::path p(Path);
  if (fs::exists(fs::symlink_status(p, ec))) return Path;
  const std::string name = p.filename().string();
  if (name.empty()) return Path;
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  std::string best;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string candidate = it->path().filename().string();
    if (EqualNoCaseAscii(candidate, name) && (best.empty() || candidate < best)) best = candidate;
  }
  if (best.empty()) return Path;
  return (p.has_parent_path() ? (p.parent_path() / best) : fs::path(best)).string();
}

bool ReadFileBytes(const std::string& Path, std::string& Bytes) {
  TFileBytes f = ReadFileGuarded(Path);
  Bytes = f.Error.empty() ? std::move(f.Bytes) : std::string();
  return f.Exists && f.Error.empty();
}

void WriteFileAtomic(const std::string& Path, std::string_view Bytes) {
  mode_t mode = 0644;
  const std::string target = WriteTarget(Path, mode);
  // A data file is readable like any other, and one replaced keeps its mode.
  if (const int err = ReplaceFile(target, Bytes, static_cast<int>(mode)); err != 0) ThrowWriteError(Path, err);
}

std::string_view TrimBlanks(std::string_view S) {
  std::size_t b = 0;
  std::size_t e = S.size();
  while (b < e && IsTrimmedChar(static_cast<unsigned char>(S[b]))) ++b;
  while (e > b && IsTrimmedChar(static_cast<unsigned char>(S[e - 1]))) --e;
  return S.substr(b, e - b);
}

void UpperCaseAscii(std::span<char> S) {
  // Stored unconditionally, so that the loop runs a vector at a time.
  for (char& c : S) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

bool EqualNoCaseAscii(std::string_view A, std::string_view B) {
  return std::equal(A.begin(), A.end(), B.begin(), B.end(), [](char x, char y) {
    return (x >= 'a' && x <= 'z' ? x - 'a' + 'A' : x) == (y >= 'a' && y <= 'z' ? y - 'a' + 'A' : y);
  });
}

}  // namespace brenvo
