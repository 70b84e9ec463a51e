// Loads the built module the way a host does and gives each test a private
// copy of it, so the module's process-wide suite record starts empty.
#pragma once

#include "ofx_host.h"
#include "ofx_host_testing.h"
#include "ofx_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vt {

using ofxhost::Call;
using ofxhost::Depth;
using ofxhost::Effect;
using ofxhost::Host;
using ofxhost::Image;
using ofxhost::TestHost;
using ofxhost::TestImageSpec;

// A fresh, privately loaded copy of the module (of the shipping bundle, or
// of the bundle folder given).
std::unique_ptr<ofxhost::Module> loadFreshModule();
std::unique_ptr<ofxhost::Module> loadFreshModule(const std::string &bundle);

// Removes a scratch folder now, or when the program ends if it holds a
// loaded module (Windows keeps a loaded module's file from being removed).
void removeNowOrAtExit(const std::filesystem::path &folder);

// setHost, load, describe and describe-in-context for the filter context.
Effect *describeFilter(TestHost &host, OfxPlugin *plugin,
                       OfxStatus *status = nullptr);

// Calls whose function is one of `fns` (all calls when empty).
std::vector<Call> callsNamed(const std::vector<Call> &calls,
                             const std::vector<std::string> &fns);

// "fn object name index value status" per call, for readable diffs.
std::string describeCall(const Call &call);

class PluginTest : public ::testing::Test {
protected:
  void SetUp() override {
    module = loadFreshModule();
    ASSERT_TRUE(module);
    plugin = module->plugin(0);
    ASSERT_NE(plugin, nullptr);
  }
  // setHost, load, describe and describe-in-context for the filter context.
  Effect *describeFilter(OfxStatus *status = nullptr);
  // A described instance, ready to render.
  Effect *makeInstance();

  TestHost host;
  std::unique_ptr<ofxhost::Module> module;
  OfxPlugin *plugin = nullptr;
};

// Images between guard pages, their last byte against the upper one, so a
// read or write past the image faults at once.
TestImageSpec byteSpec(OfxRectI bounds);
TestImageSpec floatSpec(OfxRectI bounds);

// Both placements, for tests of bounds, strides and windows.
constexpr ofxhost::Guard kGuards[] = {ofxhost::Guard::AtEnd,
                                      ofxhost::Guard::AtStart};

// An instance with a source and an output image, ready to render.
class RenderTest : public PluginTest {
protected:
  void SetUp() override {
    PluginTest::SetUp();
    instance = makeInstance();
    host.clearCalls();
  }
  void attach(const TestImageSpec &sourceSpec,
              const TestImageSpec &outputSpec) {
    source = host.attachImage(instance, "Source", sourceSpec);
    output = host.attachImage(instance, "Output", outputSpec);
  }
  void attach(const TestImageSpec &spec) { attach(spec, spec); }
  OfxStatus render(OfxRectI window, double time = 0.0) {
    Host::RenderArgs args;
    args.time = time;
    args.window = window;
    return host.render(plugin, instance, args);
  }
  // Renders the whole source image.
  OfxStatus render() { return render(source->spec().bounds); }
  void set(const std::string &name, double value) {
    host.setParam(instance, name, value);
  }

  Effect *instance = nullptr;
  std::shared_ptr<Image> source, output;
};

// A byte image filled with a deterministic pattern.
void fillPattern(Image &image, unsigned seed);

inline std::uint32_t floatBits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

} // namespace vt
