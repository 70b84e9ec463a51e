// The module allocates nothing while it renders: the calls it makes to the
// allocator while a render runs are counted (allocation_watch.h). The host
// library allocates on the same call stack when the module calls back into
// it; those calls come from elsewhere and do not count.
#include "allocation_watch.h"
#include "plugin_fixture.h"

#include <cstdlib>
#include <limits>

namespace vt {
namespace {

// Watches the code holding `address` until destroyed.
class Watching {
public:
  explicit Watching(const void *address) {
    EXPECT_TRUE(allocations::watch(address));
  }
  ~Watching() { allocations::unwatch(); }
  Watching(const Watching &) = delete;
  Watching &operator=(const Watching &) = delete;
};

void countedMallocAndFree() {
  allocations::setCounting(true);
  void *volatile p = std::malloc(16);
  std::free(p);
  allocations::setCounting(false);
}

class NoAllocationTest : public RenderTest {
protected:
  void SetUp() override {
    if (const char *why = allocations::unavailable()) {
      GTEST_SKIP() << why;
    }
    RenderTest::SetUp();
    host.logging = false;
  }

  const void *moduleCode() const {
    return reinterpret_cast<const void *>(plugin->mainEntry);
  }

  // Sends the render action straight to mainEntry with prepared arguments
  // and answers how many allocator calls the module made meanwhile.
  int moduleAllocationsDuringRender(OfxRectI window) {
    ofxhost::PropertySet inArgs(&host, "inArgs"), outArgs(&host, "outArgs");
    inArgs.setDouble(kOfxPropTime, {0.0});
    inArgs.setInt(kOfxImageEffectPropRenderWindow,
                  {window.x1, window.y1, window.x2, window.y2});
    Watching watching(moduleCode());
    allocations::setCounting(true);
    const OfxStatus status =
        plugin->mainEntry(kOfxImageEffectActionRender, instance->handle(),
                          inArgs.handle(), outArgs.handle());
    allocations::setCounting(false);
    EXPECT_EQ(status, kOfxStatOK);
    return allocations::counted();
  }
};

// The counter itself: calls from the watched code count, calls from
// elsewhere do not.
TEST_F(NoAllocationTest, CountsCallsFromTheWatchedCodeOnly) {
  {
    Watching watching(reinterpret_cast<const void *>(&countedMallocAndFree));
    countedMallocAndFree();
    EXPECT_EQ(allocations::counted(), 2);
  }
  Watching watching(moduleCode());
  countedMallocAndFree();
  EXPECT_EQ(allocations::counted(), 0);
}

// Every way through the renderer: each pixel path, every overlay, bar rows
// light, black and with a NaN factor, pixels outside the source, float NaNs.
TEST_F(NoAllocationTest, RenderingAllocatesNothing) {
  const char *const switches[] = {"ShowSkinTonePatches", "ShowSkinToneLine",
                                  "ShowMiddleGray",      "LegalizeLevels",
                                  "GuideThirds",         "GuideGolden",
                                  "GuideCrosshair",      "Crop239"};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (Depth depth : {Depth::Byte, Depth::Float}) {
    for (double falseColour : {0.0, 1.0}) {
      for (double opacity : {0.5, 1.0, nan}) {
        SCOPED_TRACE(::testing::Message()
                     << (depth == Depth::Float ? "float" : "8-bit")
                     << " false colour " << falseColour << " opacity "
                     << opacity);
        const OfxRectI bounds{-10, 5, 310, 185};
        TestImageSpec s =
            depth == Depth::Float ? floatSpec(bounds) : byteSpec(bounds);
        TestImageSpec o = s;
        o.bounds = {-20, 0, 330, 200};
        attach(s, o);
        fillPattern(*source, 3);
        if (depth == Depth::Float) {
          source->floatAt(7, 50)[1] = std::numeric_limits<float>::quiet_NaN();
        }
        for (const char *name : switches) {
          set(name, 1);
        }
        set("FalseColorMode", falseColour);
        set("CropOpacity", opacity);
        EXPECT_EQ(moduleAllocationsDuringRender(o.bounds), 0);
      }
    }
  }
}

} // namespace
} // namespace vt
