// RIFF/WAVE files: plain PCM, IEEE-float and extensible, with an optional
// LIST "INFO" chunk of text items after the data. Samples are exchanged as
// per-channel arrays through the conversions of snd_conv.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/riff_file.h"
#include "audio/snd_conv.h"
#include "dsp/errors.h"
#include "dsp/types.h"

namespace brenvo {

// Every failure of a WAV file, with the text shown to the user.
class EWavFileError : public EBrenvoError {
 public:
  using EBrenvoError::EBrenvoError;
};

class TQyxWavFile {
 public:
  TQyxWavFile();
  // Closes a file still open, finishing a file being written (sizes and INFO
  // list) so that what was written stays playable; errors are swallowed.
  ~TQyxWavFile();
  TQyxWavFile(const TQyxWavFile&) = delete;
  TQyxWavFile& operator=(const TQyxWavFile&) = delete;

  // Parameters: changeable only while closed ("Cannot change parameter when
  // the file is open"). ChannelCount 1..65535, BytesPerSample 1..4 (a block
  // align or bit count that does not fit 16 bits raises ERangeError at
  // OpenWrite), SamplesPerSec in frames per second.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& v);
  uint32_t ChannelCount() const { return FChannelCount; }
  void SetChannelCount(uint32_t v);
  uint32_t SamplesPerSec() const { return FSamplesPerSec; }
  void SetSamplesPerSec(uint32_t v);
  // Container bytes of one sample; anything but 4 clears FloatFmt.
  uint32_t BytesPerSample() const { return FBytesPerSample; }
  void SetBytesPerSample(uint32_t v);
  // IEEE float samples; true sets BytesPerSample to 4.
  bool FloatFmt() const { return FFloatFmt; }
  void SetFloatFmt(bool v);

  // INFO items, each "IDID=text" (four-character id, "=", text). Written at
  // Close of a file being written; filled by OpenRead. Lines shorter than 6
  // characters or without "=" in fifth place are dropped when writing.
  const std::vector<std::string>& Info() const { return FInfo; }
  void SetInfo(const std::vector<std::string>& lines) { FInfo = lines; }

  bool IsOpen() const { return FIsOpen; }
  // Frames in the data chunk (for reading: no more than the file holds).
  uint32_t SampleCnt() const { return FSampleCnt; }
  // Frame position.
  uint32_t CurrentSample() const { return FCurrentSample; }
  // Valid bits of an extensible PCM file open for reading, else
  // BytesPerSample * 8. "File not open" when closed.
  uint32_t ValidBits() const;
  const TWaveFormatExtensible& WaveFormat() const { return WaveFmt; }

  void OpenWrite();
  // Appends frames: ChannelCount arrays of equal length (an empty Data or an
  // empty first array writes nothing).
  void Write(const TDataBufferF& data);
  void WriteInt(const TDataBufferI& data);
  // Scales Data in place so that its peak is 0.9 of full scale, then writes it.
  void WriteNormalized(TDataBufferF& data);
  static void NormalizeData(TDataBufferF& data);

  void OpenRead();
  // Reads up to count frames (count >= 1) into data: ChannelCount arrays of
  // the frames actually read, fewer at the end of the data chunk, empty when
  // none remain. The arrays are the caller's (their storage is reused).
  void Read(int32_t count, TDataBufferF& data);
  TDataBufferF Read(int32_t count);
  void ReadInt(int32_t count, TDataBufferI& data);
  // Moves to frame `sample` (0..SampleCnt).
  void Seek(uint32_t sample);
  // Finishes (sizes, INFO list) and closes. The file is closed also when
  // finishing fails; the first error is raised afterwards.
  void Close();

  // "WAVE_FORMAT_PCM", "WAVE_FORMAT_IEEE_FLOAT", "WAVE_FORMAT_EXTENSIBLE" or
  // the tag in decimal.
  std::string FormatTag() const;
  // Windows name of an extensible file's sub-format GUID; empty when unknown.
  std::string SubFormatTag() const;

 private:
  void CheckClosedForChange() const;
  void CheckMmioResult(int rc) const;
  // Descends to a chunk of the RIFF chunk; `missing` is the message when it is not there.
  void FindChunk(TChunkInfo& ck, uint32_t flags, const std::string& missing);
  void BuildWriteFormat();
  void WriteRaw(const uint8_t* bytes, int64_t frames);
  int64_t FrameBytes() const { return static_cast<int64_t>(FBytesPerSample) * FChannelCount; }
  int64_t ReadFrames(int32_t count);
  void ReadInfo();
  void WriteInfo();
  void FinishWrite();

  TRiffFile File;
  TChunkInfo ckInfoRIFF;
  TChunkInfo ckInfo;
  std::string FFileName;
  std::vector<std::string> FInfo;
  uint32_t FChannelCount = 1;
  uint32_t FSamplesPerSec = 11025;
  uint32_t FBytesPerSample = 2;
  bool FFloatFmt = false;
  bool FIsOpen = false;
  bool FWriteMode = false;
  uint32_t FSampleCnt = 0;
  uint32_t FCurrentSample = 0;
  TByteArray FRawData;
  TWaveFormatExtensible WaveFmt;
};

}  // namespace brenvo
