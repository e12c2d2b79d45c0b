#include "audio/mme_audio_stream.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

namespace brenvo {

std::vector<TWaveDevice> WaveInDevices;
std::vector<TWaveDevice> WaveOutDevices;
std::vector<std::string> WaveInDeviceNames;
std::vector<std::string> WaveOutDeviceNames;

namespace {

// ALSA prints its complaints to stderr; we report errors ourselves.
void QuietAlsaLog(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaLog); });
}

// A read can wait inside ALSA although the PCM does not block: the file
// plugin reads its input file with a plain read(), so a FIFO that nobody
// writes to (a stalled source) holds the audio thread for ever, and the
// wake descriptor cannot reach it there. A signal whose handler does nothing
// and is installed without SA_RESTART ends such a read with EINTR.
int WakeSignal() { return SIGRTMIN + 5; }

void IgnoreWake(int) {}

// False when the signal already belongs to someone else: it is then never sent.
bool InstallWakeHandler() {
  static const bool installed = [] {
    struct sigaction old {};
    if (::sigaction(WakeSignal(), nullptr, &old) != 0) return false;
    if (old.sa_handler == IgnoreWake) return true;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) return false;
    struct sigaction sa {};
    sa.sa_handler = IgnoreWake;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the interrupted read returns
    return ::sigaction(WakeSignal(), &sa, nullptr) == 0;
  }();
  return installed;
}

// The stream whose audio loop runs on this thread: a direct dispatcher calls
// back into it there, where it must not wait for its own thread.
thread_local const TMmeAudioStream* tlsRunningStream = nullptr;

std::vector<std::string> MenuLines(const std::vector<TWaveDevice>& devices) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < devices.size(); ++i) {
    char num[16];
    std::snprintf(num, sizeof num, "%.2d", static_cast<int>(i + 1));
    lines.push_back(std::string(num) + "  " + devices[i].ProductName);
  }
  return lines;
}

snd_pcm_format_t AlsaFormat(const TWaveFormatExtensible& fmt) {
  switch (GetSampleLayout(fmt).Kind) {
    case TSampleLayout::kInt8: return SND_PCM_FORMAT_U8;
    case TSampleLayout::kInt16: return SND_PCM_FORMAT_S16_LE;
    case TSampleLayout::kInt24: return SND_PCM_FORMAT_S24_3LE;
    case TSampleLayout::kInt32: return SND_PCM_FORMAT_S32_LE;
    case TSampleLayout::kFloat32: return SND_PCM_FORMAT_FLOAT_LE;
    default: return SND_PCM_FORMAT_UNKNOWN;
  }
}

// Interleaved access, the format's sample type, channels and exact rate;
// one period per buffer of ours, bufferCount periods in the device.
int ConfigurePcm(snd_pcm_t* pcm, const TWaveFormatExtensible& fmt, int32_t framesPerBuf, int32_t bufferCount) {
  snd_pcm_format_t format = AlsaFormat(fmt);
  if (format == SND_PCM_FORMAT_UNKNOWN) return -EINVAL;
  snd_pcm_hw_params_t* hw = nullptr;
  int rc = snd_pcm_hw_params_malloc(&hw);
  if (rc < 0) return rc;
  if ((rc = snd_pcm_hw_params_any(pcm, hw)) >= 0 &&
      (rc = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) >= 0 &&
      (rc = snd_pcm_hw_params_set_format(pcm, hw, format)) >= 0 &&
      (rc = snd_pcm_hw_params_set_channels(pcm, hw, fmt.Format.nChannels)) >= 0 &&
      (rc = snd_pcm_hw_params_set_rate(pcm, hw, fmt.Format.nSamplesPerSec, 0)) >= 0) {
    snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(framesPerBuf);
    int dir = 0;
    if ((rc = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir)) >= 0) {
      snd_pcm_uframes_t size = period * static_cast<snd_pcm_uframes_t>(std::max(bufferCount, 2));
      if ((rc = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &size)) >= 0) rc = snd_pcm_hw_params(pcm, hw);
    }
  }
  snd_pcm_hw_params_free(hw);
  return rc;
}

}  // namespace

std::string AlsaErrorText(int rc) {
  const char* text = snd_strerror(rc);
  if (!text || !*text || std::strncmp(text, "Unknown error", 13) == 0) return "Unknown error: " + std::to_string(rc);
  return text;
}

void SetWaveDevices(std::vector<TWaveDevice> in, std::vector<TWaveDevice> out) {
  WaveInDevices = std::move(in);
  WaveOutDevices = std::move(out);
  WaveInDeviceNames = MenuLines(WaveInDevices);
  WaveOutDeviceNames = MenuLines(WaveOutDevices);
}

void ListWaveDevices() {
  SilenceAlsa();
  std::vector<TWaveDevice> in, out;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) >= 0 && hints) {
    for (void** h = hints; *h; ++h) {
      char* name = snd_device_name_get_hint(*h, "NAME");
      char* desc = snd_device_name_get_hint(*h, "DESC");
      char* ioid = snd_device_name_get_hint(*h, "IOID");
      if (name && std::strcmp(name, "null") != 0) {
        std::string product = name;
        if (desc) {
          std::string d = desc;
          d = d.substr(0, d.find('\n'));
          if (!d.empty()) product = d + " (" + name + ")";
        }
        TWaveDevice dev{name, product};
        if (!ioid || std::strcmp(ioid, "Input") == 0) in.push_back(dev);
        if (!ioid || std::strcmp(ioid, "Output") == 0) out.push_back(dev);
      }
      std::free(name);
      std::free(desc);
      std::free(ioid);
    }
    snd_device_name_free_hint(hints);
  }
  // ALSA's default device (PipeWire or PulseAudio where they run) comes first.
  for (auto* list : {&in, &out}) {
    auto it = std::find_if(list->begin(), list->end(), [](const TWaveDevice& d) { return d.PcmName == "default"; });
    if (it != list->end())
      std::rotate(list->begin(), it, it + 1);
    else
      list->insert(list->begin(), TWaveDevice{"default", "Default"});
  }
  SetWaveDevices(std::move(in), std::move(out));
}

TWaveFormatExtensible MakeWaveFormat(const TDeviceSettings& dev, bool extensible) {
  const int32_t bits = extensible ? dev.BitsPerSample : 16;
  if (dev.Channels < 0 || dev.Channels > 0xFFFF || dev.BitsPerSample < 0 || dev.BitsPerSample > 0xFFFF ||
      dev.SamplingRate < 0)
    throw ERangeError();
  const int64_t align = static_cast<int64_t>(bits / 8) * dev.Channels;
  const int64_t avg = align * dev.SamplingRate;
  if (align > 0xFFFF || avg > 0xFFFFFFFFLL) throw ERangeError();
  TWaveFormatExtensible f;
  f.Format.wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
  f.Format.cbSize = extensible ? 22 : 0;
  f.Format.wBitsPerSample = static_cast<uint16_t>(bits);
  f.Format.nChannels = static_cast<uint16_t>(dev.Channels);
  f.Format.nSamplesPerSec = static_cast<uint32_t>(dev.SamplingRate);
  f.Format.nBlockAlign = static_cast<uint16_t>(align);
  f.Format.nAvgBytesPerSec = static_cast<uint32_t>(avg);
  f.Samples = static_cast<uint16_t>(bits);
  f.dwChannelMask = 0;
  f.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return f;
}

TMmeAudioStream::TMmeAudioStream(IAudioDispatcher& dispatcher) : Dispatcher(dispatcher) { SilenceAlsa(); }

TMmeAudioStream::~TMmeAudioStream() {
  try {
    Close();
  } catch (...) {
    // Everything was released; the error has no one left to tell.
  }
  Dispatcher.Cancel(this);
}

void TMmeAudioStream::SetBufferCount(int32_t v) {
  if (v < 1 || v > 1024) throw ERangeError();
  FBufferCount = v;
}

void TMmeAudioStream::CheckAlsaResult(int rc, const std::string& device) {
  if (rc >= 0) return;
  FErrorMessage = AlsaErrorText(rc);
  // ALSA's reason alone says neither which device failed nor what to do.
  if (!device.empty())
    FErrorMessage = "Cannot open the " + device + ": " + FErrorMessage +
                    ". Check that a sound card or sound server is present, or choose another device from the menu.";
  throw EAudioError(FErrorMessage);
}

void TMmeAudioStream::OpenPcm(_snd_pcm** pcm, bool capture, const TDeviceSettings& dev, TWaveFormatExtensible& fmt) {
  if (dev.Index < 0) throw ERangeError();
  if (dev.Channels < 1 || dev.SamplingRate < 1 || dev.SamplesPerBuf < 1) throw ERangeError();
  const auto& list = capture ? WaveInDevices : WaveOutDevices;
  const std::string kind = capture ? "capture device " : "output device ";
  std::string name;
  if (static_cast<size_t>(dev.Index) < list.size())
    name = list[static_cast<size_t>(dev.Index)].PcmName;
  else if (list.empty() && dev.Index == 0)
    name = "default";
  else
    CheckAlsaResult(-ENODEV, kind + "number " + std::to_string(dev.Index + 1));
  const std::string device = kind + "\"" + name + "\"";
  const snd_pcm_stream_t dir = capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
  if (!FAlsaConfig.empty() && !Config) {
    snd_config_t* top = nullptr;
    snd_input_t* input = nullptr;
    CheckAlsaResult(snd_config_top(&top));
    int rc = snd_input_buffer_open(&input, FAlsaConfig.data(), static_cast<ssize_t>(FAlsaConfig.size()));
    if (rc >= 0) {
      rc = snd_config_load(top, input);
      snd_input_close(input);
    }
    if (rc < 0) snd_config_delete(top);
    CheckAlsaResult(rc);
    Config = top;
  }
  auto open = [&]() {
    return Config ? snd_pcm_open_lconf(pcm, name.c_str(), dir, SND_PCM_NONBLOCK, Config)
                  : snd_pcm_open(pcm, name.c_str(), dir, SND_PCM_NONBLOCK);
  };
  CheckAlsaResult(open(), device);
  // A device that refuses the format asked for gets 16-bit samples.
  fmt = MakeWaveFormat(dev, true);
  if (ConfigurePcm(*pcm, fmt, dev.SamplesPerBuf, FBufferCount) < 0) {
    fmt = MakeWaveFormat(dev, false);
    CheckAlsaResult(ConfigurePcm(*pcm, fmt, dev.SamplesPerBuf, FBufferCount), device);
  }
}

void TMmeAudioStream::QueueCaptureBuffer(int32_t idx) {
  InBufs[static_cast<size_t>(idx)].Data.resize(static_cast<size_t>(RunInFrames) * FFmtI.Format.nBlockAlign);
  {
    std::lock_guard<std::mutex> lock(Mutex);
    InQueue.Push(idx);
  }
  Wake();
}

void TMmeAudioStream::QueueRenderBuffer(int32_t idx) {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    OutQueue.Push(idx);
  }
  Wake();
}

void TMmeAudioStream::OpenCapture() {
  OpenPcm(&InH, true, FInputDevice, FFmtI);
  for (int32_t i = 0; i < FBufferCount; ++i) QueueCaptureBuffer(i);
  CheckAlsaResult(snd_pcm_start(InH));
}

void TMmeAudioStream::OpenRender() {
  OpenPcm(&OutH, false, FOutputDevice, FFmtO);
  const TByteArray zero(static_cast<size_t>(RunOutFrames) * FFmtO.Format.nBlockAlign, 0);
  for (auto& slot : RingBuf) slot = zero;
  for (int32_t i = 0; i < FBufferCount; ++i) {
    OutBufs[static_cast<size_t>(i)].Data = zero;
    QueueRenderBuffer(i);
  }
}

void TMmeAudioStream::Open() {
  if (FIsRunning) return;
  // A new audio thread cannot be started from the one still running this call.
  if (OnAudioThread()) throw EAudioError("Cannot open the stream from its own audio thread");
  // Devices that a close on the audio thread left behind.
  ReleaseAll();
  FIsRunning = true;
  ++Generation;
  RunDirections = FDirections;
  RunInFrames = std::max(FInputDevice.SamplesPerBuf, 0);
  RunOutFrames = std::max(FOutputDevice.SamplesPerBuf, 0);
  try {
    InBufs.assign(static_cast<size_t>(FBufferCount), TWaveBuffer());
    OutBufs.assign(static_cast<size_t>(FBufferCount), TWaveBuffer());
    WrIdx = 0;
    RdIdx = 2;
    FloatInBuf.assign(static_cast<size_t>(std::max(FInputDevice.Channels, 0)),
                      TSingleArray(static_cast<size_t>(RunInFrames)));
    FloatOutBuf.assign(static_cast<size_t>(std::max(FOutputDevice.Channels, 0)),
                       TSingleArray(static_cast<size_t>(RunOutFrames)));
    {
      std::lock_guard<std::mutex> lock(Mutex);
      InQueue.Reset(static_cast<size_t>(FBufferCount));
      OutQueue.Reset(static_cast<size_t>(FBufferCount));
      StopRequested = false;
      WorkerDone = false;
      WorkerError.clear();
    }
    WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (WakeFd < 0) CheckAlsaResult(-errno);
    if (RunDirections == ddCapture || RunDirections == ddBoth) OpenCapture();
    if (RunDirections == ddRender || RunDirections == ddBoth) OpenRender();
    InstallWakeHandler();
    Thread = std::thread([this] { Worker(); });
  } catch (...) {
    try {
      Close();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

void TMmeAudioStream::Close() {
  if (OnAudioThread()) {
    // A direct dispatcher's delivery: the audio loop ends when this call
    // returns to it, and the owner's thread releases the devices later.
    if (FIsRunning.exchange(false)) {
      std::lock_guard<std::mutex> lock(Mutex);
      StopRequested = true;
    }
    return;
  }
  if (!FIsRunning.exchange(false)) {
    // Not running: only what a close on the audio thread left is released.
    ReleaseAll();
    return;
  }
  CheckAlsaResult(ReleaseAll());
}

bool TMmeAudioStream::OnAudioThread() const { return tlsRunningStream == this; }

int TMmeAudioStream::ReleaseAll() {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    StopRequested = true;
  }
  Wake();
  if (Thread.joinable()) {
    // The wake descriptor ends a wait in poll(); a read that waits inside
    // ALSA ends only by the signal, sent again and again in case one came
    // just before the read began.
    const bool signal = InstallWakeHandler();
    std::unique_lock<std::mutex> lock(Mutex);
    while (!DoneCv.wait_for(lock, std::chrono::milliseconds(20), [this] { return WorkerDone; }))
      if (signal) ::pthread_kill(Thread.native_handle(), WakeSignal());
    lock.unlock();
    Thread.join();
  }
  // Release everything, keeping the first error.
  int first = 0;
  auto keep = [&first](int rc) {
    if (rc < 0 && first == 0) first = rc;
  };
  if (InH) {
    keep(snd_pcm_drop(InH));
    keep(snd_pcm_close(InH));
    InH = nullptr;
  }
  if (OutH) {
    keep(snd_pcm_drop(OutH));
    keep(snd_pcm_close(OutH));
    OutH = nullptr;
  }
  if (Config) {
    snd_config_delete(Config);
    Config = nullptr;
  }
  if (WakeFd >= 0) {
    ::close(WakeFd);
    WakeFd = -1;
  }
  return first;
}

void TMmeAudioStream::Wake() {
  if (WakeFd < 0) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
}

void TMmeAudioStream::DeliverInput(uint64_t token) {
  const int32_t idx = static_cast<int32_t>(token & 0xFFFF);
  if (!FIsRunning || (token >> 16) != Generation || RunDirections == ddRender) return;
  // The buffer goes back to the device whatever the handler does; its
  // exception is raised afterwards, so a failing block never costs a buffer.
  std::exception_ptr error;
  try {
    BytesToFloat(InBufs[static_cast<size_t>(idx)].Data, FloatInBuf, FFmtI);
    if (FOnData) FOnData(this, EmptyInt, FloatInBuf, FloatOutBuf);
  } catch (...) {
    error = std::current_exception();
  }
  // The handler may have closed the stream, or closed and opened it again.
  if (FIsRunning && (token >> 16) == Generation) {
    if (RunDirections == ddBoth) {
      try {
        TByteArray& slot = RingBuf[WrIdx];
        slot.resize(static_cast<size_t>(RunOutFrames) * FFmtO.Format.nBlockAlign);
        FloatToBytes(FloatOutBuf, slot, FFmtO);
      } catch (...) {
        if (!error) error = std::current_exception();
      }
      WrIdx = (WrIdx + 1) % 4;
    }
    QueueCaptureBuffer(idx);
  }
  if (error) std::rethrow_exception(error);
}

void TMmeAudioStream::DeliverOutput(uint64_t token) {
  const int32_t idx = static_cast<int32_t>(token & 0xFFFF);
  if (!FIsRunning || (token >> 16) != Generation || RunDirections == ddCapture) return;
  TByteArray& data = OutBufs[static_cast<size_t>(idx)].Data;
  if (RunDirections == ddBoth) {
    data = RingBuf[RdIdx];
    RdIdx = (RdIdx + 1) % 4;
    if (RdIdx == WrIdx) RdIdx = (RdIdx + 2) % 4;
    QueueRenderBuffer(idx);
    return;
  }
  std::exception_ptr error;
  try {
    if (FOnData) FOnData(this, EmptyInt, EmptyIn, FloatOutBuf);
  } catch (...) {
    error = std::current_exception();
  }
  if (FIsRunning && (token >> 16) == Generation) {
    try {
      data.resize(static_cast<size_t>(RunOutFrames) * FFmtO.Format.nBlockAlign);
      FloatToBytes(FloatOutBuf, data, FFmtO);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
    QueueRenderBuffer(idx);
  }
  if (error) std::rethrow_exception(error);
}

void TMmeAudioStream::DeliverFailure(uint64_t generation) {
  if (!FIsRunning || generation != Generation) return;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(Mutex);
    text = WorkerError;
  }
  try {
    Close();
  } catch (...) {
    // The device had already failed; that failure is the one to show.
  }
  FErrorMessage = text;
  throw EAudioError(text);
}

void TMmeAudioStream::Worker() {
  // Everything the loop touches besides the queues belongs to it alone while
  // it runs: the device handles, and the buffer at the head of each queue.
  tlsRunningStream = this;
  struct TDone {
    TMmeAudioStream* S;
    ~TDone() {
      std::lock_guard<std::mutex> lock(S->Mutex);
      S->WorkerDone = true;
      S->DoneCv.notify_all();
    }
  } done{this};
  // The owner's thread may have blocked signals; the wake signal must reach this one.
  sigset_t wake;
  sigemptyset(&wake);
  sigaddset(&wake, WakeSignal());
  ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
  const uint64_t gen = Generation;
  const int64_t inFrames = RunInFrames;
  const int64_t outFrames = RunOutFrames;
  const int inAlign = InH ? FFmtI.Format.nBlockAlign : 0;
  const int outAlign = OutH ? FFmtO.Format.nBlockAlign : 0;
  const int inCount = InH ? std::max(snd_pcm_poll_descriptors_count(InH), 0) : 0;
  const int outCount = OutH ? std::max(snd_pcm_poll_descriptors_count(OutH), 0) : 0;
  std::vector<pollfd> fds(static_cast<size_t>(1 + inCount + outCount));
  int32_t capIdx = -1, renIdx = -1;
  int64_t capDone = 0, renDone = 0;
  auto fail = [&](int rc) {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      WorkerError = AlsaErrorText(rc);
    }
    Dispatcher.Post(this, [this, gen] { DeliverFailure(gen); });
  };
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(Mutex);
      if (StopRequested) return;
      if (capIdx < 0 && InH && !InQueue.Empty()) {
        capIdx = InQueue.Front();
        capDone = 0;
      }
      if (renIdx < 0 && OutH && !OutQueue.Empty()) {
        renIdx = OutQueue.Front();
        renDone = 0;
      }
    }
    fds[0] = pollfd{WakeFd, POLLIN, 0};
    nfds_t n = 1;
    if (capIdx >= 0) n += static_cast<nfds_t>(std::max(snd_pcm_poll_descriptors(InH, &fds[n], inCount), 0));
    const nfds_t capEnd = n;
    if (renIdx >= 0) n += static_cast<nfds_t>(std::max(snd_pcm_poll_descriptors(OutH, &fds[n], outCount), 0));
    if (::poll(fds.data(), n, 1000) < 0) {
      if (errno == EINTR) continue;
      fail(-errno);
      return;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t r = ::read(WakeFd, &count, sizeof count);
    }
    if (capIdx >= 0 && capEnd > 1) {
      unsigned short rev = 0;
      snd_pcm_poll_descriptors_revents(InH, &fds[1], static_cast<unsigned>(capEnd - 1), &rev);
      if (rev & (POLLIN | POLLERR)) {
        uint8_t* dst = InBufs[static_cast<size_t>(capIdx)].Data.data() + capDone * inAlign;
        snd_pcm_sframes_t got = snd_pcm_readi(InH, dst, static_cast<snd_pcm_uframes_t>(inFrames - capDone));
        if (got == -EAGAIN) {
        } else if (got < 0) {
          int rc = snd_pcm_recover(InH, static_cast<int>(got), 1);
          if (rc >= 0) rc = snd_pcm_start(InH);
          if (rc < 0) {
            fail(rc);
            return;
          }
        } else if ((capDone += got) == inFrames) {
          {
            std::lock_guard<std::mutex> lock(Mutex);
            InQueue.Pop();
          }
          const uint64_t token = (gen << 16) | static_cast<uint64_t>(capIdx);
          capIdx = -1;
          Dispatcher.Post(this, [this, token] { DeliverInput(token); });
        }
      }
    }
    if (renIdx >= 0 && n > capEnd) {
      unsigned short rev = 0;
      snd_pcm_poll_descriptors_revents(OutH, &fds[capEnd], static_cast<unsigned>(n - capEnd), &rev);
      if (rev & (POLLOUT | POLLERR)) {
        const uint8_t* src = OutBufs[static_cast<size_t>(renIdx)].Data.data() + renDone * outAlign;
        snd_pcm_sframes_t put = snd_pcm_writei(OutH, src, static_cast<snd_pcm_uframes_t>(outFrames - renDone));
        if (put == -EAGAIN) {
        } else if (put < 0) {
          int rc = snd_pcm_recover(OutH, static_cast<int>(put), 1);
          if (rc < 0) {
            fail(rc);
            return;
          }
        } else if ((renDone += put) == outFrames) {
          {
            std::lock_guard<std::mutex> lock(Mutex);
            OutQueue.Pop();
          }
          const uint64_t token = (gen << 16) | static_cast<uint64_t>(renIdx);
          renIdx = -1;
          Dispatcher.Post(this, [this, token] { DeliverOutput(token); });
        }
      }
    }
  }
}

}  // namespace brenvo
