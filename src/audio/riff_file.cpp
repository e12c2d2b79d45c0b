#include "audio/riff_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brenvo {

namespace {

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint32_t kRiff = MakeFourCC("RIFF");
constexpr uint32_t kList = MakeFourCC("LIST");

}  // namespace

std::string FourCCToStr(uint32_t code) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  return s;
}

TRiffFile::~TRiffFile() = default;

bool TRiffFile::Open(const std::string& path, TMode mode) {
  Close();
  std::FILE* f = nullptr;
  if (mode == TMode::Read) {
    // Only a regular file: a directory reads as an error, and a named pipe
    // would block the caller until some other program writes to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(f = ::fdopen(fd, "rb"))) {
      ::close(fd);
      return false;
    }
  } else {
    f = std::fopen(path.c_str(), "w+b");
  }
  if (!f) return false;
  Holder.reset(f);
  File = f;
  Mode = mode;
  return true;
}

bool TRiffFile::Close() {
  if (!File) return true;
  std::FILE* f = Holder.release();
  File = nullptr;
  return std::fclose(f) == 0;
}

int64_t TRiffFile::Read(void* buf, int64_t count) {
  if (!File || count <= 0) return 0;
  std::clearerr(File);
  const size_t got = std::fread(buf, 1, static_cast<size_t>(count), File);
  // A device error is no end of file: callers must not take it for one.
  if (got < static_cast<size_t>(count) && std::ferror(File)) return -1;
  return static_cast<int64_t>(got);
}

int64_t TRiffFile::Write(const void* buf, int64_t count) {
  if (!File || count <= 0) return 0;
  return static_cast<int64_t>(std::fwrite(buf, 1, static_cast<size_t>(count), File));
}

bool TRiffFile::Seek(int64_t pos) {
  if (!File || pos < 0) return false;
  return fseeko(File, static_cast<off_t>(pos), SEEK_SET) == 0;
}

int64_t TRiffFile::Tell() const { return File ? static_cast<int64_t>(ftello(File)) : -1; }

int64_t TRiffFile::Size() {
  if (!File) return -1;
  int64_t here = Tell();
  if (fseeko(File, 0, SEEK_END) != 0) return -1;
  int64_t size = Tell();
  Seek(here);
  return size;
}

int TRiffFile::Descend(TChunkInfo& ck, const TChunkInfo* parent, uint32_t flags) {
  const int64_t end = parent ? parent->dwDataOffset + parent->cksize : INT64_MAX;
  for (;;) {
    int64_t pos = Tell();
    if (pos < 0) return MMIOERR_CANNOTSEEK;
    if (pos + 8 > end) return MMIOERR_CHUNKNOTFOUND;
    uint8_t hdr[12];
    const int64_t got = Read(hdr, 8);
    if (got < 0) return MMIOERR_CANNOTREAD;
    if (got != 8) return MMIOERR_CHUNKNOTFOUND;
    TChunkInfo found;
    found.ckid = Get32(hdr);
    found.cksize = Get32(hdr + 4);
    found.dwDataOffset = pos + 8;
    bool hasType = found.ckid == kRiff || found.ckid == kList;
    if (hasType) {
      const int64_t typeGot = Read(hdr + 8, 4);
      if (typeGot < 0) return MMIOERR_CANNOTREAD;
      if (typeGot != 4) return MMIOERR_CHUNKNOTFOUND;
      found.fccType = Get32(hdr + 8);
    }
    bool match;
    if (flags & MMIO_FINDCHUNK)
      match = found.ckid == ck.ckid;
    else if (flags & MMIO_FINDRIFF)
      match = found.ckid == kRiff && found.fccType == ck.fccType;
    else if (flags & MMIO_FINDLIST)
      match = found.ckid == kList && found.fccType == ck.fccType;
    else
      match = true;
    if (match) {
      ck = found;
      return 0;
    }
    // A chunk that claims more than the file holds hides whatever follows
    // it: say so rather than that the chunk asked for is missing. (A last
    // chunk without its pad byte is no fault.)
    const int64_t chunkEnd = found.dwDataOffset + static_cast<int64_t>(found.cksize);
    const int64_t size = Size();
    if (size >= 0 && chunkEnd > size) {
      FOverrunId = found.ckid;
      return MMIOERR_INVALIDFILE;
    }
    // Skip the chunk and its pad byte.
    if (!Seek(chunkEnd + (found.cksize & 1))) return MMIOERR_CHUNKNOTFOUND;
  }
}

int TRiffFile::Ascend(TChunkInfo& ck) {
  if (ck.Dirty) {
    int64_t pos = Tell();
    if (pos < ck.dwDataOffset) return MMIOERR_CANNOTSEEK;
    int64_t size = pos - ck.dwDataOffset;
    if (size > 0xFFFFFFFFLL) return MMIOERR_CANNOTWRITE;
    if (size & 1) {
      uint8_t zero = 0;
      if (Write(&zero, 1) != 1) return MMIOERR_CANNOTWRITE;
    }
    ck.cksize = static_cast<uint32_t>(size);
    uint8_t b[4];
    Put32(b, ck.cksize);
    if (!Seek(ck.dwDataOffset - 4)) return MMIOERR_CANNOTSEEK;
    if (Write(b, 4) != 4) return MMIOERR_CANNOTWRITE;
    ck.Dirty = false;
  }
  int64_t next = ck.dwDataOffset + static_cast<int64_t>(ck.cksize) + (ck.cksize & 1);
  if (!Seek(next)) return MMIOERR_CANNOTSEEK;
  return 0;
}

int TRiffFile::CreateChunk(TChunkInfo& ck, uint32_t flags) {
  if (flags & MMIO_CREATERIFF) ck.ckid = kRiff;
  if (flags & MMIO_CREATELIST) ck.ckid = kList;
  bool hasType = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
  int64_t pos = Tell();
  if (pos < 0) return MMIOERR_CANNOTSEEK;
  uint8_t hdr[12];
  Put32(hdr, ck.ckid);
  Put32(hdr + 4, hasType ? 4u : 0u);
  Put32(hdr + 8, ck.fccType);
  int n = hasType ? 12 : 8;
  if (Write(hdr, n) != n) return MMIOERR_CANNOTWRITE;
  ck.cksize = hasType ? 4 : 0;
  ck.dwDataOffset = pos + 8;
  ck.Dirty = true;
  return 0;
}

}  // namespace brenvo
