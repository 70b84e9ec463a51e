// Renders on many threads at once through one loaded module and one host,
// as hosts render frames in parallel: every result must equal the same
// render done alone. Run under ThreadSanitizer in CI.
#include "plugin_fixture.h"

#include <thread>

namespace vt {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 12;

// One thread's work: its own instance, parameters, frame and images.
struct Job {
  Effect *instance = nullptr;
  std::shared_ptr<Image> source, output;
  Host::RenderArgs args;
  std::vector<std::uint8_t> expected; // the output of the render done alone
  int mismatches = 0;
  int failures = 0;
};

// Different switches, positions and frames for each thread, on images of
// different sizes, depths, strides and bounds.
void arrange(TestHost &host, OfxPlugin *plugin, Effect *descriptor, int n,
             Job &job) {
  job.instance = host.createInstance(plugin, descriptor);
  const char *const switches[] = {
      "LegalizeLevels",   "FalseColorMode", "ShowSkinTonePatches",
      "ShowSkinToneLine", "ShowMiddleGray", "GuideThirds",
      "GuideGolden",      "GuideCrosshair", "Crop185",
      "Crop235",          "Crop239"};
  for (int i = 0; i < 11; ++i) {
    host.setParam(job.instance, switches[i], ((n + i) % 3) == 0 ? 1 : 0);
  }
  host.setParam(job.instance, "CropOpacity", 0.25 * (n % 5));
  host.setParam(job.instance, "SkinLinePos", 0.1 * n);
  host.setParam(job.instance, "GrayLinePos", 0.9 - 0.1 * n);
  host.setParam(job.instance, "LineThickness", 2.0 + 3.0 * n);
  const OfxRectI bounds{-n * 3, n * 2, 90 + n * 7, 60 + n * 5};
  TestImageSpec spec = n % 2 ? floatSpec(bounds) : byteSpec(bounds);
  spec.topDown = n % 3 == 1;
  spec.guard = kGuards[n % 2];
  job.source = host.attachImage(job.instance, "Source", spec);
  fillPattern(*job.source, 100 + n);
  job.output = host.attachImage(job.instance, "Output", spec);
  job.args.time = 1000.0 + n;
  job.args.window = {bounds.x1 + n, bounds.y1, bounds.x2, bounds.y2 - n};
}

std::vector<std::uint8_t> contents(const Image &image) {
  return std::vector<std::uint8_t>(image.buffer(),
                                   image.buffer() + image.bufferSize());
}

void clear(Image &image) {
  std::memset(const_cast<std::uint8_t *>(image.buffer()), 0,
              image.bufferSize());
}

TEST_F(PluginTest, EightThreadsRenderAsEachWouldAlone) {
  Effect *descriptor = describeFilter();
  host.logging = false;
  std::vector<Job> jobs(kThreads);
  for (int n = 0; n < kThreads; ++n) {
    arrange(host, plugin, descriptor, n, jobs[n]);
    ASSERT_EQ(host.render(plugin, jobs[n].instance, jobs[n].args), kOfxStatOK);
    jobs[n].expected = contents(*jobs[n].output);
    clear(*jobs[n].output);
  }
  // The renders differ from each other, so a mix-up would show.
  for (int n = 1; n < kThreads; ++n) {
    EXPECT_NE(jobs[n].expected, jobs[0].expected);
  }

  std::vector<std::thread> threads;
  for (Job &job : jobs) {
    threads.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        clear(*job.output);
        job.failures += host.render(plugin, job.instance, job.args) != 0;
        job.mismatches += contents(*job.output) != job.expected;
      }
    });
  }
  for (std::thread &t : threads) {
    t.join();
  }
  for (int n = 0; n < kThreads; ++n) {
    SCOPED_TRACE(n);
    const Job &job = jobs[n];
    EXPECT_EQ(job.failures, 0);
    EXPECT_EQ(job.mismatches, 0);
    EXPECT_EQ(job.source->fetches(), kRounds + 1);
    EXPECT_EQ(job.source->releases(), kRounds + 1);
    EXPECT_EQ(job.output->fetches(), kRounds + 1);
    EXPECT_EQ(job.output->releases(), kRounds + 1);
  }
}

// The host's call log is shared by every thread: each render's calls are
// all there, none lost or torn.
TEST_F(PluginTest, TheCallLogKeepsEveryThreadsCalls) {
  Effect *descriptor = describeFilter();
  std::vector<Job> jobs(4);
  for (int n = 0; n < 4; ++n) {
    arrange(host, plugin, descriptor, n, jobs[n]);
  }
  host.clearCalls();
  std::vector<std::thread> threads;
  for (Job &job : jobs) {
    threads.emplace_back([&] {
      for (int round = 0; round < 3; ++round) {
        host.render(plugin, job.instance, job.args);
      }
    });
  }
  for (std::thread &t : threads) {
    t.join();
  }
  const auto calls = host.calls();
  EXPECT_EQ(callsNamed(calls, {"action"}).size(), 12u);
  EXPECT_EQ(callsNamed(calls, {"clipReleaseImage"}).size(), 24u);
  EXPECT_EQ(callsNamed(calls, {"paramGetValueAtTime"}).size(), 12u * 15u);
}

} // namespace
} // namespace vt
