// Pixel addressing and the load/store of the two pixel layouts, with every
// overlay switched off: the output window must be an exact copy.
#include "plugin_fixture.h"

#include <cmath>
#include <limits>

namespace vt {
namespace {

using RenderPixelsTest = RenderTest;

TEST_F(RenderPixelsTest, EveryByteValueRoundTrips) {
  attach(byteSpec({0, 0, 256, 1}));
  for (int x = 0; x < 256; ++x) {
    std::uint8_t *p = source->byteAt(x, 0);
    p[0] = static_cast<std::uint8_t>(x);
    p[1] = static_cast<std::uint8_t>(255 - x);
    p[2] = static_cast<std::uint8_t>(x * 7);
    p[3] = static_cast<std::uint8_t>(x * 13);
  }
  ASSERT_EQ(render(), kOfxStatOK);
  EXPECT_EQ(std::memcmp(source->byteAt(0, 0), output->byteAt(0, 0), 256 * 4),
            0);
}

TEST_F(RenderPixelsTest, FloatPixelsPassBitForBit) {
  const float specials[] = {2.5f,
                            -0.1f,
                            0.5f,
                            1.5f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            -0.0f,
                            std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::max(),
                            1e-30f,
                            1.0f};
  attach(floatSpec({0, 0, 3, 1}));
  for (int i = 0; i < 12; ++i) {
    source->floatAt(i / 4, 0)[i % 4] = specials[i];
  }
  ASSERT_EQ(render(), kOfxStatOK);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(floatBits(output->floatAt(i / 4, 0)[i % 4]),
              floatBits(specials[i]))
        << i;
  }
}

// Source and output with different bounds, strides and row directions: each
// pixel of the window is read at its own position in the source and written
// at the same position of the output; nothing else changes.
struct Layout {
  const char *what;
  bool topDown;
  long long padding; // extra bytes a row
};

TEST_F(RenderPixelsTest, AddressingThroughEachImagesOwnBoundsAndStride) {
  const Layout layouts[] = {{"bottom-up", false, 0},
                            {"top-down", true, 0},
                            {"bottom-up padded", false, 12},
                            {"top-down padded", true, 20}};
  const OfxRectI sourceBounds{-100, -50, 60, 70};
  const OfxRectI outputBounds{-20, -10, 40, 30};
  const OfxRectI window{-10, 0, 30, 20};
  for (Depth depth : {Depth::Byte, Depth::Float}) {
    for (ofxhost::Guard guard : kGuards) {
      for (const Layout &in : layouts) {
        for (const Layout &out : layouts) {
          SCOPED_TRACE(std::string(in.what) + " -> " + out.what +
                       (depth == Depth::Float ? " float" : " byte") +
                       (guard == kGuards[0] ? " at end" : " at start"));
          const int px = depth == Depth::Float ? 16 : 4;
          TestImageSpec s = depth == Depth::Float ? floatSpec(sourceBounds)
                                                  : byteSpec(sourceBounds);
          TestImageSpec o = depth == Depth::Float ? floatSpec(outputBounds)
                                                  : byteSpec(outputBounds);
          s.rowBytes = (160 * px + in.padding) * (in.topDown ? -1 : 1);
          o.rowBytes = (60 * px + out.padding) * (out.topDown ? -1 : 1);
          o.fill = 0x5A;
          s.guard = o.guard = guard;
          attach(s, o);
          fillPattern(*source, 11);
          ASSERT_EQ(render(window), kOfxStatOK);
          for (int y = outputBounds.y1; y < outputBounds.y2; ++y) {
            for (int x = outputBounds.x1; x < outputBounds.x2; ++x) {
              const bool inWindow = x >= window.x1 && x < window.x2 &&
                                    y >= window.y1 && y < window.y2;
              const std::uint8_t *got =
                  depth == Depth::Float
                      ? reinterpret_cast<std::uint8_t *>(output->floatAt(x, y))
                      : output->byteAt(x, y);
              const std::uint8_t *want =
                  depth == Depth::Float
                      ? reinterpret_cast<std::uint8_t *>(source->floatAt(x, y))
                      : source->byteAt(x, y);
              if (inWindow) {
                ASSERT_EQ(std::memcmp(got, want, px), 0) << x << ',' << y;
              } else {
                for (int i = 0; i < px; ++i) {
                  ASSERT_EQ(got[i], 0x5A) << x << ',' << y;
                }
              }
            }
          }
          // Row padding is never written either.
          size_t changed = 0;
          for (size_t i = 0; i < output->bufferSize(); ++i) {
            changed += output->buffer()[i] != 0x5A;
          }
          EXPECT_LE(changed, static_cast<size_t>(40 * 20 * px));
        }
      }
    }
  }
}

TEST_F(RenderPixelsTest, WindowIsClippedToTheOutputAndMissingSourceIsBlack) {
  // Output larger than the source; the window covers all of the output and
  // more. Outside the source the pixel enters as transparent black; rows
  // below the source's y1 and above its y2 are bar rows even without a crop
  // (CropOpacity 1 paints them black and opaque); row y2 itself is not.
  for (ofxhost::Guard guard : kGuards) {
    TestImageSpec sourceSpec = byteSpec({2, 2, 6, 5});
    TestImageSpec outputSpec = byteSpec({0, 0, 8, 8});
    sourceSpec.guard = outputSpec.guard = guard;
    attach(sourceSpec, outputSpec);
    for (int y = 2; y < 5; ++y) {
      for (int x = 2; x < 6; ++x) {
        std::memset(source->byteAt(x, y), 200, 4);
      }
    }
    ASSERT_EQ(render({-5, -5, 20, 20}), kOfxStatOK);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        const std::uint8_t *p = output->byteAt(x, y);
        std::uint8_t expected[4] = {0, 0, 0, 0};
        if (y < 2 || y > 5) {
          expected[3] = 255;
        } else if (y < 5 && x >= 2 && x < 6) {
          std::memset(expected, 200, 4);
        }
        EXPECT_EQ(std::memcmp(p, expected, 4), 0)
            << x << ',' << y << " got " << int(p[0]) << ' ' << int(p[3]);
      }
    }
  }
}

// Working values outside 0..1 reach the 8-bit store through the bar rows:
// each channel is multiplied by 1 - CropOpacity.
TEST_F(RenderPixelsTest, ByteStoreClampsTruncatesAndZeroesNaN) {
  struct Case {
    double opacity;
    std::uint8_t stored;
  };
  const Case cases[] = {
      {1.2, 0},                                      // 1.0 * -0.2
      {-0.7, 255},                                   // 1.0 * 1.7
      {0.0, 255},                                    // 1.0 * 1.0
      {0.001, 254},                                  // 0.999 truncates
      {std::numeric_limits<double>::quiet_NaN(), 0}, // NaN stores 0
  };
  // 100 x 100 with the 1.85 crop: 23 bar rows at the bottom.
  for (const Case &c : cases) {
    SCOPED_TRACE(c.opacity);
    attach(byteSpec({0, 0, 100, 100}), byteSpec({0, 0, 1, 1}));
    std::memset(source->byteAt(0, 0), 255, 4);
    set("Crop185", 1);
    set("CropOpacity", c.opacity);
    ASSERT_EQ(render({0, 0, 1, 1}), kOfxStatOK);
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_EQ(output->byteAt(0, 0)[ch], c.stored) << ch;
    }
  }
}

} // namespace
} // namespace vt
