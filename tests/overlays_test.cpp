// What the overlays draw, checked on rendered pixels: positions from the
// source bounds, the colours and their exact bytes and float bits, the
// order in which stages paint over each other, and the alpha rules.
#include "plugin_fixture.h"

#include <array>
#include <cmath>
#include <set>

namespace vt {
namespace {

using Rgba = std::array<int, 4>;

const OfxRectI kHD{0, 0, 1920, 1080};

class OverlaysTest : public RenderTest {
protected:
  // Byte source and output over `bounds`, every source pixel `fill`.
  void attachFilled(OfxRectI bounds, Rgba fill) {
    attach(byteSpec(bounds));
    for (int y = bounds.y1; y < bounds.y2; ++y) {
      for (int x = bounds.x1; x < bounds.x2; ++x) {
        std::uint8_t *p = source->byteAt(x, y);
        for (int c = 0; c < 4; ++c) {
          p[c] = static_cast<std::uint8_t>(fill[c]);
        }
      }
    }
  }
  Rgba at(int x, int y) const {
    const std::uint8_t *p = output->byteAt(x, y);
    return {p[0], p[1], p[2], p[3]};
  }
  void setAll(std::initializer_list<const char *> names, double value = 1) {
    for (const char *name : names) {
      set(name, value);
    }
  }
};

// ------------------------------------------------------------ false colour

TEST_F(OverlaysTest, FalseColourOnTheByteGreyRamp) {
  attach(byteSpec({0, 0, 256, 1}));
  for (int b = 0; b < 256; ++b) {
    std::uint8_t *p = source->byteAt(b, 0);
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(b);
    p[3] = 77;
  }
  set("FalseColorMode", 1);
  ASSERT_EQ(render(), kOfxStatOK);
  const std::set<int> oneBelow = {53,  61,  87,  93,  95,  99,  122, 174, 185,
                                  186, 190, 193, 198, 206, 212, 217, 225, 237};
  for (int b = 0; b < 256; ++b) {
    Rgba want;
    if (b <= 12) {
      want = {127, 0, 127, 77};
    } else if (b <= 25) {
      want = {0, 0, 255, 77};
    } else if (b >= 102 && b <= 114) {
      want = {0, 255, 0, 77};
    } else if (b >= 133 && b <= 147) {
      want = {255, 102, 153, 77};
    } else if (b >= 243) {
      want = {255, 0, 0, 77};
    } else {
      const int g = oneBelow.count(b) ? b - 1 : b;
      want = {g, g, g, 77};
    }
    EXPECT_EQ(at(b, 0), want) << "byte " << b;
  }
}

float lumaOfGrey(float v) {
  // The BT.709 weights as 32-bit floats, each step rounded in order.
  volatile float r = v * 0.2126f, g = v * 0.7152f, b = v * 0.0722f;
  volatile float rg = r + g;
  return rg + b;
}

enum class Side { Below, AtOrBelow, AtOrAbove, Above };

// The grey float whose luma lies closest to `target` on the given side.
float greyBeside(float target, Side side) {
  float v = target;
  for (int i = 0; i < 64; ++i) {
    v = std::nextafter(v, -1.0f);
  }
  float best = std::nanf("");
  for (int i = 0; i < 128; ++i, v = std::nextafter(v, 2.0f)) {
    const float l = lumaOfGrey(v);
    const bool ok = side == Side::Below       ? l < target
                    : side == Side::AtOrBelow ? l <= target
                    : side == Side::AtOrAbove ? l >= target
                                              : l > target;
    const bool below = side == Side::Below || side == Side::AtOrBelow;
    if (ok && (below || std::isnan(best))) {
      best = v; // below: the last that fits; above: the first
    }
  }
  EXPECT_FALSE(std::isnan(best)) << target;
  return best;
}

TEST_F(OverlaysTest, FalseColourAtTheFloatBoundaries) {
  struct Case {
    float luma;
    Side side;
    bool greyResult;
    std::array<float, 3> colour;
  };
  const Case cases[] = {
      {0.05f, Side::Below, false, {0.5f, 0.0f, 0.5f}},
      {0.05f, Side::AtOrAbove, false, {0.0f, 0.0f, 1.0f}},
      {0.1f, Side::Below, false, {0.0f, 0.0f, 1.0f}},
      {0.1f, Side::AtOrAbove, true, {}},
      {0.4f, Side::Below, true, {}},
      {0.4f, Side::AtOrAbove, false, {0.0f, 1.0f, 0.0f}},
      {0.45f, Side::AtOrBelow, false, {0.0f, 1.0f, 0.0f}},
      {0.45f, Side::Above, true, {}},
      {0.52f, Side::Below, true, {}},
      {0.52f, Side::AtOrAbove, false, {1.0f, 0.4f, 0.6f}},
      {0.58f, Side::AtOrBelow, false, {1.0f, 0.4f, 0.6f}},
      {0.58f, Side::Above, true, {}},
      {0.95f, Side::AtOrBelow, true, {}},
      {0.95f, Side::Above, false, {1.0f, 0.0f, 0.0f}},
  };
  // Where a grey of exactly the boundary luma exists, it is the one used.
  for (float exact : {0.05f, 0.1f, 0.4f, 0.52f, 0.58f}) {
    EXPECT_EQ(lumaOfGrey(greyBeside(exact, Side::AtOrAbove)), exact);
  }
  const int n = static_cast<int>(std::size(cases));
  attach(floatSpec({0, 0, n + 1, 1}));
  for (int i = 0; i < n; ++i) {
    const float v = greyBeside(cases[i].luma, cases[i].side);
    float *p = source->floatAt(i, 0);
    p[0] = p[1] = p[2] = v;
    p[3] = 0.25f;
  }
  float *nan = source->floatAt(n, 0);
  nan[0] = std::nanf("");
  nan[1] = nan[2] = 0.5f;
  nan[3] = 1.0f;
  set("FalseColorMode", 1);
  set("LegalizeLevels", 1); // never applies while false colour is on
  ASSERT_EQ(render(), kOfxStatOK);
  for (int i = 0; i < n; ++i) {
    const Case &c = cases[i];
    const float grey = lumaOfGrey(source->floatAt(i, 0)[0]);
    const float *p = output->floatAt(i, 0);
    for (int ch = 0; ch < 3; ++ch) {
      const float want = c.greyResult ? grey : c.colour[ch];
      EXPECT_EQ(floatBits(p[ch]), floatBits(want))
          << "case " << i << " luma " << grey << " channel " << ch;
    }
    EXPECT_EQ(p[3], 0.25f);
  }
  const float *grey = output->floatAt(n, 0);
  EXPECT_TRUE(std::isnan(grey[0]) && std::isnan(grey[1]) &&
              std::isnan(grey[2]));
}

// ---------------------------------------------------------------- legalize

TEST_F(OverlaysTest, LegalizeSqueezesBytesIntoVideoRange) {
  attach(byteSpec({0, 0, 256, 1}));
  for (int b = 0; b < 256; ++b) {
    std::uint8_t *p = source->byteAt(b, 0);
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(b);
    p[3] = static_cast<std::uint8_t>(b);
  }
  set("LegalizeLevels", 1);
  ASSERT_EQ(render(), kOfxStatOK);
  const std::pair<int, int> known[] = {{0, 16},    {1, 16},    {2, 17},
                                       {128, 125}, {254, 234}, {255, 235}};
  for (auto [in, out] : known) {
    EXPECT_EQ(at(in, 0), (Rgba{out, out, out, in})) << in;
  }
  std::set<int> values;
  for (int b = 0; b < 256; ++b) {
    values.insert(at(b, 0)[0]);
  }
  EXPECT_EQ(values.size(), 220u);
  EXPECT_EQ(*values.begin(), 16);
  EXPECT_EQ(*values.rbegin(), 235);
}

// ------------------------------------------------------------------ guides

bool isWhite(const Rgba &p) {
  return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

TEST_F(OverlaysTest, GuidesAtHDArePureWhiteOverFalseColourAndLegalize) {
  attachFilled(kHD, {0, 0, 0, 40});
  setAll({"FalseColorMode", "LegalizeLevels", "GuideThirds", "GuideGolden",
          "GuideCrosshair"});
  ASSERT_EQ(render(), kOfxStatOK);
  const std::set<int> columns = {640, 1280, 733, 1186};
  const std::set<int> rows = {360, 720, 412, 667};
  for (int y = 0; y < 1080; ++y) {
    for (int x = 0; x < 1920; ++x) {
      const bool cross = (x == 960 && std::abs(y - 540) < 20) ||
                         (y == 540 && std::abs(x - 960) < 20);
      const bool white = columns.count(x) || rows.count(y) || cross;
      const Rgba want = white ? Rgba{255, 255, 255, 40} : Rgba{127, 0, 127, 40};
      ASSERT_EQ(at(x, y), want) << x << ',' << y;
    }
  }
}

TEST_F(OverlaysTest, GuidesFollowTheSourceBoundsNotTheWindow) {
  struct Case {
    OfxRectI bounds;
    int thirdColumns[2];
    int centre[2];
  };
  const Case cases[] = {
      {{0, 0, 1280, 720}, {426, 853}, {640, 360}},
      {{100, 50, 2020, 1130}, {740, 1380}, {1060, 590}},
      {{0, 0, 1919, 1080}, {639, 1279}, {959, 540}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.centre[0]);
    // Only a strip of the output is rendered; positions still come from
    // the whole source.
    attach(byteSpec(c.bounds));
    setAll({"GuideThirds", "GuideCrosshair"});
    const int y = c.centre[1] + 5;
    ASSERT_EQ(render({c.bounds.x1, y, c.bounds.x2, y + 1}), kOfxStatOK);
    for (int x = c.bounds.x1; x < c.bounds.x2; ++x) {
      const bool white =
          x == c.thirdColumns[0] || x == c.thirdColumns[1] || x == c.centre[0];
      EXPECT_EQ(isWhite(at(x, y)), white) << x;
    }
  }
}

// --------------------------------------------------------------- skin band

TEST_F(OverlaysTest, SkinLineAndPatchesAtHD) {
  attachFilled(kHD, {10, 20, 30, 0});
  setAll({"ShowSkinToneLine", "ShowSkinTonePatches"});
  ASSERT_EQ(render(), kOfxStatOK);
  const std::pair<int, Rgba> line[] = {
      {0, {255, 134, 74, 255}},  {480, {127, 67, 37, 255}},
      {959, {0, 0, 0, 255}},     {960, {0, 0, 0, 255}},
      {1440, {84, 34, 13, 255}}, {1919, {168, 69, 27, 255}}};
  for (int y : {788, 800, 841, 896, 949}) {
    for (auto [x, want] : line) {
      EXPECT_EQ(at(x, y), want) << x << ',' << y;
    }
  }
  for (int y = 842; y < 896; ++y) {
    for (int x = 0; x < 1920; ++x) {
      const Rgba want =
          x < 960 ? Rgba{194, 150, 130, 255} : Rgba{115, 82, 68, 255};
      ASSERT_EQ(at(x, y), want) << x << ',' << y;
    }
  }
  for (int y : {787, 950}) {
    EXPECT_EQ(at(5, y), (Rgba{10, 20, 30, 0})) << y;
  }
  for (int y = 788; y < 950; ++y) {
    ASSERT_EQ(at(1000, y)[3], 255) << y;
  }
}

TEST_F(OverlaysTest, SkinBandRowsForEachSwitchAndThickness) {
  struct Case {
    const char *what;
    double thickness, position;
    bool line, patches;
    std::vector<std::pair<int, char>> rows; // row: 'L' line, 'P' patch, '-'
  };
  const Case cases[] = {
      {"thickness 1, both",
       1,
       0.73,
       true,
       true,
       {{72, '-'}, {73, 'L'}, {74, '-'}}},
      {"thickness 2, both",
       2,
       0.73,
       true,
       true,
       {{72, '-'}, {73, 'P'}, {74, 'L'}, {75, '-'}}},
      {"line only",
       15,
       0.73,
       true,
       false,
       {{72, '-'}, {73, 'L'}, {80, 'L'}, {87, 'L'}, {88, '-'}}},
      {"patches only",
       15,
       0.73,
       false,
       true,
       {{73, 'P'}, {87, 'P'}, {88, '-'}}},
      {"neither", 15, 0.73, false, false, {{73, '-'}, {80, '-'}}},
      {"near the top", 15, 0.9, true, false, {{89, '-'}, {90, 'L'}, {99, 'L'}}},
      {"at the top", 15, 1.0, true, true, {{99, '-'}, {0, '-'}}},
      {"thickness below one row",
       0.1,
       0.5,
       true,
       true,
       {{49, '-'}, {50, 'L'}, {51, '-'}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    attachFilled({0, 0, 100, 100}, {1, 2, 3, 4});
    set("LineThickness", c.thickness);
    set("SkinLinePos", c.position);
    set("ShowSkinToneLine", c.line);
    set("ShowSkinTonePatches", c.patches);
    ASSERT_EQ(render(), kOfxStatOK);
    for (auto [y, kind] : c.rows) {
      const Rgba left = at(0, y);
      switch (kind) {
      case 'L':
        EXPECT_EQ(left, (Rgba{255, 134, 74, 255})) << y;
        break;
      case 'P':
        EXPECT_EQ(left, (Rgba{194, 150, 130, 255})) << y;
        break;
      default:
        EXPECT_EQ(left, (Rgba{1, 2, 3, 4})) << y;
      }
    }
  }
}

TEST_F(OverlaysTest, ReferenceColoursBitForBitOnTheFloatPath) {
  // Bounds 0..100: the line's t is 0 at column 0 and exactly 1 at column
  // 100, just outside the source, where the output still reaches.
  attach(floatSpec({0, 0, 100, 100}), floatSpec({-10, 0, 101, 100}));
  set("ShowSkinToneLine", 1);
  set("ShowSkinTonePatches", 1);
  ASSERT_EQ(render({-10, 0, 101, 100}), kOfxStatOK);
  auto expectBits = [&](int x, int y, std::array<float, 4> want) {
    const float *p = output->floatAt(x, y);
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(floatBits(p[c]), floatBits(want[c]))
          << x << ',' << y << " channel " << c << ": " << p[c];
    }
  };
  // Band rows 73..87 (15 rows), patches 78..82.
  expectBits(0, 73, {1.0f, 0.52619296f, 0.29089886f, 1.0f});
  expectBits(100, 73, {0.6627059f, 0.2744706f, 0.109764725f, 1.0f});
  expectBits(50, 73, {0.0f, 0.0f, 0.0f, 1.0f});
  expectBits(10, 80, {0.7607843f, 0.5882353f, 0.50980395f, 1.0f});
  expectBits(60, 80, {0.4509804f, 0.32156864f, 0.26666668f, 1.0f});
  // Left of the source the line extrapolates past the boosted colour.
  const float t = -10.0f / 50.0f;
  auto lerp = [](float a, float b, float s) {
    volatile float span = b - a;
    volatile float step = span * s;
    return step + a;
  };
  expectBits(-10, 73,
             {lerp(1.0f, 0.0f, t), lerp(0.52619296f, 0.0f, t),
              lerp(0.29089886f, 0.0f, t), 1.0f});
  EXPECT_GT(output->floatAt(-10, 73)[0], 1.0f);
}

// ------------------------------------------------------------- middle gray

TEST_F(OverlaysTest, GrayBandAndItsPlaceOverTheSkinBand) {
  attachFilled(kHD, {9, 9, 9, 9});
  set("ShowMiddleGray", 1);
  set("ShowSkinToneLine", 1);
  ASSERT_EQ(render(), kOfxStatOK);
  for (int y = 0; y < 1080; ++y) {
    const bool gray = y >= 129 && y <= 290;
    const bool skin = y >= 788 && y <= 949;
    const Rgba want = gray   ? Rgba{127, 127, 127, 255}
                      : skin ? Rgba{255, 134, 74, 255}
                             : Rgba{9, 9, 9, 9};
    ASSERT_EQ(at(0, y), want) << y;
  }
  set("GrayLinePos", 0.73);
  ASSERT_EQ(render(), kOfxStatOK);
  for (int y = 788; y < 950; ++y) {
    ASSERT_EQ(at(0, y), (Rgba{127, 127, 127, 255})) << y;
  }
}

// --------------------------------------------------------------- letterbox

TEST_F(OverlaysTest, LetterboxBarRowsForEachRatio) {
  struct Case {
    const char *what;
    OfxRectI bounds;
    std::vector<const char *> switches;
    int lowBarEnd;    // last bar row at the bottom, -1 for none
    int highBarStart; // first bar row at the top, bounds.y2 for none
  };
  const Case cases[] = {
      {"2.39", kHD, {"Crop239"}, 137, 943},
      {"2.39 wins over all", kHD, {"Crop185", "Crop235", "Crop239"}, 137, 943},
      {"2.35", kHD, {"Crop235"}, 130, 950},
      {"2.35 wins over 1.85", kHD, {"Crop185", "Crop235"}, 130, 950},
      {"1.85", kHD, {"Crop185"}, 20, 1060},
      {"2048x858 at 2.39", {0, 0, 2048, 858}, {"Crop239"}, 0, 858},
      {"wider than the ratio", {0, 0, 4000, 1000}, {"Crop239"}, -1, 1000},
      {"no crop", kHD, {}, -1, 1080},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    attachFilled(c.bounds, {200, 200, 200, 100});
    for (const char *s : {"Crop185", "Crop235", "Crop239"}) {
      set(s, 0);
    }
    for (const char *s : c.switches) {
      set(s, 1);
    }
    ASSERT_EQ(render({0, c.bounds.y1, 1, c.bounds.y2}), kOfxStatOK);
    for (int y = c.bounds.y1; y < c.bounds.y2; ++y) {
      const bool bar = y <= c.lowBarEnd || y >= c.highBarStart;
      const Rgba want = bar ? Rgba{0, 0, 0, 255} : Rgba{200, 200, 200, 100};
      ASSERT_EQ(at(0, y), want) << y;
    }
  }
}

TEST_F(OverlaysTest, LetterboxOpacityAndAlpha) {
  struct Case {
    double opacity;
    Rgba bar;
  };
  const Case cases[] = {
      {1.0, {0, 0, 0, 255}},   {0.5, {100, 100, 100, 100}},
      {0.99, {1, 1, 1, 100}}, // k = 0.0099999905; alpha below the bound
      {0.995, {0, 0, 0, 255}}, {0.0, {200, 200, 200, 100}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.opacity);
    attachFilled(kHD, {200, 200, 200, 100});
    set("Crop239", 1);
    set("CropOpacity", c.opacity);
    ASSERT_EQ(render({0, 0, 1, 1080}), kOfxStatOK);
    EXPECT_EQ(at(0, 0), c.bar);
    EXPECT_EQ(at(0, 1079), c.bar);
    EXPECT_EQ(at(0, 500), (Rgba{200, 200, 200, 100}));
  }
}

TEST_F(OverlaysTest, GuidesAndBandsInBarRowsAreDarkened) {
  attachFilled(kHD, {0, 0, 0, 100});
  setAll({"GuideThirds", "Crop239"});
  set("GrayLinePos", 0.0);
  set("ShowMiddleGray", 1);
  set("CropOpacity", 0.5);
  ASSERT_EQ(render(), kOfxStatOK);
  EXPECT_EQ(at(640, 0), (Rgba{63, 63, 63, 255}));       // gray band and bar
  EXPECT_EQ(at(640, 1000), (Rgba{127, 127, 127, 100})); // thirds in a bar
  EXPECT_EQ(at(640, 500), (Rgba{255, 255, 255, 100}));
  EXPECT_EQ(at(10, 100), (Rgba{63, 63, 63, 255}));    // gray band in a bar
  EXPECT_EQ(at(10, 150), (Rgba{127, 127, 127, 255})); // gray band, no bar
}

} // namespace
} // namespace vt
