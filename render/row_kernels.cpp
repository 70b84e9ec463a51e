// The kernel sets: for each class of processors, each kernel from the
// build that runs it fastest there, and the check of whether this machine
// runs the set.
#include "row_kernels.h"
#include "processor_features.h"

#include <string.h>

// The wide kernels as each file builds them for its processors
// (row_kernels_128.cpp: SSE4.1 or NEON; row_kernels_avx2.cpp), and the
// AVX-512 8-bit false colour (row_kernels_avx512.cpp).
extern const RowKernels kWideKernels128, kWideKernels256;
extern const RunKernel kBucketFalseColour512;

// Every kernel of one build.
#define KERNELS_OF(k)                                                          \
  &(k).bytesByTable, &(k).bytesFalseColour, &(k).floatsAnalysed,               \
      &(k).floatsFalseColour

static const KernelSet kPortableSet = {"portable",
                                       KERNELS_OF(kPortableKernels)};

static const KernelSet *portableKernelSet(void) { return &kPortableSet; }

// A set, and its check of whether this machine runs it (the set, or null).
typedef struct KernelChoice {
  const KernelSet *set;
  const KernelSet *(*runsHere)(void);
} KernelChoice;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// AVX-512 takes its own 8-bit false colour by buckets; the byte table and
// float kernels are the AVX2 ones, which measured faster on the same
// processors than 512-bit ones (every processor with AVX-512 has AVX2).
static const KernelSet kAvx512Kernels = {
    "AVX-512", &kWideKernels256.bytesByTable, &kBucketFalseColour512,
    &kWideKernels256.floatsAnalysed, &kWideKernels256.floatsFalseColour};
static const KernelSet kAvx2Kernels = {"AVX2", KERNELS_OF(kWideKernels256)};
// SSE4.1: the x86-64 baseline is SSE2; older processors take the portable
// kernels.
static const KernelSet kSse41Kernels = {"SSE4.1", KERNELS_OF(kWideKernels128)};

// processorFeatures counts a set only when the operating system saves its
// registers.
static const KernelSet *avx512KernelSet(void) {
  return processorFeatures().avx512 ? &kAvx512Kernels : nullptr;
}

static const KernelSet *avx2KernelSet(void) {
  return processorFeatures().avx2 ? &kAvx2Kernels : nullptr;
}

static const KernelSet *sse41KernelSet(void) {
  return processorFeatures().sse41 ? &kSse41Kernels : nullptr;
}

// Fastest first: each set, and the check of whether this machine runs it.
static const KernelChoice kKernelSets[] = {{&kAvx512Kernels, avx512KernelSet},
                                           {&kAvx2Kernels, avx2KernelSet},
                                           {&kSse41Kernels, sse41KernelSet},
                                           {&kPortableSet, portableKernelSet}};

#elif defined(__aarch64__)

static const KernelSet kNeonKernels = {"NEON", KERNELS_OF(kWideKernels128)};

// Every aarch64 processor has NEON.
static const KernelSet *neonKernelSet(void) { return &kNeonKernels; }

static const KernelChoice kKernelSets[] = {{&kNeonKernels, neonKernelSet},
                                           {&kPortableSet, portableKernelSet}};

#else

static const KernelChoice kKernelSets[] = {{&kPortableSet, portableKernelSet}};

#endif

const KernelSet *fastestKernelSetFrom(const char *first) {
  const size_t count = sizeof kKernelSets / sizeof kKernelSets[0];
  size_t i = 0;
  while (first && i + 1 < count && strcmp(kKernelSets[i].set->name, first)) {
    ++i;
  }
  for (; i < count; ++i) {
    const KernelSet *set = kKernelSets[i].runsHere();
    if (set) {
      return set;
    }
  }
  return &kPortableSet;
}
