// The first-direction kernel against a plain recursive split radix written
// here, one complex value at a time, with the same operations in the same
// order: x[k] := a + c, x[k + q] := b + d, x[k + 2q] := (t1 + j t2) w^k,
// x[k + 3q] := (t1 - j t2) w^-k, then the blocks of q, q and 2q. However the
// kernel groups its arithmetic (vector lanes, straight-line small blocks),
// every output must carry the same bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "dsp/errors.h"
#include "dsp/fft.h"

namespace brenvo {
namespace {

class TPlainSplitRadix {
 public:
  explicit TPlainSplitRadix(int n) : cos_(n / 4), sin_(n / 4) {
    // w^k = e^(+j 2 pi k / n); a block of size m uses w_m^k = w^(k n / m).
    const double step = 2.0 * std::numbers::pi / n;
    for (int k = 0; k < n / 4; ++k) {
      const long double a = static_cast<long double>(k) * step;
      cos_[k] = static_cast<float>(std::cos(a));
      sin_[k] = static_cast<float>(std::sin(a));
    }
    n_ = n;
  }

  void Run(float* re, float* im) const { Block(re, im, n_); }

 private:
  void Block(float* re, float* im, int m) const {
    if (m == 2) {
      const float ar = re[0], ai = im[0], br = re[1], bi = im[1];
      re[0] = ar + br;
      im[0] = ai + bi;
      re[1] = ar - br;
      im[1] = ai - bi;
      return;
    }
    const int q = m / 4;
    const int stride = n_ / m;
    for (int k = 0; k < q; ++k) {
      const float ar = re[k], ai = im[k], br = re[k + q], bi = im[k + q];
      const float cr = re[k + 2 * q], ci = im[k + 2 * q], dr = re[k + 3 * q], di = im[k + 3 * q];
      re[k] = ar + cr;
      im[k] = ai + ci;
      re[k + q] = br + dr;
      im[k + q] = bi + di;
      const float t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
      const float ur = t1r - t2i, ui = t1i + t2r;
      const float vr = t1r + t2i, vi = t1i - t2r;
      if (m == 4) {
        // The 4-point block multiplies by nothing.
        re[2] = ur;
        im[2] = ui;
        re[3] = vr;
        im[3] = vi;
        break;
      }
      const float c = cos_[k * stride], s = sin_[k * stride];
      re[k + 2 * q] = ur * c - ui * s;
      im[k + 2 * q] = ur * s + ui * c;
      re[k + 3 * q] = vr * c + vi * s;
      im[k + 3 * q] = vi * c - vr * s;
    }
    if (m == 4) {
      Block(re, im, 2);
      return;
    }
    Block(re + 3 * q, im + 3 * q, q);
    Block(re + 2 * q, im + 2 * q, q);
    Block(re, im, 2 * q);
  }

  int n_ = 0;
  std::vector<float> cos_, sin_;
};

uint32_t Bits(float x) {
  uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

void ExpectSameBits(const std::vector<float>& re0, const std::vector<float>& im0, int n, const char* what) {
  std::vector<float> re = re0, im = im0, pre = re0, pim = im0;
  FftSplitScrambled(re.data(), im.data(), n);
  TPlainSplitRadix(n).Run(pre.data(), pim.data());
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(Bits(re[i]), Bits(pre[i])) << what << " n " << n << " position " << i;
    ASSERT_EQ(Bits(im[i]), Bits(pim[i])) << what << " n " << n << " position " << i;
  }
}

TEST(FftKernelReference, SameBitsOnRandomDataForEverySize) {
  std::mt19937 rng(515);
  for (int n = kFftMinSize; n <= kFftMaxSize; n *= 2) {
    // Values over many decades, so that the roundings differ from bin to bin.
    std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
    std::uniform_int_distribution<int> expo(-20, 20);
    std::vector<float> re(n), im(n);
    for (int i = 0; i < n; ++i) {
      re[i] = std::ldexp(mant(rng), expo(rng));
      im[i] = std::ldexp(mant(rng), expo(rng));
    }
    ExpectSameBits(re, im, n, "random");
  }
}

// Zeros of both signs, a lone impulse, and values whose sums overflow: the
// signs of zero results and the infinities must come out the same too.
TEST(FftKernelReference, SameBitsOnZerosImpulsesAndOverflow) {
  for (int n : {16, 32, 64, 256, 1024}) {
    std::vector<float> re(n, -0.0f), im(n, 0.0f);
    ExpectSameBits(re, im, n, "signed zeros");
    for (int at : {0, 1, n / 4 + 1, n - 1}) {
      std::vector<float> r(n, 0.0f), i(n, -0.0f);
      r[at] = 1.0f;
      i[(at + 3) % n] = -2.0f;
      ExpectSameBits(r, i, n, "impulse");
    }
    std::vector<float> big(n), alt(n);
    for (int i = 0; i < n; ++i) {
      big[i] = std::numeric_limits<float>::max() / 3.0f * (i % 3 == 0 ? -1.0f : 1.0f);
      alt[i] = i % 2 == 0 ? std::numeric_limits<float>::max() : -0.0f;
    }
    ExpectSameBits(big, alt, n, "overflow");
  }
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

// Powers into bins: the same bits as squaring the scrambled transform and
// moving each X[k] to its bin, for any map of bins.
TEST(FftPowers, SameBitsAsSquaredTransformInAnyBinOrder) {
  std::mt19937 rng(77);
  for (int n : {16, 32, 64, 256, 1024, 2048, 4096})
  for (int map = 0; map < 3; ++map) {
    // Shuffled, or natural order turned by 0 or by n/2 (the spectrum
    // engine's), whose neighbouring blocks store their powers a vector at a time.
    std::vector<int32_t> binOfX(n);
    for (int k = 0; k < n; ++k) binOfX[k] = (k + (map == 2 ? n / 2 : 0)) % n;
    if (map == 0) std::shuffle(binOfX.begin(), binOfX.end(), rng);
    const TFftPowers powers(n, binOfX);
    EXPECT_EQ(powers.Size(), n);
    std::normal_distribution<float> g(0.0f, 100.0f);
    std::vector<float> re(n), im(n);
    for (int i = 0; i < n; ++i) {
      re[i] = g(rng);
      im[i] = g(rng);
    }
    std::vector<float> sre = re, sim = im, pwr(n, -1.0f);
    FftSplitScrambled(sre.data(), sim.data(), n);
    powers.Run(re, im, pwr);
    const auto perm = FftPermutation(n);
    for (int k = 0; k < n; ++k) {
      const int p = perm[k];
      const float expected = sre[p] * sre[p] + sim[p] * sim[p];
      ASSERT_EQ(Bits(pwr[binOfX[k]]), Bits(expected)) << "n " << n << " map " << map << " k " << k;
    }
  }
}

TEST(FftPowers, BadSizesAndMapsRaise) {
  std::vector<int32_t> id(16);
  for (int k = 0; k < 16; ++k) id[k] = k;
  EXPECT_THROW(TFftPowers(8, std::span<const int32_t>(id.data(), 8)), EBrenvoError);
  EXPECT_THROW(TFftPowers(24, id), EBrenvoError);
  EXPECT_THROW(TFftPowers(32, id), EBrenvoError);  // map too short
  std::vector<int32_t> twice = id;
  twice[3] = 4;
  EXPECT_THROW(TFftPowers(16, twice), EBrenvoError);
  std::vector<int32_t> outside = id;
  outside[0] = 16;
  EXPECT_THROW(TFftPowers(16, outside), EBrenvoError);
  outside[0] = -1;
  EXPECT_THROW(TFftPowers(16, outside), EBrenvoError);

  const TFftPowers powers(16, id);
  std::vector<float> buf(64, 0.0f);
  std::span<float> all(buf);
  EXPECT_THROW(powers.Run(all.subspan(0, 15), all.subspan(16, 16), all.subspan(32, 16)), EBrenvoError);
  EXPECT_THROW(powers.Run(all.subspan(0, 16), all.subspan(16, 16), all.subspan(32, 17)), EBrenvoError);
  EXPECT_THROW(powers.Run(all.subspan(0, 16), all.subspan(8, 16), all.subspan(32, 16)), EBrenvoError);
  EXPECT_THROW(powers.Run(all.subspan(0, 16), all.subspan(16, 16), all.subspan(24, 16)), EBrenvoError);
  EXPECT_NO_THROW(powers.Run(all.subspan(0, 16), all.subspan(16, 16), all.subspan(32, 16)));
}

}  // namespace
}  // namespace brenvo
