// Writing the callsign database "MASTER.DTA" from a plain call list.
//
// Layout: a header of kMasterDtaHeaderSize bytes that readers skip, then each
// call as its 8-bit characters followed by one byte 00, to the end of the file.
// TCallsignValidator::LoadMasterDta reads it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

inline constexpr std::size_t kMasterDtaHeaderSize = 5481;
inline constexpr const char* kMasterDtaFileName = "MASTER.DTA";
// Where Debian's hamradio-files package puts its list of active contest calls.
inline constexpr const char* kDebianMasterScpPath = "/usr/share/hamradio-files/MASTER.SCP";

// The calls of a super-check-partial list (one call per line, "#" starts a
// comment line): each line trimmed of blanks and control characters, cut at
// its first blank, upper-cased (a to z); empty lines, comments and entries
// holding a byte 00 (which the database cannot store) are left out.
std::vector<std::string> ParseScpCalls(std::string_view Text);

// The bytes of a database holding Calls in order. Throws EBrenvoError for a
// call that holds a byte 00.
std::string BuildMasterDta(const std::vector<std::string>& Calls);

// Reads the list ScpFileName and writes its calls as the database DtaFileName,
// replacing an existing file only once the new one is complete. Returns the
// number of calls written. Throws EBrenvoError when the list cannot be read or
// the database not written.
std::size_t ConvertScpToDta(const std::string& ScpFileName, const std::string& DtaFileName);

}  // namespace brenvo
