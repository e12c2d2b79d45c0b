// libFuzzer target: any bytes as a settings file. Saved as the settings save
// does it, first with nothing changed (only missing keys added), then with
// our keys changed, it keeps every other line in order and reads back what
// it read before.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "files/file_replace.h"
#include "files/ini_file.h"
#include "files/ini_text.h"

namespace {

using namespace brenvo;

void Check(bool ok) {
  if (!ok) std::abort();
}

const std::pair<const char*, const char*> kOurs[] = {
    {"GUI", "Left"}, {"GUI", "Width"}, {"Decoders", "Contest"}, {"Server", "Port"}};

bool IsOurs(std::string_view section, std::string_view key) {
  for (const auto& [s, k] : kOurs)
    if (UpperIniName(section) == UpperIniName(s) && UpperIniName(key) == UpperIniName(k)) return true;
  return false;
}

// The lines of OldText that are not entries of our keys come, in order, in NewText.
void CheckOtherLinesKept(const std::string& oldText, const std::string& newText) {
  const auto newLines = SplitIniLines(newText);
  std::size_t at = 0;
  std::string_view section;
  for (const TIniLine& l : SplitIniLines(oldText)) {
    if (l.Kind == TIniLineKind::Header) section = l.Name;
    if (l.Kind == TIniLineKind::Entry && IsOurs(section, l.Name)) continue;
    while (at < newLines.size() && newLines[at].Text != l.Text) ++at;
    Check(at++ < newLines.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // TMPDIR on a memory file system keeps the saves' syncs cheap.
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("brenvo_fuzz_" + std::to_string(getpid()) + ".ini")).string();
  const std::string text(reinterpret_cast<const char*>(data), size);
  WriteFileReplacing(path, text);
  const TIniFile before(path);
  for (const std::string value : {"7", "a b"}) {
    const bool unchanged = value == "7";
    {
      TIniFile ini(path);
      for (const auto& [s, k] : kOurs)
        if (!unchanged || !ini.KeyExists(s, k)) ini.WriteString(s, k, value);
      ini.UpdateFile();
    }
    CheckOtherLinesKept(text, ReadFileBytes(path));
    const TIniFile after(path);
    for (const std::string& name : before.ReadSectionNames())
      for (const auto& [key, v] : before.ReadSection(name))
        if (!IsOurs(name, key)) Check(after.ReadString(name, key, "") == before.ReadString(name, key, ""));
    for (const auto& [s, k] : kOurs)
      Check(after.ReadString(s, k, "") == (unchanged ? before.ReadString(s, k, value) : value));
  }
  std::remove(path.c_str());
  return 0;
}
