// Value types in which the signal chain hands samples, spectra and complex
// signals from stage to stage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace brenvo {

// Growable arrays. A routine that is given one by reference writes into the
// caller's elements; resize() keeps old elements and zero-fills new ones.
using TByteArray = std::vector<uint8_t>;
using TIntegerArray = std::vector<int32_t>;
using TSingleArray = std::vector<float>;
using TSingleArray2D = std::vector<TSingleArray>;  // rows may differ in length
using TDataBufferF = std::vector<TSingleArray>;    // index = audio channel
using TDataBufferI = std::vector<TIntegerArray>;   // index = audio channel

// Interleaved (re, im) pair of singles: the FFT and the spectrum engine rely on
// this exact layout.
struct TComplex {
  float Re = 0.0f;
  float Im = 0.0f;
};
static_assert(sizeof(TComplex) == 8);

using TComplexArray = std::vector<TComplex>;

// A complex signal split into its real and imaginary parts (equal lengths).
struct TReImArrays {
  TSingleArray Re;
  TSingleArray Im;
};

// Allocator for buffers the vectorised kernels work on: the first element lies
// on a 64-byte boundary (more than the 16 bytes the kernels need, so that wider
// vector units are served too) and std::vector zero-fills on resize.
template <typename T, std::size_t Align = 64>
struct AlignedAllocator {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = AlignedAllocator<U, Align>;
  };
  AlignedAllocator() noexcept = default;
  template <typename U>
  AlignedAllocator(const AlignedAllocator<U, Align>&) noexcept {}
  T* allocate(std::size_t n) {
    return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(Align)));
  }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, std::align_val_t(Align)); }
  template <typename U>
  bool operator==(const AlignedAllocator<U, Align>&) const noexcept {
    return true;
  }
};

using TAlignedSingleArray = std::vector<float, AlignedAllocator<float>>;
using TAlignedComplexArray = std::vector<TComplex, AlignedAllocator<TComplex>>;
using TAlignedIntArray = std::vector<int32_t, AlignedAllocator<int32_t>>;

// Sets the length of both arrays of r to n (new elements are 0).
void SetReImLength(TReImArrays& r, int32_t n);
// Element i = (re[i], im[i]) for every i of re; im must be at least as long
// (ERangeError otherwise).
TComplexArray ReImToComplex(const TSingleArray& re, const TSingleArray& im);
TComplexArray ReImToComplex(const TReImArrays& r);
TReImArrays ComplexToReIm(const TComplexArray& c);

inline TComplex ComplexFromReal(float x) { return {x, 0.0f}; }
inline TComplex ComplexScale(TComplex c, float f) { return {c.Re * f, c.Im * f}; }
// |c|, computed so that squaring cannot overflow.
float ComplexModulus(TComplex c);

}  // namespace brenvo
