// main_window_bench FILE.wav
//
// The main window at work on the offscreen platform: plays a 6000 Hz
// recording through the window's play-back road and times every audio block
// from its arrival to the end of the repaints it causes (decoding road,
// waterfall column, text views, marker strip). Prints the median, 99th
// percentile and largest block time against the 21.33 ms block period, the
// whole as a multiple of real time, the channels decoded and the peak
// resident memory. The speed file:
//   build/release/bench/make_wav_corpus build/corpus
//   build/release/bench/main_window_bench build/corpus/bench_12x60s.wav
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/mme_audio_stream.h"
#include "audio/wav_ring_buf_recorder.h"
#include "receiver/decoding_road.h"
#include "receiver/receiver_test_env.h"
#include "ui/main_form.h"
#include "ui/user_prompts.h"

namespace {

constexpr double kBlockMs = 128 * 1000.0 / 6000.0;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double PeakRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Answers the play-back's file dialog with the recording; reports errors.
class TBenchPrompts final : public brenvo::IUserPrompts {
 public:
  explicit TBenchPrompts(std::string file) : File(std::move(file)) {}
  void ShowError(const std::string&, const std::string& text) override {
    std::fprintf(stderr, "main_window_bench: %s\n", text.c_str());
    ++Errors;
  }
  bool ExecuteSaveDialog(const brenvo::TFileDialogOptions&, const std::string&, std::string&) override {
    return false;
  }
  bool ExecuteOpenDialog(const brenvo::TFileDialogOptions&, const std::string&, std::string& chosen) override {
    chosen = File;
    return true;
  }
  void Beep() override {}
  std::string File;
  int Errors = 0;
};

double Percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: main_window_bench FILE.wav (6000 Hz)\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  brenvo::testing::EnsureDecoderGlobals();
  // No soundcard: only the recording reaches the road.
  brenvo::SetWaveDevices({{"brenvo_no_such_device", "None"}}, {});
  TBenchPrompts prompts(argv[1]);
  brenvo::TMainFormOptions options;
  options.Prompts = &prompts;
  brenvo::TMainForm form(options);
  form.show();
  QApplication::processEvents();
  const double rssBefore = PeakRssMiB();

  std::vector<double> ms;
  int32_t peakChannels = 0;
  form.Rec().SetOnData([&](const void*, const brenvo::TDataBufferI&, const brenvo::TDataBufferF& in,
                           brenvo::TDataBufferF&) {
    const auto t0 = std::chrono::steady_clock::now();
    form.AudioDataArrived(in);
    QApplication::processEvents();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    peakChannels = std::max(peakChannels, form.Road().Chans.Count());
  });
  const double cpu0 = CpuSeconds();
  const auto wall0 = std::chrono::steady_clock::now();
  try {
    form.Rec().PlayBack(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "main_window_bench: %s\n", e.what());
    return 2;
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  const double cpu = CpuSeconds() - cpu0;
  if (ms.empty() || prompts.Errors) return 2;

  const double audio = static_cast<double>(ms.size()) * kBlockMs / 1000.0;
  std::printf("blocks               %zu (%.1f s of audio)\n", ms.size(), audio);
  std::printf("per block, median    %.3f ms (%.1f %% of the %.2f ms period)\n", Percentile(ms, 0.5),
              100.0 * Percentile(ms, 0.5) / kBlockMs, kBlockMs);
  std::printf("per block, 99th pct  %.3f ms\n", Percentile(ms, 0.99));
  std::printf("per block, largest   %.3f ms\n", Percentile(ms, 1.0));
  std::printf("whole                %.1f x real time (wall), %.1f x (CPU); %.1f %% of a core live\n", audio / wall,
              audio / cpu, 100.0 * cpu / audio);
  std::printf("channels             %d at the end, %d at most\n", form.Road().Chans.Count(), peakChannels);
  std::printf("peak resident memory %.1f MiB (%.1f MiB before the recording)\n", PeakRssMiB(), rssBefore);
  return 0;
}
