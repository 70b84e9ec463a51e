// Which of the instruction sets the x86-64 row kernels use this processor
// runs, read from the processor itself (cpuid) and, for the AVX sets, from
// the register state the operating system saves (xgetbv): a set counts only
// where both hold. One reader for every operating system the module is built
// for, with no runtime library behind it (the compilers'
// __builtin_cpu_supports needs one, which the macOS build does not link).
#ifndef VANTOREL_PROCESSOR_FEATURES_H
#define VANTOREL_PROCESSOR_FEATURES_H

#include <stdint.h>

typedef struct ProcessorFeatures {
  bool sse41;
  bool avx2;
  bool avx512; // F, BW and VBMI together, as the AVX-512 kernels use them
} ProcessorFeatures;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

typedef struct CpuidRegisters {
  uint32_t eax, ebx, ecx, edx;
} CpuidRegisters;

static inline CpuidRegisters cpuidLeaf(uint32_t leaf, uint32_t subleaf) {
  CpuidRegisters r;
  __asm__("cpuid"
          : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
          : "a"(leaf), "c"(subleaf));
  return r;
}

// XCR0: which register state the operating system saves on a thread switch.
// Valid only where cpuid leaf 1 reports OSXSAVE.
static inline uint64_t savedRegisterState(void) {
  uint32_t low, high;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (uint64_t)high << 32 | low;
}

static inline bool bitSet(uint32_t word, int bit) { return (word >> bit) & 1; }

// XCR0 bits: SSE and AVX (1, 2); the AVX-512 mask and upper ZMM halves and
// registers (5, 6, 7).
enum { kYmmState = 0x06, kZmmState = 0xe0 };

// macOS saves a thread's AVX-512 state from its first AVX-512 instruction
// on, so XCR0 shows it only after that; elsewhere XCR0 shows it up front.
#if defined(__APPLE__)
static const bool kZmmStateSavedOnDemand = true;
#else
static const bool kZmmStateSavedOnDemand = false;
#endif

static inline ProcessorFeatures processorFeatures(void) {
  ProcessorFeatures features = {false, false, false};
  const CpuidRegisters top = cpuidLeaf(0, 0);
  const CpuidRegisters one = cpuidLeaf(1, 0);
  features.sse41 = bitSet(one.ecx, 19);
  // AVX and OSXSAVE, and the SSE and AVX state saved.
  const bool avx = bitSet(one.ecx, 28) && bitSet(one.ecx, 27) &&
                   (savedRegisterState() & kYmmState) == kYmmState;
  if (!avx || top.eax < 7) {
    return features;
  }
  const bool zmmSaved =
      kZmmStateSavedOnDemand || (savedRegisterState() & kZmmState) == kZmmState;
  const CpuidRegisters seven = cpuidLeaf(7, 0);
  features.avx2 = bitSet(seven.ebx, 5);
  features.avx512 = zmmSaved && bitSet(seven.ebx, 16) &&
                    bitSet(seven.ebx, 30) && bitSet(seven.ecx, 1);
  return features;
}

#endif

#endif
