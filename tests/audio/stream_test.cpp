// The soundcard stream against ALSA's own test devices: the "file" PCM reads
// a known raw file, the "null" PCM takes and gives anything at once. No sound
// hardware and no sound server are needed.
#include "audio/mme_audio_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <typeindex>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "wav_bytes.h"

namespace brenvo {
namespace {

using namespace std::chrono_literals;

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetWaveDevices({{"cap", "Test capture"}, {"null", "Null"}, {"missing", "Missing"}},
                   {{"play", "Test play"}, {"null", "Null"}});
    // Frame k of the capture file holds (k, -k) as 16-bit samples.
    testing::Bytes raw;
    for (int k = 0; k < kFileFrames; ++k) {
      testing::Append16(raw, static_cast<uint16_t>(k));
      testing::Append16(raw, static_cast<uint16_t>(-k));
    }
    testing::WriteFile(Dir.Path() / "in.raw", raw);
    Config = "pcm.cap { type file slave.pcm { type null } file \"" + (Dir.Path() / "captured.raw").string() +
             "\" infile \"" + (Dir.Path() / "in.raw").string() + "\" format \"raw\" }\n" +
             "pcm.play { type file slave.pcm { type null } file \"" + (Dir.Path() / "out.raw").string() +
             "\" format \"raw\" }\npcm.null { type null }\n";
  }
  void TearDown() override { SetWaveDevices({}, {}); }

  // The program's settings: 2 channels, 6000 Hz, 16 bits, 128 frames.
  void Setup(TMmeAudioStream& s, TDataDirections dir, int index = 0) {
    s.SetAlsaConfig(Config);
    s.SetDirections(dir);
    for (TDeviceSettings* d : {&s.InputDevice(), &s.OutputDevice()}) {
      d->Index = index;
      d->Channels = 2;
      d->SamplingRate = 6000;
      d->BitsPerSample = 16;
      d->SamplesPerBuf = 128;
    }
  }
  // Pumps until `done` or 10 s; counts the exceptions the items raise.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      Disp.WaitForItem(50ms);
      try {
        Disp.Pump();
      } catch (const std::exception&) {
        ++Exceptions;
      }
    }
    return true;
  }

  static constexpr int kFileFrames = 128 * 40;
  testing::TempDir Dir;
  std::string Config;
  TPumpDispatcher Disp;
  int Exceptions = 0;
};

TEST_F(StreamTest, DeviceListsAndFormats) {
  EXPECT_EQ(WaveInDeviceNames[0], "01  Test capture");
  EXPECT_EQ(WaveOutDeviceNames[1], "02  Null");
  TDeviceSettings d;
  d.Channels = 2;
  d.SamplingRate = 6000;
  d.BitsPerSample = 16;
  d.SamplesPerBuf = 128;
  const auto f = MakeWaveFormat(d, true);
  EXPECT_EQ(f.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(f.Format.cbSize, 22);
  EXPECT_EQ(f.Format.nBlockAlign, 4);
  EXPECT_EQ(f.Format.nAvgBytesPerSec, 24000u);
  EXPECT_EQ(f.Samples, 16);
  d.BitsPerSample = 24;
  const auto p = MakeWaveFormat(d, false);
  EXPECT_EQ(p.Format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(p.Format.wBitsPerSample, 16);
  EXPECT_EQ(p.Format.nBlockAlign, 4);  // consistent with its 16 bits
  d.Channels = 70000;
  EXPECT_THROW(MakeWaveFormat(d, true), ERangeError);
  d.Channels = 2;
  d.SamplingRate = -1;
  EXPECT_THROW(MakeWaveFormat(d, true), ERangeError);
  EXPECT_EQ(AlsaErrorText(-2), "No such file or directory");
  EXPECT_EQ(AlsaErrorText(-987654), "Unknown error: -987654");
  TDeviceSettings a, b;
  a.Index = 3;
  a.AssignTo(b);
  EXPECT_EQ(b.Index, 3);
}

TEST_F(StreamTest, SystemDeviceListStartsWithDefault) {
  ListWaveDevices();
  ASSERT_FALSE(WaveInDevices.empty());
  EXPECT_EQ(WaveInDevices[0].PcmName, "default");
  EXPECT_EQ(WaveOutDevices[0].PcmName, "default");
  EXPECT_EQ(WaveInDeviceNames[0].substr(0, 4), "01  ");
}

TEST_F(StreamTest, CaptureDeliversTheFileInOrder) {
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture);
  std::vector<TSingleArray> left, right;
  s.SetOnData([&](const void* sender, const TDataBufferI& ints, const TDataBufferF& in, TDataBufferF& out) {
    EXPECT_EQ(sender, &s);
    EXPECT_TRUE(ints.empty());
    ASSERT_EQ(in.size(), 2u);
    EXPECT_EQ(out.size(), 2u);
    left.push_back(in[0]);
    right.push_back(in[1]);
  });
  s.Open();
  EXPECT_TRUE(s.IsRunning());
  EXPECT_EQ(s.FmtI().Format.nBlockAlign, 4);
  s.Open();  // running: nothing happens
  ASSERT_TRUE(PumpUntil([&] { return left.size() >= 40; }));
  s.Close();
  EXPECT_FALSE(s.IsRunning());
  s.Close();  // closed: nothing happens
  for (int b = 0; b < 40; ++b) {
    ASSERT_EQ(left[b].size(), 128u);
    for (int i = 0; i < 128; ++i) {
      const int k = b * 128 + i;
      ASSERT_EQ(left[b][i], k * 65536.0f) << k;
      ASSERT_EQ(right[b][i], -k * 65536.0f) << k;
    }
  }
  EXPECT_EQ(Exceptions, 0);
}

// The settings take effect at the next Open: changing them while the stream
// runs must neither resize the buffers the device is filling nor stop the
// running stream from queueing its buffers again.
TEST_F(StreamTest, SettingsChangedWhileRunningWaitForTheNextOpen) {
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture);
  std::vector<TSingleArray> left;
  std::vector<size_t> channels;
  s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF& in, TDataBufferF&) {
    channels.push_back(in.size());
    left.push_back(in.at(0));
  });
  s.Open();
  ASSERT_TRUE(PumpUntil([&] { return left.size() >= 2; }));
  s.InputDevice().SamplesPerBuf = 16;
  s.InputDevice().Channels = 1;
  s.OutputDevice().SamplesPerBuf = 16;
  s.SetDirections(ddRender);
  ASSERT_TRUE(PumpUntil([&] { return left.size() >= 30; }));
  s.Close();
  EXPECT_EQ(Exceptions, 0);
  for (int b = 0; b < 30; ++b) {
    ASSERT_EQ(channels[b], 2u) << b;
    ASSERT_EQ(left[b].size(), 128u) << b;
    for (int i = 0; i < 128; ++i) ASSERT_EQ(left[b][i], (b * 128 + i) * 65536.0f) << b;
  }
  // The next Open reads them.
  s.SetDirections(ddCapture);
  left.clear();
  channels.clear();
  s.Open();
  ASSERT_TRUE(PumpUntil([&] { return left.size() >= 2; }));
  s.Close();
  EXPECT_EQ(s.FmtI().Format.nChannels, 1);
  EXPECT_EQ(channels[0], 1u);
  EXPECT_EQ(left[0].size(), 16u);
}

// A direct dispatcher runs the deliveries on the audio thread itself. A
// handler that closes the stream there cannot wait for that thread; the stream
// must still be reusable from the owner's thread and be destroyed cleanly.
TEST_F(StreamTest, ADirectDispatcherLetsTheHandlerClose) {
  std::atomic<int> errors{0};
  TDirectDispatcher direct([&](std::exception_ptr) { ++errors; });
  std::atomic<int> blocks{0};
  std::atomic<bool> closed{false};
  std::string reopenText;
  auto waitFor = [](const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    return done();
  };
  {
    TMmeAudioStream s(direct);
    Setup(s, ddCapture, 1);
    s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF&, TDataBufferF&) {
      if (++blocks == 3) {
        s.Close();
        reopenText = Message([&] { s.Open(); });
        closed = true;
      }
    });
    s.Open();
    ASSERT_TRUE(waitFor([&] { return closed.load(); }));
    EXPECT_FALSE(s.IsRunning());
    EXPECT_EQ(reopenText, "Cannot open the stream from its own audio thread");
    s.Open();
    ASSERT_TRUE(waitFor([&] { return blocks.load() >= 10; }));
    s.Close();
    const int seen = blocks;
    EXPECT_EQ(errors.load(), 0);
    // Closed from the handler once more, then destroyed without a Close.
    blocks = 0;
    closed = false;
    s.Open();
    ASSERT_TRUE(waitFor([&] { return closed.load(); }));
    EXPECT_GE(seen, 10);
  }
  EXPECT_EQ(blocks.load(), 3);
}

TEST_F(StreamTest, BuffersArrivingAfterCloseAreIgnored) {
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture);
  int blocks = 0;
  s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF&, TDataBufferF&) { ++blocks; });
  s.Open();
  ASSERT_TRUE(Disp.WaitForItem(5s));
  s.Close();
  EXPECT_GT(Disp.Pending(), 0u);
  Disp.Pump();
  EXPECT_EQ(blocks, 0);
  // A second run starts afresh.
  s.Open();
  ASSERT_TRUE(PumpUntil([&] { return blocks >= 3; }));
}

TEST_F(StreamTest, AFailingHandlerLosesNoBuffer) {
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture, 1);
  s.SetBufferCount(4);
  int calls = 0;
  s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF&, TDataBufferF&) {
    ++calls;
    throw EBrenvoError("decoder failed");
  });
  s.Open();
  // Every block fails, yet far more blocks than buffers keep arriving.
  ASSERT_TRUE(PumpUntil([&] { return calls >= 20; }));
  EXPECT_EQ(Exceptions, calls);
  EXPECT_TRUE(s.IsRunning());
}

TEST_F(StreamTest, DestroyingWithDeliveriesQueuedDropsThem) {
  int blocks = 0;
  {
    TMmeAudioStream s(Disp);
    Setup(s, ddCapture, 1);
    s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF&, TDataBufferF&) { ++blocks; });
    s.Open();
    ASSERT_TRUE(Disp.WaitForItem(5s));
  }
  EXPECT_EQ(Disp.Pending(), 0u);
  Disp.Pump();
  EXPECT_EQ(blocks, 0);
}

TEST_F(StreamTest, OpenFailuresReportAlsasText) {
  // Which device, ALSA's reason, and what the user can do.
  const auto text = [](const std::string& device, const std::string& reason) {
    return "Cannot open the " + device + ": " + reason +
           ". Check that a sound card or sound server is present, or choose another device from the menu.";
  };
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture, 2);  // "missing" is not in the configuration
  EXPECT_EQ(Message([&] { s.Open(); }), text("capture device \"missing\"", "No such file or directory"));
  EXPECT_EQ(s.ErrorMessage(), text("capture device \"missing\"", "No such file or directory"));
  EXPECT_FALSE(s.IsRunning());
  s.InputDevice().Index = 9;
  EXPECT_EQ(Message([&] { s.Open(); }), text("capture device number 10", "No such device"));
  s.InputDevice().Index = -1;
  EXPECT_THROW(s.Open(), ERangeError);
  s.InputDevice().Index = 0;
  s.SetAlsaConfig("pcm.cap { type");
  EXPECT_THROW(s.Open(), EAudioError);
  EXPECT_FALSE(s.IsRunning());
  EXPECT_THROW(s.SetBufferCount(0), ERangeError);
  // Render fails after capture opened: both are released.
  Setup(s, ddBoth, 1);
  s.OutputDevice().Index = 5;
  EXPECT_EQ(Message([&] { s.Open(); }), text("output device number 6", "No such device"));
  EXPECT_FALSE(s.IsRunning());
  s.OutputDevice().Index = 1;
  s.Open();
  s.Close();
}

TEST_F(StreamTest, UnconvertibleWidthFallsBackToSixteenBits) {
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture, 1);
  s.InputDevice().BitsPerSample = 20;
  int blocks = 0;
  s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF& in, TDataBufferF&) {
    ++blocks;
    EXPECT_EQ(in[0].size(), 128u);
  });
  s.Open();
  EXPECT_EQ(s.FmtI().Format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(s.FmtI().Format.wBitsPerSample, 16);
  EXPECT_EQ(s.FmtI().Format.nBlockAlign, 4);
  ASSERT_TRUE(PumpUntil([&] { return blocks >= 2; }));
}

TEST_F(StreamTest, RenderAsksTheHandlerForEveryBuffer) {
  TMmeAudioStream s(Disp);
  Setup(s, ddRender, 0);
  int blocks = 0;
  s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF& in, TDataBufferF& out) {
    EXPECT_TRUE(in.empty());
    ASSERT_EQ(out.size(), 2u);
    ++blocks;
    out[0].assign(128, static_cast<float>(blocks * 65536));
    out[1].assign(128, static_cast<float>(-blocks * 65536));
  });
  s.Open();
  ASSERT_TRUE(PumpUntil([&] { return blocks >= 24; }));
  s.Close();
  // The file holds the 8 zero blocks queued at start, then the handler's blocks in order.
  const testing::Bytes out = testing::ReadFile(Dir.Path() / "out.raw");
  // Blocks still in the device at Close are dropped, not written.
  ASSERT_GE(out.size(), 12u * 512u);
  for (int b = 0; b < static_cast<int>(out.size() / 512); ++b) {
    const int want = b < 8 ? 0 : b - 7;
    for (int i = 0; i < 128; ++i) {
      const size_t at = static_cast<size_t>(b * 512 + i * 4);
      ASSERT_EQ(static_cast<int16_t>(out[at] | (out[at + 1] << 8)), want) << b;
      ASSERT_EQ(static_cast<int16_t>(out[at + 2] | (out[at + 3] << 8)), -want) << b;
    }
  }
}

// Runs three render completions for every capture completion, so that the
// read position of full-duplex play keeps running into the write position.
// The two are told apart by the type of the posted callable, learnt from the
// first one that reaches the data handler.
class TRenderFirstDispatcher : public IAudioDispatcher {
 public:
  explicit TRenderFirstDispatcher(const int& handlerCalls) : Calls(handlerCalls) {}
  void Post(const void* owner, std::function<void()> work) override {
    std::lock_guard<std::mutex> lock(Mutex);
    Items.emplace_back(owner, std::move(work));
  }
  void Cancel(const void* owner) override {
    std::lock_guard<std::mutex> lock(Mutex);
    std::erase_if(Items, [owner](const auto& item) { return item.first == owner; });
  }
  // Runs one item; false when none is queued.
  bool RunOne() {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(Mutex);
      auto it = Items.begin();
      if (Capture && Renders < 3)
        it = std::find_if(Items.begin(), Items.end(), [this](const auto& i) { return i.second.target_type() != *Capture; });
      if (it == Items.end()) it = Items.begin();
      if (it == Items.end()) return false;
      work = std::move(it->second);
      Items.erase(it);
    }
    const int before = Calls;
    work();
    if (Calls == before) {
      ++Renders;
    } else {
      Capture = work.target_type();
      Renders = 0;
    }
    return true;
  }

 private:
  const int& Calls;
  std::mutex Mutex;
  std::deque<std::pair<const void*, std::function<void()>>> Items;
  std::optional<std::type_index> Capture;
  int Renders = 0;
};

TEST_F(StreamTest, FullDuplexPlaysZerosFirstThenWhatTheHandlerFills) {
  int blocks = 0;
  TRenderFirstDispatcher disp(blocks);
  TMmeAudioStream s(disp);
  Setup(s, ddBoth, 0);
  s.OutputDevice().Index = 0;
  s.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF& in, TDataBufferF& out) {
    ASSERT_EQ(in.size(), 2u);
    ++blocks;
    for (auto& ch : out) ch.assign(128, static_cast<float>(blocks * 65536));
  });
  s.Open();
  const auto outPath = Dir.Path() / "out.raw";
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (blocks < 30 && std::chrono::steady_clock::now() < end)
    if (!disp.RunOne()) std::this_thread::sleep_for(1ms);
  ASSERT_GE(blocks, 30);
  s.Close();
  const testing::Bytes out = testing::ReadFile(outPath);
  ASSERT_EQ(out.size() % 512, 0u);
  ASSERT_GE(out.size(), 8u * 512u);
  // Every block played is whole: one value throughout, zero or a handler's block.
  for (size_t b = 0; b < out.size() / 512; ++b) {
    const int16_t first = static_cast<int16_t>(out[b * 512] | (out[b * 512 + 1] << 8));
    if (b < 8) {
      EXPECT_EQ(first, 0) << b;
    }
    EXPECT_GE(first, 0);
    EXPECT_LE(first, blocks);
    for (size_t i = 0; i < 256; ++i)
      ASSERT_EQ(static_cast<int16_t>(out[b * 512 + 2 * i] | (out[b * 512 + 2 * i + 1] << 8)), first) << b;
  }
  // Handler block k lies in ring slot (k - 1) mod 4. The read position steps
  // on by one, and by three where it would land on the write position: two
  // handler blocks played in a row lie one or three slots apart.
  int skips = 0;
  for (size_t b = 9; b < out.size() / 512; ++b) {
    const int before = static_cast<int16_t>(out[(b - 1) * 512] | (out[(b - 1) * 512 + 1] << 8));
    const int now = static_cast<int16_t>(out[b * 512] | (out[b * 512 + 1] << 8));
    if (before == 0 || now == 0) continue;
    const int slots = ((now - before) % 4 + 4) % 4;
    EXPECT_TRUE(slots == 1 || slots == 3) << b << ": " << before << " then " << now;
    skips += slots == 3;
  }
  EXPECT_GT(skips, 0);
}

// A source that stops delivering (a FIFO held open with nothing in it)
// keeps the audio thread in a read inside ALSA; Close ends the stream all
// the same.
TEST_F(StreamTest, CloseEndsACaptureWhoseSourceStalled) {
  const std::filesystem::path fifo = Dir.Path() / "stalled.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);  // never writes
  ASSERT_GE(writer, 0);
  SetWaveDevices({{"stall", "Stalled"}}, {});
  Config += "pcm.stall { type file slave.pcm { type null } file \"" + (Dir.Path() / "stall.raw").string() +
            "\" infile \"" + fifo.string() + "\" format \"raw\" }\n";
  TMmeAudioStream s(Disp);
  Setup(s, ddCapture);
  s.Open();
  std::this_thread::sleep_for(200ms);
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    s.Close();
    closed = true;
  });
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!closed && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  const bool ended = closed;
  // Released by audio when it hangs, so that the test ends either way.
  const std::vector<char> block(512 * 64, 0);
  while (!closed) {
    [[maybe_unused]] ssize_t w = ::write(writer, block.data(), block.size());
    std::this_thread::sleep_for(10ms);
  }
  closer.join();
  ::close(writer);
  EXPECT_TRUE(ended) << "Close waited for a source that delivers nothing";
  EXPECT_FALSE(s.IsRunning());
}

}  // namespace
}  // namespace brenvo
