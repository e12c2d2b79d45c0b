// What the processor offers beyond the x86-64 baseline, for the kernels that
// have a faster version for it. Every kernel keeps a version that runs on any
// processor, so one binary serves all.
#pragma once

namespace brenvo {

// AVX2 (eight-lane integer and single-precision vectors); false off x86.
inline bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();  // may be asked before the run-time's own start-up did it
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace brenvo
