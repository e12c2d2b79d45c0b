// Per-spectrum powers of one RTTY signal's mark and space bins, as a
// median-normalised spectrum shows them (noise median 1): a keyed tone whose
// edges are smoothed as by the spectrum window, plus complex Gaussian noise
// correlated over about as many spectra as the window spans. Lets the bit
// decoder be tested without the audio front end.
#pragma once

#include <cstdint>
#include <vector>

namespace brenvo::testing {

struct TToneLevelSettings {
  double Baud = 45.45;
  double StopBits = 1.5;        // stop element length in bit times
  double SpectraPerSecond = 375.0;
  double SnrDb = 30.0;          // tone power over the mean noise power of its bin
  bool Noise = true;
  uint32_t Seed = 1;
  double EdgeSpectra = 10.0;    // width of the raised-cosine smoothing, spectra
};

class TToneLevelSynth {
 public:
  explicit TToneLevelSynth(const TToneLevelSettings& settings) : FSettings(settings) {}

  // Start element, five data bits (bit 0 first, 1 = mark), stop element.
  void AddCode(int code);
  void AddCodes(const std::vector<int>& codes);
  void AddMark(double seconds);     // steady mark tone
  void AddSilence(double seconds);  // neither tone

  // Everything added so far, one value per spectrum.
  void Render(std::vector<float>& markPower, std::vector<float>& spacePower) const;

 private:
  struct TSegment {
    double Seconds;
    int Level;  // 1 mark, 0 space, -1 neither
  };
  void Add(double seconds, int level) { FSegments.push_back({seconds, level}); }

  TToneLevelSettings FSettings;
  std::vector<TSegment> FSegments;
};

}  // namespace brenvo::testing
