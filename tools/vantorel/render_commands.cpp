// vantorel render, chart and gallery: pictures through the plug-in.
#include "chart.h"
#include "commands.h"
#include "gallery.h"
#include "image_io.h"
#include "progress.h"
#include "sequence.h"
#include "sequence_render.h"
#include "session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace vantorel {

namespace {

// Switches every aid on when asked, then applies the --set options. False
// with *error at the first setting refused.
bool applySettings(Session &session, const ParsedArgs &args, bool everyAid,
                   std::string *error) {
  if (everyAid)
    for (const Setting &setting : everyAidOn(session.params()))
      session.set(setting);
  return session.setAll(args.values("--set"), error);
}

// "--depth", when given.
bool depthOption(const ParsedArgs &args, std::optional<Depth> *depth,
                 std::string *error) {
  if (!args.has("--depth"))
    return true;
  Depth parsed = Depth::Byte;
  if (!parseDepth(args.value("--depth"), &parsed, error))
    return false;
  *depth = parsed;
  return true;
}

const int kMostJobs = 64;

bool renderOptions(const ParsedArgs &args, RenderOptions *options,
                   std::string *error) {
  if (!depthOption(args, &options->depth, error))
    return false;
  if (args.has("--out-type")) {
    PixelType type;
    if (!parsePixelType(args.value("--out-type"), &type, error))
      return false;
    options->outType = type;
  }
  options->comparePixels = args.has("--verify");
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  options->jobs = std::clamp(cores, 1, kMostJobs);
  if (!args.has("--jobs"))
    return true;
  const std::string text = args.value("--jobs");
  const bool digits = !text.empty() && text.size() <= 2 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  options->jobs = digits ? std::atoi(text.c_str()) : 0;
  if (options->jobs < 1 || options->jobs > kMostJobs) {
    *error = "--jobs takes a whole number from 1 to " +
             std::to_string(kMostJobs) + " (not '" + text + "')";
    return false;
  }
  return true;
}

void warnIfMoreImages(const std::string &path, const ImageHeader &header) {
  if (header.moreImages)
    std::fprintf(stderr,
                 "vantorel: warning: '%s' holds more than one image (pages "
                 "or animation frames); only the first is rendered\n",
                 path.c_str());
}

// What must match the first frame in every frame of a sequence: the shape
// and the data window's origin.
std::string frameShapeOf(const ImageHeader &header) {
  const OIIO::ImageSpec &spec = header.spec;
  std::string shape = shapeOf(spec);
  if (spec.x || spec.y)
    shape.insert(shape.find(','), " at (" + std::to_string(spec.x) + ", " +
                                      std::to_string(spec.y) + ")");
  return shape;
}

// Reads the header of every input before anything is rendered: each
// exists, opens, has a channel count vantorel takes, and has the size,
// channels and pixel type of the first.
bool checkInputs(const FramePlan &plan, std::string *error) {
  std::string firstShape;
  for (long long i = 0; i < plan.count(); ++i) {
    const FrameJob job = plan.job(i);
    ImageHeader header;
    if (!readHeader(job.in, &header, error))
      return false;
    const std::string shape = frameShapeOf(header);
    if (i == 0) {
      firstShape = shape;
      warnIfMoreImages(job.in, header);
    } else if (shape != firstShape) {
      *error = "frame " + std::to_string(job.time) + " ('" + job.in + "') is " +
               shape + ", unlike frame " + std::to_string(plan.first) + " (" +
               firstShape + "); every frame of a sequence must match the first";
      return false;
    }
  }
  return true;
}

} // namespace

int runRender(const ParsedArgs &args) {
  if (args.positional.size() != 2)
    return usageError("render", "render takes an input and an output file");
  RenderOptions options;
  FramePlan plan;
  std::string error;
  if (!renderOptions(args, &options, &error) ||
      !planFrames(args.positional[0], args.positional[1],
                  args.value("--frames"), &plan, &error))
    return usageError("render", error);
  std::unique_ptr<Session> session =
      Session::open(args.value("--bundle"), &error);
  if (!session)
    return fail(error);
  if (!applySettings(*session, args, false, &error))
    return usageError("render", error);
  if (!checkWritable(plan.job(0).out, &error) || !checkInputs(plan, &error))
    return fail(error);
  Progress progress(plan.count(), stderr, isatty(fileno(stderr)),
                    session->bundle());
  if (!renderFrames(*session, plan, options, progress, &error)) {
    progress.abandon();
    return fail(error);
  }
  progress.finish();
  return kExitOk;
}

int runChart(const ParsedArgs &args) {
  if (args.positional.size() != 1)
    return usageError("chart", "chart takes one output file");
  const std::string &out = args.positional[0];
  int width = 0, height = 0;
  std::optional<Depth> depth;
  std::string error;
  if (!parseSize(args.value("--size", "1280x720"), &width, &height, &error) ||
      !depthOption(args, &depth, &error))
    return usageError("chart", error);
  std::unique_ptr<Session> session =
      Session::open(args.value("--bundle"), &error);
  if (!session)
    return fail(error);
  if (!applySettings(*session, args, true, &error))
    return usageError("chart", error);
  if (!checkWritable(out, &error))
    return fail(error);
  Frame frame = makeChart(width, height, depth.value_or(naturalDepthFor(out)));
  if (!session->render(frame, 0.0, &error) ||
      !writeImage(out, frame, {}, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

int runGallery(const ParsedArgs &args) {
  if (args.positional.size() != 1)
    return usageError("gallery", "gallery takes one output file");
  const std::string &out = args.positional[0];
  int width = 0, height = 0;
  std::string error;
  if (!parseSize(args.value("--size", "310x174"), &width, &height, &error))
    return usageError("gallery", error);
  std::unique_ptr<Session> session =
      Session::open(args.value("--bundle"), &error);
  if (!session)
    return fail(error);
  Frame sheet;
  if (!checkWritable(out, &error) ||
      !makeGallery(*session, width, height, &sheet, &error) ||
      !writeImage(out, sheet, {}, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

} // namespace vantorel
