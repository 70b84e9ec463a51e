// The module boundary: the plug-in record, the binding to the host's suites
// and the routing of actions.
#include "plugin_fixture.h"

namespace vt {
namespace {

using EntryTest = PluginTest;

TEST_F(EntryTest, PublishesOneConstantRecord) {
  EXPECT_EQ(module->numberOfPlugins(), 1);
  OfxPlugin *first = module->plugin(0);
  OfxPlugin *second = module->plugin(0);
  ASSERT_EQ(first, second);
  EXPECT_STREQ(first->pluginApi, "OfxImageEffectPluginAPI");
  EXPECT_EQ(first->apiVersion, 1);
  EXPECT_STREQ(first->pluginIdentifier, "com.Qvo.Vantorel.R108");
  EXPECT_EQ(first->pluginVersionMajor, 1u);
  EXPECT_EQ(first->pluginVersionMinor, 8u);
  EXPECT_NE(first->setHost, nullptr);
  EXPECT_NE(first->mainEntry, nullptr);
  for (int nth : {1, -1, 2, 1000000}) {
    EXPECT_EQ(module->plugin(nth), nullptr) << nth;
  }
}

TEST_F(EntryTest, SetHostFetchesTheThreeSuitesInOrder) {
  host.bind(plugin);
  const auto fetches = callsNamed(host.calls(), {"fetchSuite"});
  ASSERT_EQ(fetches.size(), 3u);
  const char *expected[] = {"OfxPropertySuite", "OfxImageEffectSuite",
                            "OfxParameterSuite"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(fetches[i].name, expected[i]);
    EXPECT_EQ(fetches[i].index, 1) << "suite version";
  }
}

TEST_F(EntryTest, NullFetchSuiteLeavesEverySuiteMissing) {
  host.faults.nullFetchSuite = true;
  host.bind(plugin);
  ofxhost::Effect *descriptor = nullptr;
  OfxStatus status = kOfxStatOK;
  descriptor = host.describe(plugin, &status);
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(status, kOfxStatErrMissingHostFeature);
  const auto calls = host.calls();
  for (const Call &call : calls) {
    EXPECT_EQ(call.fn, "action") << describeCall(call);
  }
}

TEST_F(EntryTest, ActionsAreRoutedByTheirFullName) {
  struct Case {
    const char *action;
    OfxStatus status;
  };
  const Case cases[] = {
      {"OfxActionLoad", kOfxStatOK},
      {"OfxActionUnload", kOfxStatOK},
      {"OfxActionCreateInstance", kOfxStatOK},
      {"OfxActionInstanceChanged", kOfxStatOK},
      {"OfxActionDestroyInstance", kOfxStatReplyDefault},
      {"OfxImageEffectActionIsIdentity", kOfxStatReplyDefault},
      {"OfxImageEffectActionGetRegionOfDefinition", kOfxStatReplyDefault},
      {"OfxImageEffectActionGetRegionsOfInterest", kOfxStatReplyDefault},
      {"OfxImageEffectActionGetClipPreferences", kOfxStatReplyDefault},
      {"OfxActionBeginInstanceChanged", kOfxStatReplyDefault},
      {"OfxActionPurgeCaches", kOfxStatReplyDefault},
      {"", kOfxStatReplyDefault},
      {"ofxactionload", kOfxStatReplyDefault},
      {"OfxActionLoad ", kOfxStatReplyDefault},
      {"OfxActionLoa", kOfxStatReplyDefault},
  };
  // Before setHost: nothing of the host is needed for these.
  for (const Case &c : cases) {
    std::string copy = c.action; // a different pointer than any literal
    EXPECT_EQ(plugin->mainEntry(copy.c_str(), nullptr, nullptr, nullptr),
              c.status)
        << '"' << c.action << '"';
  }
  host.bind(plugin);
  host.clearCalls();
  for (const Case &c : cases) {
    EXPECT_EQ(host.action(plugin, c.action, nullptr), c.status) << c.action;
  }
  for (const Call &call : host.calls()) {
    EXPECT_EQ(call.fn, "action") << "no suite call: " << describeCall(call);
  }
}

TEST_F(EntryTest, DescribeWithoutSuitesBeforeSetHostIsMissingFeature) {
  // No setHost at all: every suite pointer is still null.
  for (const char *action :
       {"OfxActionDescribe", "OfxImageEffectActionDescribeInContext"}) {
    EXPECT_EQ(plugin->mainEntry(action, nullptr, nullptr, nullptr),
              kOfxStatErrMissingHostFeature)
        << action;
  }
  EXPECT_EQ(plugin->mainEntry("OfxImageEffectActionRender", nullptr, nullptr,
                              nullptr),
            kOfxStatErrMissingHostFeature);
}

TEST_F(EntryTest, SecondSetHostReplacesTheSuites) {
  host.faults.withheldSuites = {"OfxPropertySuite"};
  host.bind(plugin);
  OfxStatus status = kOfxStatOK;
  host.describe(plugin, &status);
  EXPECT_EQ(status, kOfxStatErrMissingHostFeature);
  host.faults.withheldSuites.clear();
  host.bind(plugin);
  host.describe(plugin, &status);
  EXPECT_EQ(status, kOfxStatOK);
}

} // namespace
} // namespace vt
