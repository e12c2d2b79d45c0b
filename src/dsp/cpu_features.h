// What the processor offers beyond the x86-64 baseline, for the kernels that
// have a faster version for it. Every kernel keeps a version that runs on any
// processor, so one binary serves all.
#pragma once

// x86-64 with GCC: kernels with an AVX2 version picked at run time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define BRENVO_AVX2_DISPATCH 1
#else
#define BRENVO_AVX2_DISPATCH 0
#endif

// Before a hot function: compiled twice, for AVX2 and for any processor, the
// dynamic loader picking one when the program starts. The same arithmetic in
// both (no fused multiply-add: the project builds with -ffp-contract=off and
// AVX2 does not bring FMA), so results do not depend on the processor.
#if BRENVO_AVX2_DISPATCH
#define BRENVO_AVX2_CLONES [[gnu::target_clones("avx2", "default")]]
#else
#define BRENVO_AVX2_CLONES
#endif

namespace brenvo {

// Whether the AVX2 versions can run here (false where there are none).
inline bool CpuHasAvx2() {
#if BRENVO_AVX2_DISPATCH
  __builtin_cpu_init();  // may be asked before the run-time's own start-up did it
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace brenvo
