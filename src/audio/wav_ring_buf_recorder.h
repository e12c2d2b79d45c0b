// Keeps the last 60 seconds of the decoder's audio channel, saves them to a
// WAV file on request, and plays WAV files back through the same data event
// as the soundcard stream, so that a recording runs through the whole
// decoding chain like live audio.
#pragma once

#include <cstdint>
#include <string>

#include "audio/audio_event.h"
#include "dsp/types.h"

namespace brenvo {

// What a file dialog shows. Filter pairs are "description|pattern" joined by "|".
struct TFileDialogOptions {
  std::string Title;
  std::string DefaultExt;  // without the dot
  std::string Filter;
  std::string InitialDir;  // folder to show first; ends with "/"
  bool HideReadOnly = false;
  bool PathMustExist = false;
  bool Resizable = false;
  bool OverwritePrompt = false;
};

// The recorder's dialogs and beep; the user interface implements them, tests
// script them. All are called on the thread that called SaveRingBuf or PlayBack.
class IRecorderUi {
 public:
  virtual ~IRecorderUi() = default;
  // Offers the save dialog with `proposedName` (a file name without folder).
  // True with the chosen full path in `chosen` when the user confirms.
  virtual bool ExecuteSaveDialog(const TFileDialogOptions& dlg, const std::string& proposedName,
                                 std::string& chosen) = 0;
  // The same for the open dialog.
  virtual bool ExecuteOpenDialog(const TFileDialogOptions& dlg, const std::string& proposedName,
                                 std::string& chosen) = 0;
  // The system's default beep.
  virtual void Beep() = 0;
};

// Play-back of a file, shared by the recorder and tools that decode files.
// Raises onData (when set) with `sender`, an empty integer buffer, one block
// of 128 frames (one array per channel of the file) and an empty OutBuffer,
// for every whole block of the 6000 Hz WAV file `fileName`, as fast as the
// caller's thread allows; a final short block is not played. The file is read
// block by block, never whole. After the file's last block come
// kPlayBackFlushBlocks silent blocks (zeros, as many arrays as the file has
// channels): the decoder gives out its characters about half a second after
// their audio, so without them the text of the file's last second would
// never appear. Returns the number of the file's blocks played (the silent
// ones not counted; none follow a file without a whole block). A rate other
// than 6000 Hz raises "Unsupported sampling rate: %d Hz, must be %d Hz"
// before anything is played; reading errors of the WAV file pass through.
inline constexpr int32_t kPlayBackFlushBlocks = 47;  // one second of blocks (46.875)
int64_t PlayWavFile(const std::string& fileName, const TDataEvent& onData, const void* sender);

class TWavRingBufRecorder {
 public:
  static constexpr int32_t kBlockFrames = 128;   // frames per block, saved and played
  static constexpr int32_t kSampleRate = 6000;   // Hz, of recordings and play-back files
  static constexpr int32_t kRecSeconds = 60;
  static constexpr int32_t kRingBlocks = kRecSeconds * kSampleRate / kBlockFrames;  // 2812
  static constexpr const char* kWebAddress = "https://brenvo.example.org/";

  // `ui` (not owned, must outlive the recorder) supplies dialogs and beep.
  // The recordings folder is the settings folder followed by "Wav/".
  explicit TWavRingBufRecorder(IRecorderUi& ui);

  // Empties the ring (all 2812 slots) and the count of blocks added.
  void ClearRingBuf();
  // Copies a block (normally 128 samples of the decoder's channel) into the
  // next slot; after 2812 blocks each new one overwrites the oldest. Slots
  // reuse their storage, so this allocates nothing once the ring has filled.
  void AddToRingBuf(const TSingleArray& block);
  // Saves the ring as a 16-bit mono 6000 Hz WAV file in the recordings
  // folder, named "yyyy-mm-dd hhnnss.wav" after the UTC time (" (2)" and so
  // on before ".wav" when a file of that name is already there), then offers
  // the save dialog: confirming keeps it (moved to the
  // chosen name when that differs), cancelling deletes it. True when a
  // recording was kept. With nothing recorded it only beeps.
  bool SaveRingBuf();
  // Plays a WAV file through OnData with PlayWavFile (the silent blocks that
  // flush the decoder included). Asks for the file when `ask` is set or the
  // last saved recording is gone, in the last recording's folder, else in the
  // recordings folder. A file it cannot play raises EWavFileError
  // "Cannot play back "<file>": " and the reason; errors of OnData pass as
  // they are.
  void PlayBack(bool ask);

  const TDataEvent& OnData() const { return FOnData; }
  void SetOnData(TDataEvent handler) { FOnData = std::move(handler); }
  const std::string& LastFileName() const { return FLastFileName; }
  const std::string& WavDir() const { return FWavDir; }
  // Blocks added since the last clear.
  int64_t BufIdx() const { return FBufIdx; }
  // The block in ring slot `slot` (0..2811).
  const TSingleArray& Slot(int32_t slot) const;

  const TFileDialogOptions& SaveDlg() const { return FSaveDlg; }
  const TFileDialogOptions& OpenDlg() const { return FOpenDlg; }

 private:
  void WriteRingBufToWav();
  static void MoveFileReplacing(const std::string& from, const std::string& to);

  IRecorderUi& Ui;
  std::vector<TSingleArray> RingBuf;
  int64_t FBufIdx = 0;
  TFileDialogOptions FSaveDlg;
  TFileDialogOptions FOpenDlg;
  TDataEvent FOnData;
  std::string FLastFileName;
  std::string FWavDir;
};

}  // namespace brenvo
