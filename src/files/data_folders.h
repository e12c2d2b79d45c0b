// Where the program keeps its files. The per-user data root is
// ${XDG_DATA_HOME:-$HOME/.local/share}/Quellan/, laid out as:
//   Reference/                  reference call data (MASTER.DTA, Black.lst, Patt3Ch.lst)
//   UserData/                   the user's call lists (Watch.lst)
//   Products/brenvo/            settings file, Wav/ recordings, histogram file
//   Products/Holmcast/          Contests.ini, shared with sister programs
// Every folder path ends with "/". Each routine creates the folder it names
// when missing and never reports a failure to do so: a file later opened there
// fails in its own reader. $HOME unset or empty stands for the user's home in
// the password database. Nothing is made in a home folder that does not exist
// (a service account's "/nonexistent", a mistyped HOME): the first attempt
// says so once on the standard error, and the files there read as missing.
#pragma once

#include <string>

namespace brenvo {

// The program's name: names its settings folder and settings file.
inline constexpr const char* kProgramName = "brenvo";

// Creates the folder and every missing parent; true when it exists afterwards.
// False, creating nothing, for a folder in a home folder that does not exist.
bool ForceFolder(const std::string& path);

// $HOME, or when that is unset or empty the home folder of the password
// database; empty when there is none.
std::string GetHomeFolder();

// Tests point the data root (the folder that holds "Quellan/") elsewhere; an
// empty string restores the XDG default.
void SetAppDataRoot(const std::string& root);

std::string GetAppDataFolder();    // <root>/Quellan/ (creates <root>, not Quellan/)
std::string GetReferenceFolder();  // GetAppDataFolder() + "Reference/"
std::string GetUserDataFolder();   // GetAppDataFolder() + "UserData/"
std::string GetIniFileName();      // .../Products/brenvo/brenvo.ini (creates its folder)
std::string GetSettingsFolder();   // folder of GetIniFileName(), also when another settings file is used

}  // namespace brenvo
