// Replacing a file's contents without ever leaving it truncated or half
// written: the new contents go to a temporary file in the same folder, which
// then takes the old file's place in one rename.
#pragma once

#include <string>
#include <string_view>

namespace brenvo {

// Writes Data as the whole of FileName. An existing file keeps its
// permissions; a symbolic link keeps pointing at the file, which is
// replaced. A file we could not write in place (no write permission for us,
// or for nobody at all) is refused. On failure the old file is untouched, no temporary file is left
// and EBrenvoError says "Cannot write the file <FileName>: <reason>".
void WriteFileReplacing(const std::string& FileName, std::string_view Data);

// The whole file as bytes; an empty string when it does not exist. Throws
// EBrenvoError when it exists but cannot be read.
std::string ReadFileBytes(const std::string& FileName);

}  // namespace brenvo
