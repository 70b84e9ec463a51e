#include "plugin_fixture.h"
#include "platform.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <sstream>

namespace vt {

namespace {

// Folders to remove when the program ends, after the tests have unloaded
// their modules.
class LeftoverFolders {
public:
  void add(const std::filesystem::path &folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    folders_.push_back(folder);
  }
  ~LeftoverFolders() {
    for (const auto &folder : folders_) {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    }
  }

private:
  std::mutex mutex_;
  std::vector<std::filesystem::path> folders_;
};

} // namespace

void removeNowOrAtExit(const std::filesystem::path &folder) {
  static LeftoverFolders leftovers;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  if (ec)
    leftovers.add(folder);
}

std::unique_ptr<ofxhost::Module> loadFreshModule() {
  return loadFreshModule(VANTOREL_TEST_BUNDLE);
}

std::unique_ptr<ofxhost::Module> loadFreshModule(const std::string &bundle) {
  namespace fs = std::filesystem;
  static std::atomic<int> counter{0};
  const fs::path original = ofxhost::Module::binaryPathOf(bundle);
  const fs::path dir =
      fs::temp_directory_path() /
      ("vantorel-test-" + std::to_string(ofxhost::platform::processId()) + "-" +
       std::to_string(counter++));
  fs::create_directories(dir);
  const fs::path copy = dir / original.filename();
  fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
  std::string error;
  auto module = ofxhost::Module::load(copy.string(), &error);
  removeNowOrAtExit(dir);
  EXPECT_TRUE(module) << error;
  return module;
}

std::vector<Call> callsNamed(const std::vector<Call> &calls,
                             const std::vector<std::string> &fns) {
  std::vector<Call> out;
  for (const Call &call : calls) {
    for (const std::string &fn : fns) {
      if (call.fn == fn) {
        out.push_back(call);
        break;
      }
    }
  }
  return out;
}

std::string describeCall(const Call &call) {
  std::ostringstream s;
  s << call.fn << ' ' << call.object << ' ' << call.name << ' ' << call.index
    << ' ' << call.value << ' ' << call.status;
  return s.str();
}

Effect *describeFilter(TestHost &host, OfxPlugin *plugin, OfxStatus *status) {
  host.bind(plugin);
  host.action(plugin, kOfxActionLoad, nullptr);
  host.describe(plugin);
  return host.describeInContext(plugin, kOfxImageEffectContextFilter, status);
}

Effect *PluginTest::describeFilter(OfxStatus *status) {
  return vt::describeFilter(host, plugin, status);
}

Effect *PluginTest::makeInstance() {
  Effect *descriptor = describeFilter();
  return host.createInstance(plugin, descriptor);
}

static TestImageSpec guardedSpec(Depth depth, OfxRectI bounds) {
  TestImageSpec spec;
  spec.depth = depth;
  spec.bounds = bounds;
  spec.guard = ofxhost::Guard::AtEnd;
  return spec;
}

TestImageSpec byteSpec(OfxRectI bounds) {
  return guardedSpec(Depth::Byte, bounds);
}

TestImageSpec floatSpec(OfxRectI bounds) {
  return guardedSpec(Depth::Float, bounds);
}

void fillPattern(Image &image, unsigned seed) {
  unsigned state = seed * 2654435761u + 12345u;
  for (int y = image.spec().bounds.y1; y < image.spec().bounds.y2; ++y) {
    for (int x = image.spec().bounds.x1; x < image.spec().bounds.x2; ++x) {
      for (int c = 0; c < 4; ++c) {
        state = state * 1103515245u + 12345u;
        if (image.spec().depth == Depth::Byte) {
          image.byteAt(x, y)[c] = static_cast<std::uint8_t>(state >> 16);
        } else {
          image.floatAt(x, y)[c] =
              static_cast<float>((state >> 8) & 0xffff) / 50000.0f - 0.1f;
        }
      }
    }
  }
}

} // namespace vt
