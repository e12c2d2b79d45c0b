// Writing the callsign database "MASTER.DTA" from a plain call list.
//
// Layout: a header of kMasterDtaHeaderSize bytes that readers skip, then each
// call as its 8-bit characters followed by one byte 00, to the end of the file.
// TCallsignValidator::LoadMasterDta reads it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "callsigns/call_extractor.h"

namespace brenvo {

inline constexpr std::size_t kMasterDtaHeaderSize = 5481;
inline constexpr const char* kMasterDtaFileName = "MASTER.DTA";
// Where Debian's hamradio-files package puts its list of active contest calls.
inline constexpr const char* kDebianMasterScpPath = "/usr/share/hamradio-files/MASTER.SCP";

// The lengths of a call worth storing: the extractor rates words of at most
// 16 characters, and the validator rejects anything shorter than 3 before
// looking it up, so other entries could never be found.
inline constexpr std::size_t kMinDtaCallLength = 3;
inline constexpr std::size_t kMaxDtaCallLength = TCallEstimate::kMaxTxtLen;

// The calls of a super-check-partial list (one call per line, "#" starts a
// comment line): each line trimmed of blanks and control characters, cut at
// its first blank or tab, upper-cased (a to z); empty lines and comments are
// left out. Entries that cannot be callsigns (a control character, a byte
// outside printable ASCII, fewer than kMinDtaCallLength or more than
// kMaxDtaCallLength characters) are left
// out too and counted in *Skipped when it is given.
std::vector<std::string> ParseScpCalls(std::string_view Text, std::size_t* Skipped = nullptr);

// The bytes of a database holding Calls in order. Throws EBrenvoError for a
// call that holds a byte 00.
std::string BuildMasterDta(const std::vector<std::string>& Calls);

struct TScpConversion {
  std::size_t Written = 0;  // calls in the database
  std::size_t Skipped = 0;  // entries that could not be callsigns
};

// Reads the list ScpFileName and writes its calls, sorted by their bytes, as
// the database DtaFileName
// (WriteFileAtomic: a regular file or a new name, replaced only once the new
// one is complete). Throws EBrenvoError, writing nothing, when the list cannot
// be read, holds no call, or is itself DtaFileName (under any name), and when
// the database cannot be written.
TScpConversion ConvertScpToDta(const std::string& ScpFileName, const std::string& DtaFileName);

}  // namespace brenvo
