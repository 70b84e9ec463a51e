// The run kernels for x86-64 processors with AVX2: 8 8-bit pixels or 2
// float pixels a vector. This file alone is compiled for AVX2; it holds no
// code that runs before the dispatch has checked the processor.
#include "row_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#if !defined(__AVX2__)
#error "row_kernels_avx2.cpp is compiled with -mavx2"
#endif

#define VANTOREL_WIDE_BYTES 32
#include "row_kernels_wide.h"

#include "grid_false_colour.h"

void avx2BytesByTable(const uint8_t *source, uint8_t *output, int64_t count,
                      const RunLook *look) {
  bytesByTable(source, output, count, look);
}

void avx2FloatsAnalysed(const uint8_t *source, uint8_t *output, int64_t count,
                        const RunLook *look, bool legalize) {
  floatsAnalysed(source, output, count, look, legalize);
}

int64_t avx2FloatsFalseColour(const uint8_t *source, uint8_t *output,
                              int64_t count, const RunLook *look) {
  return floatsFalseColour(source, output, count, look);
}

const KernelSet kAvx2Kernels = {
    "AVX2",
    {bytesByTable, gridBytesFalseColour, floatsAnalysed, floatsFalseColour}};

#endif
