// The decoding road per audio block with 0 to 60 channels against the block
// period of 21.33 ms, the WAV decoding loop on 60 s with 12 signals, and the
// memory a channel holds.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "receiver/decoding_road.h"
#include "receiver/road_transcript.h"
#include "receiver/receiver_test_env.h"
#include "support/band_synth.h"

namespace brenvo {
namespace {

constexpr double kBlockSec = 128.0 / 6000.0;

void EnsureGlobals() { testing::EnsureDecoderGlobals(); }

// Seconds of audio: the benchmark band of n signals (make_wav_corpus writes
// the same 12-signal band to bench_12x60s.wav for decode_wav).
TSingleArray Signals(int n, double seconds, uint64_t seed) { return testing::BenchmarkBand(n, seconds, seed); }

// Mark peaks of n lower-sideband channels 3 bins apart, their space peaks
// 15 bins below. Made one pair per map (in one map the pairs would chain);
// a map with all of them keeps them active and makes no new one.
int ChannelMark(int i) { return 55 + 3 * i; }

std::vector<int32_t> PairMap(int from, int to) {
  std::vector<int32_t> m(256, kPeakNone);
  for (int i = from; i < to; ++i) {
    m[static_cast<std::size_t>(ChannelMark(i))] = kPeakUnclaimed;
    m[static_cast<std::size_t>(ChannelMark(i) - 15)] = kPeakUnclaimed;
  }
  return m;
}

void MakeChannels(TRttyChannels& chans, int n) {
  for (int i = 0; i < 8; ++i) {
    std::vector<int32_t> m(256, kPeakNone);
    chans.ProcessPeaks(m);
  }
  for (int i = 0; i < n; ++i) {
    std::vector<int32_t> m = PairMap(i, i + 1);
    chans.ProcessPeaks(m);
  }
}

// One audio block of noise through the whole road with n channels besides
// the default one, kept active by a peak map each block, and a waterfall.
struct TNullWaterfall : IWaterfall {
  void PushSpectrum(const TSingleArray& c) override { benchmark::DoNotOptimize(c.data()); }
};

void BM_RoadBlock(benchmark::State& state) {
  EnsureGlobals();
  const int channels = static_cast<int>(state.range(0));
  const TSingleArray audio = Signals(0, 20.0, 11);
  TDecodingRoad road;
  TNullWaterfall wf;
  road.Links.Waterfall = &wf;
  MakeChannels(road.Chans, channels);
  const std::vector<int32_t> map = PairMap(0, channels);
  TDataBufferF block(1, TSingleArray(128));
  std::size_t at = 0;
  auto next = [&] {
    if (at + 128 > audio.size()) at = 0;
    std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(at), 128, block[0].begin());
    at += 128;
  };
  std::vector<int32_t> m = map;
  for (int i = 0; i < 200; ++i) {  // past the backlog replay
    next();
    m = map;
    road.Chans.ProcessPeaks(m);
    road.AudioDataArrived(block);
  }
  for (auto _ : state) {
    next();
    m = map;
    road.Chans.ProcessPeaks(m);
    road.AudioDataArrived(block);
  }
  state.counters["channels"] = road.Chans.Count();
  state.counters["block_share_pct"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBlockSec / 100.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlockSec, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RoadBlock)->Arg(0)->Arg(10)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);

// decode_wav's loop (road and transcript of every channel) over 60 s with
// 12 signals; x_realtime = audio seconds per CPU second on one core.
void BM_DecodeWavLoop60s(benchmark::State& state) {
  EnsureGlobals();
  const int signals = static_cast<int>(state.range(0));
  const TSingleArray audio = Signals(signals, 60.0, 21);
  TDataBufferF block(1, TSingleArray(128));
  int64_t channels = 0;
  for (auto _ : state) {
    TDecodingRoad road;
    TRoadTranscript tr(road.Chans);
    for (std::size_t at = 0; at + 128 <= audio.size(); at += 128) {
      std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(at), 128, block[0].begin());
      road.AudioDataArrived(block);
    }
    tr.Finish();
    channels = static_cast<int64_t>(tr.Channels().size());
  }
  state.counters["channels_made"] = static_cast<double>(channels);
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 60.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeWavLoop60s)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// Bytes in use on the heap, large blocks (mapped on their own) included.
std::size_t HeapBytes() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

// Heap bytes held per channel: 60 channels made from a peak map.
void BM_MemoryPerChannel(benchmark::State& state) {
  EnsureGlobals();
  double perChannel = 0;
  for (auto _ : state) {
    TDecodingRoad road;
    const std::size_t before = HeapBytes();
    const int32_t count0 = road.Chans.Count();
    MakeChannels(road.Chans, 60);
    // A few characters each, so that storage and corrector have their working size.
    TDataBufferF block(1, TSingleArray(128, 0.0f));
    for (int i = 0; i < 100; ++i) road.AudioDataArrived(block);
    const std::size_t after = HeapBytes();
    perChannel = static_cast<double>(after - before) / (road.Chans.Count() - count0);
  }
  state.counters["MB_per_channel"] = perChannel / 1e6;
}
BENCHMARK(BM_MemoryPerChannel)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brenvo
