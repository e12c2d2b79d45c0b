// Audio path figures: converting a minute of soundcard audio, saving the
// 60-second ring, reading a minute of WAV file for play-back. Counters give
// multiples of real time (audio seconds per CPU second).
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "audio/qyx_wav_file.h"
#include "audio/snd_conv.h"
#include "audio/wav_ring_buf_recorder.h"
#include "files/data_folders.h"

namespace {

using namespace brenvo;

constexpr int kRate = 6000;
constexpr int kMinuteFrames = 60 * kRate;
constexpr int kBlock = 128;

TWaveFormatExtensible StereoPcm16() {
  TWaveFormatExtensible f;
  f.Format.wFormatTag = WAVE_FORMAT_PCM;
  f.Format.nChannels = 2;
  f.Format.nSamplesPerSec = kRate;
  f.Format.nBlockAlign = 4;
  f.Format.nAvgBytesPerSec = 4 * kRate;
  f.Format.wBitsPerSample = 16;
  return f;
}

// A minute of stereo 16-bit audio converted as the stream does it: one
// 128-frame buffer at a time into the same float arrays.
void BM_BytesToFloat_Minute16BitStereo(benchmark::State& state) {
  const auto fmt = StereoPcm16();
  TByteArray buf(kBlock * 4);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<uint8_t>(i * 37);
  TDataBufferF out(2, TSingleArray(kBlock));
  for (auto _ : state) {
    for (int b = 0; b < kMinuteFrames / kBlock; ++b) {
      BytesToFloat(buf, out, fmt);
      benchmark::DoNotOptimize(out[0].data());
    }
  }
  state.counters["xRealTime"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BytesToFloat_Minute16BitStereo)->Unit(benchmark::kMicrosecond);

// Baseline beside it: only copying the same bytes.
void BM_Memcpy_Minute16BitStereo(benchmark::State& state) {
  TByteArray buf(kBlock * 4, 1), dst(kBlock * 4);
  for (auto _ : state) {
    for (int b = 0; b < kMinuteFrames / kBlock; ++b) {
      std::memcpy(dst.data(), buf.data(), buf.size());
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
  }
  state.counters["xRealTime"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Memcpy_Minute16BitStereo)->Unit(benchmark::kMicrosecond);

void BM_FloatToBytes_Minute16BitStereo(benchmark::State& state) {
  const auto fmt = StereoPcm16();
  TDataBufferF in(2, TSingleArray(kBlock, 12345.0f * 65536.0f));
  TByteArray buf(kBlock * 4);
  for (auto _ : state) {
    for (int b = 0; b < kMinuteFrames / kBlock; ++b) {
      FloatToBytes(in, buf, fmt);
      benchmark::DoNotOptimize(buf.data());
    }
  }
  state.counters["xRealTime"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FloatToBytes_Minute16BitStereo)->Unit(benchmark::kMicrosecond);

struct TQuietUi : IRecorderUi {
  std::string Answer;
  bool ExecuteSaveDialog(const TFileDialogOptions&, const std::string&, std::string&) override { return false; }
  bool ExecuteOpenDialog(const TFileDialogOptions&, const std::string&, std::string& chosen) override {
    chosen = Answer;
    return true;
  }
  void Beep() override {}
};

std::filesystem::path BenchFolder() {
  auto p = std::filesystem::temp_directory_path() / "brenvo_bench_audio";
  std::filesystem::create_directories(p);
  return p;
}

// Saving the full ring (2812 blocks): written, then cancelled (deleted).
void BM_SaveRingBuf_2812Blocks(benchmark::State& state) {
  SetAppDataRoot(BenchFolder().string());
  TQuietUi ui;
  TWavRingBufRecorder rec(ui);
  TSingleArray block(kBlock);
  for (int b = 0; b < TWavRingBufRecorder::kRingBlocks; ++b) {
    for (int i = 0; i < kBlock; ++i) block[i] = static_cast<float>(((b * kBlock + i) % 2000 - 1000) * 65536);
    rec.AddToRingBuf(block);
  }
  for (auto _ : state) benchmark::DoNotOptimize(rec.SaveRingBuf());
  SetAppDataRoot("");
}
BENCHMARK(BM_SaveRingBuf_2812Blocks)->Unit(benchmark::kMillisecond);

// A minute of mono 16-bit file played back in 128-frame blocks to a handler
// that does nothing.
void BM_PlayBack_Minute(benchmark::State& state) {
  const std::string path = (BenchFolder() / "minute.wav").string();
  {
    TQyxWavFile w;
    w.SetFileName(path);
    w.SetSamplesPerSec(kRate);
    w.OpenWrite();
    w.Write(TDataBufferF{TSingleArray(kMinuteFrames, 65536.0f)});
    w.Close();
  }
  TQuietUi ui;
  ui.Answer = path;
  TWavRingBufRecorder rec(ui);
  int64_t blocks = 0;
  rec.SetOnData([&](const void*, const TDataBufferI&, const TDataBufferF& in, TDataBufferF&) {
    blocks += static_cast<int64_t>(in.size());
  });
  for (auto _ : state) rec.PlayBack(true);
  benchmark::DoNotOptimize(blocks);
  state.counters["xRealTime"] = benchmark::Counter(60.0 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayBack_Minute)->Unit(benchmark::kMillisecond);

}  // namespace
