// Closing the window saves the settings: reading the file, merging the
// changed keys into its lines and replacing it. Files of 1, 2 and 10 MB, most
// of it in one section of the user's own keys, must take time in proportion
// to their size.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ui/settings.h"

namespace brenvo {
namespace {

void BM_SaveSettings(benchmark::State& State) {
  const auto dir = std::filesystem::temp_directory_path() / "brenvo_bench_settings";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "brenvo.ini").string();
  std::string text = "; kept as written\n[GUI]\nLeft=5\n";
  for (int k = 0; text.size() < std::size_t(State.range(0)) << 20; ++k)
    text += "Mine" + std::to_string(k) + "=a value of the user's own\n";
  text += "[Decoders]\nUsb=1\n";
  TSettings s;
  s.Left = 6;  // one key changed, the others written where they are missing
  for (auto _ : State) {
    State.PauseTiming();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    State.ResumeTiming();
    SaveSettings(path, s);
  }
  State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(text.size()));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveSettings)->Arg(1)->Arg(2)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace brenvo
