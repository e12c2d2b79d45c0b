// File access for the callsign data files, and the byte helpers their readers
// share with the INI reader. Contents are 8-bit bytes passed through
// unchanged; nothing goes through the locale.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace brenvo {

// The data files keep the spelling users and other programs give them
// ("MASTER.DTA", "Master.dta", "watch.lst"), so a name is matched without
// regard to ASCII case within its folder. Returns Path itself when it exists
// (also when it is not a regular file, so that the reader reports that), else
// the case-insensitive match in the same folder (the byte-wise smallest when
// several match), else Path unchanged.
std::string ResolveFileNoCase(const std::string& Path);

// Reads a whole regular file into Bytes through ReadFileGuarded. False, with
// Bytes empty, when the file is missing, not a regular file or cannot be read
// to its end.
bool ReadFileBytes(const std::string& Path, std::string& Bytes);

// Writes Bytes to a temporary file beside Path and renames it over Path, so an
// existing file is replaced whole or not at all (and keeps its mode). Path
// must name nothing yet or a regular file; a symbolic link to a regular file
// is followed and its target replaced. Anything else (a device, a pipe, a
// folder, a link to one of them or to nothing) is refused. Throws
// EBrenvoError naming the file and the reason on failure.
void WriteFileAtomic(const std::string& Path, std::string_view Bytes);

// The characters that trimming removes: blanks and control characters (codes
// 0 to 32), as the list and database readers trim their entries.
inline bool IsTrimmedChar(unsigned char c) {
  return c <= 0x20;
}

// S without leading and trailing blanks and control characters.
std::string_view TrimBlanks(std::string_view S);

// Upper-cases the letters a to z only; every other byte stays.
void UpperCaseAscii(std::span<char> S);

// Whether A and B are equal with the letters a to z taken as A to Z.
bool EqualNoCaseAscii(std::string_view A, std::string_view B);

}  // namespace brenvo
