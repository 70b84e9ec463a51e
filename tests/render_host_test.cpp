// The render action as the host sees it: which calls it makes, in which
// order, what it reads of each image, what it answers when the host fails
// it, and which pixel layout it chooses.
#include "plugin_fixture.h"

#include <algorithm>
#include <map>

namespace vt {
namespace {

const OfxRectI kSmall{0, 0, 8, 4};

std::vector<std::string> fnAndName(const std::vector<Call> &calls) {
  std::vector<std::string> out;
  for (const Call &c : calls) {
    if (c.fn != "action") {
      out.push_back(c.fn + ' ' + c.name);
    }
  }
  return out;
}

const char *const kSampleOrder[] = {"ShowSkinTonePatches",
                                    "ShowSkinToneLine",
                                    "ShowMiddleGray",
                                    "LegalizeLevels",
                                    "FalseColorMode",
                                    "GuideThirds",
                                    "GuideGolden",
                                    "GuideCrosshair",
                                    "Crop185",
                                    "Crop235",
                                    "Crop239",
                                    "CropOpacity",
                                    "LineThickness",
                                    "SkinLinePos",
                                    "GrayLinePos"};

std::vector<std::string> expectedRenderCalls() {
  std::vector<std::string> calls = {
      "propGetDouble OfxPropTime",
      "clipGetHandle Source",
      "clipGetHandle Output",
      "clipGetImage Source",
      "clipGetImage Output",
      "propGetString OfxImageEffectPropPixelDepth",
      "propGetInt OfxImagePropRowBytes",
      "propGetIntN OfxImagePropBounds",
      "propGetPointer OfxImagePropData",
      "propGetPointer OfxImagePropData",
      "propGetInt OfxImagePropRowBytes",
      "propGetIntN OfxImagePropBounds",
      "propGetIntN OfxImageEffectPropRenderWindow",
      "getParamSet "};
  for (const char *name : kSampleOrder) {
    calls.push_back(std::string("paramGetHandle ") + name);
    calls.push_back(std::string("paramGetValueAtTime ") + name);
  }
  calls.push_back("clipReleaseImage ");
  calls.push_back("clipReleaseImage ");
  return calls;
}

using RenderHostTest = RenderTest;

// The order of the render's host calls is part of what the render promises
// hosts, so it is pinned here call by call, each property read to its
// image. Hosts may rely on it: one may ready an image's memory when it is
// fetched, before its addressing is read, or expect the parameters asked
// for in the order of the render's snapshot; a render that reordered its
// calls could break such a host. RenderReads below compares what is read
// of each image regardless of order, and says which image differs.
TEST_F(RenderHostTest, MakesItsHostCallsInOrderAndReleasesBothImages) {
  attach(byteSpec(kSmall));
  EXPECT_EQ(render(kSmall, 7.0), kOfxStatOK);
  const auto calls = host.calls();
  auto expected = expectedRenderCalls();
  auto actual = fnAndName(calls);
  // Release calls name no property; compare them by function only.
  for (auto &line : actual) {
    if (line.rfind("clipReleaseImage", 0) == 0) {
      line = "clipReleaseImage ";
    }
  }
  EXPECT_EQ(actual, expected);
  // Which image each call went to.
  const std::vector<Call> props = callsNamed(
      calls, {"propGetInt", "propGetIntN", "propGetPointer", "propGetString"});
  const std::string src = source->props().label, out = output->props().label;
  const std::vector<std::string> objects = {out, src, src, src,
                                            out, out, out, "inArgs"};
  ASSERT_EQ(props.size(), objects.size());
  for (size_t i = 0; i < objects.size(); ++i) {
    EXPECT_EQ(props[i].object, objects[i]) << describeCall(props[i]);
  }
  const auto releases = callsNamed(calls, {"clipReleaseImage"});
  ASSERT_EQ(releases.size(), 2u);
  EXPECT_EQ(releases[0].object, src);
  EXPECT_EQ(releases[1].object, out);
  EXPECT_EQ(source->fetches(), 1);
  EXPECT_EQ(source->releases(), 1);
  EXPECT_EQ(output->fetches(), 1);
  EXPECT_EQ(output->releases(), 1);
  // Parameters are read at the frame time.
  for (const Call &c : callsNamed(calls, {"paramGetValueAtTime"})) {
    EXPECT_EQ(c.index, 7) << describeCall(c);
  }
}

TEST_F(RenderHostTest, AsksTheNonStandardDepthNameOnlyWhenTheStandardIsSilent) {
  TestImageSpec spec = floatSpec(kSmall);
  spec.standardDepthName = false;
  spec.nonStandardDepthName = true;
  attach(spec);
  EXPECT_EQ(render(kSmall), kOfxStatOK);
  const auto strings = callsNamed(host.calls(), {"propGetString"});
  ASSERT_EQ(strings.size(), 2u);
  EXPECT_EQ(strings[0].name, "OfxImageEffectPropPixelDepth");
  EXPECT_EQ(strings[1].name, "OfxImagePropPixelDepth");
  EXPECT_EQ(strings[1].value, "OfxBitDepthFloat");
}

// What a row may change before the render: the host's faults, the two
// images (or whether they are attached at all) and the render's arguments.
struct Arrangement {
  TestHost &host;
  TestImageSpec &source, &output;
  bool &attachSource, &attachOutput;
  Host::RenderArgs &args;
};

// How each failure of the host shows: the status, whether pixels were
// written, how many parameters were sampled, and that every fetched image
// was released exactly once.
struct FailureRow {
  const char *what;
  void (*arrange)(Arrangement &arrangement);
  OfxStatus status;
  bool written;
  int paramsSampled;
};

void nothing(Arrangement &) {}

const FailureRow kFailureRows[] = {
    {"all well", nothing, kOfxStatOK, true, 15},
    {"no frame time", [](Arrangement &s) { s.args.sendTime = false; },
     kOfxStatOK, true, 15},
    {"no render window: the source bounds are rendered",
     [](Arrangement &s) { s.args.sendWindow = false; }, kOfxStatOK, true, 15},
    {"missing source image", [](Arrangement &s) { s.attachSource = false; },
     kOfxStatFailed, false, 0},
    {"missing output image", [](Arrangement &s) { s.attachOutput = false; },
     kOfxStatFailed, false, 0},
    {"no source clip handle",
     [](Arrangement &s) {
       s.host.faults.nullHandles.insert("clipGetHandle:Source");
     },
     kOfxStatFailed, false, 0},
    {"clipGetHandle fails for the output",
     [](Arrangement &s) {
       s.host.faults.failing["clipGetHandle:Output"] = kOfxStatErrBadHandle;
     },
     kOfxStatFailed, false, 0},
    {"null source image",
     [](Arrangement &s) {
       s.host.faults.nullHandles.insert("clipGetImage:Source");
     },
     kOfxStatFailed, false, 0},
    {"clipGetImage fails for the output",
     [](Arrangement &s) {
       s.host.faults.failing["clipGetImage:Output"] = kOfxStatFailed;
     },
     kOfxStatFailed, false, 0},
    {"null source data", [](Arrangement &s) { s.source.nullData = true; },
     kOfxStatFailed, false, 15},
    {"null output data", [](Arrangement &s) { s.output.nullData = true; },
     kOfxStatFailed, false, 15},
    {"unanswered data address",
     [](Arrangement &s) {
       s.host.faults.unansweredGets.insert("OfxImagePropData");
     },
     kOfxStatFailed, false, 15},
    {"output rows too short for their pixels",
     [](Arrangement &s) { s.output.rowBytes = 4 * 7; }, kOfxStatFailed, false,
     15},
    {"source rows too short for their pixels",
     [](Arrangement &s) { s.source.rowBytes = 4 * 7; }, kOfxStatFailed, false,
     15},
    {"zero source stride",
     [](Arrangement &s) {
       s.source.rowBytes = 0;
       s.source.rowBytesAsGiven = true;
     },
     kOfxStatFailed, false, 15},
    {"unanswered row strides",
     [](Arrangement &s) {
       s.host.faults.unansweredGets.insert("OfxImagePropRowBytes");
     },
     kOfxStatFailed, false, 15},
    {"unanswered bounds: both images hold nothing",
     [](Arrangement &s) {
       s.host.faults.unansweredGets.insert("OfxImagePropBounds");
     },
     kOfxStatOK, false, 15},
    {"empty render window",
     [](Arrangement &s) {
       s.args.window = {3, 1, 3, 4};
     },
     kOfxStatOK, false, 15},
    {"inverted render window",
     [](Arrangement &s) {
       s.args.window = {6, 3, 2, 1};
     },
     kOfxStatOK, false, 15},
    {"window outside the output",
     [](Arrangement &s) {
       s.args.window = {100, 100, 120, 120};
     },
     kOfxStatOK, false, 15},
    {"no parameter suite",
     [](Arrangement &s) {
       s.host.faults.withheldSuites.insert("OfxParameterSuite");
     },
     kOfxStatOK, true, 0},
    {"null parameter set",
     [](Arrangement &s) { s.host.faults.nullHandles.insert("getParamSet"); },
     kOfxStatOK, true, 0},
    {"one parameter handle refused",
     [](Arrangement &s) {
       s.host.faults.failing["paramGetHandle:Crop185"] = kOfxStatErrUnknown;
     },
     kOfxStatOK, true, 14},
    {"parameter set refused",
     [](Arrangement &s) {
       s.host.faults.failing["getParamSet"] = kOfxStatErrBadHandle;
     },
     kOfxStatOK, true, 0},
    {"every parameter value read fails",
     [](Arrangement &s) {
       s.host.faults.failing["paramGetValueAtTime"] = kOfxStatFailed;
     },
     kOfxStatOK, true, 15},
};

// One render through a fresh module and host: byte images of kSmall
// against guard pages, the source holding a pattern and the output 0xAB,
// the whole image as the window, then whatever `arrange` changes. The call
// log holds the render's calls only.
struct ArrangedRender {
  ArrangedRender(void (*arrange)(Arrangement &), ofxhost::Guard guard) {
    module = loadFreshModule();
    OfxPlugin *plugin = module->plugin(0);
    TestImageSpec sourceSpec = byteSpec(kSmall), outputSpec = byteSpec(kSmall);
    sourceSpec.guard = outputSpec.guard = guard;
    outputSpec.fill = 0xAB;
    bool attachSource = true, attachOutput = true;
    Host::RenderArgs args;
    args.window = kSmall;
    Arrangement arrangement{host,         sourceSpec,   outputSpec,
                            attachSource, attachOutput, args};
    arrange(arrangement);
    Effect *instance = vt::describeFilter(host, plugin);
    instance = host.createInstance(plugin, instance);
    if (attachSource) {
      source = host.attachImage(instance, "Source", sourceSpec);
      fillPattern(*source, 1);
      sourceBefore.assign(source->buffer(),
                          source->buffer() + source->bufferSize());
    }
    if (attachOutput) {
      output = host.attachImage(instance, "Output", outputSpec);
    }
    host.clearCalls();
    status = host.render(plugin, instance, args);
    calls = host.calls();
  }

  std::unique_ptr<ofxhost::Module> module;
  TestHost host;
  std::shared_ptr<Image> source, output; // null when not attached
  std::vector<std::uint8_t> sourceBefore;
  OfxStatus status = kOfxStatOK;
  std::vector<Call> calls;
};

TEST(RenderFailures, EachRowOfTheFailureTable) {
  for (const FailureRow &row : kFailureRows) {
    for (ofxhost::Guard guard : kGuards) {
      SCOPED_TRACE(row.what);
      const ArrangedRender r(row.arrange, guard);
      EXPECT_EQ(r.status, row.status);
      if (r.source) {
        EXPECT_TRUE(std::equal(r.sourceBefore.begin(), r.sourceBefore.end(),
                               r.source->buffer()))
            << "the source was written";
      }
      EXPECT_EQ(
          static_cast<int>(callsNamed(r.calls, {"paramGetValueAtTime"}).size()),
          row.paramsSampled);
      for (const auto &image : {r.source, r.output}) {
        if (image) {
          EXPECT_EQ(image->releases(), image->fetches());
          EXPECT_LE(image->fetches(), 1);
        }
      }
      if (r.output) {
        bool untouched = true;
        for (size_t i = 0; i < r.output->bufferSize(); ++i) {
          untouched = untouched && r.output->buffer()[i] == 0xAB;
        }
        EXPECT_EQ(!untouched, row.written);
      }
    }
  }
}

// ---------------------------------------------------------------- reads

// The properties the render reads of each image, whatever their order.
const std::vector<std::string> kSourceReads = {
    "propGetInt OfxImagePropRowBytes", "propGetIntN OfxImagePropBounds",
    "propGetPointer OfxImagePropData"};
const std::vector<std::string> kOutputReads = {
    "propGetString OfxImageEffectPropPixelDepth",
    "propGetPointer OfxImagePropData", "propGetInt OfxImagePropRowBytes",
    "propGetIntN OfxImagePropBounds"};
const std::vector<std::string> kTimeRead = {"propGetDouble OfxPropTime"};
const std::vector<std::string> kTimeAndWindowReads = {
    "propGetDouble OfxPropTime", "propGetIntN OfxImageEffectPropRenderWindow"};
const std::vector<std::string> kNone = {};

std::vector<std::string> plus(std::vector<std::string> reads,
                              const std::string &more) {
  reads.push_back(more);
  return reads;
}

// Every property read of the calls, as "fn name", sorted, by the label of
// the property set read.
std::map<std::string, std::vector<std::string>>
readsByObject(const std::vector<Call> &calls) {
  std::map<std::string, std::vector<std::string>> reads;
  for (const Call &c : calls) {
    if (c.fn.rfind("propGet", 0) == 0) {
      reads[c.object].push_back(c.fn + ' ' + c.name);
    }
  }
  for (auto &[object, list] : reads) {
    std::sort(list.begin(), list.end());
  }
  return reads;
}

struct ReadsCase {
  const char *what;
  void (*arrange)(Arrangement &arrangement);
  // What is read of each; an image the render does not fetch must be read
  // not at all.
  std::vector<std::string> source, output, inArgs;
  bool sourceFetched, outputFetched;
};

TEST(RenderReads, EachImageIsReadForItsOwnPropertiesOnlyOnceFetched) {
  const ReadsCase cases[] = {
      {"both images", nothing, kSourceReads, kOutputReads, kTimeAndWindowReads,
       true, true},
      {"the output's depth only under the older name",
       [](Arrangement &a) {
         a.output.standardDepthName = false;
         a.output.nonStandardDepthName = true;
       },
       kSourceReads, plus(kOutputReads, "propGetString OfxImagePropPixelDepth"),
       kTimeAndWindowReads, true, true},
      {"null data addresses: read all the same",
       [](Arrangement &a) { a.source.nullData = a.output.nullData = true; },
       kSourceReads, kOutputReads, kTimeAndWindowReads, true, true},
      {"no render window", [](Arrangement &a) { a.args.sendWindow = false; },
       kSourceReads, kOutputReads, kTimeAndWindowReads, true, true},
      {"no source image", [](Arrangement &a) { a.attachSource = false; }, kNone,
       kNone, kTimeRead, false, true},
      {"no output image", [](Arrangement &a) { a.attachOutput = false; }, kNone,
       kNone, kTimeRead, true, false},
      {"the source image handed out as null",
       [](Arrangement &a) {
         a.host.faults.nullHandles.insert("clipGetImage:Source");
       },
       kNone, kNone, kTimeRead, false, true},
      {"the output image refused",
       [](Arrangement &a) {
         a.host.faults.failing["clipGetImage:Output"] = kOfxStatFailed;
       },
       kNone, kNone, kTimeRead, true, false},
  };
  for (const ReadsCase &c : cases) {
    SCOPED_TRACE(c.what);
    const ArrangedRender r(c.arrange, ofxhost::Guard::AtEnd);
    auto reads = readsByObject(r.calls);
    const struct {
      const char *which;
      const std::shared_ptr<Image> &image;
      const std::vector<std::string> &expected;
      bool fetched;
    } images[] = {{"source", r.source, c.source, c.sourceFetched},
                  {"output", r.output, c.output, c.outputFetched}};
    for (const auto &image : images) {
      if (!image.image) {
        continue;
      }
      const std::string &label = image.image->props().label;
      EXPECT_EQ(image.image->fetches(), image.fetched ? 1 : 0)
          << "fetches of the " << image.which << " image";
      std::vector<std::string> expected = image.expected;
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(reads[label], expected)
          << "properties read of the " << image.which << " image"
          << (image.fetched ? "" : ", which the render did not fetch");
      reads.erase(label);
    }
    std::vector<std::string> inArgs = c.inArgs;
    std::sort(inArgs.begin(), inArgs.end());
    EXPECT_EQ(reads["inArgs"], inArgs) << "properties read of inArgs";
    reads.erase("inArgs");
    for (const auto &[object, list] : reads) {
      ADD_FAILURE() << "properties read of " << object
                    << ", which is neither image nor inArgs: "
                    << ::testing::PrintToString(list);
    }
  }
}

TEST(RenderFailures, MissingSuitesAnswerMissingFeatureWithoutCallingTheHost) {
  for (const char *suite : {"OfxPropertySuite", "OfxImageEffectSuite"}) {
    SCOPED_TRACE(suite);
    auto module = loadFreshModule();
    OfxPlugin *plugin = module->plugin(0);
    TestHost host;
    host.bind(plugin);
    Effect *d = host.describeInContext(plugin, kOfxImageEffectContextFilter);
    Effect *instance = host.createInstance(plugin, d);
    auto source = host.attachImage(instance, "Source", byteSpec(kSmall));
    auto output = host.attachImage(instance, "Output", byteSpec(kSmall));
    // Withhold the suite from the plug-in only now, so the instance exists.
    host.faults.withheldSuites = {suite};
    host.bind(plugin);
    host.clearCalls();
    Host::RenderArgs args;
    args.window = kSmall;
    EXPECT_EQ(host.render(plugin, instance, args),
              kOfxStatErrMissingHostFeature);
    for (const Call &c : host.calls()) {
      EXPECT_EQ(c.fn, "action") << describeCall(c);
    }
    EXPECT_EQ(source->fetches(), 0);
  }
}

// The pixel path is observed through what a render of float images leaves
// behind: the float path copies all 16 bytes of each pixel; the 8-bit path
// touches only the first 4 bytes per pixel, so most of each row keeps its
// fill.
enum class Path { Float, Byte, Unsupported };

struct PathCase {
  const char *what;
  const char *depthName; // null: the image answers no depth name
  bool nonStandardName;
  bool topDown;
  long long rowBytes; // 0: 16 bytes a pixel
  Path path;
};

TEST_F(RenderHostTest, PixelPathDecision) {
  const PathCase cases[] = {
      {"float depth", "OfxBitDepthFloat", false, false, 0, Path::Float},
      {"float depth, top-down rows", "OfxBitDepthFloat", false, true, 0,
       Path::Float},
      {"float depth under the old name", "OfxBitDepthFloat", true, true, 0,
       Path::Float},
      {"any name containing Float", "MyFloatDepth", false, true, 0,
       Path::Float},
      {"lower-case float is not it", "float", false, true, 0,
       Path::Unsupported},
      {"byte depth, rows of 16 bytes a pixel", "OfxBitDepthByte", false, false,
       0, Path::Byte},
      {"any other depth name, rows of 16 bytes a pixel", "OfxBitDepthHalf",
       false, false, 0, Path::Unsupported},
      {"no depth, rows of 16 bytes a pixel", nullptr, false, false, 0,
       Path::Float},
      {"no depth, top-down rows", nullptr, false, true, 0, Path::Byte},
      {"no depth, 15 bytes a pixel", nullptr, false, false, 15 * 8, Path::Byte},
      {"byte depth, top-down rows", "OfxBitDepthByte", false, true, 0,
       Path::Byte},
  };
  for (const PathCase &c : cases) {
    SCOPED_TRACE(c.what);
    TestImageSpec spec = floatSpec(kSmall);
    spec.standardDepthName = false;
    spec.topDown = c.topDown;
    spec.rowBytes = c.rowBytes;
    attach(spec);
    fillPattern(*source, 3);
    if (c.depthName) {
      // Override the answered depth with the case's name.
      const char *name = c.nonStandardName ? "OfxImagePropPixelDepth"
                                           : "OfxImageEffectPropPixelDepth";
      output->props().setString(name, {c.depthName});
    }
    ASSERT_EQ(render(kSmall), c.path == Path::Unsupported
                                  ? kOfxStatErrUnsupported
                                  : kOfxStatOK);
    for (int y = kSmall.y1; y < kSmall.y2; ++y) {
      const auto *in =
          reinterpret_cast<const std::uint8_t *>(source->floatAt(0, y));
      const auto *out =
          reinterpret_cast<const std::uint8_t *>(output->floatAt(0, y));
      if (c.path == Path::Unsupported) {
        for (int i = 0; i < 16 * 8; ++i) {
          ASSERT_EQ(out[i], 0) << "row " << y << " byte " << i;
        }
        continue;
      }
      const int copied = c.path == Path::Float ? 16 * 8 : 4 * 8;
      EXPECT_EQ(std::memcmp(in, out, copied), 0) << "row " << y;
      if (c.path == Path::Byte) {
        const int rowLength = c.rowBytes ? static_cast<int>(c.rowBytes) : 128;
        for (int i = copied; i < rowLength; ++i) {
          ASSERT_EQ(out[i], 0) << "row " << y << " byte " << i;
        }
      }
    }
  }
}

TEST_F(RenderHostTest, ZeroWidthSourceNeverTriggersTheStrideTest) {
  TestImageSpec sourceSpec = byteSpec({5, 0, 5, 4});
  sourceSpec.rowBytes = 64;
  TestImageSpec outputSpec = byteSpec(kSmall);
  outputSpec.fill = 0x77;
  outputSpec.standardDepthName = false;
  attach(sourceSpec, outputSpec);
  // Byte path: the window reads transparent black, which the 8-bit path
  // writes as four zero bytes a pixel (the float path would be refused).
  ASSERT_EQ(render({0, 1, 8, 2}), kOfxStatOK);
  for (int x = 0; x < 8; ++x) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(output->byteAt(x, 1)[c], 0);
      EXPECT_EQ(output->byteAt(x, 0)[c], 0x77);
    }
  }
}

} // namespace
} // namespace vt
