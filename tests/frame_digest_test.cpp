// The same bits on every platform: a fixed set of frames rendered by each
// build of the module (shipping, per-pixel reference, each kernel set's)
// must give the digests recorded in frame_digests.txt, one file for every
// platform. The frames' pixels come from a fixed integer generator, so they
// are the same everywhere; float frames hold NaNs, infinities, negatives
// and values above one.
//
// To record the digests after a deliberate change of the output, run the
// test with VANTOREL_WRITE_DIGESTS set to the file to write.
#include "kernel_sets.h"
#include "plugin_fixture.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace vt {
namespace {

struct Frame {
  const char *name;
  Depth depth;
  OfxRectI source, output, window;
  bool topDown;
  std::vector<std::pair<const char *, double>> params;
};

const std::vector<std::pair<const char *, double>> kEverything = {
    {"LegalizeLevels", 1},   {"FalseColorMode", 0}, {"ShowSkinTonePatches", 1},
    {"ShowSkinToneLine", 1}, {"ShowMiddleGray", 1}, {"GuideThirds", 1},
    {"GuideGolden", 1},      {"GuideCrosshair", 1}, {"Crop239", 1},
    {"CropOpacity", 0.5},    {"LineThickness", 12}, {"SkinLinePos", 0.6},
    {"GrayLinePos", 0.2}};
const std::vector<std::pair<const char *, double>> kFalseColourBars = {
    {"FalseColorMode", 1},
    {"Crop185", 1},
    {"CropOpacity", 0.37},
    {"GuideThirds", 1}};
const std::vector<std::pair<const char *, double>> kLegalizeSolidBars = {
    {"LegalizeLevels", 1},
    {"Crop235", 1},
    {"CropOpacity", 1.0},
    {"GuideCrosshair", 1},
    {"ShowSkinToneLine", 1}};
const std::vector<std::pair<const char *, double>> kBeyondTheSource = {
    {"GuideGolden", 1},
    {"ShowMiddleGray", 1},
    {"Crop239", 1},
    {"CropOpacity", 0.8}};

std::vector<Frame> frames() {
  std::vector<Frame> out;
  for (Depth depth : {Depth::Byte, Depth::Float}) {
    const bool f = depth == Depth::Float;
    const OfxRectI a{-7, 3, 313, 183}, b{0, 0, 256, 144}, c{0, 0, 200, 120};
    out.push_back({f ? "float everything" : "8-bit everything", depth, a, a, a,
                   false, kEverything});
    out.push_back({f ? "float false colour" : "8-bit false colour", depth, b, b,
                   b, false, kFalseColourBars});
    out.push_back({f ? "float legalize top-down" : "8-bit legalize top-down",
                   depth, c, c, OfxRectI{13, 7, 190, 111}, true,
                   kLegalizeSolidBars});
    out.push_back({f ? "float beyond the source" : "8-bit beyond the source",
                   depth, OfxRectI{10, 10, 170, 100}, OfxRectI{0, 0, 180, 110},
                   OfxRectI{0, 0, 180, 110}, false, kBeyondTheSource});
  }
  return out;
}

// A linear congruential generator: the same numbers on every platform.
struct Numbers {
  std::uint32_t state;
  std::uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

float floatOfBits(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Mostly values across and beyond 0..1; one channel in eight a value the
// stages treat specially.
float channelValue(Numbers &n) {
  static const float kSpecial[] = {floatOfBits(0x7fc00000),
                                   floatOfBits(0xffc00001),
                                   floatOfBits(0x7f800001),
                                   INFINITY,
                                   -INFINITY,
                                   -0.0f,
                                   1e-40f,
                                   1e30f,
                                   0.05f,
                                   0.1f,
                                   0.4f,
                                   0.45f,
                                   0.52f,
                                   0.58f,
                                   0.95f,
                                   1.0f};
  const std::uint32_t r = n.next();
  if (r % 8 == 0)
    return kSpecial[(r >> 3) % (sizeof kSpecial / sizeof kSpecial[0])];
  return static_cast<float>(r % 65536) / 40960.0f - 0.3f;
}

void fill(Image &image, std::uint32_t seed) {
  Numbers n{seed};
  const OfxRectI b = image.spec().bounds;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      for (int c = 0; c < 4; ++c) {
        if (image.spec().depth == Depth::Byte)
          image.byteAt(x, y)[c] = static_cast<std::uint8_t>(n.next());
        else
          image.floatAt(x, y)[c] = channelValue(n);
      }
    }
  }
}

// 64-bit FNV-1a over the output's pixels, row by row from the bottom.
// Every NaN counts as one value: which NaN an operation makes of non-NaN
// operands (x86-64 sets the sign, AArch64 does not) and which of two NaN
// operands it passes on is the processor's own choice, not the renderer's.
std::string digestOf(const Image &image) {
  std::uint64_t hash = 14695981039346656037ull;
  const auto add = [&hash](const std::uint8_t *bytes, int n) {
    for (int i = 0; i < n; ++i)
      hash = (hash ^ bytes[i]) * 1099511628211ull;
  };
  const OfxRectI b = image.spec().bounds;
  const bool floats = image.spec().depth == Depth::Float;
  const std::uint32_t canonicalNaN = 0x7fc00000;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      const std::uint8_t *pixel = image.byteAt(x, y);
      for (int c = 0; c < 4; ++c) {
        const std::uint8_t *channel = pixel + (floats ? 4 * c : c);
        float value = 0;
        if (floats)
          std::memcpy(&value, channel, 4);
        if (floats && std::isnan(value))
          add(reinterpret_cast<const std::uint8_t *>(&canonicalNaN), 4);
        else
          add(channel, floats ? 4 : 1);
      }
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(hash));
  return text;
}

// The digests of every frame, by name, rendered by one build.
std::map<std::string, std::string> renderAll(const std::string &bundle) {
  std::map<std::string, std::string> digests;
  auto module = loadFreshModule(bundle);
  if (!module)
    return digests;
  OfxPlugin *plugin = module->plugin(0);
  TestHost host;
  host.logging = false;
  Effect *descriptor = describeFilter(host, plugin);
  std::uint32_t seed = 1;
  for (const Frame &frame : frames()) {
    Effect *instance = host.createInstance(plugin, descriptor);
    TestImageSpec source = frame.depth == Depth::Float ? floatSpec(frame.source)
                                                       : byteSpec(frame.source);
    source.topDown = frame.topDown;
    TestImageSpec output = source;
    output.bounds = frame.output;
    output.fill = 0xA5;
    auto input = host.attachImage(instance, "Source", source);
    auto result = host.attachImage(instance, "Output", output);
    fill(*input, seed++);
    for (const auto &[name, value] : frame.params)
      host.setParam(instance, name, value);
    Host::RenderArgs args;
    args.window = frame.window;
    EXPECT_EQ(host.render(plugin, instance, args), kOfxStatOK) << frame.name;
    digests[frame.name] = digestOf(*result);
  }
  return digests;
}

std::string recordedText() {
  std::ifstream file(VANTOREL_DIGEST_FILE);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string fileText(const std::map<std::string, std::string> &digests) {
  std::ostringstream s;
  s << "# Digests of the fixed frames of frame_digest_test.cpp, the same on "
       "every platform.\n";
  for (const auto &[name, digest] : digests)
    s << name << ": " << digest << "\n";
  return s.str();
}

TEST(FrameDigests, EveryBuildRendersTheRecordedBits) {
  const std::string recorded = recordedText();
  ASSERT_FALSE(recorded.empty()) << "no digests in " VANTOREL_DIGEST_FILE;
  const char *write = std::getenv("VANTOREL_WRITE_DIGESTS");
  std::vector<kernelsets::KernelBuild> builds = {
      {"shipping", VANTOREL_TEST_BUNDLE},
      {"reference", VANTOREL_REFERENCE_BUNDLE}};
  for (const kernelsets::KernelBuild &b : kernelsets::kernelBuilds())
    builds.push_back(b);
  for (const kernelsets::KernelBuild &b : builds) {
    SCOPED_TRACE(b.set);
    const auto digests = renderAll(b.bundle);
    ASSERT_EQ(digests.size(), frames().size());
    if (write && *write) {
      std::ofstream(write, std::ios::binary) << fileText(digests);
    }
    EXPECT_EQ(fileText(digests), recorded)
        << "to record these, run with VANTOREL_WRITE_DIGESTS=FILE";
  }
}

} // namespace
} // namespace vt
