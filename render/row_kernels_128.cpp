// The wide run kernels on 128-bit vectors: 4 8-bit pixels or 1 float pixel
// a vector, for x86-64 processors with SSE4.1 and every aarch64 one (NEON).
// On x86-64 this file alone is compiled for SSE4.1; it holds no code that
// runs before the dispatch has checked the processor.
#include "row_kernels.h"

#if (defined(__x86_64__) || defined(__aarch64__)) &&                           \
    (defined(__GNUC__) || defined(__clang__))
#if defined(__x86_64__) && !defined(__SSE4_1__)
#error "row_kernels_128.cpp is compiled with -msse4.1 on x86-64"
#endif

#define VANTOREL_WIDE_BYTES 16
#include "row_kernels_wide.h"

extern const RowKernels kWideKernels128 = {
    kWideBytesByTable, kWideBytesFalseColour, kWideFloatsAnalysed,
    kWideFloatsFalseColour};

#endif
