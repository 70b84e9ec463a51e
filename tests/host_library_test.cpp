// The host library itself: finding a bundle the way hosts do, and the
// property suite's typed, dimensioned values that every test relies on.
#include "platform.h"
#include "plugin_fixture.h"

#include <cstdlib>
#include <filesystem>

namespace vt {
namespace {

namespace fs = std::filesystem;

class PluginPath : public ::testing::Test {
protected:
  void SetUp() override {
    const char *old = std::getenv("OFX_PLUGIN_PATH");
    saved_ = old ? old : "";
    hadValue_ = old != nullptr;
  }
  void TearDown() override {
    ofxhost::platform::setEnvironment("OFX_PLUGIN_PATH",
                                      hadValue_ ? saved_.c_str() : nullptr);
  }
  std::string saved_;
  bool hadValue_ = false;
};

TEST_F(PluginPath, FindsTheBundleInAnyListedFolderRecursively) {
  // A folder of its own, two levels above the bundle: the build tree may
  // hold other builds' bundles (sanitized ones, say) that must not be found.
  const fs::path root =
      fs::temp_directory_path() /
      ("vantorel-path-" + std::to_string(ofxhost::platform::processId()));
  fs::create_directories(root / "a" / "b");
  fs::copy(VANTOREL_TEST_BUNDLE, root / "a" / "b" / "QvoVantorel.ofx.bundle",
           fs::copy_options::recursive);
  // The platform's separator; on Windows the folders' drive letters hold
  // ':' too.
  const std::string path =
      "/nonexistent/folder" +
      std::string(1, ofxhost::platform::kPathListSeparator) + root.string();
  ofxhost::platform::setEnvironment("OFX_PLUGIN_PATH", path.c_str());
  std::string error;
  auto module = ofxhost::Module::find("QvoVantorel.ofx.bundle", &error);
  removeNowOrAtExit(root);
  ASSERT_TRUE(module) << error;
  EXPECT_EQ(module->numberOfPlugins(), 1);
  EXPECT_STREQ(module->plugin(0)->pluginIdentifier, "com.Qvo.Vantorel.R108");
}

TEST_F(PluginPath, PassesOverABundleWithoutABinaryForThisPlatform) {
  const fs::path root =
      fs::temp_directory_path() /
      ("vantorel-path-other-" + std::to_string(ofxhost::platform::processId()));
  const fs::path other = root / "other" / "QvoVantorel.ofx.bundle";
  fs::create_directories(other / "Contents" / "Elsewhere");
  fs::create_directories(root / "this");
  fs::copy(VANTOREL_TEST_BUNDLE, root / "this" / "QvoVantorel.ofx.bundle",
           fs::copy_options::recursive);
  const std::string path =
      (root / "other").string() +
      std::string(1, ofxhost::platform::kPathListSeparator) +
      (root / "this").string();
  ofxhost::platform::setEnvironment("OFX_PLUGIN_PATH", path.c_str());
  std::string error;
  auto module = ofxhost::Module::find("QvoVantorel.ofx.bundle", &error);
  ofxhost::platform::setEnvironment("OFX_PLUGIN_PATH",
                                    (root / "other").string().c_str());
  std::string none;
  EXPECT_FALSE(ofxhost::Module::find("QvoVantorel.ofx.bundle", &none));
  removeNowOrAtExit(root);
  ASSERT_TRUE(module) << error;
  EXPECT_EQ(fs::path(module->path()).parent_path().parent_path().parent_path(),
            root / "this" / "QvoVantorel.ofx.bundle");
  EXPECT_NE(none.find(std::string("with a ") +
                      ofxhost::Module::architectureFolder() + " binary"),
            std::string::npos)
      << none;
}

TEST_F(PluginPath, ReportsWhatItCouldNotFind) {
  const std::string path =
      "/nonexistent/a" + std::string(1, ofxhost::platform::kPathListSeparator) +
      "/nonexistent/b";
  ofxhost::platform::setEnvironment("OFX_PLUGIN_PATH", path.c_str());
  std::string error;
  EXPECT_FALSE(ofxhost::Module::find("QvoVantorel.ofx.bundle", &error));
  EXPECT_NE(error.find("QvoVantorel.ofx.bundle"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_NE(error.find(ofxhost::platform::standardPluginFolder()),
            std::string::npos)
      << error;
  error.clear();
  EXPECT_FALSE(ofxhost::Module::load("/nonexistent/X.ofx.bundle", &error));
  EXPECT_FALSE(error.empty());
}

TEST(PropertySuite, TypedValuesDimensionsAndErrors) {
  TestHost host;
  host.faults.acceptNonStandardNames = true;
  const OfxPropertySuiteV1 *p = ofxhost::propertySuite();
  ofxhost::PropertySet set(&host, "set");
  const OfxPropertySetHandle h = set.handle();
  EXPECT_EQ(p->propSetInt(h, "OfxImagePropRowBytes", 0, -64), kOfxStatOK);
  EXPECT_EQ(p->propSetInt(h, "OfxImagePropRowBytes", 2, 1),
            kOfxStatErrBadIndex);
  EXPECT_EQ(p->propSetDouble(h, "OfxImagePropRowBytes", 0, 1.0),
            kOfxStatErrValue);
  const int bounds[4] = {-5, -6, 7, 8};
  EXPECT_EQ(p->propSetIntN(h, "OfxImagePropBounds", 4, bounds), kOfxStatOK);
  int dimension = -1;
  EXPECT_EQ(p->propGetDimension(h, "OfxImagePropBounds", &dimension),
            kOfxStatOK);
  EXPECT_EQ(dimension, 4);
  int got[4] = {};
  EXPECT_EQ(p->propGetIntN(h, "OfxImagePropBounds", 4, got), kOfxStatOK);
  EXPECT_EQ(std::vector<int>(got, got + 4),
            std::vector<int>(bounds, bounds + 4));
  int value = 99;
  EXPECT_EQ(p->propGetInt(h, "OfxImagePropBounds", 4, &value),
            kOfxStatErrBadIndex);
  EXPECT_EQ(p->propGetInt(h, "OfxPropTime", 0, &value), kOfxStatErrUnknown);
  EXPECT_EQ(value, 99);
  char *text = nullptr;
  EXPECT_EQ(p->propSetString(h, "OfxPropLabel", 0, "a"), kOfxStatOK);
  EXPECT_EQ(p->propGetString(h, "OfxPropLabel", 0, &text), kOfxStatOK);
  EXPECT_STREQ(text, "a");
  EXPECT_EQ(p->propGetInt(nullptr, "OfxPropLabel", 0, &value),
            kOfxStatErrBadHandle);
}

TEST(PropertySuite, StrictHostRefusesNonStandardNamesButLogsThem) {
  TestHost host;
  const OfxPropertySuiteV1 *p = ofxhost::propertySuite();
  ofxhost::PropertySet set(&host, "set");
  EXPECT_EQ(p->propSetString(set.handle(), "OfxParamPropLabel", 0, "x"),
            kOfxStatErrUnknown);
  EXPECT_FALSE(set.has("OfxParamPropLabel"));
  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "OfxParamPropLabel");
  EXPECT_EQ(calls[0].status, kOfxStatErrUnknown);
  for (const char *name :
       {"OfxParamPropLabel", "OfxParamPropShortLabel",
        "OfxImageClipPropSupportedComponents",
        "OfxImageClipPropSupportedPixelDepths", "OfxImagePropPixelDepth"}) {
    EXPECT_FALSE(ofxhost::isStandardPropertyName(name)) << name;
  }
  for (const char *name :
       {"OfxPropLabel", "OfxPropShortLabel", "OfxImageEffectPropPixelDepth",
        "OfxImageEffectPropSupportsTiles", "OfxImagePropRowBytes"}) {
    EXPECT_TRUE(ofxhost::isStandardPropertyName(name)) << name;
  }
}

// A handle is looked up among the live objects before anything is read
// through it: a destroyed object's handle, a live object of another kind
// and an address that is no object are each a bad handle, and no suite
// reads their memory (the sanitizer build would see it).
TEST(Handles, StaleForeignAndMistypedHandlesAreBadHandles) {
  TestHost host;
  const OfxPropertySuiteV1 *p = ofxhost::propertySuite();
  const OfxImageEffectSuiteV1 *e = ofxhost::imageEffectSuite();
  const OfxParameterSuiteV1 *params = ofxhost::parameterSuite();
  int value = 0;
  auto gone = std::make_unique<ofxhost::PropertySet>(&host, "gone");
  // Kept as a number, as a host keeps a handle it was given long ago.
  volatile std::uintptr_t staleAddress =
      reinterpret_cast<std::uintptr_t>(gone->handle());
  gone.reset();
  const auto stale = reinterpret_cast<OfxPropertySetHandle>(staleAddress);
  EXPECT_EQ(p->propGetInt(stale, "OfxPropTime", 0, &value),
            kOfxStatErrBadHandle);
  long long notAnObject[8] = {};
  EXPECT_EQ(p->propGetInt(reinterpret_cast<OfxPropertySetHandle>(notAnObject),
                          "OfxPropTime", 0, &value),
            kOfxStatErrBadHandle);
  ofxhost::PropertySet set(&host, "set");
  OfxPropertySetHandle out = nullptr;
  EXPECT_EQ(e->getPropertySet(
                reinterpret_cast<OfxImageEffectHandle>(set.handle()), &out),
            kOfxStatErrBadHandle);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(params->paramGetValue(
                reinterpret_cast<OfxParamHandle>(set.handle()), &value),
            kOfxStatErrBadHandle);
  OfxImageMemoryHandle memory = nullptr;
  ASSERT_EQ(e->imageMemoryAlloc(nullptr, 16, &memory), kOfxStatOK);
  EXPECT_EQ(e->imageMemoryFree(memory), kOfxStatOK);
  EXPECT_EQ(e->imageMemoryFree(memory), kOfxStatErrBadHandle);
  void *data = nullptr;
  EXPECT_EQ(e->imageMemoryLock(memory, &data), kOfxStatErrBadHandle);
  EXPECT_EQ(p->propGetInt(set.handle(), "OfxPropTime", 0, &value),
            kOfxStatErrUnknown);
}

TEST(Statuses, HaveTheirStandardNames) {
  EXPECT_EQ(ofxhost::statusName(kOfxStatOK), "kOfxStatOK");
  EXPECT_EQ(ofxhost::statusName(kOfxStatFailed), "kOfxStatFailed");
  EXPECT_EQ(ofxhost::statusName(kOfxStatErrMissingHostFeature),
            "kOfxStatErrMissingHostFeature");
  EXPECT_EQ(ofxhost::statusName(kOfxStatReplyDefault), "kOfxStatReplyDefault");
}

} // namespace
} // namespace vt
