// Moves audio between the program and a sound device through ALSA: captures
// blocks from an input device, renders blocks to an output device, or both,
// and hands every block to OnData as per-channel float arrays on the owner's
// thread. A capture thread of its own waits on the device; completed buffers
// reach the owner, in order, through the dispatcher the owner supplies.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_dispatcher.h"
#include "audio/audio_event.h"
#include "audio/snd_conv.h"
#include "dsp/errors.h"
#include "dsp/types.h"

struct _snd_pcm;
struct _snd_config;

namespace brenvo {

// A sound-device failure, carrying ALSA's own error text.
class EAudioError : public EBrenvoError {
 public:
  using EBrenvoError::EBrenvoError;
};

enum TDataDirections { ddCapture, ddRender, ddBoth };

// One direction's settings; they take effect at the next Open.
struct TDeviceSettings {
  int32_t Index = 0;            // position in the device list (0 = first, "default")
  int32_t Channels = 2;         // 1..65535
  int32_t SamplingRate = 48000; // frames per second, > 0
  int32_t BitsPerSample = 24;   // container bits: 8, 16, 24 or 32
  int32_t SamplesPerBuf = 2048; // frames per buffer, > 0
  void AssignTo(TDeviceSettings& dest) const { dest = *this; }
};

// A device as ALSA names it, and the product name the menus show.
struct TWaveDevice {
  std::string PcmName;
  std::string ProductName;
};

// Device lists in device order ("default" first) and their menu lines
// "%.2d  %s" (1-based number, two blanks, product name). Built at start-up
// by ListWaveDevices; SetWaveDevices replaces them (tools and tests).
extern std::vector<TWaveDevice> WaveInDevices;
extern std::vector<TWaveDevice> WaveOutDevices;
extern std::vector<std::string> WaveInDeviceNames;
extern std::vector<std::string> WaveOutDeviceNames;
void ListWaveDevices();
void SetWaveDevices(std::vector<TWaveDevice> in, std::vector<TWaveDevice> out);

// The format a direction asks for. Extensible: tag FFFE, BitsPerSample bits.
// Plain (the fallback when the device refuses that): tag 1, 16 bits, block
// align 2 * Channels. ERangeError for values that do not fit their fields.
TWaveFormatExtensible MakeWaveFormat(const TDeviceSettings& dev, bool extensible);

// ALSA's text for an error code, or "Unknown error: " and the code.
std::string AlsaErrorText(int rc);

class TMmeAudioStream {
 public:
  // `dispatcher` (not owned) must outlive the stream.
  explicit TMmeAudioStream(IAudioDispatcher& dispatcher);
  // Closes (errors swallowed) and withdraws deliveries still queued.
  ~TMmeAudioStream();
  TMmeAudioStream(const TMmeAudioStream&) = delete;
  TMmeAudioStream& operator=(const TMmeAudioStream&) = delete;

  // Starts the stream; does nothing when running. On failure everything
  // opened is released and the first error (EAudioError, ERangeError) raised.
  // Raises EAudioError when called from a delivery that a direct dispatcher
  // runs on the stream's own audio thread.
  void Open();
  // Stops the stream; does nothing when stopped. Releases every device and
  // buffer, then raises the first error met, if any. It returns also when
  // the device has stopped delivering and a read waits inside ALSA (a
  // stalled source behind the file plugin): a signal (SIGRTMIN + 5, unless
  // the process gave it a handler of its own) ends that read. Called from a delivery
  // on the stream's own audio thread (a direct dispatcher), it only stops:
  // that thread cannot wait for itself, so the next Open, Close or the
  // destructor on the owner's thread releases the devices.
  void Close();

  TDataDirections Directions() const { return FDirections; }
  void SetDirections(TDataDirections v) { FDirections = v; }
  TDeviceSettings& InputDevice() { return FInputDevice; }
  TDeviceSettings& OutputDevice() { return FOutputDevice; }
  bool IsRunning() const { return FIsRunning.load(); }
  // Buffers per direction, 1..1024 (ERangeError otherwise); default 8.
  int32_t BufferCount() const { return FBufferCount; }
  void SetBufferCount(int32_t v);
  const TDataEvent& OnData() const { return FOnData; }
  void SetOnData(TDataEvent handler) { FOnData = std::move(handler); }
  // Text of the last device error.
  const std::string& ErrorMessage() const { return FErrorMessage; }
  // Formats of the open input and output (after any fallback).
  const TWaveFormatExtensible& FmtI() const { return FFmtI; }
  const TWaveFormatExtensible& FmtO() const { return FFmtO; }
  // An ALSA configuration (text) to open devices from instead of the
  // system's; empty = the system's. For tests and special set-ups.
  void SetAlsaConfig(std::string text) { FAlsaConfig = std::move(text); }

 private:
  struct TWaveBuffer {
    TByteArray Data;
  };
  // Fixed-capacity FIFO of buffer numbers: no allocation while running.
  struct TIndexQueue {
    std::vector<int32_t> Items;
    size_t Head = 0, Count = 0;
    void Reset(size_t capacity) { Items.assign(capacity, 0); Head = Count = 0; }
    bool Empty() const { return Count == 0; }
    int32_t Front() const { return Items[Head]; }
    void Push(int32_t v) { Items[(Head + Count) % Items.size()] = v; ++Count; }
    void Pop() { Head = (Head + 1) % Items.size(); --Count; }
  };

  // Raises ALSA's text for rc < 0; with Device ("capture device "default"")
  // it names the device and says what the user can do.
  void CheckAlsaResult(int rc, const std::string& Device = {});
  void OpenPcm(_snd_pcm** pcm, bool capture, const TDeviceSettings& dev, TWaveFormatExtensible& fmt);
  void OpenCapture();
  void OpenRender();
  void QueueCaptureBuffer(int32_t idx);
  void QueueRenderBuffer(int32_t idx);
  void DeliverInput(uint64_t token);
  void DeliverOutput(uint64_t token);
  void DeliverFailure(uint64_t generation);
  void Worker();
  void Wake();
  bool OnAudioThread() const;
  // Stops and joins the audio thread, closes the devices; returns the first
  // ALSA error met (0 when none).
  int ReleaseAll();

  IAudioDispatcher& Dispatcher;
  TDataDirections FDirections = ddBoth;
  TDeviceSettings FInputDevice;
  TDeviceSettings FOutputDevice;
  // What the running stream was opened with. The properties above may change
  // while it runs; the buffers the device fills keep these sizes until Close.
  TDataDirections RunDirections = ddBoth;
  int32_t RunInFrames = 0;
  int32_t RunOutFrames = 0;
  // Atomic: a direct dispatcher reads it on the audio thread.
  std::atomic<bool> FIsRunning{false};
  int32_t FBufferCount = 8;
  TDataEvent FOnData;
  TWaveFormatExtensible FFmtI;
  TWaveFormatExtensible FFmtO;
  _snd_pcm* InH = nullptr;
  _snd_pcm* OutH = nullptr;
  _snd_config* Config = nullptr;
  std::vector<TWaveBuffer> InBufs;
  std::vector<TWaveBuffer> OutBufs;
  TByteArray RingBuf[4];
  int32_t RdIdx = 0;
  int32_t WrIdx = 0;
  TDataBufferF FloatInBuf;
  TDataBufferF FloatOutBuf;
  const TDataBufferF EmptyIn;
  const TDataBufferI EmptyInt;
  std::string FErrorMessage;
  std::string FAlsaConfig;
  // Counts Open calls: deliveries of an earlier run are recognised and dropped.
  uint64_t Generation = 0;

  // Shared with the audio thread, under Mutex.
  std::mutex Mutex;
  TIndexQueue InQueue;   // capture buffers handed to the device, in order
  TIndexQueue OutQueue;  // render buffers waiting to be written, in order
  bool StopRequested = false;
  bool WorkerDone = false;  // the audio loop has ended; DoneCv tells
  std::condition_variable DoneCv;
  std::string WorkerError;
  int WakeFd = -1;
  std::thread Thread;
};

}  // namespace brenvo
