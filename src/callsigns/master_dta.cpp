#include "callsigns/master_dta.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "callsigns/vuq_string_list.h"
#include "dsp/errors.h"
#include "files/data_file.h"

namespace brenvo {
namespace {

// Identifies the writer; readers ignore the header.
constexpr std::string_view kHeaderText = "BRENVO callsign database\r\n";

}  // namespace

std::vector<std::string> ParseScpCalls(std::string_view Text, std::size_t* Skipped) {
  TVuqStringList lines;
  lines.SetText(Text);
  std::vector<std::string> calls;
  calls.reserve(static_cast<std::size_t>(lines.Count()));
  std::size_t skipped = 0;
  auto printable = [](char c) { return c > ' ' && c <= '~'; };
  for (int32_t i = 0; i < lines.Count(); ++i) {
    std::string_view s = TrimBlanks(lines.Strings(i));
    if (s.empty() || s.front() == '#') continue;
    s = s.substr(0, s.find_first_of(" \t"));
    // Binary junk or another encoding's text would fill the database with
    // entries that match nothing.
    if (s.size() < kMinDtaCallLength || s.size() > kMaxDtaCallLength ||
        !std::all_of(s.begin(), s.end(), printable)) {
      ++skipped;
      continue;
    }
    std::string call(s);
    UpperCaseAscii(call);
    calls.push_back(std::move(call));
  }
  if (Skipped) *Skipped = skipped;
  return calls;
}

std::string BuildMasterDta(const std::vector<std::string>& Calls) {
  std::size_t size = kMasterDtaHeaderSize;
  for (const std::string& c : Calls) size += c.size() + 1;
  std::string bytes;
  bytes.reserve(size);
  bytes.append(kHeaderText);
  bytes.resize(kMasterDtaHeaderSize, '\0');
  for (const std::string& c : Calls) {
    if (c.find('\0') != std::string::npos)
      throw EBrenvoError("A call holds a byte 00 and cannot be stored: \"" +
                         c.substr(0, c.find('\0')) + "\"");
    bytes.append(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TScpConversion ConvertScpToDta(const std::string& ScpFileName, const std::string& DtaFileName) {
  std::string text;
  if (!ReadFileBytes(ScpFileName, text))
    throw EBrenvoError("Cannot open file \"" + ScpFileName + "\"");
  std::error_code ec;
  if (std::filesystem::equivalent(ScpFileName, DtaFileName, ec))
    throw EBrenvoError("\"" + DtaFileName + "\" is the call list itself: it is not overwritten");
  TScpConversion result;
  std::vector<std::string> calls = ParseScpCalls(text, &result.Skipped);
  // In the validator's table order (bytes compared unsigned), so that it
  // loads them without sorting.
  std::sort(calls.begin(), calls.end());
  if (calls.empty())
    throw EBrenvoError("No call in \"" + ScpFileName + "\" (" + std::to_string(result.Skipped) +
                       " entries are no callsigns): nothing written");
  WriteFileAtomic(DtaFileName, BuildMasterDta(calls));
  result.Written = calls.size();
  return result;
}

}  // namespace brenvo
