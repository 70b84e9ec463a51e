// vantorel render, chart and gallery: pictures through the plug-in.
#include "chart.h"
#include "commands.h"
#include "gallery.h"
#include "image_io.h"
#include "progress.h"
#include "sequence.h"
#include "session.h"

#include <cstdio>
#include <filesystem>
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

// The inputs of `jobs` that do not exist, as one message.
bool allInputsExist(const std::vector<FrameJob> &jobs, std::string *error) {
  std::vector<std::string> missing;
  std::error_code ec;
  for (const FrameJob &job : jobs)
    if (!std::filesystem::exists(job.in, ec))
      missing.push_back(job.in);
  if (missing.empty())
    return true;
  *error = "the input '" + missing.front() + "' does not exist";
  if (missing.size() > 1)
    *error += " (nor do " + std::to_string(missing.size() - 1) + " more)";
  return false;
}

// Renders the chart under the session's settings and writes it at `out`.
int writeChart(Session &session, const std::string &out, int width, int height,
               Depth depth) {
  std::string error;
  Frame frame = makeChart(width, height, depth);
  if (!session.render(frame, 0.0, &error) || !writeImage(out, frame, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

} // namespace

bool renderFile(Session &session, const FrameJob &job,
                const std::optional<Depth> &depth, Frame *frame,
                std::string *error) {
  return readImage(job.in, depth, frame, error) &&
         session.render(*frame, job.time, error) &&
         writeImage(job.out, *frame, error);
}

int runRender(const ParsedArgs &args) {
  if (args.positional.size() != 2)
    return usageError("render", "render takes an input and an output file");
  std::optional<Depth> depth;
  std::vector<FrameJob> jobs;
  std::string error;
  if (!depthOption(args, &depth, &error) ||
      !planFrames(args.positional[0], args.positional[1],
                  args.value("--frames"), &jobs, &error))
    return usageError("render", error);
  int exitCode = kExitOk;
  std::unique_ptr<Session> session =
      openSession("render", args, false, &exitCode);
  if (!session)
    return exitCode;
  if (!checkWritable(jobs.front().out, &error) || !allInputsExist(jobs, &error))
    return fail(error);
  Progress progress(static_cast<int>(jobs.size()), stderr,
                    isatty(fileno(stderr)));
  for (const FrameJob &job : jobs) {
    Frame frame;
    if (!renderFile(*session, job, depth, &frame, &error)) {
      progress.abandon();
      return fail(error);
    }
    progress.frameDone(frame);
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
      !writeImage(out, sheet, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

} // namespace vantorel
