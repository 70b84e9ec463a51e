// The run kernels for 128-bit vectors: 4 8-bit pixels or 1 float pixel a
// vector, for every x86-64 processor (SSE2) and every aarch64 one (NEON).
#include "row_kernels.h"

#if (defined(__x86_64__) || defined(__aarch64__)) &&                           \
    (defined(__GNUC__) || defined(__clang__))

#define VANTOREL_WIDE_BYTES 16
#include "row_kernels_wide.h"

#if defined(__x86_64__)
const KernelSet kSse2Kernels = {"SSE2", VANTOREL_WIDE_KERNELS};
#else
const KernelSet kNeonKernels = {"NEON", VANTOREL_WIDE_KERNELS};
#endif

#endif
