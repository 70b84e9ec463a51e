// The wide run kernels on 256-bit vectors, for x86-64 processors with AVX2:
// 8 8-bit pixels or 2 float pixels a vector. This file alone is compiled
// for AVX2; it holds no code that runs before the dispatch has checked the
// processor.
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#if !defined(__AVX2__)
#error "row_kernels_avx2.cpp is compiled with -mavx2"
#endif

#define VANTOREL_WIDE_BYTES 32
#include "row_kernels_wide.h"

extern const RowKernels kWideKernels256 = {
    kWideBytesByTable, kWideBytesFalseColour, kWideFloatsAnalysed,
    kWideFloatsFalseColour};

#endif
