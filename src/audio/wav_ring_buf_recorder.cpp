#include "audio/wav_ring_buf_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "audio/qyx_wav_file.h"
#include "decoder/utc_clock.h"
#include "dsp/errors.h"
#include "files/data_folders.h"

namespace brenvo {

namespace fs = std::filesystem;

namespace {

const char* const kWavFilter = "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*";

// "yyyy-mm-dd hhnnss" of a date-time.
std::string FileStamp(TDateTime t) {
  TDateTimeParts p = DecodeDateTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d%02d%02d", p.Year % 10000, p.Month, p.Day, p.Hour, p.Minute,
                p.Second);
  return buf;
}

std::string FileNamePart(const std::string& path) { return fs::path(path).filename().string(); }

// Waits until the file's (or folder's) contents are on the disk.
void SyncToDisk(const std::string& path, std::error_code& ec) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) ec.assign(errno, std::generic_category());
  if (fd >= 0) ::close(fd);
}

}  // namespace

TWavRingBufRecorder::TWavRingBufRecorder(IRecorderUi& ui) : Ui(ui) {
  FWavDir = GetSettingsFolder() + "Wav/";
  FSaveDlg.Title = "Save Audio";
  FSaveDlg.DefaultExt = "wav";
  FSaveDlg.Filter = kWavFilter;
  FSaveDlg.InitialDir = FWavDir;
  FSaveDlg.HideReadOnly = true;
  FSaveDlg.PathMustExist = true;
  FSaveDlg.Resizable = true;
  FOpenDlg.Title = "Play Back Audio";
  FOpenDlg.DefaultExt = "wav";
  FOpenDlg.Filter = kWavFilter;
  ClearRingBuf();
}

void TWavRingBufRecorder::ClearRingBuf() {
  RingBuf.assign(kRingBlocks, TSingleArray());
  FBufIdx = 0;
}

void TWavRingBufRecorder::AddToRingBuf(const TSingleArray& block) {
  RingBuf[static_cast<size_t>(PosMod<int64_t>(FBufIdx, kRingBlocks))].assign(block.begin(), block.end());
  ++FBufIdx;
}

const TSingleArray& TWavRingBufRecorder::Slot(int32_t slot) const {
  CheckIndex(slot, kRingBlocks);
  return RingBuf[static_cast<size_t>(slot)];
}

void TWavRingBufRecorder::WriteRingBufToWav() {
  const int64_t n = std::min<int64_t>(FBufIdx, kRingBlocks);
  const TDateTime start = UtcNow() - static_cast<double>(n) * kBlockFrames / kSampleRate / 86400.0;
  ForceFolder(FWavDir);
  const std::string stem = FWavDir + FileStamp(UtcNow());
  FLastFileName = stem + ".wav";
  // Two saves within one second would share the name: the second must neither
  // overwrite the first recording nor delete it when its dialog is cancelled.
  std::error_code ec;
  for (int n = 2; n < 1000 && fs::exists(FLastFileName, ec); ++n)
    FLastFileName = stem + " (" + std::to_string(n) + ").wav";
  TQyxWavFile wav;
  wav.SetFileName(FLastFileName);
  wav.SetSamplesPerSec(kSampleRate);
  wav.SetBytesPerSample(2);
  wav.SetChannelCount(1);
  wav.OpenWrite();
  TDataBufferF one(1);
  for (int64_t i = 0; i < n; ++i) {
    // Write through a view of the slot: swap it in and back out, no copy.
    TSingleArray& slot = RingBuf[static_cast<size_t>(PosMod<int64_t>(FBufIdx - n + i, kRingBlocks))];
    one[0].swap(slot);
    try {
      wav.Write(one);
    } catch (...) {
      one[0].swap(slot);
      throw;
    }
    one[0].swap(slot);
  }
  wav.SetInfo({"QTR =" + UtcToStr(start) + " UTC", "ISFT=BRENVO", std::string("IWEB=") + kWebAddress});
  wav.Close();
}

void TWavRingBufRecorder::MoveFileReplacing(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return;
  // rename cannot cross file systems: copy beside the target, then swap it
  // in, so that a failed copy never leaves a half-written target. The copy
  // goes under a name nobody uses, never over a file of the user's.
  std::string tmp = to + ".part";
  for (int n = 2; n < 1000 && fs::exists(tmp, ec); ++n) tmp = to + ".part" + std::to_string(n);
  ec.clear();
  fs::copy_file(from, tmp, fs::copy_options::none, ec);
  // Write-through: the copy is on the disk before the original goes.
  if (!ec) SyncToDisk(tmp, ec);
  if (!ec) fs::rename(tmp, to, ec);
  if (!ec) {
    std::error_code ignore;
    SyncToDisk(fs::path(to).parent_path().empty() ? "." : fs::path(to).parent_path().string(), ignore);
  }
  if (ec) {
    std::error_code ignore;
    fs::remove(tmp, ignore);
    throw EBrenvoError("Cannot move/rename file \"" + from + "\" to \"" + to + "\"");
  }
  std::error_code ignore;
  fs::remove(from, ignore);
}

bool TWavRingBufRecorder::SaveRingBuf() {
  if (FBufIdx == 0) {
    Ui.Beep();
    return false;
  }
  WriteRingBufToWav();
  const std::string temp = FLastFileName;
  std::string chosen;
  if (!Ui.ExecuteSaveDialog(FSaveDlg, FileNamePart(temp), chosen)) {
    std::error_code ignore;
    fs::remove(temp, ignore);
    return false;
  }
  // The same file under another spelling (a link, "./", "//") is kept as it
  // is: moving it onto itself would destroy it.
  std::error_code ec;
  const bool same = chosen == temp || fs::equivalent(temp, chosen, ec);
  if (!same) MoveFileReplacing(temp, chosen);
  FLastFileName = chosen;
  return true;
}

void TWavRingBufRecorder::PlayBack(bool ask) {
  std::string name = FLastFileName;
  std::error_code ec;
  if (ask || name.empty() || !fs::is_regular_file(name, ec)) {
    TFileDialogOptions dlg = FOpenDlg;
    // The last recording's folder, else the one recordings are saved in, made
    // now if need be: for a folder that is not there the dialog would show
    // the working folder.
    dlg.InitialDir = name.empty() ? FWavDir : fs::path(name).parent_path().string() + "/";
    if (!fs::is_directory(dlg.InitialDir, ec)) {
      ForceFolder(FWavDir);
      dlg.InitialDir = FWavDir;
    }
    std::string chosen;
    if (!Ui.ExecuteOpenDialog(dlg, FileNamePart(name), chosen)) return;
    name = chosen;
  }
  // What the file does wrong names it (the user may have picked any file);
  // what the decoding does wrong passes as it is.
  bool decoding = false;
  const TDataEvent decode = [&](const void* sender, const TDataBufferI& ints, const TDataBufferF& in,
                                TDataBufferF& out) {
    decoding = true;
    if (FOnData) FOnData(sender, ints, in, out);
    decoding = false;
  };
  try {
    PlayWavFile(name, decode, this);
  } catch (const std::exception& e) {
    if (decoding) throw;
    throw EWavFileError("Cannot play back \"" + name + "\": " + e.what());
  }
}

int64_t PlayWavFile(const std::string& fileName, const TDataEvent& onData, const void* sender) {
  constexpr int32_t kFrames = TWavRingBufRecorder::kBlockFrames;
  constexpr int32_t kRate = TWavRingBufRecorder::kSampleRate;
  TQyxWavFile wav;
  wav.SetFileName(fileName);
  wav.OpenRead();
  if (wav.SamplesPerSec() != static_cast<uint32_t>(kRate)) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "Unsupported sampling rate: %u Hz, must be %d Hz", wav.SamplesPerSec(), kRate);
    throw EBrenvoError(buf);
  }
  TDataBufferF block;
  TDataBufferF out;
  const TDataBufferI none;
  // Every block's OutBuffer is empty, whatever a handler left in the last one.
  auto raise = [&] {
    out.clear();
    if (onData) onData(sender, none, block, out);
  };
  int64_t played = 0;
  while (static_cast<int64_t>(wav.CurrentSample()) + kFrames <= wav.SampleCnt()) {
    wav.Read(kFrames, block);
    // A file shorter than its header claims ends here, never in a loop.
    if (block.empty() || static_cast<int32_t>(block[0].size()) < kFrames) break;
    raise();
    ++played;
  }
  const std::size_t channels = wav.ChannelCount();
  wav.Close();
  if (played > 0) {
    block.assign(channels, TSingleArray(kFrames, 0.0f));
    for (int32_t i = 0; i < kPlayBackFlushBlocks; ++i) raise();
  }
  return played;
}

}  // namespace brenvo
