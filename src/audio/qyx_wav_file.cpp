#include "audio/qyx_wav_file.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace brenvo {

namespace {

constexpr uint32_t kWave = MakeFourCC("WAVE");
constexpr uint32_t kFmt = MakeFourCC("fmt ");
constexpr uint32_t kData = MakeFourCC("data");
constexpr uint32_t kInfo = MakeFourCC("INFO");

struct TGuidName {
  TGuid Guid;
  const char* Name;
};

// The kernel-streaming data-format identifiers we can name.
const TGuidName kGuidNames[] = {
    {KSDATAFORMAT_SUBTYPE_PCM, "KSDATAFORMAT_SUBTYPE_PCM"},
    {{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}, "KSDATAFORMAT_TYPE_AUDIO"},
    {{0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}},
     "KSDATAFORMAT_SPECIFIER_WAVEFORMATEX"},
    {{0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}}, "KSDATAFORMAT_SPECIFIER_DSOUND"},
    {{0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}}, "KSDATAFORMAT_SUBTYPE_ANALOG"},
    {{0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}}, "KSDATAFORMAT_SPECIFIER_NONE"},
    {{0x00000092, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}},
     "KSDATAFORMAT_SUBTYPE_DOLBY_AC3_SPDIF"},
    {KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, "KSDATAFORMAT_SUBTYPE_IEEE_FLOAT"},
    {{0x00000009, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}, "KSDATAFORMAT_SUBTYPE_DRM"},
    {{0x00000006, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}, "KSDATAFORMAT_SUBTYPE_ALAW"},
    {{0x00000007, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}, "KSDATAFORMAT_SUBTYPE_MULAW"},
    {{0x00000002, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}, "KSDATAFORMAT_SUBTYPE_ADPCM"},
    {{0x00000050, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}}, "KSDATAFORMAT_SUBTYPE_MPEG"},
    {{0xAD98D184, 0xAAC3, 0x11D0, {0xA4, 0x1C, 0x00, 0xC0, 0x4F, 0xC2, 0xAB, 0xA0}}, "KSDATAFORMAT_SPECIFIER_VC_ID"},
};

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

TQyxWavFile::TQyxWavFile() = default;

TQyxWavFile::~TQyxWavFile() {
  if (FIsOpen) {
    try {
      Close();
    } catch (...) {
      // A destructor must not throw; what could be finished was.
    }
  }
}

void TQyxWavFile::CheckClosedForChange() const {
  if (FIsOpen) throw EWavFileError("Cannot change parameter when the file is open");
}

void TQyxWavFile::SetFileName(const std::string& v) {
  CheckClosedForChange();
  FFileName = v;
}
void TQyxWavFile::SetChannelCount(uint32_t v) {
  CheckClosedForChange();
  FChannelCount = v;
}
void TQyxWavFile::SetSamplesPerSec(uint32_t v) {
  CheckClosedForChange();
  FSamplesPerSec = v;
}
void TQyxWavFile::SetBytesPerSample(uint32_t v) {
  CheckClosedForChange();
  FBytesPerSample = v;
  if (v != 4) FFloatFmt = false;
}
void TQyxWavFile::SetFloatFmt(bool v) {
  CheckClosedForChange();
  FFloatFmt = v;
  if (v) FBytesPerSample = 4;
}

uint32_t TQyxWavFile::ValidBits() const {
  if (!FIsOpen) throw EWavFileError("File not open");
  if (!FWriteMode && WaveFmt.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && WaveFmt.SubFormat == KSDATAFORMAT_SUBTYPE_PCM)
    return WaveFmt.Samples;
  return FBytesPerSample * 8;
}

void TQyxWavFile::CheckMmioResult(int rc) const {
  switch (rc) {
    case 0: return;
    case MMIOERR_CANNOTREAD: throw EWavFileError("WAV read error");
    case MMIOERR_CANNOTWRITE: throw EWavFileError("WAV write error");
    case MMIOERR_CANNOTSEEK: throw EWavFileError("WAV seek failed");
    default: throw EWavFileError("Unknown error: " + std::to_string(rc));
  }
}

void TQyxWavFile::FindChunk(TChunkInfo& ck, uint32_t flags, const std::string& missing) {
  const int rc = File.Descend(ck, &ckInfoRIFF, flags);
  if (rc == MMIOERR_CHUNKNOTFOUND) throw EWavFileError(missing);
  if (rc == MMIOERR_INVALIDFILE) {
    // The id as text, whatever bytes a broken file holds there.
    std::string id = FourCCToStr(File.OverrunId());
    for (char& c : id)
      if (c < ' ' || c > '~') c = '?';
    throw EWavFileError(missing + ": chunk \"" + id + "\" runs past the end of the file");
  }
  CheckMmioResult(rc);
}

void TQyxWavFile::BuildWriteFormat() {
  // Checked before the file is created, so a bad parameter leaves no file.
  if (FChannelCount < 1 || FChannelCount > 0xFFFF) throw ERangeError();
  if (FBytesPerSample < 1 || FBytesPerSample > 4) throw ERangeError();
  const uint64_t align = static_cast<uint64_t>(FChannelCount) * FBytesPerSample;
  if (align > 0xFFFF) throw ERangeError();
  const uint64_t avg = align * FSamplesPerSec;
  if (avg > 0xFFFFFFFFu) throw ERangeError();
  TWaveFormatExtensible f;
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.nChannels = static_cast<uint16_t>(FChannelCount);
  f.Format.nSamplesPerSec = FSamplesPerSec;
  f.Format.nAvgBytesPerSec = static_cast<uint32_t>(avg);
  f.Format.nBlockAlign = static_cast<uint16_t>(align);
  f.Format.wBitsPerSample = static_cast<uint16_t>(FBytesPerSample * 8);
  f.Format.cbSize = 22;
  f.Samples = static_cast<uint16_t>(FBytesPerSample * 8);
  f.dwChannelMask = FChannelCount == 2 ? 3 : 0;
  f.SubFormat = FFloatFmt ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  if (FChannelCount <= 2) {
    if (FFloatFmt) {
      f.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
      f.Format.cbSize = 0;
    } else if (FBytesPerSample < 3) {
      f.Format.wFormatTag = WAVE_FORMAT_PCM;
      f.Format.cbSize = 0;
    }
  }
  WaveFmt = f;
}

void TQyxWavFile::OpenWrite() {
  if (FIsOpen) throw EWavFileError("File already open");
  BuildWriteFormat();
  if (!File.Open(FFileName, TRiffFile::TMode::Write)) throw EWavFileError("Unable to open file: " + FFileName);
  try {
    ckInfoRIFF = TChunkInfo{};
    ckInfoRIFF.fccType = kWave;
    CheckMmioResult(File.CreateChunk(ckInfoRIFF, MMIO_CREATERIFF));
    ckInfo = TChunkInfo{};
    ckInfo.ckid = kFmt;
    CheckMmioResult(File.CreateChunk(ckInfo, 0));
    const auto packed = PackWaveFormat(WaveFmt);
    const int n = WaveFmt.Format.cbSize + kWaveFormatExSize;
    if (File.Write(packed.data(), n) != n) throw EWavFileError("WAV write error");
    CheckMmioResult(File.Ascend(ckInfo));
    ckInfo = TChunkInfo{};
    ckInfo.ckid = kData;
    CheckMmioResult(File.CreateChunk(ckInfo, 0));
  } catch (...) {
    File.Close();
    throw;
  }
  FIsOpen = true;
  FWriteMode = true;
  FSampleCnt = 0;
  FCurrentSample = 0;
}

void TQyxWavFile::WriteRaw(const uint8_t* bytes, int64_t frames) {
  const int64_t end = static_cast<int64_t>(FCurrentSample) + frames;
  // A RIFF chunk cannot describe more than 4 GiB.
  if (end * FrameBytes() > 0xFFFFFFFFLL - 1024) throw EWavFileError("WAV write error");
  const int64_t n = frames * FrameBytes();
  if (File.Write(bytes, n) != n) throw EWavFileError("WAV write error");
  FCurrentSample = static_cast<uint32_t>(end);
  FSampleCnt = std::max(FSampleCnt, FCurrentSample);
}

void TQyxWavFile::Write(const TDataBufferF& data) {
  if (!FIsOpen) throw EWavFileError("File not open");
  if (!FWriteMode) throw EWavFileError("File open in read mode");
  if (data.empty() || data[0].empty()) return;
  const int64_t frames = static_cast<int64_t>(data[0].size());
  FRawData.resize(static_cast<size_t>(frames * FrameBytes()));
  FloatToBytes(data, FRawData, WaveFmt);
  WriteRaw(FRawData.data(), frames);
}

void TQyxWavFile::WriteInt(const TDataBufferI& data) {
  if (!FIsOpen) throw EWavFileError("File not open");
  if (!FWriteMode) throw EWavFileError("File open in read mode");
  if (data.empty() || data[0].empty()) return;
  const int64_t frames = static_cast<int64_t>(data[0].size());
  FRawData.resize(static_cast<size_t>(frames * FrameBytes()));
  IntToBytes(data, FRawData, WaveFmt);
  WriteRaw(FRawData.data(), frames);
}

void TQyxWavFile::NormalizeData(TDataBufferF& data) {
  float peak = 0.0f;
  for (const auto& ch : data)
    for (float v : ch) peak = std::max(peak, std::fabs(v));  // NaN never wins the comparison
  if (peak == 0.0f) return;
  const double factor = 1932735282.3 / static_cast<double>(peak);
  for (auto& ch : data)
    for (float& v : ch) v = static_cast<float>(static_cast<double>(v) * factor);
}

void TQyxWavFile::WriteNormalized(TDataBufferF& data) {
  NormalizeData(data);
  Write(data);
}

void TQyxWavFile::WriteInfo() {
  for (size_t i = FInfo.size(); i-- > 0;)
    if (FInfo[i].size() < 6 || FInfo[i][4] != '=') FInfo.erase(FInfo.begin() + static_cast<std::ptrdiff_t>(i));
  if (FInfo.empty()) return;
  TChunkInfo list;
  list.fccType = kInfo;
  CheckMmioResult(File.CreateChunk(list, MMIO_CREATELIST));
  for (const std::string& line : FInfo) {
    TChunkInfo item;
    item.ckid = static_cast<uint32_t>(static_cast<uint8_t>(line[0])) |
                (static_cast<uint32_t>(static_cast<uint8_t>(line[1])) << 8) |
                (static_cast<uint32_t>(static_cast<uint8_t>(line[2])) << 16) |
                (static_cast<uint32_t>(static_cast<uint8_t>(line[3])) << 24);
    // Texts are stored as the bytes of our strings, without a terminating null.
    const std::string text = line.substr(5);
    CheckMmioResult(File.CreateChunk(item, 0));
    const int64_t n = static_cast<int64_t>(text.size());
    if (File.Write(text.data(), n) != n) throw EWavFileError("WAV write error");
    CheckMmioResult(File.Ascend(item));
  }
  CheckMmioResult(File.Ascend(list));
}

void TQyxWavFile::FinishWrite() {
  // The data chunk ends after the last frame written, wherever Seek left us.
  if (!File.Seek(ckInfo.dwDataOffset + static_cast<int64_t>(FSampleCnt) * FrameBytes()))
    throw EWavFileError("WAV seek failed");
  CheckMmioResult(File.Ascend(ckInfo));
  WriteInfo();
  CheckMmioResult(File.Ascend(ckInfoRIFF));
}

void TQyxWavFile::Close() {
  if (!FIsOpen) throw EWavFileError("File not open");
  std::exception_ptr error;
  if (FWriteMode) {
    try {
      FinishWrite();
    } catch (...) {
      error = std::current_exception();
    }
  }
  const bool flushed = File.Close();
  FIsOpen = false;
  FCurrentSample = 0;
  if (error) std::rethrow_exception(error);
  if (!flushed && FWriteMode) throw EWavFileError("WAV write error");
}

void TQyxWavFile::ReadInfo() {
  FInfo.clear();
  TChunkInfo list;
  list.fccType = kInfo;
  std::string body;
  if (File.Descend(list, &ckInfoRIFF, MMIO_FINDLIST) == 0) {
    const int64_t want = list.cksize >= 4 ? static_cast<int64_t>(list.cksize) - 4 : 0;
    // Never allocate more than the file can hold: a corrupt size is a bad header.
    const int64_t here = File.Tell();
    if (want > File.Size() - here) throw EWavFileError("Unable to read header");
    body.resize(static_cast<size_t>(want));
    if (File.Read(body.data(), want) != want) throw EWavFileError("Unable to read header");
  }
  if (!File.Seek(ckInfoRIFF.dwDataOffset + 4)) throw EWavFileError("WAV seek failed");
  size_t pos = 0;
  while (body.size() - pos > 8) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(body.data()) + pos;
    std::string id = body.substr(pos, 4);
    uint32_t size = Get32(p + 4);
    pos += 8;
    size_t len = std::min<size_t>(size, body.size() - pos);
    std::string text = body.substr(pos, len);
    pos += len;
    if (pos < body.size() && body[pos] == '\0') ++pos;
    FInfo.push_back(id + "=" + text);
  }
}

void TQyxWavFile::OpenRead() {
  if (FIsOpen) throw EWavFileError("File already open");
  if (!File.Open(FFileName, TRiffFile::TMode::Read)) throw EWavFileError("Unable to open file: " + FFileName);
  try {
    ckInfoRIFF = TChunkInfo{};
    ckInfoRIFF.fccType = kWave;
    const int rc = File.Descend(ckInfoRIFF, nullptr, MMIO_FINDRIFF);
    if (rc == MMIOERR_CHUNKNOTFOUND || rc == MMIOERR_INVALIDFILE)
      throw EWavFileError(File.Size() == 0 ? "Not a WAV file (the file is empty)" : "Not a WAV file");
    CheckMmioResult(rc);
    ReadInfo();
    ckInfo = TChunkInfo{};
    ckInfo.ckid = kFmt;
    FindChunk(ckInfo, MMIO_FINDCHUNK, "No \"fmt \" chunk");
    if (ckInfo.cksize < 16) throw EWavFileError("Invalid header size");
    uint8_t raw[kWaveFormatExtensibleSize] = {};
    const int want = static_cast<int>(std::min<uint32_t>(ckInfo.cksize, kWaveFormatExtensibleSize));
    const int got = static_cast<int>(File.Read(raw, want));
    if (got < 0) throw EWavFileError("Unable to read header");
    TWaveFormatExtensible f = UnpackWaveFormat(raw, got);
    switch (f.Format.wFormatTag) {
      case WAVE_FORMAT_PCM:
      case WAVE_FORMAT_IEEE_FLOAT:
        if (got < 16) throw EWavFileError("Unable to read header");
        break;
      case WAVE_FORMAT_EXTENSIBLE:
        if (got < kWaveFormatExSize || got < f.Format.cbSize + kWaveFormatExSize)
          throw EWavFileError("Unable to read header");
        break;
      default: throw EWavFileError("Unsupported compression method");
    }
    bool isFloat = false;
    if (f.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
      isFloat = true;
    } else if (f.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
      if (f.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
        isFloat = true;
      else if (!(f.SubFormat == KSDATAFORMAT_SUBTYPE_PCM))
        throw EWavFileError("Unsupported compression method");
    }
    // Widths we cannot convert would play as silence: refuse them instead.
    const TSampleLayout lay = GetSampleLayout(f);
    if (lay.Kind == TSampleLayout::kNone || (isFloat && f.Format.wBitsPerSample != 32))
      throw EWavFileError("Unsupported compression method");
    // A frame must hold every channel's sample: anything else would divide by
    // zero or read past the frame.
    if (f.Format.nChannels == 0) throw EWavFileError("Invalid channel count: 0");
    if (f.Format.nBlockAlign == 0 || f.Format.nBlockAlign % f.Format.nChannels != 0 ||
        f.Format.nBlockAlign < f.Format.nChannels * lay.ContainerBytes)
      throw EWavFileError("Invalid block align: " + std::to_string(f.Format.nBlockAlign));
    WaveFmt = f;
    FChannelCount = f.Format.nChannels;
    FSamplesPerSec = f.Format.nSamplesPerSec;
    FBytesPerSample = f.Format.nBlockAlign / f.Format.nChannels;
    FFloatFmt = isFloat;
    CheckMmioResult(File.Ascend(ckInfo));
    ckInfo = TChunkInfo{};
    ckInfo.ckid = kData;
    FindChunk(ckInfo, MMIO_FINDCHUNK, "No \"data\" chunk after the \"fmt \" chunk");
    // A data chunk that claims more than the file holds ends where the file does.
    const int64_t held = std::max<int64_t>(0, File.Size() - ckInfo.dwDataOffset);
    const int64_t bytes = std::min<int64_t>(ckInfo.cksize, held);
    FSampleCnt = static_cast<uint32_t>(bytes / FrameBytes());
    if (!File.Seek(ckInfo.dwDataOffset)) throw EWavFileError("WAV seek failed");
  } catch (...) {
    File.Close();
    throw;
  }
  FIsOpen = true;
  FWriteMode = false;
  FCurrentSample = 0;
}

int64_t TQyxWavFile::ReadFrames(int32_t count) {
  if (!FIsOpen) throw EWavFileError("File not open");
  if (FWriteMode) throw EWavFileError("File open in write mode");
  if (count < 1) throw ERangeError();
  const int64_t frames = std::min<int64_t>(count, static_cast<int64_t>(FSampleCnt) - FCurrentSample);
  const int64_t want = std::max<int64_t>(frames, 0) * FrameBytes();
  FRawData.resize(static_cast<size_t>(want));
  const int64_t got = File.Read(FRawData.data(), want);
  if (got < 0) throw EWavFileError("WAV read error");
  const int64_t whole = got / FrameBytes();
  FCurrentSample += static_cast<uint32_t>(whole);
  FRawData.resize(static_cast<size_t>(whole * FrameBytes()));
  // Keep the file at a frame boundary after a short read.
  if (whole * FrameBytes() != got) File.Seek(ckInfo.dwDataOffset + static_cast<int64_t>(FCurrentSample) * FrameBytes());
  return whole;
}

void TQyxWavFile::Read(int32_t count, TDataBufferF& data) {
  const int64_t frames = ReadFrames(count);
  data.resize(FChannelCount);
  for (auto& ch : data) ch.resize(static_cast<size_t>(frames));
  BytesToFloat(FRawData, data, WaveFmt);
}

TDataBufferF TQyxWavFile::Read(int32_t count) {
  TDataBufferF data;
  Read(count, data);
  return data;
}

void TQyxWavFile::ReadInt(int32_t count, TDataBufferI& data) {
  const int64_t frames = ReadFrames(count);
  data.resize(FChannelCount);
  for (auto& ch : data) ch.resize(static_cast<size_t>(frames));
  BytesToInt(FRawData, data, WaveFmt);
}

void TQyxWavFile::Seek(uint32_t sample) {
  if (!FIsOpen) throw EWavFileError("File not open");
  if (sample > FSampleCnt) throw EWavFileError("Invalid Seek position");
  const int64_t pos = ckInfo.dwDataOffset + static_cast<int64_t>(sample) * FrameBytes();
  if (!File.Seek(pos) || File.Tell() != pos) throw EWavFileError("WAV seek failed");
  FCurrentSample = sample;
}

std::string TQyxWavFile::FormatTag() const {
  switch (WaveFmt.Format.wFormatTag) {
    case WAVE_FORMAT_PCM: return "WAVE_FORMAT_PCM";
    case WAVE_FORMAT_IEEE_FLOAT: return "WAVE_FORMAT_IEEE_FLOAT";
    case WAVE_FORMAT_EXTENSIBLE: return "WAVE_FORMAT_EXTENSIBLE";
    default: return std::to_string(WaveFmt.Format.wFormatTag);
  }
}

std::string TQyxWavFile::SubFormatTag() const {
  if (WaveFmt.Format.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return "";
  for (const auto& g : kGuidNames)
    if (g.Guid == WaveFmt.SubFormat) return g.Name;
  return "";
}

}  // namespace brenvo
