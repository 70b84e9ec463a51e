// Drives the render action through the host library with everything a host
// controls taken from the fuzz input: the suites it supplies, the calls it
// fails or leaves unanswered, the handles it withholds, the frame time, the
// render window, the parameter values, and for each image its presence,
// bounds, row stride, depth names and data address. Images sit between
// guard pages, so any read or write outside them faults.
//
// What a host may hand over, and so what is fuzzed as legitimate:
// - Bounds, row strides and windows of any value, negative, inverted,
//   empty or huge, as long as the image's memory covers what its bounds and
//   stride describe: |rowBytes| x (height - 1) + width x pixel size bytes.
//   Memory is capped (kMaxSpan); an image that would need more is only
//   described when its rows cannot hold even a 4-byte pixel
//   (|rowBytes| < 4 x width), which the plug-in must refuse before touching
//   memory; its memory is then a small stand-in. Other images above the cap
//   make the input uninteresting.
// - Both images have one real pixel size (the effect does not declare
//   multiple clip depths). Whichever depth name the output answers decides
//   it: a name containing "Float" means 16-byte pixels, any other name
//   4-byte pixels (a name other than "OfxBitDepthByte" is refused before
//   any pixel is touched), and no name at all (an empty string names none)
//   gets 16-byte memory, since the plug-in may then choose either path
//   from the stride.
// - Any frame time, parameter value (NaN, infinities, out of range) or
//   boolean integer; any subset of calls failed, answered with a null
//   handle or left unanswered; any suite withheld.
// Not fuzzed, because no host does it: handles that point at garbage, a
// depth name that lies about the memory, and bounds or strides that
// describe memory that is not there (beyond the one refused case above).
//
// After each render the target checks that every fetched image was
// released exactly once, that the source is unchanged, and that the output
// changed only inside the clipped render window, and not at all unless the
// render answered kOfxStatOK.
#include "ofx_host.h"
#include "ofx_host_testing.h"
#include "ofx_names.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace ofxhost;

constexpr std::size_t kMaxSpan = 1 << 18;

[[noreturn]] void fail(const char *what) {
  std::fprintf(stderr, "render fuzzer: %s\n", what);
  std::abort();
}

const char *const kSuites[] = {kOfxPropertySuite, kOfxImageEffectSuite,
                               kOfxParameterSuite};

const char *const kUnanswerable[] = {kOfxPropTime,
                                     "OfxImageEffectPropPixelDepth",
                                     "OfxImagePropPixelDepth",
                                     "OfxImagePropRowBytes",
                                     "OfxImagePropBounds",
                                     "OfxImagePropData",
                                     "OfxImageEffectPropRenderWindow"};

// Calls the host can fail or answer with a null handle. Releases are left
// alone so that the release count stays the plug-in's to keep.
const char *const kFallible[] = {"clipGetHandle:Source", "clipGetHandle:Output",
                                 "clipGetImage:Source",  "clipGetImage:Output",
                                 "getParamSet",          "paramGetHandle",
                                 "paramGetValueAtTime"};

// One loaded module, one host and one described instance for the whole run.
struct Rig {
  std::unique_ptr<Module> module;
  OfxPlugin *plugin = nullptr;
  TestHost host;
  Effect *instance = nullptr;
  std::vector<Param *> params;  // the instance's values, groups left out
  std::vector<double> defaults; // per parameter, as created
};

Rig &rig() {
  static Rig *r = [] {
    auto *made = new Rig;
    std::string error;
    made->module = Module::load(VANTOREL_BUNDLE_DIR, &error);
    if (!made->module)
      fail(error.c_str());
    made->plugin = made->module->plugin(0);
    made->host.logging = false;
    made->host.bind(made->plugin);
    made->host.action(made->plugin, kOfxActionLoad, nullptr);
    made->host.describe(made->plugin);
    Effect *d = made->host.describeInContext(made->plugin,
                                             kOfxImageEffectContextFilter);
    made->instance = made->host.createInstance(made->plugin, d);
    for (const auto &p : made->instance->params.params) {
      if (p->type == "OfxParamTypeGroup")
        continue;
      made->params.push_back(p.get());
      made->defaults.push_back(p->type == "OfxParamTypeDouble" ? p->doubleValue
                                                               : p->intValue);
    }
    if (made->params.empty())
      fail("no parameters after description");
    return made;
  }();
  return *r;
}

int32_t coordinate(FuzzedDataProvider &in) {
  static const int32_t special[] = {0,
                                    1,
                                    -1,
                                    2,
                                    7,
                                    -7,
                                    64,
                                    1000,
                                    std::numeric_limits<int32_t>::max(),
                                    std::numeric_limits<int32_t>::min(),
                                    std::numeric_limits<int32_t>::max() - 5,
                                    std::numeric_limits<int32_t>::min() + 5,
                                    1 << 30,
                                    -(1 << 30)};
  switch (in.ConsumeIntegralInRange(0, 3)) {
  case 0:
    return in.ConsumeIntegralInRange<int32_t>(-40, 40);
  case 1:
    return in.PickValueInArray(special);
  default:
    return in.ConsumeIntegral<int32_t>();
  }
}

double number(FuzzedDataProvider &in) {
  static const double special[] = {0.0,
                                   -0.0,
                                   0.5,
                                   1.0,
                                   0.99,
                                   0.995,
                                   0.1,
                                   15.0,
                                   30.0,
                                   100.0,
                                   -1.0,
                                   1e300,
                                   -1e300,
                                   4e9,
                                   std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN()};
  if (in.ConsumeBool())
    return in.PickValueInArray(special);
  const uint64_t bits = in.ConsumeIntegral<uint64_t>();
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A depth name: none, the two the effect declares, or any string.
std::optional<std::string> depthName(FuzzedDataProvider &in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
  case 0:
    return std::nullopt;
  case 1:
    return std::string(kOfxBitDepthByte);
  case 2:
    return std::string(kOfxBitDepthFloat);
  default: // the host hands over a C string: up to the first NUL
    return std::string(in.ConsumeRandomLengthString(24).c_str());
  }
}

struct ImagePlan {
  bool present = true;
  OfxRectI bounds{0, 0, 0, 0};
  long long rowBytes = 0;
  bool nullData = false;
  Guard guard = Guard::AtEnd;
  uint8_t fill = 0;
};

long long rowBytesFor(FuzzedDataProvider &in, const OfxRectI &b, int px) {
  const long long row = px * ((long long)b.x2 - b.x1);
  switch (in.ConsumeIntegralInRange(0, 5)) {
  case 0:
    return row;
  case 1:
    return -row;
  case 2:
    return row + in.ConsumeIntegralInRange(1, 64);
  case 3:
    return -row - in.ConsumeIntegralInRange(1, 64);
  case 4:
    return row - in.ConsumeIntegralInRange(1, 64); // too small
  default:
    return in.ConsumeIntegral<int32_t>();
  }
}

ImagePlan planImage(FuzzedDataProvider &in, int px) {
  ImagePlan plan;
  plan.present = in.ConsumeIntegralInRange(0, 15) != 0;
  plan.bounds = {coordinate(in), coordinate(in), coordinate(in),
                 coordinate(in)};
  if (in.ConsumeBool()) { // a small extent at any offset
    plan.bounds.x2 = (int32_t)std::min<long long>(
        (long long)plan.bounds.x1 + in.ConsumeIntegralInRange(0, 24),
        std::numeric_limits<int32_t>::max());
    plan.bounds.y2 = (int32_t)std::min<long long>(
        (long long)plan.bounds.y1 + in.ConsumeIntegralInRange(0, 24),
        std::numeric_limits<int32_t>::max());
  }
  const long long stride = rowBytesFor(in, plan.bounds, px);
  plan.rowBytes = std::max<long long>(std::numeric_limits<int32_t>::min(),
                                      std::min<long long>(stride, INT32_MAX));
  plan.nullData = in.ConsumeIntegralInRange(0, 15) == 0;
  plan.guard = in.ConsumeBool() ? Guard::AtEnd : Guard::AtStart;
  plan.fill = in.ConsumeIntegral<uint8_t>();
  return plan;
}

long long widthOf(const OfxRectI &b) { return (long long)b.x2 - b.x1; }
long long heightOf(const OfxRectI &b) { return (long long)b.y2 - b.y1; }

// The image the host hands over for `plan`, or null when it would need more
// memory than the cap allows.
std::shared_ptr<Image> makeImage(TestHost &host, const ImagePlan &plan, int px,
                                 const std::optional<std::string> &standard,
                                 const std::optional<std::string> &other) {
  TestImageSpec spec;
  spec.depth = px == 16 ? Depth::Float : Depth::Byte;
  spec.bounds = plan.bounds;
  spec.rowBytes = plan.rowBytes;
  spec.rowBytesAsGiven = true;
  spec.nullData = plan.nullData;
  spec.guard = plan.guard;
  spec.fill = plan.fill;
  spec.standardDepthName = false;
  const long long w = widthOf(plan.bounds), h = heightOf(plan.bounds);
  const long long stride = plan.rowBytes < 0 ? -plan.rowBytes : plan.rowBytes;
  const bool refusable = w > 0 && h > 0 && stride < 4 * w;
  std::shared_ptr<Image> image;
  if (Image::spanOf(spec, plan.rowBytes) <= kMaxSpan) {
    image = std::make_shared<Image>(&host, spec, "image");
  } else if (refusable) {
    TestImageSpec standIn = spec;
    standIn.bounds = {0, 0, 1, 1};
    image = std::make_shared<Image>(&host, standIn, "image");
    image->props().setInt(
        "OfxImagePropBounds",
        {plan.bounds.x1, plan.bounds.y1, plan.bounds.x2, plan.bounds.y2});
  } else {
    return nullptr;
  }
  if (standard)
    image->props().setString("OfxImageEffectPropPixelDepth", {*standard});
  if (other)
    image->props().setString("OfxImagePropPixelDepth", {*other});
  return image;
}

bool isFloatName(const std::optional<std::string> &depth) {
  return depth && depth->find("Float") != std::string::npos;
}

// A named depth the effect never declared: the render refuses it.
bool isUndeclared(const std::optional<std::string> &depth) {
  return depth && !isFloatName(depth) && *depth != kOfxBitDepthByte;
}

struct Expectation {
  OfxRectI sourceBounds{0, 0, 0, 0};
  long long sourceRowBytes = 0;
  OfxRectI outputBounds{0, 0, 0, 0};
  OfxRectI window{0, 0, 0, 0};
  std::optional<std::string> depth; // the output's depth as the plug-in sees it
  std::uint8_t outputFill = 0;      // every output byte before the render
};

OfxRectI intersect(const OfxRectI &a, const OfxRectI &b) {
  return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
          std::min(a.y2, b.y2)};
}

void print(const char *what, const OfxRectI &r) {
  std::fprintf(stderr, "  %s %d,%d,%d,%d\n", what, r.x1, r.y1, r.x2, r.y2);
}

void print(const Expectation &e, const Image &output) {
  print("source bounds", e.sourceBounds);
  std::fprintf(stderr, "  source rowBytes %lld\n", e.sourceRowBytes);
  print("output bounds", e.outputBounds);
  std::fprintf(stderr, "  output rowBytes %lld, %zu bytes\n", output.rowBytes(),
               output.bufferSize());
  print("window", e.window);
  std::fprintf(stderr, "  depth %s\n", e.depth ? e.depth->c_str() : "(none)");
}

// The checks walk every byte; left out of the coverage the fuzzer steers
// by, which they would only slow down.
#define NOT_STEERING __attribute__((no_sanitize("coverage")))

// Every byte of the output outside the pixels of the clipped window still
// holds the fill.
NOT_STEERING void checkOutputWrites(const Image &output, const Expectation &e) {
  int px = 4;
  if (e.depth)
    px = isFloatName(e.depth) ? 16 : 4;
  else if (widthOf(e.sourceBounds) > 0 &&
           e.sourceRowBytes >= 16 * widthOf(e.sourceBounds))
    px = 16;
  std::vector<uint8_t> mayChange(output.bufferSize(), 0);
  const OfxRectI drawn = intersect(e.window, e.outputBounds);
  const std::uint8_t *start = output.buffer();
  for (long long y = drawn.y1; drawn.x1 < drawn.x2 && y < drawn.y2; ++y) {
    const std::uint8_t *row = output.byteAt(e.outputBounds.x1, (int)y);
    const long long from =
        (row - start) + ((long long)drawn.x1 - e.outputBounds.x1) * px;
    const long long to = from + widthOf(drawn) * px;
    if (from < 0 || to > (long long)output.bufferSize()) {
      print(e, output);
      fail("a written pixel lies outside the output image");
    }
    std::memset(mayChange.data() + from, 1, (std::size_t)(to - from));
  }
  for (std::size_t i = 0; i < output.bufferSize(); ++i)
    if (!mayChange[i] && start[i] != e.outputFill) {
      print(e, output);
      fail("output written outside the render window");
    }
}

NOT_STEERING void checkUntouched(const Image &image, std::uint8_t fill) {
  for (std::size_t i = 0; i < image.bufferSize(); ++i)
    if (image.buffer()[i] != fill)
      fail("image written where nothing should be");
}

void checkReleased(const std::shared_ptr<Image> &image) {
  if (image && (image->fetches() > 1 || image->releases() != image->fetches()))
    fail("a fetched image was not released exactly once");
}

void setFaults(FuzzedDataProvider &in, const Rig &r, Faults &faults) {
  faults = Faults{};
  for (const char *suite : kSuites)
    if (in.ConsumeIntegralInRange(0, 15) == 0)
      faults.withheldSuites.insert(suite);
  faults.nullFetchSuite = in.ConsumeIntegralInRange(0, 31) == 0;
  const auto unanswered = in.ConsumeIntegral<uint8_t>();
  for (std::size_t i = 0; i < std::size(kUnanswerable); ++i)
    if (unanswered & (1u << i) && in.ConsumeBool())
      faults.unansweredGets.insert(kUnanswerable[i]);
  const auto failing = in.ConsumeIntegral<uint8_t>();
  const auto nulls = in.ConsumeIntegral<uint8_t>();
  for (std::size_t i = 0; i < std::size(kFallible); ++i) {
    if (failing & (1u << i) && in.ConsumeBool())
      faults.failing[kFallible[i]] = in.ConsumeIntegralInRange(1, 14);
    if (nulls & (1u << i) && in.ConsumeBool())
      faults.nullHandles.insert(kFallible[i]);
  }
  if (in.ConsumeIntegralInRange(0, 3) == 0) {
    const std::string one =
        "paramGetHandle:" +
        r.params[in.ConsumeIntegralInRange<std::size_t>(0, r.params.size() - 1)]
            ->name;
    if (in.ConsumeBool())
      faults.failing[one] = kOfxStatErrUnknown;
    else
      faults.nullHandles.insert(one);
  }
}

void setParams(FuzzedDataProvider &in, Rig &r) {
  for (std::size_t i = 0; i < r.params.size(); ++i) {
    Param *p = r.params[i];
    const bool fuzzed = in.ConsumeBool();
    if (p->type == "OfxParamTypeDouble")
      p->doubleValue = fuzzed ? number(in) : r.defaults[i];
    else
      p->intValue = fuzzed ? in.ConsumeIntegral<int32_t>() : 0;
  }
}

// The suites the plug-in holds are reset on every input: bound first to a
// host that supplies none, then to this input's host, unless it hands over
// no fetchSuite at all.
void rebind(Rig &r) {
  static TestHost *empty = [] {
    auto *h = new TestHost;
    h->logging = false;
    h->faults.withheldSuites = {kSuites[0], kSuites[1], kSuites[2]};
    return h;
  }();
  empty->bind(r.plugin);
  r.host.bind(r.plugin);
}

bool answered(const Faults &faults, const char *name) {
  return !faults.unansweredGets.count(name);
}

// The output's depth name as the plug-in gets it: the standard name
// first, the other only when the standard one gives no string or an empty
// one.
std::optional<std::string> depthSeen(const Faults &faults,
                                     const std::optional<std::string> &standard,
                                     const std::optional<std::string> &other) {
  if (standard && !standard->empty() &&
      answered(faults, "OfxImageEffectPropPixelDepth"))
    return standard;
  if (other && !other->empty() && answered(faults, "OfxImagePropPixelDepth"))
    return other;
  return std::nullopt;
}

bool suitesMissing(const Faults &faults) {
  return faults.nullFetchSuite || faults.withheldSuites.count(kSuites[0]) ||
         faults.withheldSuites.count(kSuites[1]);
}

// What the host hands over, for reading a reproduction.
void printRun(const std::shared_ptr<Image> &source,
              const std::shared_ptr<Image> &output,
              const Host::RenderArgs &args,
              const std::optional<std::string> &depth) {
  for (const auto *image : {source.get(), output.get()}) {
    if (!image) {
      std::fprintf(stderr, "  no image\n");
      continue;
    }
    const PropertySet &p = const_cast<Image *>(image)->props();
    std::fprintf(
        stderr, "  image bounds %d,%d,%d,%d rowBytes %d memory %zu bytes%s\n",
        p.getInt("OfxImagePropBounds", 0), p.getInt("OfxImagePropBounds", 1),
        p.getInt("OfxImagePropBounds", 2), p.getInt("OfxImagePropBounds", 3),
        p.getInt("OfxImagePropRowBytes"), image->bufferSize(),
        image->data() ? "" : " (null data)");
  }
  print("window", args.window);
  std::fprintf(stderr, "  depth %s\n", depth ? depth->c_str() : "(none)");
}

// Frees what this run allocated, so that libFuzzer's leak check (run
// whenever mallocs and frees differ) stays quiet unless something leaks.
void endRun(Rig &r) {
  r.host.faults = Faults{};
  r.host.clearCalls();
  r.instance->clip("Source")->image.reset();
  r.instance->clip("Output")->image.reset();
}

} // namespace

// Loads the module before the first input, so that libFuzzer counts its
// coverage from the start.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  rig();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  Rig &r = rig();
  setFaults(in, r, r.host.faults);
  r.host.logging = in.ConsumeIntegralInRange(0, 7) == 0;
  rebind(r);
  setParams(in, r);

  const auto standard = depthName(in);
  const auto other = depthName(in);
  const auto seen = depthSeen(r.host.faults, standard, other);
  const int px = !seen || isFloatName(seen) ? 16 : 4;
  const ImagePlan sourcePlan = planImage(in, px);
  const ImagePlan outputPlan = planImage(in, px);

  Host::RenderArgs args;
  args.sendTime = in.ConsumeIntegralInRange(0, 7) != 0;
  args.time = number(in);
  args.sendWindow = in.ConsumeIntegralInRange(0, 7) != 0;
  args.window = {coordinate(in), coordinate(in), coordinate(in),
                 coordinate(in)};

  std::shared_ptr<Image> source, output;
  if ((sourcePlan.present &&
       !(source = makeImage(r.host, sourcePlan, px, standard, other))) ||
      (outputPlan.present &&
       !(output = makeImage(r.host, outputPlan, px, standard, other)))) {
    endRun(r);
    return -1;
  }
  r.instance->clip("Source")->image = source;
  r.instance->clip("Output")->image = output;

  if (std::getenv("VANTOREL_FUZZ_VERBOSE"))
    printRun(source, output, args, seen);
  const OfxStatus status = r.host.render(r.plugin, r.instance, args);
  const Faults faults = r.host.faults;
  endRun(r);

  if (suitesMissing(faults) != (status == kOfxStatErrMissingHostFeature))
    fail("a missing suite must be reported, and only then");
  if (status != kOfxStatOK && status != kOfxStatFailed &&
      status != kOfxStatErrMissingHostFeature &&
      status != kOfxStatErrUnsupported)
    fail("unexpected status");
  if ((status == kOfxStatErrUnsupported) !=
      (isUndeclared(seen) && !suitesMissing(faults) && source &&
       source->fetches() && output && output->fetches()))
    fail("an undeclared depth must be refused, and only it");
  checkReleased(source);
  checkReleased(output);
  if (source)
    checkUntouched(*source, sourcePlan.fill);
  if (output && status != kOfxStatOK)
    checkUntouched(*output, outputPlan.fill);
  if (output && status == kOfxStatOK) {
    const Faults &f = faults;
    const bool bounds = answered(f, "OfxImagePropBounds");
    Expectation e;
    e.sourceBounds = bounds ? sourcePlan.bounds : OfxRectI{0, 0, 0, 0};
    e.sourceRowBytes =
        answered(f, "OfxImagePropRowBytes") ? sourcePlan.rowBytes : 0;
    e.outputBounds = bounds ? outputPlan.bounds : OfxRectI{0, 0, 0, 0};
    e.window = args.sendWindow && answered(f, "OfxImageEffectPropRenderWindow")
                   ? args.window
                   : e.sourceBounds;
    e.depth = seen;
    e.outputFill = outputPlan.fill;
    checkOutputWrites(*output, e);
  }
  return 0;
}
