// vantorel render and vantorel chart: frames through the plug-in.
#include "chart.h"
#include "commands.h"
#include "image_io.h"
#include "session.h"

#include <chrono>
#include <cstdio>

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

// --size and --depth, with their defaults.
bool frameOptions(const ParsedArgs &args, const std::string &defaultSize,
                  int *width, int *height, Depth *depth, std::string *error) {
  return parseSize(args.value("--size", defaultSize), width, height, error) &&
         parseDepth(args.value("--depth", "byte"), depth, error);
}

} // namespace

int runRender(const ParsedArgs &args) {
  if (args.positional.size() != 2)
    return usageError("render", "render takes an input and an output file");
  if (!args.has("--size"))
    return usageError("render", "raw frames need --size WxH");
  int width = 0, height = 0;
  Depth depth = Depth::Byte;
  std::string error;
  if (!frameOptions(args, "", &width, &height, &depth, &error))
    return usageError("render", error);
  int exitCode = kExitOk;
  std::unique_ptr<Session> session =
      openSession("render", args, false, &exitCode);
  if (!session)
    return exitCode;
  Frame frame;
  const auto start = std::chrono::steady_clock::now();
  if (!readRaw(args.positional[0], width, height, depth, &frame, &error) ||
      !session->render(frame, 0.0, &error) ||
      !writeImage(args.positional[1], frame, &error))
    return fail(error);
  const std::chrono::duration<double, std::milli> took =
      std::chrono::steady_clock::now() - start;
  std::printf("rendered 1 frame, %dx%d %s, %.1f ms\n", width, height,
              depthName(depth), took.count());
  return kExitOk;
}

int runChart(const ParsedArgs &args) {
  if (args.positional.size() != 1)
    return usageError("chart", "chart takes one output file");
  int width = 0, height = 0;
  Depth depth = Depth::Byte;
  std::string error;
  if (!frameOptions(args, "1280x720", &width, &height, &depth, &error))
    return usageError("chart", error);
  int exitCode = kExitOk;
  std::unique_ptr<Session> session =
      openSession("chart", args, true, &exitCode);
  if (!session)
    return exitCode;
  Frame frame = makeChart(width, height, depth);
  const std::string &out = args.positional[0];
  if (!session->render(frame, 0.0, &error) || !writeImage(out, frame, &error))
    return fail(error);
  std::printf("%s\n", out.c_str());
  return kExitOk;
}

} // namespace vantorel
