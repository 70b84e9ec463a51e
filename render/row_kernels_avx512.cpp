// The wide run kernels on 512-bit vectors, for x86-64 processors with
// AVX-512 (F, BW and VBMI): 16 8-bit pixels or 4 float pixels a vector.
// This file alone is compiled for AVX-512; it holds no code that runs
// before the dispatch has checked the processor.
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#if !defined(__AVX512F__) || !defined(__AVX512BW__) || !defined(__AVX512VBMI__)
#error                                                                         \
    "row_kernels_avx512.cpp is compiled with -mavx512f -mavx512bw -mavx512vbmi"
#endif

#define VANTOREL_WIDE_BYTES 64
#include "row_kernels_wide.h"

extern const RowKernels kWideKernels512 = {
    kWideBytesByTable, kWideBytesFalseColour, kWideFloatsAnalysed,
    kWideFloatsFalseColour};

#endif
