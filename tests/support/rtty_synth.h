// RTTY test signals: Baudot (ITA2) text keyed as two-tone FSK audio at 6000 Hz,
// as a soundcard would deliver it to the decoder.
//
// Output scale: that of a 32-bit integer, as the program receives audio: a
// 16-bit soundcard sample s arrives as s * 65536, full scale is +-32767 * 65536.
// Samples are not clipped or quantised.
//
// Keying: continuous-phase FSK of constant amplitude. A keying level k(t)
// (1 mark, 0 space) sets the instantaneous frequency
//   f(t) = SpaceHz + (MarkHz - SpaceHz) * k(t) + DriftHzPerSec * t,
// t in seconds from the first output sample. At each element boundary k moves
// from the old level to the new one along a raised cosine of EdgeSec,
// centred on the boundary (EdgeSec 0: hard keying).
//
// Character frame on the air: start element (space, 1 bit), data bits 0..4 of
// the code, bit 0 first, 1 = mark, then the stop element (mark, StopBits bits).
// Characters follow one another without gaps.
//
// Noise: white Gaussian, added to every output sample (silences included).
// SnrDb = 10 log10(signal power / noise power in 3000 Hz), where the signal
// power is that of the keyed tone, Amplitude^2 / 2, and the noise power in
// 3000 Hz is the whole noise variance (the 6000 Hz sampling carries 0..3000 Hz
// only): noise sigma = Amplitude / sqrt(2) * 10^(-SnrDb / 20).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/types.h"

namespace brenvo::testing {

inline constexpr double kSynthSampleRate = 6000.0;

// Codes that mean the same in both rows, and the two shifts.
inline constexpr uint8_t kItaNull = 0;
inline constexpr uint8_t kItaLineFeed = 2;
inline constexpr uint8_t kItaSpace = 4;
inline constexpr uint8_t kItaCarriageReturn = 8;
inline constexpr uint8_t kItaFigures = 27;
inline constexpr uint8_t kItaLetters = 31;

// The ITA2 letters row with this program's own figures row, so that text sent
// here is the text the decoder prints: figures code 5 (S) is the apostrophe,
// code 11 (J) the asterisk, 17 (Z) the double quote; there is no bell, "=" or
// "+". The ASCII character of a code in the letters or figures row; 0 for the
// null and the shifts. Space, CR ('\r') and LF ('\n') are the same in both
// rows. Code above 31: std::invalid_argument.
char Ita2ToAscii(uint8_t code, bool figures);

// ASCII text to codes, starting in letters, inserting the letters or figures
// shift before a character of the other row. Lower-case letters are sent as
// capitals. With unshiftOnSpace the receiver is taken to fall back to letters
// after a space, CR or LF (as this program's decoder does), so a figure after
// one of them gets a fresh figures shift. A character that has no code
// (e.g. '=' or '@'): std::invalid_argument naming it.
std::vector<uint8_t> TextToIta2(std::string_view text, bool unshiftOnSpace = true);

// The reverse, as a receiver prints the codes (starting in letters; shifts and
// nulls print nothing).
std::string Ita2ToText(const std::vector<uint8_t>& codes, bool unshiftOnSpace = true);

struct RttySynthParams {
  double MarkHz = 2125.0;   // audio frequency of the mark tone, 50 .. 2950 Hz
  double SpaceHz = 2295.0;  // space tone, either side of the mark, not equal to it
  double Baud = 45.45;      // bits per second, above 0 and up to 300
  double StopBits = 1.5;    // stop element in bits: 1, 1.5, 2 (any value 1 .. 2)
  double EdgeSec = 0.004;   // raised-cosine keying edge, 0 .. one bit
  // Peak of the tone at the 32-bit scale; default a 16-bit peak of 8000.
  double Amplitude = 8000.0 * 65536.0;
  // Signal power / noise power in 3000 Hz in dB; +infinity: no noise.
  double SnrDb = std::numeric_limits<double>::infinity();
  double DriftHzPerSec = 0.0;  // linear drift of both tones
  double LeadSilenceSec = 0.0;   // nothing (but noise) before the signal
  double IdleBeforeSec = 0.0;    // steady mark before the first character
  double IdleAfterSec = 0.0;     // steady mark after the last character
  double TrailSilenceSec = 0.0;  // nothing (but noise) after the signal
  double StartPhase = 0.0;       // phase of the tone at the first sample, radians
  uint64_t Seed = 1;             // noise generator seed
};

// One code as sent: its value and the times of its start element's leading
// edge and of the end of its stop element, in seconds from the first sample.
struct SentCode {
  uint8_t Code = 0;
  double StartSec = 0.0;
  double EndSec = 0.0;
  double StartSample() const { return StartSec * kSynthSampleRate; }
};

struct RttySignal {
  TSingleArray Samples;          // 6000 Hz
  std::vector<SentCode> Codes;   // in order of sending
  std::vector<float> Keying;     // per sample: 1 mark .. 0 space (also outside the signal)
  double SignalStartSec = 0.0;   // tone on (start of the idle mark or first character)
  double SignalEndSec = 0.0;     // tone off
  double SignalPower = 0.0;      // Amplitude^2 / 2
  double NoiseSigma = 0.0;       // standard deviation of the added noise
};

// Throws std::invalid_argument for parameters outside the ranges above.
RttySignal SynthesizeCodes(const RttySynthParams& p, const std::vector<uint8_t>& codes);
RttySignal SynthesizeText(const RttySynthParams& p, std::string_view text,
                          bool unshiftOnSpace = true);

}  // namespace brenvo::testing
