// How close the render comes to the copy floor. Each case renders a whole
// frame through a built module exactly as a host does (the render action
// through the host library, images allocated once, host logging off), with
// the plug-in's row renderer or with the plain per-pixel reference build.
// Each render is timed right after the floor: the same source rows copied
// into the same output rows (memcpy per row). Before a case is timed, its
// two builds must agree bit for bit.
//
// Ends with a table of medians of single frames: copy and render times,
// throughput (bytes read + written per second), render / copy, and the
// reference's figures.
#include "ofx_host.h"
#include "ofx_names.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ofxhost::Depth;
using ofxhost::Effect;
using ofxhost::Host;
using ofxhost::Image;
using ofxhost::ImageSpec;
using ofxhost::PropertySet;

struct FrameSize {
  int width, height;
};

const FrameSize kSizes[] = {{1920, 1080}, {3840, 2160}};
const Depth kDepths[] = {Depth::Byte, Depth::Float};

struct Setting {
  const char *name;
  std::vector<std::pair<std::string, double>> params;
  bool everySwitch = false; // all boolean parameters on
};

const std::vector<Setting> &settings() {
  static const std::vector<Setting> all = {
      {"all-off", {}},
      {"false-colour", {{"FalseColorMode", 1}}},
      {"legalize", {{"LegalizeLevels", 1}}},
      {"guides",
       {{"GuideThirds", 1}, {"GuideGolden", 1}, {"GuideCrosshair", 1}}},
      {"skin-line+patches",
       {{"ShowSkinToneLine", 1}, {"ShowSkinTonePatches", 1}}},
      {"everything-0.5", {{"CropOpacity", 0.5}}, true},
      {"everything-1", {{"CropOpacity", 1.0}}, true},
  };
  return all;
}

std::string sizeName(FrameSize s) {
  return std::to_string(s.width) + "x" + std::to_string(s.height);
}

const char *depthName(Depth d) { return d == Depth::Float ? "float" : "8-bit"; }

// A picture-like source: smooth shading with a little grain, a few values
// below 0 and above 1 on the float path.
void fillPicture(Image &image) {
  const OfxRectI b = image.spec().bounds;
  unsigned state = 12345;
  for (int y = b.y1; y < b.y2; ++y) {
    for (int x = b.x1; x < b.x2; ++x) {
      for (int c = 0; c < 4; ++c) {
        state = state * 1103515245u + 12345u;
        const float grain = static_cast<float>((state >> 16) & 1023) / 1023.0f;
        const float v =
            0.5f +
            0.52f * std::sin(x * 0.0031f + c) * std::cos(y * 0.0047f - c) +
            0.04f * (grain - 0.5f);
        if (image.spec().depth == Depth::Float) {
          image.floatAt(x, y)[c] = v;
        } else {
          const float clamped = v < 0 ? 0 : (v > 1 ? 1 : v);
          image.byteAt(x, y)[c] = static_cast<std::uint8_t>(clamped * 255.0f);
        }
      }
    }
  }
}

// The render action's arguments, built once.
struct RenderArgs {
  explicit RenderArgs(Host *host, OfxRectI window)
      : in(host, "inArgs"), out(host, "outArgs") {
    in.setDouble(kOfxPropTime, {0.0});
    in.setInt(kOfxImageEffectPropRenderWindow,
              {window.x1, window.y1, window.x2, window.y2});
    in.setDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0});
    in.setString(kOfxImageEffectPropFieldToRender, {"OfxImageFieldNone"});
  }
  PropertySet in, out;
};

// One build of the plug-in loaded into the shared host, with an instance.
struct Build {
  Build(Host &host, const char *bundle) {
    std::string error;
    module = ofxhost::Module::load(bundle, &error);
    if (!module) {
      throw std::runtime_error(error);
    }
    plugin = module->plugin(0);
    host.bind(plugin);
    host.action(plugin, kOfxActionLoad, nullptr);
    host.describe(plugin);
    instance = host.createInstance(
        plugin, host.describeInContext(plugin, kOfxImageEffectContextFilter));
  }
  std::unique_ptr<ofxhost::Module> module;
  OfxPlugin *plugin = nullptr;
  Effect *instance = nullptr;
};

// Both builds rendering one source image into one output image.
class Bench {
public:
  Bench(FrameSize size, Depth depth)
      : fast_(host_, VANTOREL_FAST_BUNDLE),
        reference_(host_, VANTOREL_REFERENCE_BUNDLE),
        args_(&host_, {0, 0, size.width, size.height}) {
    host_.logging = false;
    ImageSpec spec;
    spec.depth = depth;
    spec.bounds = {0, 0, size.width, size.height};
    source_ = host_.attachImage(fast_.instance, "Source", spec);
    output_ = host_.attachImage(fast_.instance, "Output", spec);
    reference_.instance->clip("Source")->image = source_;
    reference_.instance->clip("Output")->image = output_;
    fillPicture(*source_);
  }

  std::size_t frameBytes() const {
    return static_cast<std::size_t>(source_->pixelBytes()) * source_->width() *
           source_->height();
  }

  void select(const Setting &setting) {
    for (Build *build : {&fast_, &reference_}) {
      for (const auto &param : build->instance->params.params) {
        if (param->type == kOfxParamTypeBoolean) {
          host_.setParam(build->instance, param->name, setting.everySwitch);
        } else if (param->type == kOfxParamTypeDouble) {
          host_.setParam(build->instance, param->name, defaultOf(*param));
        }
      }
      for (const auto &[name, value] : setting.params) {
        host_.setParam(build->instance, name, value);
      }
    }
  }

  OfxStatus render(bool reference) {
    const Build &b = reference ? reference_ : fast_;
    return host_.action(b.plugin, kOfxImageEffectActionRender,
                        b.instance->handle(), args_.in.handle(),
                        args_.out.handle());
  }

  // True when both builds give the same output bytes for the selection.
  bool buildsAgree() {
    render(true);
    const std::vector<std::uint8_t> want(
        output_->buffer(), output_->buffer() + output_->bufferSize());
    render(false);
    return std::memcmp(want.data(), output_->buffer(), want.size()) == 0;
  }

  void copyRows() {
    const long long stride = source_->rowBytes();
    const std::size_t row =
        static_cast<std::size_t>(source_->pixelBytes()) * source_->width();
    const auto *from = static_cast<const std::uint8_t *>(source_->data());
    auto *to = static_cast<std::uint8_t *>(output_->data());
    for (int y = 0; y < source_->height(); ++y) {
      std::memcpy(to + y * output_->rowBytes(), from + y * stride, row);
    }
  }

private:
  static double defaultOf(const ofxhost::Param &param) {
    return param.props.getDouble(kOfxParamPropDefault);
  }

  Host host_;
  Build fast_, reference_;
  RenderArgs args_;
  std::shared_ptr<Image> source_, output_;
};

// One Bench per frame size and depth, made on first use and kept.
Bench &benchFor(FrameSize size, Depth depth) {
  static std::map<std::string, std::unique_ptr<Bench>> benches;
  std::unique_ptr<Bench> &b = benches[sizeName(size) + depthName(depth)];
  if (!b) {
    b = std::make_unique<Bench>(size, depth);
  }
  return *b;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

double medianOf(std::vector<double> &times) {
  if (times.empty()) {
    return NAN;
  }
  std::nth_element(times.begin(), times.begin() + times.size() / 2,
                   times.end());
  return times[times.size() / 2];
}

// Every iteration copies the frame once untimed, then times one copy (the
// floor) and one render, so the two see the same machine at the same moment
// and each follows a copy of the same rows: neither starts from a cache the
// other left cold. Both are reported the same way, as the median of single
// frames: a slice of time lost to the rest of the machine then counts
// against neither.
void renderCase(benchmark::State &state, FrameSize size, Depth depth,
                const Setting *setting, bool reference) {
  Bench &bench = benchFor(size, depth);
  bench.select(*setting);
  if (!reference && !bench.buildsAgree()) {
    state.SkipWithError("the row renderer differs from the reference");
    return;
  }
  std::vector<double> copies, renders;
  for (auto _ : state) {
    bench.copyRows();
    benchmark::ClobberMemory();
    const auto copyStart = std::chrono::steady_clock::now();
    bench.copyRows();
    benchmark::ClobberMemory();
    copies.push_back(secondsSince(copyStart));
    const auto renderStart = std::chrono::steady_clock::now();
    const OfxStatus status = bench.render(reference);
    benchmark::ClobberMemory();
    renders.push_back(secondsSince(renderStart));
    state.SetIterationTime(renders.back());
    if (status != kOfxStatOK) {
      state.SkipWithError("the render failed");
      break;
    }
  }
  state.counters["copy_ms"] = medianOf(copies) * 1e3;
  state.counters["frame_ms"] = medianOf(renders) * 1e3;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 *
                          static_cast<std::int64_t>(bench.frameBytes()));
}

// ------------------------------------------------------------ the summary

std::string caseName(const char *what, FrameSize size, Depth depth,
                     const char *setting = nullptr) {
  std::string name =
      std::string(what) + "/" + sizeName(size) + "/" + depthName(depth);
  return setting ? name + "/" + setting : name;
}

// The kernels the plug-in's row renderer picks on this processor.
const char *rowKernels() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi")) {
    return "AVX-512 row kernels";
  }
#endif
  return "portable row kernels";
}

std::string machineLine() {
  std::string model = "unknown processor";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  const benchmark::CPUInfo &cpu = benchmark::CPUInfo::Get();
  std::string caches;
  for (const auto &c : cpu.caches) {
    const char *kind = c.type == "Data"          ? "d"
                       : c.type == "Instruction" ? "i"
                                                 : "";
    caches += " L" + std::to_string(c.level) + kind + " " +
              std::to_string(c.size / 1024) + " KiB";
  }
  char line[512];
  std::snprintf(line, sizeof line, "%s, %d cores at %.0f MHz,%s; %s; %s",
                model.c_str(), cpu.num_cpus, cpu.cycles_per_second / 1e6,
                caches.c_str(), rowKernels(),
#if defined(__clang__)
                "clang " __clang_version__
#elif defined(__GNUC__)
                "GCC " __VERSION__
#else
                "unknown compiler"
#endif
  );
  return line;
}

class SummaryReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      failed_ = failed_ || run.error_occurred;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
          !run.error_occurred) {
        medians_[run.run_name.function_name] = {counter(run, "frame_ms"),
                                                counter(run, "copy_ms")};
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::FILE *out = stdout;
    std::fprintf(out, "\nMachine: %s\n\n", machineLine().c_str());
    std::fprintf(out, "| Case | Copy ms | Render ms | GB/s | Render / copy "
                      "| Copy ms | Reference ms | Reference / copy "
                      "| Reference / render |\n");
    std::fprintf(out, "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (FrameSize size : kSizes) {
      for (Depth depth : kDepths) {
        summarise(out, size, depth);
      }
    }
  }

  bool failed() const { return failed_; }

private:
  static double counter(const Run &run, const char *name) {
    const auto it = run.counters.find(name);
    return it == run.counters.end() ? NAN : it->second.value;
  }

  struct Medians {
    double render = NAN, copy = NAN; // ms
  };

  Medians median(const std::string &name) const {
    const auto it = medians_.find(name);
    return it == medians_.end() ? Medians() : it->second;
  }

  void summarise(std::FILE *out, FrameSize size, Depth depth) const {
    const double bytes =
        2.0 * size.width * size.height * (depth == Depth::Float ? 16 : 4);
    for (const Setting &s : settings()) {
      const Medians fast = median(caseName("render", size, depth, s.name));
      const Medians ref = median(caseName("reference", size, depth, s.name));
      if (std::isnan(fast.render) && std::isnan(ref.render)) {
        continue;
      }
      std::fprintf(out,
                   "| %s %s %s | %.3f | %.3f | %.1f | %.2f | %.3f | %.2f | "
                   "%.1f | %.1f |\n",
                   sizeName(size).c_str(), depthName(depth), s.name, fast.copy,
                   fast.render, bytes / (fast.render * 1e-3) / 1e9,
                   fast.render / fast.copy, ref.copy, ref.render,
                   ref.render / ref.copy, ref.render / fast.render);
    }
  }

  std::map<std::string, Medians> medians_;
  bool failed_ = false;
};

void registerAll() {
  for (FrameSize size : kSizes) {
    for (Depth depth : kDepths) {
      for (const Setting &s : settings()) {
        for (bool reference : {false, true}) {
          const char *what = reference ? "reference" : "render";
          benchmark::RegisterBenchmark(
              caseName(what, size, depth, s.name).c_str(), renderCase, size,
              depth, &s, reference)
              ->Unit(benchmark::kMillisecond)
              ->UseManualTime();
        }
      }
    }
  }
}

} // namespace

// Five repetitions of at least 0.3 s each, medians only, unless the
// command line says otherwise.
int main(int argc, char **argv) {
  std::vector<char *> args = {argv[0]};
  char repetitions[] = "--benchmark_repetitions=5";
  char aggregates[] = "--benchmark_report_aggregates_only=true";
  char minTime[] = "--benchmark_min_time=0.3";
  args.insert(args.end(), {repetitions, aggregates, minTime});
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
    return 1;
  }
  registerAll();
  SummaryReporter reporter;
  const std::size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return ran == 0 || reporter.failed() ? 1 : 0;
}
