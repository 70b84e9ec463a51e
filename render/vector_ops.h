// The vector types and primitives the wide kernels are written over, at the
// width the including file sets, VANTOREL_WIDE_BYTES: 16 (SSE4.1 on
// x86-64, NEON on aarch64) or 32 (AVX2). The
// kernels themselves (row_kernels_wide.h) are written once over these;
// this is the one file that says which processor it is built for, and
// only where the compiler's generic vectors have no single instruction for
// an operation.
//
// Lanes come in 128-bit parts: the narrowing, zipping and 16-entry picking
// primitives work within each part, as the processors' own do, so that a
// zip undoes a narrowing of the same vectors.
//
// Only for inclusion by one kernel file each: everything here has internal
// linkage, so the copies built for different processors never mix.
#ifndef VANTOREL_VECTOR_OPS_H
#define VANTOREL_VECTOR_OPS_H

#include <stdint.h>
#include <string.h>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

enum {
  kVectorBytes = VANTOREL_WIDE_BYTES,
  kLanes = kVectorBytes / 4,       // 32-bit lanes: 8-bit pixels a vector
  kFloatPixels = kVectorBytes / 16 // float pixels a vector
};

typedef float Floats __attribute__((vector_size(kVectorBytes)));
typedef int32_t Ints __attribute__((vector_size(kVectorBytes)));
typedef uint32_t Words __attribute__((vector_size(kVectorBytes)));
typedef int16_t Shorts __attribute__((vector_size(kVectorBytes)));
typedef uint16_t Halves __attribute__((vector_size(kVectorBytes)));
typedef int8_t SBytes __attribute__((vector_size(kVectorBytes)));
typedef uint8_t Bytes __attribute__((vector_size(kVectorBytes)));

template <typename V> inline V loadVector(const uint8_t *at) {
  V v;
  memcpy(&v, at, sizeof v);
  return v;
}

template <typename V> inline void storeVector(uint8_t *at, V v) {
  memcpy(at, &v, sizeof v);
}

// Every lane v (of the lanes' own type).
template <typename V, typename T> inline V splat(T v) { return V{} + v; }

// Every lane v, bit for bit (-0 stays -0, a NaN keeps its payload).
inline Floats floatsOf(float v) {
  int32_t bits;
  memcpy(&bits, &v, sizeof bits);
  return (Floats)splat<Ints>(bits);
}

// The same 16 bytes in every 128-bit part.
inline Bytes everyPart(const uint8_t bytes[16]) {
  Bytes v;
  for (int part = 0; part < kVectorBytes / 16; ++part) {
    memcpy((uint8_t *)&v + 16 * part, bytes, 16);
  }
  return v;
}

// ------------------------------------------------------------ x86-64

#if defined(__x86_64__)

#if VANTOREL_WIDE_BYTES == 32
typedef __m256i Native;
#define VECTOR_OP(op) _mm256_##op
#else
typedef __m128i Native;
#define VECTOR_OP(op) _mm_##op
#endif

// table[index] for each byte, from the table's copy in the byte's own
// 128-bit part; each index is 0 to 15.
inline Bytes pickBytes(Bytes table, Bytes index) {
  return (Bytes)VECTOR_OP(shuffle_epi8)((Native)table, (Native)index);
}

// Whether any lane of a comparison's result is set.
inline bool anyLane(Ints mask) {
#if VANTOREL_WIDE_BYTES == 32
  return !_mm256_testz_si256((Native)mask, (Native)mask);
#else
  return !_mm_testz_si128((Native)mask, (Native)mask);
#endif
}

// Bits that are set where the 16-bit lanes of a comparison's result are:
// those of the lanes in the low halves of the 32-bit lanes within
// kLowHalfBits, of those in the high halves within kHighHalfBits.
typedef uint32_t LaneBits;
inline LaneBits laneBits(Shorts mask) {
  return (LaneBits)VECTOR_OP(movemask_epi8)((Native)mask);
}
static const LaneBits kLowHalfBits = 0x33333333u, kHighHalfBits = 0xccccccccu;

// The low 16 bits of each 32-bit lane of a in the low half, of b in the
// high half.
inline Halves lowHalves(Words a, Words b) {
  return (Halves)VECTOR_OP(blend_epi16)(
      (Native)a, VECTOR_OP(slli_epi32)((Native)b, 16), 0xaa);
}

// The high half of each 16-bit product.
inline Halves mulHigh(Halves a, Halves b) {
  return (Halves)VECTOR_OP(mulhi_epu16)((Native)a, (Native)b);
}

// The 32-bit lanes of a and b, each 0 to 32767, as 16-bit lanes: in each
// 128-bit part a's, then b's.
inline Halves narrowWords(Words a, Words b) {
  return (Halves)VECTOR_OP(packs_epi32)((Native)a, (Native)b);
}

// The 16-bit lanes of a and b, each 0 to 255, as bytes: in each 128-bit
// part a's, then b's.
inline Bytes narrowHalves(Halves a, Halves b) {
  return (Bytes)VECTOR_OP(packus_epi16)((Native)a, (Native)b);
}

// The low or high halves of each 128-bit part of a and b, interleaved by
// element (a's first): of bytes, 16-bit lanes, floats and float pairs.
inline Halves zipBytesLow(Bytes a, Bytes b) {
  return (Halves)VECTOR_OP(unpacklo_epi8)((Native)a, (Native)b);
}
inline Halves zipBytesHigh(Bytes a, Bytes b) {
  return (Halves)VECTOR_OP(unpackhi_epi8)((Native)a, (Native)b);
}
inline Words zipHalvesLow(Halves a, Halves b) {
  return (Words)VECTOR_OP(unpacklo_epi16)((Native)a, (Native)b);
}
inline Words zipHalvesHigh(Halves a, Halves b) {
  return (Words)VECTOR_OP(unpackhi_epi16)((Native)a, (Native)b);
}
#if VANTOREL_WIDE_BYTES == 32
#define FLOAT_OP(op) _mm256_##op
typedef __m256 NativeFloats;
typedef __m256d NativePairs;
#else
#define FLOAT_OP(op) _mm_##op
typedef __m128 NativeFloats;
typedef __m128d NativePairs;
#endif
inline Floats zipFloatsLow(Floats a, Floats b) {
  return (Floats)FLOAT_OP(unpacklo_ps)((NativeFloats)a, (NativeFloats)b);
}
inline Floats zipFloatsHigh(Floats a, Floats b) {
  return (Floats)FLOAT_OP(unpackhi_ps)((NativeFloats)a, (NativeFloats)b);
}
inline Floats zipPairsLow(Floats a, Floats b) {
  return (Floats)FLOAT_OP(unpacklo_pd)((NativePairs)a, (NativePairs)b);
}
inline Floats zipPairsHigh(Floats a, Floats b) {
  return (Floats)FLOAT_OP(unpackhi_pd)((NativePairs)a, (NativePairs)b);
}
#undef FLOAT_OP

// For each 32-bit lane, the sum of its four bytes times the signed bytes of
// `weights` (each -64 to 63, so pairs of products stay within 16 bits),
// times `scale`.
inline Ints weightedBytes(Words pixels, Words weights, int16_t scale) {
  return (Ints)VECTOR_OP(madd_epi16)(
      VECTOR_OP(maddubs_epi16)((Native)pixels, (Native)weights),
      VECTOR_OP(set1_epi16)(scale));
}

// Eight words to pick from by index.
#if VANTOREL_WIDE_BYTES == 16
typedef struct WordTable {
  Native low, high; // words 0 to 3, 4 to 7
} WordTable;
#else
typedef Native WordTable; // the eight words
#endif

inline WordTable wordTableOf(const uint32_t words[8]) {
  Words v;
  for (int i = 0; i < kLanes; ++i) {
    v[i] = words[i % 8];
  }
#if VANTOREL_WIDE_BYTES == 16
  Words high;
  for (int i = 0; i < kLanes; ++i) {
    high[i] = words[4 + i];
  }
  const WordTable t = {(Native)v, (Native)high};
  return t;
#else
  return (Native)v;
#endif
}

// table[index % 8] for each lane.
inline Words pickWords(const WordTable &table, Ints index) {
#if VANTOREL_WIDE_BYTES == 32
  return (Words)_mm256_permutevar8x32_epi32(table, (Native)index);
#else
  // Each lane's four bytes from word index % 4 of both halves; bit 2 of
  // the index, moved to the sign, chooses between them.
  const uint8_t lowBytes[16] = {0, 0, 0, 0, 4,  4,  4,  4,
                                8, 8, 8, 8, 12, 12, 12, 12};
  const Bytes quarter = (Bytes)(((Words)index << 2) & 0x0cu);
  const Words bytes =
      (Words)pickBytes(quarter, everyPart(lowBytes)) + 0x03020100u;
  const __m128i low = _mm_shuffle_epi8(table.low, (Native)bytes);
  const __m128i high = _mm_shuffle_epi8(table.high, (Native)bytes);
  return (Words)_mm_castps_si128(
      _mm_blendv_ps(_mm_castsi128_ps(low), _mm_castsi128_ps(high),
                    _mm_castsi128_ps((Native)((Words)index << 29))));
#endif
}

// The lanes of a where `mask` is set, else of b; moves bits only. Each lane
// of the mask is all ones or all zeros (a comparison's result).
template <typename V> inline V pick(Ints mask, V a, V b) {
  return (V)VECTOR_OP(blendv_epi8)((Native)b, (Native)a, (Native)mask);
}

// Float false colour takes four groups of pixels side by side (their
// chains of dependent steps overlap).
enum { kFloatGroupsAtOnce = 4 };

#undef VECTOR_OP

// ------------------------------------------------------------ aarch64

#elif defined(__aarch64__)

static_assert(VANTOREL_WIDE_BYTES == 16, "NEON vectors are 128 bits");

inline Bytes pickBytes(Bytes table, Bytes index) {
  return (Bytes)vqtbl1q_u8((uint8x16_t)table, (uint8x16_t)index);
}

inline bool anyLane(Ints mask) { return vmaxvq_u32((uint32x4_t)mask) != 0; }

typedef uint64_t LaneBits;
inline LaneBits laneBits(Shorts mask) {
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16((uint16x8_t)mask, 4)),
                       0);
}
static const LaneBits kLowHalfBits = 0x00ff00ff00ff00ffu,
                      kHighHalfBits = 0xff00ff00ff00ff00u;

inline Halves lowHalves(Words a, Words b) {
  return (Halves)vsliq_n_u32((uint32x4_t)a, (uint32x4_t)b, 16);
}

inline Halves mulHigh(Halves a, Halves b) {
  const uint32x4_t low =
      vmull_u16(vget_low_u16((uint16x8_t)a), vget_low_u16((uint16x8_t)b));
  const uint32x4_t high = vmull_high_u16((uint16x8_t)a, (uint16x8_t)b);
  return (Halves)vuzp2q_u16((uint16x8_t)low, (uint16x8_t)high);
}

inline Halves narrowWords(Words a, Words b) {
  return (Halves)vmovn_high_u32(vmovn_u32((uint32x4_t)a), (uint32x4_t)b);
}

inline Bytes narrowHalves(Halves a, Halves b) {
  return (Bytes)vmovn_high_u16(vmovn_u16((uint16x8_t)a), (uint16x8_t)b);
}

inline Halves zipBytesLow(Bytes a, Bytes b) {
  return (Halves)vzip1q_u8((uint8x16_t)a, (uint8x16_t)b);
}
inline Halves zipBytesHigh(Bytes a, Bytes b) {
  return (Halves)vzip2q_u8((uint8x16_t)a, (uint8x16_t)b);
}
inline Words zipHalvesLow(Halves a, Halves b) {
  return (Words)vzip1q_u16((uint16x8_t)a, (uint16x8_t)b);
}
inline Words zipHalvesHigh(Halves a, Halves b) {
  return (Words)vzip2q_u16((uint16x8_t)a, (uint16x8_t)b);
}
inline Floats zipFloatsLow(Floats a, Floats b) {
  return (Floats)vzip1q_f32((float32x4_t)a, (float32x4_t)b);
}
inline Floats zipFloatsHigh(Floats a, Floats b) {
  return (Floats)vzip2q_f32((float32x4_t)a, (float32x4_t)b);
}
inline Floats zipPairsLow(Floats a, Floats b) {
  return (Floats)vzip1q_f64((float64x2_t)a, (float64x2_t)b);
}
inline Floats zipPairsHigh(Floats a, Floats b) {
  return (Floats)vzip2q_f64((float64x2_t)a, (float64x2_t)b);
}

inline Ints weightedBytes(Words pixels, Words weights, int16_t scale) {
  const uint8x16_t p = (uint8x16_t)pixels;
  const int8x16_t w = (int8x16_t)weights;
  const int16x8_t low =
      vmulq_s16(vreinterpretq_s16_u16(vmovl_u8(vget_low_u8(p))),
                vmovl_s8(vget_low_s8(w)));
  const int16x8_t high =
      vmulq_s16(vreinterpretq_s16_u16(vmovl_high_u8(p)), vmovl_high_s8(w));
  return (Ints)vmulq_n_s32(vpaddlq_s16(vpaddq_s16(low, high)), scale);
}

typedef uint8x16x2_t WordTable;

inline WordTable wordTableOf(const uint32_t words[8]) {
  WordTable t;
  t.val[0] = vreinterpretq_u8_u32(vld1q_u32(words));
  t.val[1] = vreinterpretq_u8_u32(vld1q_u32(words + 4));
  return t;
}

inline Words pickWords(const WordTable &table, Ints index) {
  const Words first = ((Words)index & 7u) * 0x04040404u + 0x03020100u;
  return (Words)vqtbl2q_u8(table, (uint8x16_t)first);
}

// More than one group of float pixels at a time only spills registers.
enum { kFloatGroupsAtOnce = 1 };

template <typename V> inline V pick(Ints mask, V a, V b) {
  return (V)vbslq_u32((uint32x4_t)mask, (uint32x4_t)a, (uint32x4_t)b);
}

#endif

// Four vectors of four-lane groups transposed within each 128-bit part: lane
// j of part k of vector i becomes lane i of part k of vector j. Done twice,
// the vectors are back as they were.
inline void transposeParts(const Floats in[4], Floats out[4]) {
  const Floats t0 = zipFloatsLow(in[0], in[1]);
  const Floats t1 = zipFloatsHigh(in[0], in[1]);
  const Floats t2 = zipFloatsLow(in[2], in[3]);
  const Floats t3 = zipFloatsHigh(in[2], in[3]);
  out[0] = zipPairsLow(t0, t2);
  out[1] = zipPairsHigh(t0, t2);
  out[2] = zipPairsLow(t1, t3);
  out[3] = zipPairsHigh(t1, t3);
}

} // namespace

#endif
