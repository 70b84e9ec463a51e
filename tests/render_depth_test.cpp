// Which pixel path a render takes: a depth the output image names decides,
// whatever the row strides; a depth the effect never declared is refused;
// only an image that names no depth is judged by its source row stride.
// Images lie against guard pages, so a path that reads or writes a float
// pixel where a byte pixel ends faults at once.
#include "plugin_fixture.h"

#include <algorithm>

namespace vt {
namespace {

using ofxhost::Guard;

const char *const kStandardDepth = "OfxImageEffectPropPixelDepth";
const char *const kOlderDepth = "OfxImagePropPixelDepth";

const OfxRectI kBounds{0, 0, 8, 4};

constexpr std::uint8_t kSourceFill = 0x5A; // the source rows' padding
constexpr std::uint8_t kOutputFill = 0xAB; // untouched output bytes

std::vector<std::uint8_t> bytesOf(const Image &image) {
  return std::vector<std::uint8_t>(image.buffer(),
                                   image.buffer() + image.bufferSize());
}

// The output buffer a copy of the source over the whole image leaves: each
// pixel's bytes from the source, every other byte (row padding) untouched.
std::vector<std::uint8_t> copiedInto(const Image &source, const Image &output) {
  std::vector<std::uint8_t> expected = bytesOf(output);
  const OfxRectI b = output.spec().bounds;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      std::copy_n(source.byteAt(x, y), output.pixelBytes(),
                  expected.begin() + (output.byteAt(x, y) - output.buffer()));
    }
  }
  return expected;
}

class RenderDepthTest : public RenderTest {
protected:
  // Attaches the two images; `depth` (when given) is the output's only
  // depth name, under the standard property or the older one.
  void attachNamed(TestImageSpec sourceSpec, TestImageSpec outputSpec,
                   const char *depth, const char *property) {
    sourceSpec.standardDepthName = outputSpec.standardDepthName = false;
    sourceSpec.fill = kSourceFill;
    outputSpec.fill = kOutputFill;
    attach(sourceSpec, outputSpec);
    fillPattern(*source, 7);
    if (depth) {
      output->props().setString(property, {depth});
    }
    host.clearCalls();
  }
};

// 8-bit images whose rows are padded, up to far beyond 16 bytes a pixel: a
// named 8-bit depth is believed, so each renders as an exact copy and no
// padding byte is touched.
struct PaddedCase {
  int width;
  long long sourceStride; // magnitude; 0: 4 bytes a pixel, no padding
  long long outputStride;
};

const PaddedCase kPaddedCases[] = {{1, 64, 64},   {2, 64, 64}, {3, 64, 64},
                                   {4, 64, 64},   {4, 64, 0},  {4, 0, 64},
                                   {5, 80, 80},   {8, 132, 0}, {8, 0, 128},
                                   {8, 200, 256}, {3, 13, 13}, {16, 256, 256}};

TEST_F(RenderDepthTest, PaddedByteRowsNamedByteRenderExactly) {
  for (const PaddedCase &c : kPaddedCases) {
    for (long long sign : {1, -1}) {
      for (Guard guard : kGuards) {
        for (const char *property : {kStandardDepth, kOlderDepth}) {
          SCOPED_TRACE(testing::Message()
                       << "width " << c.width << ", strides " << sign << " x ("
                       << c.sourceStride << ", " << c.outputStride
                       << "), guard " << static_cast<int>(guard) << ", "
                       << property);
          const OfxRectI bounds{-2, 5, -2 + c.width, 8};
          TestImageSpec s = byteSpec(bounds), o = byteSpec(bounds);
          s.guard = o.guard = guard;
          s.topDown = o.topDown = sign < 0;
          s.rowBytes = sign * c.sourceStride;
          o.rowBytes = sign * c.outputStride;
          attachNamed(s, o, kOfxBitDepthByte, property);
          const std::vector<std::uint8_t> sourceBefore = bytesOf(*source);
          const std::vector<std::uint8_t> expected =
              copiedInto(*source, *output);
          ASSERT_EQ(render(), kOfxStatOK);
          EXPECT_EQ(bytesOf(*output), expected);
          EXPECT_EQ(bytesOf(*source), sourceBefore);
          EXPECT_EQ(output->releases(), output->fetches());
          EXPECT_EQ(source->releases(), source->fetches());
        }
      }
    }
  }
}

// A named float depth is believed as well: float images render as an exact
// copy, bit for bit, with padded rows of either sign.
TEST_F(RenderDepthTest, FloatRowsNamedFloatRenderExactly) {
  for (long long stride : {0LL, 16 * 6LL, 16 * 6 + 8LL}) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "stride " << stride << (topDown ? ", top-down" : ""));
      TestImageSpec spec = floatSpec({0, 0, 6, 3});
      spec.topDown = topDown;
      spec.rowBytes = topDown ? -stride : stride;
      attachNamed(spec, spec, kOfxBitDepthFloat, kStandardDepth);
      const std::vector<std::uint8_t> expected = copiedInto(*source, *output);
      ASSERT_EQ(render(), kOfxStatOK);
      EXPECT_EQ(bytesOf(*output), expected);
    }
  }
}

// A depth the effect never declared: nothing more is asked of the images,
// nothing is sampled or written, both images are released once, and the
// render answers kOfxStatErrUnsupported.
TEST_F(RenderDepthTest, UndeclaredDepthNamesAreRefused) {
  const char *const names[] = {"OfxBitDepthShort",
                               "OfxBitDepthHalf",
                               "OfxBitDepthNone",
                               "OfxBitDepthbyte",
                               "OfxBitDepthByte ",
                               "float",
                               "8-bit"};
  static_assert(kOfxStatErrUnsupported == 5, "the standard's number");
  for (const char *name : names) {
    for (const char *property : {kStandardDepth, kOlderDepth}) {
      for (Guard guard : kGuards) {
        SCOPED_TRACE(testing::Message()
                     << '"' << name << "\" under " << property << ", guard "
                     << static_cast<int>(guard));
        TestImageSpec spec = byteSpec(kBounds);
        spec.guard = guard;
        attachNamed(spec, spec, name, property);
        const std::vector<std::uint8_t> sourceBefore = bytesOf(*source);
        const std::vector<std::uint8_t> outputBefore = bytesOf(*output);
        EXPECT_EQ(render(), kOfxStatErrUnsupported);
        EXPECT_EQ(bytesOf(*output), outputBefore);
        EXPECT_EQ(bytesOf(*source), sourceBefore);
        EXPECT_EQ(source->fetches(), 1);
        EXPECT_EQ(source->releases(), 1);
        EXPECT_EQ(output->fetches(), 1);
        EXPECT_EQ(output->releases(), 1);
        // After the depth name, only the two releases.
        std::vector<std::string> after;
        bool named = false;
        for (const Call &call : host.calls()) {
          if (named && call.fn != "action") {
            after.push_back(call.fn);
          }
          named = named || (call.fn == "propGetString" && call.value == name);
        }
        EXPECT_EQ(after, (std::vector<std::string>{"clipReleaseImage",
                                                   "clipReleaseImage"}));
      }
    }
  }
}

// The standard name is asked first and, when it names a depth, decides;
// the older name is asked only when the standard one is absent or empty.
TEST_F(RenderDepthTest, TheStandardNameDecidesOverTheOlderOne) {
  struct Case {
    const char *standard; // null: not answered
    const char *older;
    OfxStatus status;
    bool floatCopy; // else the 8-bit copy
  };
  const Case cases[] = {
      {"OfxBitDepthHalf", "OfxBitDepthFloat", kOfxStatErrUnsupported, false},
      {"OfxBitDepthFloat", "OfxBitDepthHalf", kOfxStatOK, true},
      {"", "OfxBitDepthFloat", kOfxStatOK, true},
      {"", "OfxBitDepthHalf", kOfxStatErrUnsupported, false},
      {nullptr, "OfxBitDepthFloat", kOfxStatOK, true},
      {"", "", kOfxStatOK, true}, // no name: rows of 16 bytes a pixel
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << (c.standard ? c.standard : "(none)") << " / " << c.older);
    attachNamed(floatSpec(kBounds), floatSpec(kBounds), c.older, kOlderDepth);
    if (c.standard) {
      output->props().setString(kStandardDepth, {c.standard});
    }
    const std::vector<std::uint8_t> before = bytesOf(*output);
    ASSERT_EQ(render(), c.status);
    if (c.status != kOfxStatOK) {
      EXPECT_EQ(bytesOf(*output), before);
      continue;
    }
    for (int y = 0; y < kBounds.y2; ++y) {
      const int copied = c.floatCopy ? 16 * kBounds.x2 : 4 * kBounds.x2;
      EXPECT_EQ(std::memcmp(source->byteAt(0, y), output->byteAt(0, y), copied),
                0)
          << "row " << y;
    }
  }
}

// No depth name: the source row stride decides, and the row guard still
// refuses rows too short for the path it chose.
TEST_F(RenderDepthTest, WithoutANameTheSourceStrideDecides) {
  struct Case {
    const char *what;
    Depth depth;
    long long sourceStride, outputStride; // 0: unpadded; sign gives order
    OfxStatus status;
  };
  const Case cases[] = {
      {"8-bit rows", Depth::Byte, 0, 0, kOfxStatOK},
      {"8-bit rows, top-down", Depth::Byte, -32, -32, kOfxStatOK},
      {"8-bit rows padded below 16 bytes a pixel", Depth::Byte, 16 * 8 - 1,
       16 * 8 - 1, kOfxStatOK},
      {"float rows", Depth::Float, 0, 0, kOfxStatOK},
      {"float rows padded", Depth::Float, 16 * 8 + 16, 16 * 8 + 32, kOfxStatOK},
      {"8-bit source padded to 16 bytes a pixel, 8-bit output rows",
       Depth::Byte, 16 * 8, 0, kOfxStatFailed},
  };
  for (const Case &c : cases) {
    for (Guard guard : kGuards) {
      SCOPED_TRACE(c.what);
      TestImageSpec spec =
          c.depth == Depth::Byte ? byteSpec(kBounds) : floatSpec(kBounds);
      spec.guard = guard;
      TestImageSpec s = spec, o = spec;
      s.rowBytes = c.sourceStride;
      o.rowBytes = c.outputStride;
      attachNamed(s, o, nullptr, nullptr);
      const std::vector<std::uint8_t> before = bytesOf(*output);
      const std::vector<std::uint8_t> expected = copiedInto(*source, *output);
      ASSERT_EQ(render(), c.status);
      EXPECT_EQ(bytesOf(*output), c.status == kOfxStatOK ? expected : before);
    }
  }
}

} // namespace
} // namespace vt
