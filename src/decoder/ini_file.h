// INI files with the semantics of Windows private-profile files: section and
// key names compare without regard to case, the first of duplicate keys wins
// a single read, a whole section reads in file order with every duplicate,
// a value in one matching pair of quotes (" or ') reads without them, and
// writing keeps the other sections, keys and comments. Bytes pass through
// unchanged (8-bit text, no locale).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace brenvo {

class TIniFile {
 public:
  // Reads the file when it exists, its lines as SplitIniLines sees them; a
  // missing or unreadable file reads as empty.
  explicit TIniFile(std::string fileName);
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& FileName() const { return FFileName; }

  // The value of the first entry Key in Section, or Default when there is none.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Every entry of Section as (key, value), in file order, duplicates included.
  std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
  // Section names in file order.
  std::vector<std::string> ReadSectionNames() const;
  bool SectionExists(const std::string& section) const;
  bool KeyExists(const std::string& section, const std::string& key) const;

  // Sets Key in Section (replacing every duplicate) for UpdateFile; reads
  // still give the file as it was read. A line break in any of the three is
  // written as a blank.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Writes the file; throws EBrenvoError naming the file when that fails.
  void UpdateFile() const;

 private:
  struct Impl;
  std::string FFileName;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace brenvo
