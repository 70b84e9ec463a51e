#include "chart.h"

#include <algorithm>
#include <cmath>

namespace vantorel {

namespace {

struct Rgb {
  float r, g, b;
};

// A colour at horizontal position u (0 at the left edge, below 1).
using Painter = Rgb (*)(float u);

Rgb fromBytes(int r, int g, int b) {
  return {r / 255.0f, g / 255.0f, b / 255.0f};
}

const Rgb kColourBars[] = {
    {0.75f, 0.75f, 0.75f}, {0.75f, 0.75f, 0.0f}, {0.0f, 0.75f, 0.75f},
    {0.0f, 0.75f, 0.0f},   {0.75f, 0.0f, 0.75f}, {0.75f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.75f},   {0.0f, 0.0f, 0.0f},
};

// Skin tones from very light to deep; the fourth and seventh are the light
// and dark skin patches of the 24-patch colour checker.
const int kSkinTones[][3] = {
    {255, 224, 196}, {241, 194, 167}, {224, 172, 138}, {194, 150, 130},
    {198, 134, 99},  {161, 102, 70},  {115, 82, 68},   {125, 80, 55},
    {92, 58, 40},    {60, 38, 28},
};

template <typename T, std::size_t N>
const T &pick(const T (&table)[N], float u) {
  return table[std::min(static_cast<std::size_t>(u * N), N - 1)];
}

Rgb colourBars(float u) { return pick(kColourBars, u); }

Rgb hueSweep(float u) {
  const float h = u * 6.0f;
  const auto channel = [h](float offset) {
    const float d = std::fabs(std::fmod(h + offset, 6.0f) - 3.0f);
    return std::clamp(d - 1.0f, 0.0f, 1.0f);
  };
  return {channel(0.0f), channel(4.0f), channel(2.0f)};
}

Rgb greySteps(float u) {
  const float level = std::min(std::floor(u * 21.0f), 20.0f) * 0.05f;
  return {level, level, level};
}

Rgb greyRamp(float u) { return {u, u, u}; }

Rgb skinTones(float u) {
  const int *tone = pick(kSkinTones, u);
  return fromBytes(tone[0], tone[1], tone[2]);
}

Rgb redRamp(float u) { return {u, 0.0f, 0.0f}; }
Rgb greenRamp(float u) { return {0.0f, u, 0.0f}; }
Rgb blueRamp(float u) { return {0.0f, 0.0f, u}; }

struct Band {
  float height; // fraction of the frame height
  Painter paint;
};

// From the top of the picture down; the heights add up to 1.
const Band kBands[] = {
    {0.16f, colourBars}, {0.12f, hueSweep},  {0.16f, greySteps},
    {0.12f, greyRamp},   {0.16f, skinTones}, {0.09f, redRamp},
    {0.09f, greenRamp},  {0.10f, blueRamp},
};

// The band that holds position v (0 at the top of the picture).
Painter bandAt(float v) {
  float top = 0.0f;
  for (const Band &band : kBands) {
    top += band.height;
    if (v < top)
      return band.paint;
  }
  return kBands[std::size(kBands) - 1].paint;
}

} // namespace

Frame makeChart(int width, int height, Depth depth) {
  Frame chart = Frame::make(width, height, Depth::Float);
  for (int y = 0; y < height; ++y) {
    const float v = (height - 1 - y + 0.5f) / height; // rows are bottom-up
    const Painter paint = bandAt(v);
    float *pixel = reinterpret_cast<float *>(chart.row(y));
    for (int x = 0; x < width; ++x, pixel += 4) {
      const Rgb c =
          paint(width > 1 ? static_cast<float>(x) / (width - 1) : 0.0f);
      pixel[0] = c.r;
      pixel[1] = c.g;
      pixel[2] = c.b;
      pixel[3] = 1.0f;
    }
  }
  return convertDepth(chart, depth);
}

} // namespace vantorel
