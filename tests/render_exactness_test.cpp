// The row renderer against the plain per-pixel pipeline, bit for bit: the
// shipping build (whose kernels follow this processor) and the builds held
// to each kernel set this processor runs, each against the reference
// build, on randomised frames: sizes, bounds, strides, windows, every
// switch combination, parameters across and beyond their ranges, and float
// pixels that are NaN, infinite, negative or above one.
#include "kernel_sets.h"
#include "plugin_fixture.h"

#include <algorithm>
#include <cfenv>
#include <functional>
#include <limits>
#include <random>
#include <sstream>

namespace vt {
namespace {

struct FrameCase {
  TestImageSpec source, output;
  OfxRectI window{0, 0, 0, 0};
  std::vector<std::pair<std::string, double>> params;
  unsigned seed = 0;
  // Fills the source; by default pseudo-random channels from `seed`.
  std::function<void(Image &)> fill;
};

std::string describeRect(OfxRectI r) {
  std::ostringstream s;
  s << '(' << r.x1 << ',' << r.y1 << ")-(" << r.x2 << ',' << r.y2 << ')';
  return s.str();
}

std::string describeCase(const FrameCase &c) {
  std::ostringstream s;
  s << (c.source.depth == Depth::Float ? "float" : "8-bit") << " source "
    << describeRect(c.source.bounds) << " stride " << c.source.rowBytes
    << " output " << describeRect(c.output.bounds) << " stride "
    << c.output.rowBytes << " window " << describeRect(c.window) << " seed "
    << c.seed << "\n ";
  for (const auto &[name, value] : c.params) {
    s << ' ' << name << '=' << value;
  }
  return s.str();
}

void copyPixels(const Image &from, Image &to) {
  const OfxRectI b = from.spec().bounds;
  for (int y = b.y1; y < b.y2 && b.x1 < b.x2; ++y) {
    std::memcpy(to.byteAt(b.x1, y), from.byteAt(b.x1, y),
                static_cast<std::size_t>(from.pixelBytes()) * from.width());
  }
}

// One build of the plug-in in its own host, with one filter instance.
struct LoadedBuild {
  explicit LoadedBuild(const std::string &bundle)
      : module(loadFreshModule(bundle)) {
    plugin = module ? module->plugin(0) : nullptr;
    if (plugin) {
      instance = host.createInstance(plugin, describeFilter(host, plugin));
    }
    if (instance) {
      for (const auto &param : instance->params.params) {
        defaults.push_back({param->name, param->intValue, param->doubleValue});
      }
    }
    host.logging = false;
  }

  struct Result {
    OfxStatus status;
    std::shared_ptr<Image> output;
  };

  // Renders the case; the source is filled by the case, or copied from
  // `pixels` (a source of the same case). With `intoSource` the output clip
  // hands out the source image itself, as some hosts do.
  Result render(const FrameCase &c, const Image *pixels = nullptr,
                bool intoSource = false) {
    auto source = host.attachImage(instance, "Source", c.source);
    auto output =
        intoSource ? source : host.attachImage(instance, "Output", c.output);
    instance->clip("Output")->image = output;
    if (pixels) {
      copyPixels(*pixels, *source);
    } else {
      c.fill(*source);
    }
    source_ = source;
    for (const Default &d : defaults) {
      ofxhost::Param *param = instance->param(d.name);
      param->intValue = d.intValue;
      param->doubleValue = d.doubleValue;
    }
    for (const auto &[name, value] : c.params) {
      host.setParam(instance, name, value);
    }
    Host::RenderArgs args;
    args.window = c.window;
    return {host.render(plugin, instance, args), output};
  }

  const Image &lastSource() const { return *source_; }

  TestHost host;
  std::unique_ptr<ofxhost::Module> module;
  OfxPlugin *plugin = nullptr;
  Effect *instance = nullptr;

private:
  struct Default {
    std::string name;
    int intValue;
    double doubleValue;
  };
  std::vector<Default> defaults; // every parameter as the instance started
  std::shared_ptr<Image> source_;
};

std::string pixelText(const Image &image, int x, int y) {
  std::ostringstream s;
  s << std::hex;
  const std::uint8_t *p = image.byteAt(x, y);
  for (int i = 0; i < image.pixelBytes(); ++i) {
    s << (i % 4 == 0 && i ? " " : "") << int(p[i] >> 4) << int(p[i] & 15);
  }
  return s.str();
}

// Success when the two buffers hold the same bytes; otherwise names the
// first pixel that differs, or else the row padding.
::testing::AssertionResult sameImage(const Image &want, const Image &got) {
  if (!std::memcmp(want.buffer(), got.buffer(), want.bufferSize())) {
    return ::testing::AssertionSuccess();
  }
  const OfxRectI b = want.spec().bounds;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      if (std::memcmp(want.byteAt(x, y), got.byteAt(x, y), want.pixelBytes())) {
        return ::testing::AssertionFailure()
               << "pixel " << x << ',' << y << ": want "
               << pixelText(want, x, y) << " got " << pixelText(got, x, y);
      }
    }
  }
  return ::testing::AssertionFailure() << "bytes outside the pixels differ";
}

// ------------------------------------------------------------ random frames

float bitsToFloat(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Mostly ordinary values, sometimes a value the stages treat specially.
float randomChannel(std::mt19937 &rng) {
  static const float kSpecials[] = {
      bitsToFloat(0x7fc00000),
      bitsToFloat(0xffc00001),
      bitsToFloat(0x7f800001), // signalling NaN
      bitsToFloat(0xff812345), // signalling NaN, negative
      bitsToFloat(0x7fd55555),
      std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity(),
      0.0f,
      -0.0f,
      std::numeric_limits<float>::denorm_min(),
      -1e-40f,
      1e30f,
      -1e30f,
      std::numeric_limits<float>::max(),
      1.0f};
  // The false-colour band limits.
  static const float kLimits[] = {0.05f, 0.1f,  0.4f, 0.45f,
                                  0.52f, 0.58f, 0.95f};
  const int n = sizeof kSpecials / sizeof kSpecials[0];
  if (rng() % 8 == 0) {
    return kSpecials[rng() % n];
  }
  if (rng() % 8 == 0) {
    return kLimits[rng() % 7];
  }
  return std::uniform_real_distribution<float>(-0.3f, 1.3f)(rng);
}

void fillRandom(Image &image, unsigned seed) {
  std::mt19937 rng(seed);
  const OfxRectI b = image.spec().bounds;
  const bool grey = rng() % 4 == 0; // exact greys meet the band limits
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      if (image.spec().depth == Depth::Byte) {
        std::uint8_t *p = image.byteAt(x, y);
        for (int c = 0; c < 4; ++c) {
          p[c] =
              static_cast<std::uint8_t>(grey && c > 0 && c < 3 ? p[0] : rng());
        }
      } else {
        // Rows may start anywhere, so the floats are copied in unaligned.
        float p[4];
        for (int c = 0; c < 4; ++c) {
          p[c] = grey && c > 0 && c < 3 ? p[0] : randomChannel(rng);
        }
        std::memcpy(image.byteAt(x, y), p, sizeof p);
      }
    }
  }
}

int pick(std::mt19937 &rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

// A number from the list most of the time, else uniform in low..high.
double pickNumber(std::mt19937 &rng, std::initializer_list<double> list,
                  double low, double high) {
  if (rng() % 3 == 0) {
    return std::uniform_real_distribution<double>(low, high)(rng);
  }
  return list.begin()[rng() % list.size()];
}

OfxRectI randomRect(std::mt19937 &rng, int maxWidth, int maxHeight) {
  const int x1 = pick(rng, -40, 40);
  const int y1 = pick(rng, -40, 40);
  return {x1, y1, x1 + pick(rng, 0, maxWidth), y1 + pick(rng, 0, maxHeight)};
}

OfxRectI grow(OfxRectI r, std::mt19937 &rng) {
  return {r.x1 - pick(rng, 0, 6), r.y1 - pick(rng, 0, 6),
          r.x2 + pick(rng, 0, 6), r.y2 + pick(rng, 0, 6)};
}

TestImageSpec randomLayout(std::mt19937 &rng, Depth depth, OfxRectI bounds) {
  TestImageSpec spec =
      depth == Depth::Float ? floatSpec(bounds) : byteSpec(bounds);
  const long long row =
      (depth == Depth::Float ? 16LL : 4LL) * std::max(0, bounds.x2 - bounds.x1);
  const long long stride = row + (rng() % 2 ? 0 : pick(rng, 1, 40));
  spec.rowBytes = rng() % 2 ? stride : -stride;
  spec.fill = static_cast<std::uint8_t>(rng());
  return spec;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::vector<std::pair<std::string, double>> randomNumbers(std::mt19937 &rng) {
  return {
      {"CropOpacity",
       pickNumber(rng,
                  {0.0, 0.5, 1.0, 0.99, 0.995, 0.9900000095367432, -0.5, 1.5,
                   kNaN, -kNaN, kInf, -kInf, 1e-300},
                  -0.2, 1.2)},
      {"LineThickness", pickNumber(rng,
                                   {0.1, 1.0, 15.0, 30.0, 0.0, -5.0, 100.0,
                                    250.0, kNaN, kInf, -kInf, 1e12},
                                   0.0, 40.0)},
      {"SkinLinePos",
       pickNumber(rng, {0.0, 0.73, 1.0, -0.2, 1.3, kNaN, kInf, -kInf}, -0.3,
                  1.3)},
      {"GrayLinePos",
       pickNumber(rng, {0.0, 0.12, 1.0, -0.2, 1.3, kNaN, kInf, -kInf}, -0.3,
                  1.3)},
  };
}

// `on` has a bit for each switch, in the order given.
FrameCase randomCase(unsigned seed, unsigned on,
                     const std::vector<std::string> &switches) {
  std::mt19937 rng(seed);
  FrameCase c;
  c.seed = seed;
  const Depth depth = rng() % 2 ? Depth::Float : Depth::Byte;
  const OfxRectI sourceBounds = randomRect(rng, 90, 70);
  const OfxRectI outputBounds =
      rng() % 2
          ? sourceBounds
          : (rng() % 2 ? grow(sourceBounds, rng) : randomRect(rng, 90, 70));
  c.window = rng() % 3 ? grow(outputBounds, rng) : randomRect(rng, 90, 70);
  c.source = randomLayout(rng, depth, sourceBounds);
  c.output = randomLayout(rng, depth, outputBounds);
  for (std::size_t i = 0; i < switches.size(); ++i) {
    c.params.push_back({switches[i], (on >> i) & 1});
  }
  for (const auto &number : randomNumbers(rng)) {
    c.params.push_back(number);
  }
  c.fill = [seed](Image &image) { fillRandom(image, seed * 7919u + 1u); };
  return c;
}

// A 256 x 256 8-bit frame holding every byte value in each channel, in
// varied company: red is x, green y, blue x + y, alpha x ^ y.
void fillEveryByteValue(Image &image) {
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      std::uint8_t *p = image.byteAt(x, y);
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = static_cast<std::uint8_t>(x + y);
      p[3] = static_cast<std::uint8_t>(x ^ y);
    }
  }
}

// That frame, drawn whole with the given parameters.
FrameCase
everyByteValueCase(std::vector<std::pair<std::string, double>> params) {
  FrameCase c;
  c.source = byteSpec({0, 0, 256, 256});
  c.output = c.source;
  c.window = c.source.bounds;
  c.params = std::move(params);
  c.fill = fillEveryByteValue;
  return c;
}

// ------------------------------------------------------------ the tests

// A build under test and what to call it in failures.
struct NamedBuild {
  std::string name;
  LoadedBuild *build;
};

class RenderExactnessTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    reference = new LoadedBuild(VANTOREL_REFERENCE_BUNDLE);
    builds.push_back({"shipping", new LoadedBuild(VANTOREL_TEST_BUNDLE)});
    for (const kernelsets::KernelBuild &k : kernelsets::kernelBuilds()) {
      auto *build = new LoadedBuild(k.bundle);
      const std::string runs =
          build->module ? kernelsets::kernelsInUse(*build->module) : "";
      if (runs == k.set) {
        builds.push_back({k.set + " kernels", build});
      } else {
        notRun.push_back(k.set + " (the build runs '" + runs + "')");
        delete build;
      }
    }
    if (reference->instance) {
      for (const auto &param : reference->instance->params.params) {
        if (param->type == kOfxParamTypeBoolean) {
          switches.push_back(param->name);
        }
      }
    }
  }
  static void TearDownTestSuite() {
    delete reference;
    for (const NamedBuild &b : builds) {
      delete b.build;
    }
    builds.clear();
    notRun.clear();
  }
  void SetUp() override {
    ASSERT_NE(reference->instance, nullptr);
    for (const NamedBuild &b : builds) {
      ASSERT_NE(b.build->instance, nullptr) << b.name;
    }
  }

  // Renders the case through the reference and each build of `only` (by
  // default every build); false after a difference.
  bool agree(const FrameCase &c, const std::vector<NamedBuild> &only = builds,
             bool intoSource = false) {
    const LoadedBuild::Result want = reference->render(c);
    for (const NamedBuild &b : only) {
      const LoadedBuild::Result got =
          b.build->render(c, &reference->lastSource(), intoSource);
      EXPECT_EQ(got.status, want.status) << b.name << '\n' << describeCase(c);
      const ::testing::AssertionResult same =
          sameImage(*want.output, *got.output);
      EXPECT_TRUE(same) << b.name << '\n' << describeCase(c);
      if (got.status != want.status || !same) {
        return false;
      }
    }
    return true;
  }

  static LoadedBuild *reference;
  static std::vector<NamedBuild> builds;    // shipping, then each kernel set
  static std::vector<std::string> notRun;   // sets this processor lacks
  static std::vector<std::string> switches; // the boolean parameters
};

LoadedBuild *RenderExactnessTest::reference = nullptr;
std::vector<NamedBuild> RenderExactnessTest::builds;
std::vector<std::string> RenderExactnessTest::notRun;
std::vector<std::string> RenderExactnessTest::switches;

// Each kernel-set build runs its own set where the processor has it; the
// portable set runs everywhere, and so does SSE4.1 on every x86-64
// processor of the last fifteen years. A set this processor lacks is
// reported as skipped.
TEST_F(RenderExactnessTest, EachKernelSetBuildRunsItsSet) {
  std::vector<std::string> ran;
  for (const NamedBuild &b : builds) {
    ran.push_back(b.name);
  }
  const auto has = [&ran](const std::string &name) {
    return std::find(ran.begin(), ran.end(), name) != ran.end();
  };
  EXPECT_TRUE(has("portable kernels"));
#if defined(__x86_64__)
  EXPECT_EQ(has("SSE4.1 kernels"), __builtin_cpu_supports("sse4.1") != 0);
#elif defined(__aarch64__)
  EXPECT_TRUE(has("NEON kernels"));
#endif
  if (!notRun.empty()) {
    std::string missing;
    for (const std::string &n : notRun) {
      missing += "\n  " + n;
    }
    GTEST_SKIP() << "kernel sets this processor does not run:" << missing;
  }
}

TEST_F(RenderExactnessTest, EverySwitchCombinationOnRandomFrames) {
  ASSERT_EQ(switches.size(), 11u);
  for (unsigned on = 0; on < (1u << switches.size()); ++on) {
    if (!agree(randomCase(on * 2654435761u + 17u, on, switches))) {
      return;
    }
  }
}

TEST_F(RenderExactnessTest, RandomSwitchesOnRandomFrames) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 1500; ++i) {
    const unsigned seed = rng();
    const unsigned on = rng() & ((1u << switches.size()) - 1);
    if (!agree(randomCase(seed, on, switches))) {
      return;
    }
  }
}

// Larger frames with the usual settings: long runs for the wide kernels,
// many rows of each band kind, guides crossing bands and bars.
TEST_F(RenderExactnessTest, EverythingOnAtLargerSizes) {
  const struct {
    Depth depth;
    OfxRectI bounds;
    double opacity;
  } frames[] = {{Depth::Byte, {0, 0, 643, 361}, 0.5},
                {Depth::Byte, {-300, 100, 340, 460}, 1.0},
                {Depth::Float, {0, 0, 643, 361}, 0.5},
                {Depth::Float, {5, -7, 402, 300}, 1.0}};
  for (const auto &f : frames) {
    FrameCase c;
    c.source =
        f.depth == Depth::Float ? floatSpec(f.bounds) : byteSpec(f.bounds);
    c.output = c.source;
    c.window = f.bounds;
    for (const std::string &name : switches) {
      c.params.push_back({name, 1});
    }
    c.params.push_back({"CropOpacity", f.opacity});
    c.params.push_back({"LineThickness", 15});
    c.params.push_back({"SkinLinePos", 0.73});
    c.params.push_back({"GrayLinePos", 0.12});
    c.seed = static_cast<unsigned>(f.bounds.x2);
    c.fill = [seed = c.seed](Image &image) { fillRandom(image, seed); };
    if (!agree(c)) {
      return;
    }
  }
}

// A host may render with another rounding mode in force; the kernels that
// compute what the stages would look up (the quotient by 255 by products,
// the AVX-512 byte luma) must then give way. Each mode: every byte value in
// each channel through false colour and legalize, with and without bars,
// and random frames.
TEST_F(RenderExactnessTest, EveryRoundingMode) {
  const int modes[] = {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
  for (int mode : modes) {
    ASSERT_EQ(std::fesetround(mode), 0);
    bool same = true;
    for (const char *analysis : {"FalseColorMode", "LegalizeLevels"}) {
      for (double crop : {0.0, 1.0}) {
        same = same &&
               agree(everyByteValueCase(
                   {{analysis, 1}, {"Crop239", crop}, {"CropOpacity", 0.37}}));
      }
    }
    std::mt19937 rng(static_cast<unsigned>(mode));
    for (int i = 0; i < 100 && same; ++i) {
      const unsigned on = rng() & ((1u << switches.size()) - 1);
      same = agree(randomCase(rng(), on, switches));
    }
    std::fesetround(FE_TONEAREST);
    ASSERT_TRUE(same) << "rounding mode " << mode;
  }
}

// Every byte value in each channel through the 8-bit channel table: plain
// and legalized, in picture rows and in bar rows, at bar factors where the
// table is a rounded-down line (which some kernels form by a fitted
// multiply instead of looking up), where it is not (0.35, 0.6 and 0.8
// without legalize) and where it clamps.
TEST_F(RenderExactnessTest, EveryByteThroughTheChannelTable) {
  const double opacities[] = {0.0,  0.25, 0.35, 0.37,   0.5,   0.6,
                              0.63, 0.75, 0.8,  0.9,    0.985, 0.99,
                              1.0,  -0.6, 1.5,  1e-300, kNaN};
  for (double legalize : {0.0, 1.0}) {
    for (double opacity : opacities) {
      if (!agree(everyByteValueCase({{"LegalizeLevels", legalize},
                                     {"Crop239", 1},
                                     {"CropOpacity", opacity}}))) {
        return;
      }
    }
  }
}

// Some hosts hand over one image as both the source and the output; then
// every pixel has to be read before anything overwrites it. Each build
// renders into its source image and is compared with the reference
// rendering into an image of its own: every byte value through false
// colour (whose grid kernels redo the lanes near a line) and legalize,
// with and without bars, then random frames of both depths with every
// switch on, and random switch combinations.
TEST_F(RenderExactnessTest, OutputImageIsTheSourceImage) {
  const double opacities[] = {0.37, 0.5, 1.0};
  for (const char *analysis : {"FalseColorMode", "LegalizeLevels"}) {
    for (double crop : {0.0, 1.0}) {
      for (double opacity : opacities) {
        const FrameCase c = everyByteValueCase(
            {{analysis, 1}, {"Crop239", crop}, {"CropOpacity", opacity}});
        ASSERT_TRUE(agree(c, builds, true)) << analysis;
      }
    }
  }
  for (Depth depth : {Depth::Byte, Depth::Float}) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      FrameCase c;
      c.source = depth == Depth::Float ? floatSpec({0, 0, 331, 187})
                                       : byteSpec({-9, 4, 522, 190});
      c.output = c.source;
      c.window = c.source.bounds;
      for (const std::string &name : switches) {
        c.params.push_back({name, 1});
      }
      c.params.push_back({"CropOpacity", seed % 2 ? 0.5 : 1.0});
      c.seed = seed;
      c.fill = [seed](Image &image) { fillRandom(image, seed); };
      ASSERT_TRUE(agree(c, builds, true));
    }
  }
  std::mt19937 rng(7041);
  for (int i = 0; i < 300; ++i) {
    const unsigned on = rng() & ((1u << switches.size()) - 1);
    FrameCase c = randomCase(rng(), on, switches);
    c.output = c.source;
    c.window = grow(c.source.bounds, rng);
    ASSERT_TRUE(agree(c, builds, true));
  }
}

// Grey pixels lie exactly on grid lines that change the grey, so the grid
// kernels redo every group of them: long rows of grey ramps, in rows with
// and without bars (alpha passed and made opaque, greys shifted and
// scaled), into an image of their own and into the source.
TEST_F(RenderExactnessTest, FalseColourOfGreyRamps) {
  const OfxRectI bounds{-3, 0, 1097, 600}; // bars above and below
  const auto ramps = [](Image &image) {
    const OfxRectI b = image.spec().bounds;
    for (int y = b.y1; y < b.y2; ++y) {
      for (int x = b.x1; x < b.x2; ++x) {
        std::uint8_t *p = image.byteAt(x, y);
        p[0] = p[1] = p[2] =
            static_cast<std::uint8_t>((x - b.x1) * (y % 7 + 1));
        p[3] = static_cast<std::uint8_t>(x + 3 * y);
      }
    }
  };
  for (double opacity : {0.37, 0.5, 0.995, 1.0 - 0x1p-3}) {
    for (bool intoSource : {false, true}) {
      FrameCase c;
      c.source = byteSpec(bounds);
      c.output = c.source;
      c.window = bounds;
      c.params = {
          {"FalseColorMode", 1}, {"Crop239", 1}, {"CropOpacity", opacity}};
      c.fill = ramps;
      ASSERT_TRUE(agree(c, builds, intoSource)) << opacity;
    }
  }
}

// Every 8-bit RGB triple through false colour, once in rows without bars
// and once in bar rows: a 4096 x 4096 frame holds each triple once. The
// portable kernel does the stages' own arithmetic per pixel; this is for the
// vector kernels, shipped and each set.
TEST_F(RenderExactnessTest, FalseColourOfEveryByteTriple) {
  const OfxRectI bounds{0, 0, 4096, 4096};
  const auto triples = [](int rowShift) {
    return [rowShift](Image &image) {
      for (int y = 0; y < 4096; ++y) {
        for (int x = 0; x < 4096; ++x) {
          const std::uint32_t rgb = static_cast<std::uint32_t>(y) * 4096u + x;
          std::uint8_t *p = image.byteAt(x, (y + rowShift) % 4096);
          p[0] = static_cast<std::uint8_t>(rgb);
          p[1] = static_cast<std::uint8_t>(rgb >> 8);
          p[2] = static_cast<std::uint8_t>(rgb >> 16);
          p[3] = static_cast<std::uint8_t>(x * 31 + y);
        }
      }
    };
  };
  // Without a crop no row has bars. With 2.39 rows 1191..2905 have none;
  // shifting the triples by 2048 rows puts each of them in a bar row once:
  // with a bar factor inside 0..1 and with one the store has to clamp, each
  // with the alpha passed through and made opaque (opacity 0.99 and up);
  // and with factors 2^-1 and 2^-7 (opaque), whose greys some kernels
  // shift instead of scaling.
  const struct {
    double crop;
    int rowShift;
    double opacity;
  } renders[] = {{0, 0, 0.37},     {1, 0, 0.37},         {1, 2048, 0.37},
                 {1, 2048, 0.995}, {1, 2048, -0.6},      {1, 2048, 1.5},
                 {1, 2048, 0.5},   {1, 2048, 1 - 0x1p-7}};
  std::vector<NamedBuild> vectorBuilds;
  for (const NamedBuild &b : builds) {
    if (b.name != "portable kernels") {
      vectorBuilds.push_back(b);
    }
  }
  for (const auto &r : renders) {
    FrameCase c;
    c.source = byteSpec(bounds);
    c.output = c.source;
    c.window = bounds;
    c.params = {
        {"FalseColorMode", 1}, {"Crop239", r.crop}, {"CropOpacity", r.opacity}};
    c.fill = triples(r.rowShift);
    if (!agree(c, vectorBuilds)) {
      return;
    }
  }
}

} // namespace
} // namespace vt
