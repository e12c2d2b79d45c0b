// make_wav_corpus OUTDIR
//
// Writes the synthesised recordings on which decode_wav's speed and output
// are compared before and after a change to the decoding chain (16-bit PCM,
// 6000 Hz, mono; the same bytes on every run):
//   bench_12x60s.wav   the speed file: 12 signals, 60 s, 10 dB each
//   corpus_*.wav       30 s each: -9 to +20 dB, 1 to 12 signals, drift,
//                      50 Bd, 1 and 2 stop bits, signals in both sidebands,
//                      one band of mixed strengths
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/qyx_wav_file.h"
#include "support/band_synth.h"

namespace {

namespace fs = std::filesystem;
using brenvo::TSingleArray;
using brenvo::testing::BandSignal;

constexpr double kPeak = 2000.0 * 65536.0;

void WriteWav(const fs::path& name, const TSingleArray& samples) {
  brenvo::TQyxWavFile wav;
  wav.SetFileName(name.string());
  wav.SetChannelCount(1);
  wav.SetSamplesPerSec(6000);
  wav.SetBytesPerSample(2);
  wav.OpenWrite();
  wav.Write({samples});
  wav.Close();
}

const std::vector<std::string> kTexts = {
    "CQ CQ DE DL1ABC DL1ABC PSE K ",
    "CQ TEST K1XYZ K1XYZ TEST ",
    "UA3ABC DE G4XYZ UR 599 001 001 BK ",
    "RYRYRYRY THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 ",
    "TU 5NN 14 DE JA1ZZ TEST ",
    "QRZ? DE VK2ABC/P 73 SK ",
};

struct TCase {
  const char* Name;
  int Signals;
  double SnrDb;       // of every signal (the mixed case spreads them)
  double DriftHz;     // per second, alternating in sign from signal to signal
  double Baud = 45.45;
  double StopBits = 1.5;
  bool BothSidebands = false;
  bool Mixed = false;  // SNRs spread from -9 to +20 dB
};

std::vector<BandSignal> Band(const TCase& c) {
  std::vector<BandSignal> band;
  // Spread the signals over bins 36 .. 224 (mark), at least 17 bins apart.
  const int step = c.Signals > 1 ? std::min(60, 188 / (c.Signals - 1)) : 0;
  for (int i = 0; i < c.Signals; ++i) {
    BandSignal s;
    const int mark = (c.Signals == 1 ? 109 : 36 + step * i);
    const double snr = c.Mixed ? -9.0 + 29.0 * i / std::max(1, c.Signals - 1) : c.SnrDb;
    const bool usb = c.BothSidebands && i % 2 == 1;
    s.Params.MarkHz = (usb ? mark + 15 : mark) * 3000.0 / 256.0 + 3.0 * i;
    s.Params.SpaceHz = (usb ? mark : mark + 15) * 3000.0 / 256.0 + 3.0 * i;
    s.Params.Baud = c.Baud;
    s.Params.StopBits = c.StopBits;
    // Each signal's peak sets its SNR against the band's common noise.
    s.Params.Amplitude = kPeak * std::pow(10.0, (snr - c.SnrDb) / 20.0) / std::max(1.0, c.Signals / 6.0);
    s.Params.DriftHzPerSec = (i % 2 == 0 ? c.DriftHz : -c.DriftHz);
    s.Params.LeadSilenceSec = 0.2 + 0.45 * i;
    s.Params.IdleBeforeSec = 0.4;
    s.Params.StartPhase = 1.3 * i;
    s.Text = kTexts[static_cast<std::size_t>(i) % kTexts.size()];
    band.push_back(s);
  }
  return band;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_wav_corpus OUTDIR\n");
    return 2;
  }
  try {
    const fs::path dir = argv[1];
    fs::create_directories(dir);
    WriteWav(dir / "bench_12x60s.wav", brenvo::testing::BenchmarkBand(12, 60.0, 21));

    const std::vector<TCase> cases = {
        {"corpus_m9db_1sig", 1, -9.0, 0.0},
        {"corpus_m6db_2sig_drift", 2, -6.0, 1.0},
        {"corpus_m3db_3sig", 3, -3.0, 0.0},
        {"corpus_0db_4sig_drift", 4, 0.0, 0.5},
        {"corpus_3db_6sig", 6, 3.0, 0.0},
        {"corpus_6db_8sig_drift", 8, 6.0, 0.7},
        {"corpus_10db_12sig", 12, 10.0, 0.0},
        {"corpus_15db_3sig_50bd_1stop", 3, 15.0, 0.0, 50.0, 1.0},
        {"corpus_20db_5sig_2stop_drift", 5, 20.0, 1.0, 45.45, 2.0},
        {"corpus_12db_6sig_both_sidebands", 6, 12.0, 0.3, 45.45, 1.5, true},
        {"corpus_mixed_8sig", 8, 6.0, 0.2, 45.45, 1.5, false, true},
    };
    uint64_t seed = 100;
    for (const TCase& c : cases) {
      const std::vector<BandSignal> band = Band(c);
      // Noise for the weakest-scaled reference peak at the case's SNR.
      const double ref = kPeak / std::max(1.0, c.Signals / 6.0);
      WriteWav(dir / (std::string(c.Name) + ".wav"),
               brenvo::testing::SynthesizeBand(band, 30.0, brenvo::testing::NoiseSigmaFor(ref, c.SnrDb), seed++));
    }
    std::printf("%zu files written to %s\n", cases.size() + 1, dir.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_wav_corpus: %s\n", e.what());
    return 1;
  }
}
