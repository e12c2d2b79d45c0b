// Replacing a file's contents without ever leaving it truncated or half
// written: the new contents go to a temporary file in the same folder, which
// then takes the old file's place in one rename.
#pragma once

#include <string>
#include <string_view>

namespace brenvo {

// The step under every replacement: Data goes to a new temporary file
// beside Target, onto the disk, and is then renamed over Target. Mode: the
// permission bits the new file gets, or -1 for those that creating it with
// 0666 under the umask gives. Returns 0, or the errno of the step that
// failed; Target is then untouched and no temporary file is left.
int ReplaceFile(const std::string& Target, std::string_view Data, int Mode);

// Writes Data as the whole of FileName. An existing file keeps its
// permissions; a symbolic link keeps pointing at the file, which is
// replaced (or made, when the link dangles). A file we could not write in place (no write permission for us,
// or for nobody at all) is refused. On failure the old file is untouched, no temporary file is left
// and EBrenvoError says "Cannot write the file <FileName>: <reason>".
void WriteFileReplacing(const std::string& FileName, std::string_view Data);

// The whole file as bytes; an empty string when it does not exist. Throws
// EBrenvoError when it exists but cannot be read.
std::string ReadFileBytes(const std::string& FileName);

}  // namespace brenvo
