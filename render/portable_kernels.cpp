// The run kernels a pixel at a time, for any machine: the same arithmetic
// as the stages, in the same order, with the per-frame parts looked up
// instead of recomputed. The vector kernels are held to these and leave
// them the ends of their runs.
#include "pixels.h"
#include "row_kernels.h"

static uint32_t greyBytes(uint8_t v) { return v * 0x010101u; }

static uint32_t alphaBytes(const uint8_t *pixel, const RunLook *look) {
  return look->opaque ? 0xff000000u : (uint32_t)pixel[3] << 24;
}

static void putBytes(uint8_t *pixel, uint32_t v) {
  pixel[0] = (uint8_t)v;
  pixel[1] = (uint8_t)(v >> 8);
  pixel[2] = (uint8_t)(v >> 16);
  pixel[3] = (uint8_t)(v >> 24);
}

static int64_t bytesByTable(const uint8_t *source, uint8_t *output,
                            int64_t count, const RunLook *look,
                            const RunSetup *) {
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 4 * i;
    uint8_t *o = output + 4 * i;
    o[0] = look->channel[s[0]];
    o[1] = look->channel[s[1]];
    o[2] = look->channel[s[2]];
    o[3] = look->opaque ? 255 : s[3];
  }
  return count;
}

// The weighted luma terms of each byte value: the byte's value as the
// stages load it times its luma weight, each rounded to nearest (the only
// mode the row renderer runs kernels in).
typedef struct LumaTerms {
  float red[256], green[256], blue[256];
} LumaTerms;

static constexpr LumaTerms lumaTermsOfBytes(void) {
  LumaTerms t = {};
  for (int b = 0; b < 256; ++b) {
    const float v = (float)b / 255.0f;
    t.red[b] = v * kLumaRed;
    t.green[b] = v * kLumaGreen;
    t.blue[b] = v * kLumaBlue;
  }
  return t;
}

static constexpr LumaTerms kLumaTerms = lumaTermsOfBytes();

static int64_t bytesFalseColour(const uint8_t *source, uint8_t *output,
                                int64_t count, const RunLook *look,
                                const RunSetup *) {
  const LumaTerms &terms = kLumaTerms;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 4 * i;
    const float luma =
        lumaFromTerms(terms.red[s[0]], terms.green[s[1]], terms.blue[s[2]]);
    const int band = falseColourBand(luma);
    const uint32_t rgb = band == kGreyBand
                             ? greyBytes(channelToByte(barred(luma, look)))
                             : look->bandBytes[band];
    putBytes(output + 4 * i, rgb | alphaBytes(s, look));
  }
  return count;
}

static float alphaOf(const WorkPixel &p, const RunLook *look) {
  return look->opaque ? 1.0f : p.a;
}

// Built for each analysis, so the loop holds no test of it.
template <bool Legalize>
static int64_t analysedFloats(const uint8_t *source, uint8_t *output,
                              int64_t count, const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    WorkPixel p = FloatPixels::load(source + 16 * i);
    if (Legalize) {
      p.r = legalized(p.r);
      p.g = legalized(p.g);
      p.b = legalized(p.b);
    }
    const WorkPixel out = {barred(p.r, look), barred(p.g, look),
                           barred(p.b, look), alphaOf(p, look)};
    FloatPixels::store(output + 16 * i, out);
  }
  return count;
}

static int64_t floatsAnalysed(const uint8_t *source, uint8_t *output,
                              int64_t count, const RunLook *look,
                              const RunSetup *) {
  return look->legalize ? analysedFloats<true>(source, output, count, look)
                        : analysedFloats<false>(source, output, count, look);
}

static int64_t floatsFalseColour(const uint8_t *source, uint8_t *output,
                                 int64_t count, const RunLook *look,
                                 const RunSetup *) {
  for (int64_t i = 0; i < count; ++i) {
    const WorkPixel p = FloatPixels::load(source + 16 * i);
    const float luma = lumaOf(p.r, p.g, p.b);
    if (luma != luma) {
      return i;
    }
    const int band = falseColourBand(luma);
    WorkPixel out = look->bandColours[band < 0 ? 0 : band];
    if (band == kGreyBand) {
      out.r = out.g = out.b = barred(luma, look);
    }
    out.a = alphaOf(p, look);
    FloatPixels::store(output + 16 * i, out);
  }
  return count;
}

extern const RowKernels kPortableKernels = {{nullptr, bytesByTable},
                                            {nullptr, bytesFalseColour},
                                            {nullptr, floatsAnalysed},
                                            {nullptr, floatsFalseColour}};

void bytesWhite(const uint8_t *source, uint8_t *output, int64_t count,
                const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    putBytes(output + 4 * i,
             look->whiteBytes | alphaBytes(source + 4 * i, look));
  }
}

void floatsWhite(const uint8_t *source, uint8_t *output, int64_t count,
                 const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    WorkPixel out = look->white;
    out.a = alphaOf(FloatPixels::load(source + 16 * i), look);
    FloatPixels::store(output + 16 * i, out);
  }
}
