// A second decoder program as a second source of text: the external engine
// runs as a child process started with the single argument "-r"; every byte
// it writes to its standard output is one received character, which passes
// through a message corrector and a message storage of our own into a text
// view. The engine having started is "connected", its end (exit, crash,
// failure to start) "disconnected"; nothing is retried.
//
// All calls and callbacks run on the thread that owns the Qt event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "decoder/char_info.h"
#include "decoder/message_corrector.h"
#include "decoder/message_storage.h"
#include "receiver/road_links.h"

class QProcess;
class QSocketNotifier;

namespace brenvo {

class TXmmtInterface {
 public:
  // Shown in place of the text once the engine has ended, followed by ": "
  // and why ("/opt/x: not found", "/opt/x exited with status 1").
  static constexpr const char* kNotConnected = "Not Connected";
  // Bytes of engine output handled per event-loop turn: an engine that floods
  // its output is slowed down by the pipe instead of freezing the window.
  static constexpr int kReadChunk = 256;
  // On stop: time the engine has to end after SIGTERM before it gets SIGKILL,
  // and the longest wait for it to be reaped after that.
  static constexpr int kTerminateGraceMs = 1000;
  static constexpr int kKillWaitMs = 3000;
  // DisconnectStatus() for an engine that did not exit by itself.
  static constexpr int kStatusFailedToStart = -1;
  static constexpr int kStatusCrashed = -2;  // killed by a signal
  static constexpr int kStatusLinkError = -3;  // our side failed (LinkError())

  // TxtFrm: the view that shows the corrected text; may be null (no output).
  explicit TXmmtInterface(IMessageView* TxtFrm = nullptr);
  // Stops a running engine and what it started (SIGTERM to its process
  // group, SIGKILL after the grace period) and reaps it; no callback runs.
  ~TXmmtInterface();
  TXmmtInterface(const TXmmtInterface&) = delete;
  TXmmtInterface& operator=(const TXmmtInterface&) = delete;

  // Empties the storage, resets the corrector with the current message model
  // (call after every model rebuild) and returns the shift state to letters.
  void Reset();

  // True starts ExternalExe (stopping an engine still running first), sets the
  // flag at once and resets; the flag drops again when the engine ends. False
  // stops the engine without any callback and resets.
  bool Connected() const { return FConnected; }
  void SetConnected(bool v);

  // Kept and toggled for the view's Ctrl+Shift click; the engine has no window
  // of ours to show or hide. Cleared when the engine starts.
  bool WindowVisible() const { return FWindowVisible; }
  void SetWindowVisible(bool v) { FWindowVisible = v; }

  // Path of the engine program; used by the next SetConnected(true).
  const std::string& ExternalExe() const { return FExternalExe; }
  void SetExternalExe(const std::string& v) { FExternalExe = v; }

  IMessageView* TxtFrm() const { return FTxtFrm; }
  void SetTxtFrm(IMessageView* v) { FTxtFrm = v; }

  // Status for the view's place: kNotConnected and the reason when the
  // engine has ended (the view then hides its text and shows this line
  // instead), empty when an engine has started (the view shows its text
  // again). May come from within SetConnected(true) when the start fails at
  // once. Neither this nor the view's PutText may change Connected. What
  // either throws ends the link (kStatusLinkError) instead of reaching the
  // event loop.
  std::function<void(const std::string& Text)> OnShowStatus;

  // Shift state of the engine's character stream (true = figures).
  bool Figs() const { return FFigs; }
  const TMessageStorage& Ms() const { return FMs; }
  const TRttyMessageCorrector& Mc() const { return FMc; }
  // Process id of the running engine, 0 when there is none.
  int64_t EnginePid() const;
  // How the last engine ended: its exit code, or one of the kStatus values.
  int DisconnectStatus() const { return FDisconnectStatus; }
  // What failed on our side when DisconnectStatus() is kStatusLinkError.
  const std::string& LinkError() const { return FLinkError; }

  // The engine's name for a caption: the file name of the path without its
  // folder and last extension ("/opt/mm/minimodem_engine.sh" gives
  // "minimodem_engine"; a name that starts with its only dot keeps it).
  static std::string EngineCaption(const std::string& ExternalExe);

  // One character of the engine's output (its low byte counts): what the
  // output reader hands on for every byte it reads.
  void XmmrCharRcvd(int16_t bChar);

 private:
  void StartEngine();
  void StopEngine();
  std::string NotConnectedText() const;
  void CloseOutput();
  void ReadEngineOutput();
  void EngineEnded(int Status);
  void FinishDisconnect();
  bool ShowStatus(const std::string& Text);
  void XmmrConnected();
  TCharInfo MakeXmmtCharInfo(uint8_t Code) const;
  void PutRecord(const TCharInfo& Rec);

  TMessageStorage FMs;
  TRttyMessageCorrector FMc;
  bool FWindowVisible = false;
  bool FConnected = false;
  bool FFigs = false;
  std::string FExternalExe;
  IMessageView* FTxtFrm = nullptr;

  std::unique_ptr<QProcess> FProcess;
  std::unique_ptr<QSocketNotifier> FNotifier;
  int FReadFd = -1;  // our end of the engine's standard output, non-blocking
  int64_t FGroup = 0;  // the engine's process group (its process id)
  std::string FStartError;  // what the start reported when it failed
  bool FEngineEnded = false;  // reaped; its remaining output is still read
  int FEndStatus = 0;
  int FDisconnectStatus = 0;
  std::string FLinkError;
  TCharInfoArray FNewChars, FOldChars;  // one view batch, reused
};

}  // namespace brenvo
