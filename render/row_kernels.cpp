// The run kernels in plain C++: the same arithmetic as the stages, in the
// same order, with the per-frame parts looked up instead of recomputed.
#include "row_kernels.h"
#include "pixels.h"

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

static float barred(float v, const RunLook *look) {
  return look->bar ? v * look->barFactor : v;
}

static void portableBytesByTable(const uint8_t *source, uint8_t *output,
                                 int64_t count, const RunLook *look) {
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 4 * i;
    uint8_t *o = output + 4 * i;
    o[0] = look->channel[s[0]];
    o[1] = look->channel[s[1]];
    o[2] = look->channel[s[2]];
    o[3] = look->opaque ? 255 : s[3];
  }
}

static void portableBytesFalseColour(const uint8_t *source, uint8_t *output,
                                     int64_t count, const RunLook *look) {
  const LumaTerms *terms = look->luma;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *s = source + 4 * i;
    const float luma =
        lumaFromTerms(terms->red[s[0]], terms->green[s[1]], terms->blue[s[2]]);
    const int band = falseColourBand(luma);
    const uint32_t rgb = band == kGreyBand
                             ? greyBytes(channelToByte(barred(luma, look)))
                             : look->bandBytes[band];
    putBytes(output + 4 * i, rgb | alphaBytes(s, look));
  }
}

static float alphaOf(const WorkPixel &p, const RunLook *look) {
  return look->opaque ? 1.0f : p.a;
}

static void portableFloatsAnalysed(const uint8_t *source, uint8_t *output,
                                   int64_t count, const RunLook *look,
                                   bool legalize) {
  for (int64_t i = 0; i < count; ++i) {
    WorkPixel p = FloatPixels::load(source + 16 * i);
    if (legalize) {
      p.r = legalized(p.r);
      p.g = legalized(p.g);
      p.b = legalized(p.b);
    }
    const WorkPixel out = {barred(p.r, look), barred(p.g, look),
                           barred(p.b, look), alphaOf(p, look)};
    FloatPixels::store(output + 16 * i, out);
  }
}

static int64_t portableFloatsFalseColour(const uint8_t *source, uint8_t *output,
                                         int64_t count, const RunLook *look) {
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

RowKernels portableKernels(void) {
  const RowKernels kernels = {portableBytesByTable, portableBytesFalseColour,
                              portableFloatsAnalysed,
                              portableFloatsFalseColour};
  return kernels;
}

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
