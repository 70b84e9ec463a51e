// How close the render comes to the copy floor. Each case renders a whole
// frame through a built module exactly as a host does (the render action
// through the host library's plain host, images allocated once), with
// the plug-in's row renderer held to each kernel set this processor runs
// (the test builds of the module, one per set) and with the plain
// per-pixel reference build. Each render is timed right after the floor:
// the same source rows copied into the same output rows (memcpy per row).
// Before a case is timed, its build must agree with the reference bit for
// bit.
//
// Ends with a table of medians of single frames: for each case and kernel
// set, copy and render times, throughput (bytes read + written per
// second), render / copy against the set's limit, and the reference's
// figures.
//
// With --baseline=BUILD (another build tree of the project, say of an
// earlier commit), each case also renders through that tree's build of the
// same kernel set, alternately with this one's in the same iterations, and
// the table sets the two side by side.
#include "kernel_sets.h"
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

// The build tree given by --baseline, or empty.
std::string &baselineTree() {
  static std::string tree;
  return tree;
}

// The baseline tree's build of a kernel set: the bundle of the same name
// in its variants folder.
std::string baselineBundle(const std::string &bundle) {
  const std::size_t slash = bundle.find_last_of('/');
  return baselineTree() + "/variants/" + bundle.substr(slash + 1);
}

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

// The kernel sets to time: each test build that runs its own set here.
// The first build starts its choice at the fastest set, as the shipping
// module does, so its answer is what the shipping dispatch picks.
struct KernelSets {
  std::vector<kernelsets::KernelBuild> runnable;
  std::string shippingPicks;
};

const KernelSets &kernelSets() {
  static const KernelSets sets = [] {
    KernelSets found;
    for (const kernelsets::KernelBuild &k : kernelsets::kernelBuilds()) {
      std::string error;
      const auto module = ofxhost::Module::load(k.bundle, &error);
      if (!module) {
        throw std::runtime_error(error);
      }
      const std::string runs = kernelsets::kernelsInUse(*module);
      if (found.shippingPicks.empty()) {
        found.shippingPicks = runs;
      }
      if (runs == k.set) {
        found.runnable.push_back(k);
      }
    }
    return found;
  }();
  return sets;
}

// The reference and each kernel set's build rendering one source image
// into one output image.
class Bench {
public:
  Bench(FrameSize size, Depth depth)
      : reference_(host_, VANTOREL_REFERENCE_BUNDLE),
        args_(&host_, {0, 0, size.width, size.height}) {
    for (const kernelsets::KernelBuild &k : kernelSets().runnable) {
      builds_[k.set] = std::make_unique<Build>(host_, k.bundle.c_str());
      if (!baselineTree().empty()) {
        baselines_[k.set] =
            std::make_unique<Build>(host_, baselineBundle(k.bundle).c_str());
      }
    }
    ImageSpec spec;
    spec.depth = depth;
    spec.bounds = {0, 0, size.width, size.height};
    source_ = host_.attachImage(reference_.instance, "Source", spec);
    output_ = host_.attachImage(reference_.instance, "Output", spec);
    for (Build *build : all()) {
      build->instance->clip("Source")->image = source_;
      build->instance->clip("Output")->image = output_;
    }
    fillPicture(*source_);
  }

  std::size_t frameBytes() const {
    return static_cast<std::size_t>(source_->pixelBytes()) * source_->width() *
           source_->height();
  }

  void select(const Setting &setting) {
    for (Build *build : all()) {
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

  // Renders through the build of a kernel set (the baseline tree's when
  // `baseline`), or the reference for "".
  OfxStatus render(const std::string &set, bool baseline = false) {
    const Build &b = set.empty() ? reference_
                     : baseline  ? *baselines_.at(set)
                                 : *builds_.at(set);
    return host_.action(b.plugin, kOfxImageEffectActionRender,
                        b.instance->handle(), args_.in.handle(),
                        args_.out.handle());
  }

  bool hasBaseline(const std::string &set) const {
    return baselines_.count(set) != 0;
  }

  // True when the set's build (and its baseline, if any) gives the
  // reference's output bytes for the selection.
  bool agreesWithReference(const std::string &set) {
    render("");
    const std::vector<std::uint8_t> want(
        output_->buffer(), output_->buffer() + output_->bufferSize());
    bool same = true;
    for (bool baseline : {false, true}) {
      if (!baseline || hasBaseline(set)) {
        render(set, baseline);
        same = same &&
               std::memcmp(want.data(), output_->buffer(), want.size()) == 0;
      }
    }
    return same;
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

  std::vector<Build *> all() {
    std::vector<Build *> builds = {&reference_};
    for (const auto *byset : {&builds_, &baselines_}) {
      for (const auto &[set, build] : *byset) {
        builds.push_back(build.get());
      }
    }
    return builds;
  }

  Host host_;
  Build reference_;
  std::map<std::string, std::unique_ptr<Build>> builds_;    // by kernel set
  std::map<std::string, std::unique_ptr<Build>> baselines_; // the same
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
// other left cold. With a baseline, the iteration then copies the frame
// untimed again and times the baseline's render. All are reported the same
// way, as the median of single frames: a slice of time lost to the rest of
// the machine then counts against none of them.
// `set` names the kernel set, or is empty for the reference.
void renderCase(benchmark::State &state, FrameSize size, Depth depth,
                const Setting *setting, const std::string &set) {
  Bench &bench = benchFor(size, depth);
  bench.select(*setting);
  if (!set.empty() && !bench.agreesWithReference(set)) {
    state.SkipWithError("the row renderer differs from the reference");
    return;
  }
  const bool baseline = !set.empty() && bench.hasBaseline(set);
  std::vector<double> copies, renders, baselineRenders;
  const auto timedRender = [&](bool ofBaseline, std::vector<double> &times) {
    const auto renderStart = std::chrono::steady_clock::now();
    const OfxStatus status = bench.render(set, ofBaseline);
    benchmark::ClobberMemory();
    times.push_back(secondsSince(renderStart));
    return status == kOfxStatOK;
  };
  for (auto _ : state) {
    bench.copyRows();
    benchmark::ClobberMemory();
    const auto copyStart = std::chrono::steady_clock::now();
    bench.copyRows();
    benchmark::ClobberMemory();
    copies.push_back(secondsSince(copyStart));
    bool rendered = timedRender(false, renders);
    state.SetIterationTime(renders.back());
    if (baseline) {
      bench.copyRows();
      benchmark::ClobberMemory();
      rendered = timedRender(true, baselineRenders) && rendered;
    }
    if (!rendered) {
      state.SkipWithError("the render failed");
      break;
    }
  }
  state.counters["copy_ms"] = medianOf(copies) * 1e3;
  state.counters["frame_ms"] = medianOf(renders) * 1e3;
  if (baseline) {
    state.counters["baseline_ms"] = medianOf(baselineRenders) * 1e3;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 *
                          static_cast<std::int64_t>(bench.frameBytes()));
}

// ------------------------------------------------------------ the summary

// "render/SIZE/DEPTH/SETTING/SET", or "reference/SIZE/DEPTH/SETTING".
std::string caseName(FrameSize size, Depth depth, const char *setting,
                     const std::string &set) {
  const std::string name =
      sizeName(size) + "/" + depthName(depth) + "/" + setting;
  return set.empty() ? "reference/" + name : "render/" + name + "/" + set;
}

// The most render / copy a set may take in a case, NaN where none is set
// (the portable set). 8-bit false colour, alone or with everything on, is
// held to what its kernels' instruction counts allow on a processor whose
// 512-bit work costs what its 256-bit work does (bench/RESULTS.md); every
// other case to close to the copy.
double limitFor(const std::string &set, FrameSize size, Depth depth,
                const Setting &setting) {
  const bool byteFalseColour =
      depth == Depth::Byte &&
      (std::string(setting.name) == "false-colour" || setting.everySwitch);
  const bool small = size.width == 1920;
  if (set == "AVX-512") {
    return byteFalseColour ? (small ? 1.6 : 1.3) : 1.3;
  }
  if (set == "AVX2") {
    return byteFalseColour ? (small ? 3.0 : 2.5) : 1.3;
  }
  if (set == "SSE4.1") {
    return byteFalseColour ? (small ? 4.0 : 3.0) : 1.6;
  }
  return NAN;
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
    caches += (caches.empty() ? ", L" : " L") + std::to_string(c.level) + kind +
              " " + std::to_string(c.size / 1024) + " KiB";
  }
  char line[512];
  std::string sets;
  for (const kernelsets::KernelBuild &k : kernelSets().runnable) {
    sets += (sets.empty() ? "" : ", ") + k.set;
  }
  const std::string kernels = "the shipping dispatch picks the " +
                              kernelSets().shippingPicks +
                              " row kernels; timed: " + sets;
  std::snprintf(line, sizeof line, "%s, %d cores at %.0f MHz%s; %s; %s",
                model.c_str(), cpu.num_cpus, cpu.cycles_per_second / 1e6,
                caches.c_str(), kernels.c_str(),
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
                                                counter(run, "copy_ms"),
                                                counter(run, "baseline_ms")};
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::FILE *out = stdout;
    std::fprintf(out, "\nMachine: %s\n\n", machineLine().c_str());
    std::fprintf(out,
                 "| Case | Kernels | Copy ms | Render ms | GB/s "
                 "| Render / copy | Limit | Copy ms | Reference ms "
                 "| Reference / copy | Reference / render |%s\n",
                 baselineTree().empty()
                     ? ""
                     : " Baseline ms | Baseline / copy | Render / baseline |");
    std::fprintf(out,
                 "|---|---|---:|---:|---:|---:|---|---:|---:|---:|---:|%s\n",
                 baselineTree().empty() ? "" : "---:|---:|---:|");
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
    double render = NAN, copy = NAN, baseline = NAN; // ms
  };

  Medians median(const std::string &name) const {
    const auto it = medians_.find(name);
    return it == medians_.end() ? Medians() : it->second;
  }

  void summarise(std::FILE *out, FrameSize size, Depth depth) const {
    const double bytes =
        2.0 * size.width * size.height * (depth == Depth::Float ? 16 : 4);
    for (const Setting &s : settings()) {
      const Medians ref = median(caseName(size, depth, s.name, ""));
      for (const kernelsets::KernelBuild &k : kernelSets().runnable) {
        const Medians fast = median(caseName(size, depth, s.name, k.set));
        if (std::isnan(fast.render) && std::isnan(ref.render)) {
          continue;
        }
        const double ratio = fast.render / fast.copy;
        const double limit = limitFor(k.set, size, depth, s);
        char within[32] = "";
        if (!std::isnan(limit)) {
          std::snprintf(within, sizeof within, "%.1f %s", limit,
                        ratio <= limit ? "met" : "OVER");
        }
        std::fprintf(out,
                     "| %s %s %s | %s | %.3f | %.3f | %.1f | %.2f | %s | "
                     "%.3f | %.2f | %.1f | %.1f |",
                     sizeName(size).c_str(), depthName(depth), s.name,
                     k.set.c_str(), fast.copy, fast.render,
                     bytes / (fast.render * 1e-3) / 1e9, ratio, within,
                     ref.copy, ref.render, ref.render / ref.copy,
                     ref.render / fast.render);
        if (!baselineTree().empty()) {
          std::fprintf(out, " %.3f | %.2f | %.2f |", fast.baseline,
                       fast.baseline / fast.copy, fast.render / fast.baseline);
        }
        std::fprintf(out, "\n");
      }
    }
  }

  std::map<std::string, Medians> medians_;
  bool failed_ = false;
};

void registerAll() {
  for (FrameSize size : kSizes) {
    for (Depth depth : kDepths) {
      for (const Setting &s : settings()) {
        std::vector<std::string> sets;
        for (const kernelsets::KernelBuild &k : kernelSets().runnable) {
          sets.push_back(k.set);
        }
        sets.push_back(""); // the reference
        for (const std::string &set : sets) {
          benchmark::RegisterBenchmark(
              caseName(size, depth, s.name, set).c_str(), renderCase, size,
              depth, &s, set)
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
  const std::string baselineOption = "--baseline=";
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind(baselineOption, 0) == 0) {
      baselineTree() = argv[i] + baselineOption.size();
    } else {
      args.push_back(argv[i]);
    }
  }
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
