// A small RIFF chunk layer: open a file for reading or writing, descend into
// chunks (finding one by id, form or list type), ascend out of them (fixing
// the size and padding of a chunk written), and create chunks. Chunk
// operations return 0 or one of the file-service codes below, so that callers
// can report them the way they report any other code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace brenvo {

// Four-character code, first character in the low byte (as stored).
constexpr uint32_t MakeFourCC(const char (&s)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) | (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24);
}
std::string FourCCToStr(uint32_t code);

// File-service result codes (the values of the Windows multimedia file I/O).
inline constexpr int MMIOERR_CANNOTREAD = 261;
inline constexpr int MMIOERR_CANNOTWRITE = 262;
inline constexpr int MMIOERR_CANNOTSEEK = 263;
inline constexpr int MMIOERR_CHUNKNOTFOUND = 265;
// A chunk passed over in a search claims more bytes than the file holds.
inline constexpr int MMIOERR_INVALIDFILE = 272;

// Flags of Descend and CreateChunk.
inline constexpr uint32_t MMIO_FINDCHUNK = 0x10;
inline constexpr uint32_t MMIO_FINDRIFF = 0x20;
inline constexpr uint32_t MMIO_FINDLIST = 0x40;
inline constexpr uint32_t MMIO_CREATERIFF = 0x20;
inline constexpr uint32_t MMIO_CREATELIST = 0x40;

// A chunk: id, size of its data, form or list type, file offset of its data
// (just after the 8-byte header; for RIFF and LIST the type is the first 4
// bytes of the data), and whether it was created here and needs its size fixed.
struct TChunkInfo {
  uint32_t ckid = 0;
  uint32_t cksize = 0;
  uint32_t fccType = 0;
  int64_t dwDataOffset = 0;
  bool Dirty = false;
};

class TRiffFile {
 public:
  enum class TMode { Read, Write };

  TRiffFile() = default;
  ~TRiffFile();
  TRiffFile(const TRiffFile&) = delete;
  TRiffFile& operator=(const TRiffFile&) = delete;

  // Opens for reading (regular files only), or creates (or empties) for
  // writing. False on failure.
  bool Open(const std::string& path, TMode mode);
  // Closes the file; false when flushing buffered writes failed.
  bool Close();
  bool IsOpen() const { return File != nullptr; }

  // Bytes actually read or written; Read gives -1 on a read error (fewer
  // bytes without an error mean the end of the file).
  int64_t Read(void* buf, int64_t count);
  int64_t Write(const void* buf, int64_t count);
  bool Seek(int64_t pos);
  int64_t Tell() const;
  // Length of the file (as written so far, in write mode).
  int64_t Size();

  // Reads the chunk header at the current position into ck. With
  // MMIO_FINDCHUNK (ck.ckid), MMIO_FINDRIFF or MMIO_FINDLIST (ck.fccType)
  // skips other chunks until the one asked for; with a parent the search ends
  // at the parent's end. On success the position is at the chunk's data (after
  // the type for RIFF and LIST). MMIOERR_CHUNKNOTFOUND when it is not there,
  // MMIOERR_INVALIDFILE when a chunk on the way runs past the end of the file
  // (its id is then OverrunId()), MMIOERR_CANNOTREAD when reading fails.
  int Descend(TChunkInfo& ck, const TChunkInfo* parent, uint32_t flags);
  uint32_t OverrunId() const { return FOverrunId; }
  // Moves past the end of ck (and its pad byte). For a chunk created here the
  // size is fixed from the current position and an odd size padded.
  int Ascend(TChunkInfo& ck);
  // Writes a chunk header at the current position (with the type for
  // MMIO_CREATERIFF and MMIO_CREATELIST); the size is fixed by Ascend.
  int CreateChunk(TChunkInfo& ck, uint32_t flags);

 private:
  struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, TFileCloser> Holder;
  std::FILE* File = nullptr;
  TMode Mode = TMode::Read;
  uint32_t FOverrunId = 0;
};

}  // namespace brenvo
