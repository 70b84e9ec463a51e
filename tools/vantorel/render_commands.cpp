// vantorel render, chart and gallery: pictures through the plug-in.
#include "chart.h"
#include "commands.h"
#include "gallery.h"
#include "image_io.h"
#include "library_messages.h"
#include "progress.h"
#include "sequence.h"
#include "session.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace vantorel {

namespace {

// Opens the plug-in, switches every aid on when asked, then applies the
// --set options. On failure prints the error and answers the exit code in
// *exitCode.
std::unique_ptr<Session> openSession(const char *command,
                                     const ParsedArgs &args, bool everyAid,
                                     int *exitCode) {
  std::string error;
  std::unique_ptr<Session> session =
      Session::open(args.value("--bundle"), &error);
  if (!session) {
    *exitCode = fail(error);
    return nullptr;
  }
  if (everyAid)
    for (const Setting &setting : everyAidOn(session->params()))
      session->set(setting);
  if (!session->setAll(args.values("--set"), &error)) {
    *exitCode = usageError(command, error);
    return nullptr;
  }
  return session;
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

// How render reads, writes and spreads its frames.
struct RenderOptions {
  std::optional<Depth> depth;
  std::optional<PixelType> outType;
  int jobs = 1;
};

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
    std::fprintf(toolMessages(),
                 "vantorel: warning: '%s' holds more than one image (pages "
                 "or animation frames); only the first is rendered\n",
                 path.c_str());
}

// What must match the first frame in every frame of a sequence.
std::string shapeOf(const ImageHeader &header) {
  const OIIO::ImageSpec &spec = header.spec;
  std::string shape =
      std::to_string(spec.width) + "x" + std::to_string(spec.height);
  if (spec.x || spec.y)
    shape +=
        " at (" + std::to_string(spec.x) + ", " + std::to_string(spec.y) + ")";
  return shape + ", " + std::to_string(spec.nchannels) + " channel" +
         (spec.nchannels == 1 ? "" : "s") + ", " + pixelTypeOf(spec).name();
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
    const std::string shape = shapeOf(header);
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

// Renders the frames of a plan with `jobs` frames in flight: each worker
// reads, renders (one frame at a time through the plug-in) and encodes its
// frame in memory, then waits for its turn to write it to the disk and
// rename it into place, so that frames reach the disk in order and those
// there are always a complete run from the first.
class SequenceRender {
public:
  SequenceRender(Session &session, const FramePlan &plan,
                 const RenderOptions &options, Progress &progress)
      : session_(session), plan_(plan), options_(options), progress_(progress) {
  }

  // False with *error when a frame failed; the frames before it are
  // written.
  bool run(std::string *error) {
    const int workers =
        static_cast<int>(std::min<long long>(options_.jobs, plan_.count()));
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
      threads.emplace_back([this] { work(); });
    work();
    for (std::thread &thread : threads)
      thread.join();
    if (!failed_)
      return true;
    *error = error_;
    if (plan_.inPattern.present)
      *error += committed_ == 0
                    ? "; no frame was written"
                    : "; frames " + std::to_string(plan_.first) + "-" +
                          std::to_string(plan_.first + committed_ - 1) +
                          " were written and are complete";
    return false;
  }

private:
  void work() {
    for (;;) {
      long long index = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || next_ >= plan_.count())
          return;
        index = next_++;
      }
      std::string error;
      Frame frame;
      std::unique_ptr<EncodedImage> file;
      try {
        file = renderOne(plan_.job(index), &frame, &error);
      } catch (const std::bad_alloc &) {
        error = "out of memory (is the picture too large?)";
      } catch (const std::exception &e) {
        error = e.what();
      }
      std::unique_lock<std::mutex> lock(mutex_);
      turn_.wait(lock, [&] { return failed_ || committed_ == index; });
      if (failed_)
        return; // `file` removes its temporary file as it goes
      if (!file || !file->place(&error)) {
        failed_ = true;
        error_ = error;
      } else {
        ++committed_;
        progress_.frameDone(frame);
      }
      turn_.notify_all();
    }
  }

  // Reads, renders and encodes one frame; *frame keeps its size and depth.
  std::unique_ptr<EncodedImage> renderOne(const FrameJob &job, Frame *frame,
                                          std::string *error) {
    ImageHeader header;
    if (!readImage(job.in, options_.depth, frame, &header, error))
      return nullptr;
    {
      std::lock_guard<std::mutex> lock(renderMutex_);
      if (!session_.render(*frame, job.time, error))
        return nullptr;
    }
    auto file =
        encodeImage(job.out, *frame, {options_.outType, &header}, error);
    std::vector<std::uint8_t>().swap(frame->bytes);
    std::vector<float>().swap(frame->floats);
    return file;
  }

  Session &session_;
  const FramePlan &plan_;
  const RenderOptions &options_;
  Progress &progress_;
  std::mutex mutex_, renderMutex_;
  std::condition_variable turn_;
  long long next_ = 0, committed_ = 0;
  bool failed_ = false;
  std::string error_;
};

// Renders the chart under the session's settings and writes it at `out`.
int writeChart(Session &session, const std::string &out, int width, int height,
               Depth depth) {
  std::string error;
  Frame frame = makeChart(width, height, depth);
  if (!session.render(frame, 0.0, &error) ||
      !writeImage(out, frame, {}, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

} // namespace

bool renderFile(Session &session, const FrameJob &job,
                const std::optional<Depth> &depth, Frame *frame,
                std::string *error) {
  ImageHeader header;
  return readImage(job.in, depth, frame, &header, error) &&
         session.render(*frame, job.time, error) &&
         writeImage(job.out, *frame, {std::nullopt, &header}, error);
}

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
  int exitCode = kExitOk;
  std::unique_ptr<Session> session =
      openSession("render", args, false, &exitCode);
  if (!session)
    return exitCode;
  if (!checkWritable(plan.job(0).out, &error) || !checkInputs(plan, &error))
    return fail(error);
  Progress progress(plan.count(), toolMessages(),
                    isatty(fileno(toolMessages())), session->bundle());
  SequenceRender render(*session, plan, options, progress);
  if (!render.run(&error)) {
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
  int exitCode = kExitOk;
  std::unique_ptr<Session> session =
      openSession("chart", args, true, &exitCode);
  if (!session)
    return exitCode;
  if (!checkWritable(out, &error))
    return fail(error);
  return writeChart(*session, out, width, height,
                    depth.value_or(naturalDepthFor(out)));
}

int runGallery(const ParsedArgs &args) {
  if (args.positional.size() != 1)
    return usageError("gallery", "gallery takes one output file");
  const std::string &out = args.positional[0];
  int width = 0, height = 0;
  std::string error;
  if (!parseSize(args.value("--size", "310x174"), &width, &height, &error))
    return usageError("gallery", error);
  int exitCode = kExitOk;
  std::unique_ptr<Session> session =
      openSession("gallery", args, false, &exitCode);
  if (!session)
    return exitCode;
  Frame sheet;
  if (!checkWritable(out, &error) ||
      !makeGallery(*session, width, height, &sheet, &error) ||
      !writeImage(out, sheet, {}, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

} // namespace vantorel
