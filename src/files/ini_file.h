// INI files with the semantics of Windows private-profile files: section and
// key names compare without regard to case, the first of duplicate keys wins
// a single read, a whole section reads in file order with every duplicate,
// a value in one matching pair of quotes (" or ') reads without them, and
// writing keeps the other sections, keys and comments. Bytes pass through
// unchanged (8-bit text, no locale).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brenvo {

// A settings or contest file larger than this is refused: no such file needs
// more, and a file without end would fill the memory.
inline constexpr std::size_t kMaxIniFileBytes = std::size_t{16} << 20;

class TIniFile {
 public:
  // Reads the file when it exists (ReadFileGuarded, at most
  // kMaxIniFileBytes), its lines as SplitIniLines sees them; a missing file,
  // or one that is refused, reads as empty.
  explicit TIniFile(std::string fileName);
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return FFileName; }
  // Why the file was refused ("not a regular file", the system's reason,
  // ...); "" when it was read or is missing.
  const std::string& ReadError() const { return FReadError; }

  // The value of the first entry Key in Section, or Default when there is none.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Every entry of Section as (key, value), in file order, duplicates included.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
  // The same handed to F one at a time, without a copy of the section.
  void ForEachEntry(const std::string& section,
                    const std::function<void(std::string_view Key, std::string_view Value)>& F) const;
  // Section names in file order, the first Max of them.
  std::vector<std::string> ReadSectionNames(std::size_t max = SIZE_MAX) const;
  bool SectionExists(const std::string& section) const;
  bool KeyExists(const std::string& section, const std::string& key) const;

  // Sets Key in Section (replacing every duplicate) for UpdateFile; reads
  // still give the file as it was read. A line break in any of the three is
  // written as a blank.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Writes the file; throws EFileError naming the file and the reason when
  // that fails, and when the file was refused or is refused now.
  void UpdateFile() const;

 private:
  struct Impl;
  std::string FFileName;
  std::string FReadError;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace brenvo
