#include "dsp/fft.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <numbers>
#include <vector>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"

namespace brenvo {
namespace {

constexpr int kMaxLog2 = 16;
// Blocks up to 2^kMaxLeafLog2 values deliver powers leaf level by leaf level.
constexpr int kMaxLeafLog2 = 10;

const char* const kFftSizeError = "FftSize must be 16 to 64k";
const char* const kArraySizeError = "FftSize must be 16..65536";

bool IsPowerOfTwo(long long n) { return n > 0 && (n & (n - 1)) == 0; }

bool IsFftSize(long long n) { return n >= kFftMinSize && n <= kFftMaxSize && IsPowerOfTwo(n); }

// Whether the byte ranges [a, a + aBytes) and [b, b + bBytes) share memory.
bool Overlap(const void* a, std::size_t aBytes, const void* b, std::size_t bBytes) {
  const auto x = reinterpret_cast<std::uintptr_t>(a);
  const auto y = reinterpret_cast<std::uintptr_t>(b);
  return x < y + bBytes && y < x + aBytes;
}

// Tables shared by every transform. A size's tables are built when a
// transform of that size first needs them (a program uses two or three of
// the sizes, and a twiddle costs a long-double sine and cosine), under a
// lock; once built they are read-only, and Ready tells readers so.
//   Perm[b]      P_N for N = 2^b, b = 1 .. 16
//   Cos[b], Sin[b]  w^k = e^(+j 2 pi k / N) for k = 0 .. N/4 - 1, N = 2^b, b = 2 .. 16
//   Leaf8[b], Leaf4[b]  offsets of the 8- and 4-point blocks that end the
//                recursion in a block of 2^b, b = 4 .. kMaxLeafLog2
// The kernels work on separate real and imaginary arrays, so the twiddles are
// kept split too: a pass then loads four cosines and four sines at a time.
struct TFftTables {
  std::array<std::vector<int32_t>, kMaxLog2 + 1> Perm;
  std::array<TAlignedSingleArray, kMaxLog2 + 1> Cos;
  std::array<TAlignedSingleArray, kMaxLog2 + 1> Sin;
  std::array<std::vector<int32_t>, kMaxLeafLog2 + 1> Leaf8;
  std::array<std::vector<int32_t>, kMaxLeafLog2 + 1> Leaf4;
  // The tables of every b up to Ready are built.
  std::atomic<int> Ready{0};
  std::mutex Building;

  // The split radix ends each branch in an 8- or a 4-point block.
  static void CollectLeaves(int offset, int n, std::vector<int32_t>& of8, std::vector<int32_t>& of4) {
    if (n == 8) {
      of8.push_back(offset);
      return;
    }
    if (n == 4) {
      of4.push_back(offset);
      return;
    }
    const int q = n / 4;
    CollectLeaves(offset + 3 * q, q, of8, of4);
    CollectLeaves(offset + 2 * q, q, of8, of4);
    CollectLeaves(offset, 2 * q, of8, of4);
  }

  void Build(int b) {
    const int n = 1 << b;
    if (b == 1) {
      Perm[1] = {0, 1};
    } else {
      // Each doubling interleaves two copies of the smaller order and moves
      // the run of n/2 positions from the smallest integer >= n/3 up by one
      // (the odd outputs of the split radix land in the upper half).
      const int m = n / 2;
      const int v = (n + 2) / 3;
      std::vector<int32_t>& p = Perm[b];
      p.resize(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) p[i] = 2 * Perm[b - 1][i % m];
      for (int i = v; i < v + m; ++i) p[i] += 1;
      const double step = 2.0 * std::numbers::pi / n;
      Cos[b].resize(n / 4);
      Sin[b].resize(n / 4);
      for (int k = 0; k < n / 4; ++k) {
        const long double a = static_cast<long double>(k) * step;
        Cos[b][k] = static_cast<float>(std::cos(a));
        Sin[b][k] = static_cast<float>(std::sin(a));
      }
    }
    if (b >= 4 && b <= kMaxLeafLog2) CollectLeaves(0, n, Leaf8[b], Leaf4[b]);
  }
};

// The tables, with those of every size up to 2^log2n built.
const TFftTables& Tables(int log2n) {
  static TFftTables tables;
  if (tables.Ready.load(std::memory_order_acquire) < log2n) {
    std::lock_guard<std::mutex> lock(tables.Building);
    const int ready = tables.Ready.load(std::memory_order_relaxed);
    for (int b = ready + 1; b <= log2n; ++b) tables.Build(b);
    if (log2n > ready) tables.Ready.store(log2n, std::memory_order_release);
  }
  return tables;
}

int Log2(int n) { return std::countr_zero(static_cast<unsigned>(n)); }

// ---------------------------------------------------------------------------
// First direction (decimation in frequency), w = e^(+j 2 pi / n), q = n / 4:
//   x[k]      := a + c            x[k + q]  := b + d
//   x[k + 2q] := (t1 + j t2) w^k  x[k + 3q] := (t1 - j t2) w^-k
// with t1 = a - c, t2 = b - d; then the block of 2q and the two blocks of q
// are transformed. X[2m] ends in the first half, X[4m + 1] in the third
// quarter, X[4m - 1] in the fourth, each in its block's own order.

inline void DifPass(float* __restrict r0, float* __restrict r1, float* __restrict r2, float* __restrict r3,
                    float* __restrict i0, float* __restrict i1, float* __restrict i2, float* __restrict i3,
                    const float* __restrict wc, const float* __restrict ws, int q) {
  for (int k = 0; k < q; ++k) {
    const float ar = r0[k], ai = i0[k], br = r1[k], bi = i1[k];
    const float cr = r2[k], ci = i2[k], dr = r3[k], di = i3[k];
    r0[k] = ar + cr;
    i0[k] = ai + ci;
    r1[k] = br + dr;
    i1[k] = bi + di;
    const float t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
    const float ur = t1r - t2i, ui = t1i + t2r;  // t1 + j t2
    const float vr = t1r + t2i, vi = t1i - t2r;  // t1 - j t2
    const float c = wc[k], s = ws[k];
    r2[k] = ur * c - ui * s;
    i2[k] = ur * s + ui * c;
    r3[k] = vr * c + vi * s;
    i3[k] = vi * c - vr * s;
  }
}

// The pass of a block of n = 2^log2n values; always inlined, so that a size
// known at compile time fixes its loop.
[[gnu::always_inline]] inline void DifPassAt(float* re, float* im, int n, const TFftTables& t, int log2n) {
  const int q = n / 4;
  DifPass(re, re + q, re + 2 * q, re + 3 * q, im, im + q, im + 2 * q, im + 3 * q, t.Cos[log2n].data(),
          t.Sin[log2n].data(), q);
}

template <int N>
[[gnu::always_inline]] inline void DifPassFixed(float* re, float* im, const TFftTables& t) {
  DifPassAt(re, im, N, t, std::countr_zero(static_cast<unsigned>(N)));
}

// Where the last operations of the kernel put their results. TKeep stores the
// transform in place; TPowers stores |X|^2 of the value that would land at
// position p into Power[Dest[p]] instead, so that a caller that wants powers
// in its own order needs neither a power pass nor a reordering pass.
struct TKeep {
  TKeep At(int) const { return {}; }
  void Put(float* re, float* im, int p, float r, float i) const {
    re[p] = r;
    im[p] = i;
  }
};

struct TPowers {
  const int32_t* Dest;
  float* Power;
  TPowers At(int offset) const { return {Dest + offset, Power}; }
  void Put(float*, float*, int p, float r, float i) const { Power[Dest[p]] = r * r + i * i; }
};

// Small blocks with the size known at compile time, so that the compiler
// unrolls them completely. Every final value of the kernel is written by a
// 2- or 4-point block, through the sink.
template <int N, class TSink>
void DifFixed(float* re, float* im, const TFftTables& t, TSink sink) {
  if constexpr (N == 2) {
    const float ar = re[0], ai = im[0], br = re[1], bi = im[1];
    sink.Put(re, im, 0, ar + br, ai + bi);
    sink.Put(re, im, 1, ar - br, ai - bi);
  } else if constexpr (N == 4) {
    // w^0 = 1: no multiplication; the quarter blocks have one value each.
    const float ar = re[0], ai = im[0], br = re[1], bi = im[1];
    const float cr = re[2], ci = im[2], dr = re[3], di = im[3];
    const float t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
    const float er = ar + cr, ei = ai + ci, fr = br + dr, fi = bi + di;
    sink.Put(re, im, 0, er + fr, ei + fi);
    sink.Put(re, im, 1, er - fr, ei - fi);
    sink.Put(re, im, 2, t1r - t2i, t1i + t2r);
    sink.Put(re, im, 3, t1r + t2i, t1i - t2r);
  } else {
    constexpr int q = N / 4;
    DifPassFixed<N>(re, im, t);
    DifFixed<N / 4>(re + 3 * q, im + 3 * q, t, sink.At(3 * q));
    DifFixed<N / 4>(re + 2 * q, im + 2 * q, t, sink.At(2 * q));
    DifFixed<N / 2>(re, im, t, sink);
  }
}

template <class TSink>
void DifBlock(float* re, float* im, int n, int log2n, const TFftTables& t, TSink sink) {
  switch (n) {
    case 8:
      DifFixed<8>(re, im, t, sink);
      return;
    case 16:
      DifFixed<16>(re, im, t, sink);
      return;
    case 32:
      DifFixed<32>(re, im, t, sink);
      return;
    default:
      break;
  }
  const int q = n / 4;
  DifPassAt(re, im, n, t, log2n);
  DifBlock(re + 3 * q, im + 3 * q, q, log2n - 2, t, sink.At(3 * q));
  DifBlock(re + 2 * q, im + 2 * q, q, log2n - 2, t, sink.At(2 * q));
  DifBlock(re, im, 2 * q, log2n - 1, t, sink);
}

// ---------------------------------------------------------------------------
// Powers of a block of up to 2^kMaxLeafLog2 values, in two phases: first every
// pass of the recursion down to the 16-point blocks, then the 8- and 4-point
// blocks at the ends of the branches. These are too short to fill vector
// lanes along their own values, so four blocks at a time run side by side,
// lane i holding block i (their values transposed into place), and every
// lane computes exactly the scalar expressions of DifFixed<8> and
// DifFixed<4>. A pass only reads what its parent pass wrote, so running the
// leaves after all passes changes nothing. Leaves left over (fewer than four)
// run one by one through DifFixed.

using V4 = float __attribute__((vector_size(16)));

inline V4 Load4(const float* p) {
  V4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline V4 Splat(float x) { return V4{x, x, x, x}; }

// Rows a, b, c, d become columns.
inline void Transpose(V4& a, V4& b, V4& c, V4& d) {
  const V4 t0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
  const V4 t1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
  const V4 t2 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
  const V4 t3 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
  a = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  b = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  c = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  d = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Value e of the four blocks at off[0..3], lane i from block i, for
// e = base .. base + 3.
inline void LoadColumns(const float* x, const int32_t* off, int base, V4* col) {
  col[0] = Load4(x + off[0] + base);
  col[1] = Load4(x + off[1] + base);
  col[2] = Load4(x + off[2] + base);
  col[3] = Load4(x + off[3] + base);
  Transpose(col[0], col[1], col[2], col[3]);
}

// Power[dest[off[i] + e]] := lane i of pw[e], e = 0 .. count - 1.
inline void ScatterPowers(const V4* pw, int count, const int32_t* off, const int32_t* dest, float* power) {
  alignas(16) float lanes[8][4];
  for (int e = 0; e < count; ++e) std::memcpy(lanes[e], &pw[e], sizeof pw[e]);
  for (int i = 0; i < 4; ++i) {
    const int32_t* d = dest + off[i];
    for (int e = 0; e < count; ++e) power[d[e]] = lanes[e][i];
  }
}

// The powers of four blocks: into their bins one by one, or, where lane i's
// bin is lane 0's plus i for every value (Contiguous), a vector at a time.
inline void StorePowers(const V4* pw, int count, const int32_t* off, const int32_t* dest, float* power,
                        bool contiguous) {
  if (!contiguous) {
    ScatterPowers(pw, count, off, dest, power);
    return;
  }
  const int32_t* d = dest + off[0];
  for (int e = 0; e < count; ++e) std::memcpy(power + d[e], &pw[e], sizeof pw[e]);
}

// The 4-point block of DifFixed<4> on lanes: x[0..3] in r[0..3], i[0..3].
inline void Dif4Lanes(V4* r, V4* i) {
  const V4 ar = r[0], ai = i[0], br = r[1], bi = i[1], cr = r[2], ci = i[2], dr = r[3], di = i[3];
  const V4 t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
  const V4 er = ar + cr, ei = ai + ci, fr = br + dr, fi = bi + di;
  r[0] = er + fr;
  i[0] = ei + fi;
  r[1] = er - fr;
  i[1] = ei - fi;
  r[2] = t1r - t2i;
  i[2] = t1i + t2r;
  r[3] = t1r + t2i;
  i[3] = t1i - t2r;
}

// Four 4-point blocks side by side.
BRENVO_AVX2_CLONES void Leaf4Powers(float* re, float* im, const int32_t* off, const int32_t* dest, float* power,
                                    bool contiguous) {
  V4 r[4], i[4], pw[4];
  LoadColumns(re, off, 0, r);
  LoadColumns(im, off, 0, i);
  Dif4Lanes(r, i);
  for (int e = 0; e < 4; ++e) pw[e] = r[e] * r[e] + i[e] * i[e];
  StorePowers(pw, 4, off, dest, power, contiguous);
}

// Four 8-point blocks side by side: the pass with q = 2, the 2-point blocks on
// x[6..7] and x[4..5], the 4-point block on x[0..3].
BRENVO_AVX2_CLONES void Leaf8Powers(float* re, float* im, const int32_t* off, const int32_t* dest, float* power,
                                    const TFftTables& t, bool contiguous) {
  V4 r[8], i[8], pw[8];
  LoadColumns(re, off, 0, r);
  LoadColumns(re, off, 4, r + 4);
  LoadColumns(im, off, 0, i);
  LoadColumns(im, off, 4, i + 4);
  for (int k = 0; k < 2; ++k) {
    const V4 ar = r[k], ai = i[k], br = r[k + 2], bi = i[k + 2];
    const V4 cr = r[k + 4], ci = i[k + 4], dr = r[k + 6], di = i[k + 6];
    r[k] = ar + cr;
    i[k] = ai + ci;
    r[k + 2] = br + dr;
    i[k + 2] = bi + di;
    const V4 t1r = ar - cr, t1i = ai - ci, t2r = br - dr, t2i = bi - di;
    const V4 ur = t1r - t2i, ui = t1i + t2r;
    const V4 vr = t1r + t2i, vi = t1i - t2r;
    const V4 c = Splat(t.Cos[3][k]), s = Splat(t.Sin[3][k]);
    r[k + 4] = ur * c - ui * s;
    i[k + 4] = ur * s + ui * c;
    r[k + 6] = vr * c + vi * s;
    i[k + 6] = vi * c - vr * s;
  }
  for (int e = 4; e < 8; e += 2) {
    const V4 ar = r[e], ai = i[e], br = r[e + 1], bi = i[e + 1];
    r[e] = ar + br;
    i[e] = ai + bi;
    r[e + 1] = ar - br;
    i[e + 1] = ai - bi;
  }
  Dif4Lanes(r, i);
  for (int e = 0; e < 8; ++e) pw[e] = r[e] * r[e] + i[e] * i[e];
  StorePowers(pw, 8, off, dest, power, contiguous);
}

// Every pass of a block of up to kStraightPasses values down to the
// 16-point blocks, as one piece of straight code.
constexpr int kStraightPasses = 64;

template <int N>
[[gnu::always_inline]] inline void DifPassesStraight(float* re, float* im, const TFftTables& t) {
  static_assert(N <= kStraightPasses);
  if constexpr (N > 8) {
    constexpr int q = N / 4;
    DifPassFixed<N>(re, im, t);
    DifPassesStraight<N / 4>(re + 3 * q, im + 3 * q, t);
    DifPassesStraight<N / 4>(re + 2 * q, im + 2 * q, t);
    DifPassesStraight<N / 2>(re, im, t);
  }
}

// Every pass of a block of N values down to the 16-point blocks; the sizes
// known at compile time, so that their short loops unroll.
template <int N>
BRENVO_AVX2_CLONES void DifPassesFixed(float* re, float* im, const TFftTables& t) {
  if constexpr (N <= kStraightPasses) {
    DifPassesStraight<N>(re, im, t);
  } else {
    constexpr int q = N / 4;
    DifPassFixed<N>(re, im, t);
    DifPassesFixed<N / 4>(re + 3 * q, im + 3 * q, t);
    DifPassesFixed<N / 4>(re + 2 * q, im + 2 * q, t);
    DifPassesFixed<N / 2>(re, im, t);
  }
}

// The passes of a block of n values when n is N or a smaller size known at
// compile time (down to 8); false for larger blocks.
template <int N>
BRENVO_AVX2_CLONES bool DifPassesUpTo(float* re, float* im, int n, const TFftTables& t) {
  if (n == N) {
    DifPassesFixed<N>(re, im, t);
    return true;
  }
  if constexpr (N > 8) return DifPassesUpTo<N / 2>(re, im, n, t);
  return false;
}

BRENVO_AVX2_CLONES void DifPasses(float* re, float* im, int n, int log2n, const TFftTables& t) {
  if (DifPassesUpTo<256>(re, im, n, t)) return;
  const int q = n / 4;
  DifPassAt(re, im, n, t, log2n);
  DifPasses(re + 3 * q, im + 3 * q, q, log2n - 2, t);
  DifPasses(re + 2 * q, im + 2 * q, q, log2n - 2, t);
  DifPasses(re, im, 2 * q, log2n - 1, t);
}

void DifBlockPowers(float* re, float* im, int n, int log2n, const TFftTables& t, TPowers sink) {
  if (log2n > kMaxLeafLog2) {
    const int q = n / 4;
    DifPassAt(re, im, n, t, log2n);
    DifBlockPowers(re + 3 * q, im + 3 * q, q, log2n - 2, t, sink.At(3 * q));
    DifBlockPowers(re + 2 * q, im + 2 * q, q, log2n - 2, t, sink.At(2 * q));
    DifBlockPowers(re, im, 2 * q, log2n - 1, t, sink);
    return;
  }
  DifPasses(re, im, n, log2n, t);
  const std::vector<int32_t>& of8 = t.Leaf8[log2n];
  const std::vector<int32_t>& of4 = t.Leaf4[log2n];
  const std::size_t n8 = of8.size() / 4 * 4, n4 = of4.size() / 4 * 4;
  for (std::size_t b = 0; b < n8; b += 4) Leaf8Powers(re, im, of8.data() + b, sink.Dest, sink.Power, t, false);
  for (std::size_t b = n8; b < of8.size(); ++b) DifFixed<8>(re + of8[b], im + of8[b], t, sink.At(of8[b]));
  for (std::size_t b = 0; b < n4; b += 4) Leaf4Powers(re, im, of4.data() + b, sink.Dest, sink.Power, false);
  for (std::size_t b = n4; b < of4.size(); ++b) DifFixed<4>(re + of4[b], im + of4[b], t, sink.At(of4[b]));
}

// Scratch for callers that pass no Work buffer: grows to the largest size
// used on this thread and is then reused, so repeated calls allocate nothing.
float* ThreadScratch(int n) {
  thread_local TAlignedSingleArray scratch;
  if (scratch.size() < 2 * static_cast<std::size_t>(n)) scratch.resize(2 * static_cast<std::size_t>(n));
  return scratch.data();
}

}  // namespace

std::span<const int32_t> FftPermutation(int N) {
  if (N < 2 || N > kFftMaxSize || !IsPowerOfTwo(N)) throw EBrenvoError(kFftSizeError);
  const auto& p = Tables(Log2(N)).Perm[Log2(N)];
  return {p.data(), p.size()};
}

TFftTwiddles FftTwiddles(int N) {
  if (N < 4 || N > kFftMaxSize || !IsPowerOfTwo(N)) throw EBrenvoError(kFftSizeError);
  const TFftTables& t = Tables(Log2(N));
  return {t.Cos[Log2(N)], t.Sin[Log2(N)]};
}

void Fft(TComplex* Data, int N, bool Inverse, bool Scale, bool Permute, TComplex* Work) {
  if (!IsFftSize(N)) throw EBrenvoError(kFftSizeError);
  if (Data == nullptr) throw EBrenvoError("Fft: no data");
  const std::size_t bytes = sizeof(TComplex) * static_cast<std::size_t>(N);
  if (Work != nullptr && Overlap(Work, bytes, Data, bytes)) throw EBrenvoError("Fft: Work overlaps Data");
  const int log2n = Log2(N);
  const TFftTables& t = Tables(log2n);
  const int32_t* perm = t.Perm[log2n].data();

  // The kernel runs on split real and imaginary arrays in the work space.
  float* re = Work != nullptr ? reinterpret_cast<float*>(Work) : ThreadScratch(N);
  float* im = re + N;

  if (!Inverse) {
    for (int n = 0; n < N; ++n) {
      re[n] = Data[n].Re;
      im[n] = Data[n].Im;
    }
    DifBlock(re, im, N, log2n, t, TKeep{});
    if (Permute) {
      for (int k = 0; k < N; ++k) Data[k] = {re[perm[k]], im[perm[k]]};
    } else {
      for (int k = 0; k < N; ++k) Data[k] = {re[k], im[k]};
    }
    return;
  }

  // Second direction: sum x[n] e^(-j..) = conj(sum conj(x[n]) e^(+j..)), so the
  // same kernel serves with the imaginary parts negated on the way in and out.
  // Scrambled input (Permute = false) is put into natural order on the way in;
  // the kernel then leaves X[k] at P_N[k], which the way out undoes.
  // 1/N is a power of two, so scaling first changes nothing but the order.
  const float f = Scale ? 1.0f / static_cast<float>(N) : 1.0f;
  if (Permute) {
    for (int n = 0; n < N; ++n) {
      re[n] = Data[n].Re * f;
      im[n] = -(Data[n].Im * f);
    }
  } else {
    for (int n = 0; n < N; ++n) {
      re[n] = Data[perm[n]].Re * f;
      im[n] = -(Data[perm[n]].Im * f);
    }
  }
  DifBlock(re, im, N, log2n, t, TKeep{});
  for (int k = 0; k < N; ++k) Data[k] = {re[perm[k]], -im[perm[k]]};
}

void FftSplitScrambled(float* Re, float* Im, int N) {
  if (!IsFftSize(N)) throw EBrenvoError(kFftSizeError);
  if (Re == nullptr || Im == nullptr) throw EBrenvoError("Fft: no data");
  const std::size_t bytes = sizeof(float) * static_cast<std::size_t>(N);
  if (Overlap(Re, bytes, Im, bytes)) throw EBrenvoError("Fft: Re overlaps Im");
  DifBlock(Re, Im, N, Log2(N), Tables(Log2(N)), TKeep{});
}

TFftPowers::TFftPowers(int N, std::span<const int32_t> BinOfX) : FN(N) {
  if (!IsFftSize(N)) throw EBrenvoError(kFftSizeError);
  if (BinOfX.size() != static_cast<std::size_t>(N)) throw EBrenvoError("TFftPowers: the bin map needs N values");
  const auto perm = FftPermutation(N);
  std::vector<bool> taken(static_cast<std::size_t>(N), false);
  FDest.resize(static_cast<std::size_t>(N));
  for (int k = 0; k < N; ++k) {
    const int32_t b = BinOfX[k];
    if (b < 0 || b >= N || taken[b]) throw EBrenvoError("TFftPowers: the bin map is not a permutation");
    taken[b] = true;
    FDest[perm[k]] = b;
  }
  const int log2n = Log2(N);
  if (log2n > kMaxLeafLog2) return;
  const TFftTables& t = Tables(log2n);
  GroupLeaves(t.Leaf8[log2n], 8, FGroups8);
  GroupLeaves(t.Leaf4[log2n], 4, FGroups4);
}

void TFftPowers::GroupLeaves(std::span<const int32_t> Offsets, int Size, std::vector<TLeafGroup>& Groups) const {
  // Whether block b's bins are block a's plus one, value by value.
  const auto follows = [&](int32_t a, int32_t b) {
    for (int e = 0; e < Size; ++e)
      if (FDest[b + e] != FDest[a + e] + 1) return false;
    return true;
  };
  // In the order of their first values' bins, so that a run starts with its lowest block.
  std::vector<int32_t> left(Offsets.begin(), Offsets.end());
  std::sort(left.begin(), left.end(), [&](int32_t a, int32_t b) { return FDest[a] < FDest[b]; });
  while (!left.empty()) {
    TLeafGroup g{};
    int lanes = 0;
    g.Off[lanes++] = left.front();
    left.erase(left.begin());
    for (bool found = true; found && lanes < 4;) {
      const auto next = std::find_if(left.begin(), left.end(), [&](int32_t o) { return follows(g.Off[lanes - 1], o); });
      found = next != left.end();
      if (found) {
        g.Off[lanes++] = *next;
        left.erase(next);
      }
    }
    g.Contiguous = lanes == 4;
    // Lanes left over repeat the last block: the same powers into the same bins.
    for (; lanes < 4; ++lanes) g.Off[lanes] = g.Off[lanes - 1];
    Groups.push_back(g);
  }
}

void TFftPowers::Run(std::span<float> Re, std::span<float> Im, std::span<float> Power) const {
  const auto n = static_cast<std::size_t>(FN);
  if (Re.size() != n || Im.size() != n || Power.size() != n) throw EBrenvoError("TFftPowers: arrays of N values needed");
  const std::size_t bytes = sizeof(float) * n;
  if (Overlap(Re.data(), bytes, Im.data(), bytes) || Overlap(Re.data(), bytes, Power.data(), bytes) ||
      Overlap(Im.data(), bytes, Power.data(), bytes))
    throw EBrenvoError("TFftPowers: arrays overlap");
  const int log2n = Log2(FN);
  const TFftTables& t = Tables(log2n);
  if (log2n > kMaxLeafLog2) {
    DifBlockPowers(Re.data(), Im.data(), FN, log2n, t, TPowers{FDest.data(), Power.data()});
    return;
  }
  // Every pass, then the blocks at the ends of the branches four at a time
  // in the groups made for this map of bins.
  DifPasses(Re.data(), Im.data(), FN, log2n, t);
  for (const TLeafGroup& g : FGroups8)
    Leaf8Powers(Re.data(), Im.data(), g.Off.data(), FDest.data(), Power.data(), t, g.Contiguous);
  for (const TLeafGroup& g : FGroups4)
    Leaf4Powers(Re.data(), Im.data(), g.Off.data(), FDest.data(), Power.data(), g.Contiguous);
}

void FftComplexArray(TComplexArray& A) {
  if (!IsFftSize(static_cast<long long>(A.size()))) throw EBrenvoError(kArraySizeError);
  Fft(A.data(), static_cast<int>(A.size()), false, false, true, nullptr);
}

}  // namespace brenvo
