// The host's guard-paged images: the memory is exactly the span the rows
// cover, every pixel is reachable, and one byte beyond either end faults.
#include "platform.h"
#include "plugin_fixture.h"

namespace vt {
namespace {

using ofxhost::Guard;

struct GuardLayout {
  const char *what;
  Depth depth;
  OfxRectI bounds;
  long long rowBytes; // taken as given
  std::size_t span;
};

const GuardLayout kLayouts[] = {
    {"byte bottom-up", Depth::Byte, {-3, 5, 4, 9}, 28, 4 * 7 * 4},
    {"byte top-down", Depth::Byte, {-3, 5, 4, 9}, -28, 4 * 7 * 4},
    {"float padded", Depth::Float, {0, 0, 3, 2}, 52, 52 + 48},
    {"float padded top-down", Depth::Float, {0, 0, 3, 2}, -52, 52 + 48},
    {"rows overlapping", Depth::Byte, {0, 0, 5, 3}, 8, 8 * 2 + 20},
    {"zero stride", Depth::Byte, {0, 0, 5, 3}, 0, 20},
    {"one pixel", Depth::Float, {7, 7, 8, 8}, 16, 16},
};

// The lowest and highest byte the image's rows cover.
std::pair<const std::uint8_t *, const std::uint8_t *> extent(const Image &im) {
  const OfxRectI &b = im.spec().bounds;
  const std::uint8_t *first = im.byteAt(b.x1, b.y1);
  const std::uint8_t *last = im.byteAt(b.x1, b.y2 - 1);
  const std::uint8_t *low = first < last ? first : last;
  const std::uint8_t *high =
      (first < last ? last : first) + (b.x2 - b.x1) * im.pixelBytes() - 1;
  return {low, high};
}

TEST(HostImages, GuardedMemoryIsExactlyTheRowsAndTouchesItsGuard) {
  TestHost host;
  for (const GuardLayout &l : kLayouts) {
    for (Guard guard : kGuards) {
      SCOPED_TRACE(std::string(l.what) +
                   (guard == Guard::AtEnd ? " at end" : " at start"));
      TestImageSpec spec;
      spec.depth = l.depth;
      spec.bounds = l.bounds;
      spec.rowBytes = l.rowBytes;
      spec.rowBytesAsGiven = true;
      spec.guard = guard;
      spec.fill = 0x3C;
      Image image(&host, spec, "image");
      EXPECT_EQ(image.bufferSize(), l.span);
      EXPECT_EQ(Image::spanOf(spec, image.rowBytes()), l.span);
      const auto [low, high] = extent(image);
      EXPECT_EQ(low, image.buffer());
      EXPECT_EQ(high, image.buffer() + image.bufferSize() - 1);
      const std::uintptr_t page = ofxhost::platform::pageSize();
      const std::uintptr_t edge =
          guard == Guard::AtEnd ? reinterpret_cast<std::uintptr_t>(high) + 1
                                : reinterpret_cast<std::uintptr_t>(low);
      EXPECT_EQ(edge % page, 0u);
      for (std::size_t i = 0; i < image.bufferSize(); ++i) {
        ASSERT_EQ(image.buffer()[i], 0x3C) << i;
      }
    }
  }
}

TEST(HostImages, EmptyBoundsHoldNoMemory) {
  TestHost host;
  for (OfxRectI bounds :
       {OfxRectI{0, 0, 0, 5}, OfxRectI{4, 4, 2, 9}, OfxRectI{0, 3, 8, 3}}) {
    TestImageSpec spec = byteSpec(bounds);
    Image image(&host, spec, "image");
    EXPECT_EQ(image.bufferSize(), 0u);
    EXPECT_NE(image.data(), nullptr);
  }
}

using HostImagesDeathTest = ::testing::Test;

// Reads one byte through a volatile pointer, so the read is not removed.
int touch(const std::uint8_t *p) {
  return *static_cast<const volatile std::uint8_t *>(p);
}

TEST(HostImagesDeathTest, ReadingOneByteBeyondEitherEndFaults) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  TestHost host;
  for (Guard guard : kGuards) {
    for (bool topDown : {false, true}) {
      TestImageSpec spec = byteSpec({0, 0, 3, 3});
      spec.guard = guard;
      spec.topDown = topDown;
      spec.rowBytes = topDown ? -20 : 20;
      Image image(&host, spec, "image");
      const auto [low, high] = extent(image);
      // Inside is fine; past the end that touches its guard faults.
      EXPECT_EQ(touch(low) + touch(high), 0);
      if (guard == Guard::AtEnd) {
        EXPECT_DEATH(touch(high + 1), "");
      } else {
        EXPECT_DEATH(touch(low - 1), "");
      }
      // The other end's guard lies within a page.
      const std::size_t page = ofxhost::platform::pageSize();
      const std::uint8_t *farSide =
          guard == Guard::AtEnd ? low - page : high + page;
      EXPECT_DEATH(touch(farSide), "");
    }
  }
}

} // namespace
} // namespace vt
