// Replacing a file's contents without ever leaving it truncated or half
// written: the new contents go to a temporary file in the same folder, which
// then takes the old file's place in one rename.
#pragma once

#include <cstdint>
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
// and EFileError says "Cannot write the file <FileName>: <reason>".
void WriteFileReplacing(const std::string& FileName, std::string_view Data);

// A whole file as ReadFileGuarded found it.
struct TFileBytes {
  bool Exists = false;  // false: nothing there, nothing to read (and no Error)
  std::string Bytes;
  // Why a file that is there was not read: "not a regular file", "larger
  // than 16 MiB" or the system's reason; "" when it was read.
  std::string Error;
};

// Reads FileName whole, as every file the program may write back is read:
// only a regular file (a symbolic link is followed to it), opened without
// blocking, so that a named pipe cannot hold up the caller, and no more than
// MaxBytes of it, so that an endless or huge file cannot fill the memory.
TFileBytes ReadFileGuarded(const std::string& FileName, std::size_t MaxBytes = SIZE_MAX);

// ReadFileGuarded's read: Fd from where it stands to its end, appended to
// Bytes, no more than MaxBytes in all. The bytes read count, not the size the
// file gave when it was opened: it may grow meanwhile, and a procfs file
// gives 0. "" when it was read to its end; else "larger than ..." or the
// system's reason, and Bytes is emptied.
std::string ReadFdCapped(int Fd, std::size_t MaxBytes, std::string& Bytes);

// The whole file as bytes; an empty string when it does not exist. Throws
// EFileError when it exists but cannot be read.
std::string ReadFileBytes(const std::string& FileName);

}  // namespace brenvo
