#include "callsigns/master_dta.h"

#include "callsigns/data_file.h"
#include "callsigns/vuq_string_list.h"
#include "dsp/errors.h"

namespace brenvo {
namespace {

// Identifies the writer; readers ignore the header.
constexpr std::string_view kHeaderText = "BRENVO callsign database\r\n";

}  // namespace

std::vector<std::string> ParseScpCalls(std::string_view Text) {
  TVuqStringList lines;
  lines.SetText(Text);
  std::vector<std::string> calls;
  calls.reserve(static_cast<std::size_t>(lines.Count()));
  for (int32_t i = 0; i < lines.Count(); ++i) {
    std::string_view s = TrimBlanks(lines.Strings(i));
    if (s.empty() || s.front() == '#') continue;
    s = s.substr(0, s.find(' '));
    if (s.find('\0') != std::string_view::npos) continue;
    std::string call(s);
    UpperCaseAscii(call);
    calls.push_back(std::move(call));
  }
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

std::size_t ConvertScpToDta(const std::string& ScpFileName, const std::string& DtaFileName) {
  std::string text;
  if (!ReadFileBytes(ScpFileName, text))
    throw EBrenvoError("Cannot open file \"" + ScpFileName + "\"");
  const std::vector<std::string> calls = ParseScpCalls(text);
  WriteFileAtomic(DtaFileName, BuildMasterDta(calls));
  return calls.size();
}

}  // namespace brenvo
