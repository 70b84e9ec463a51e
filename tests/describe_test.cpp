// What the effect tells a host about itself: its listing, its clips and its
// parameters, and what happens when the host refuses or fails a call.
#include "plugin_fixture.h"

#include <cmath>

namespace vt {
namespace {

using ofxhost::Param;

struct Set {
  std::string fn, name;
  int index;
  std::string value;
};

std::vector<Set> setsOn(const std::vector<Call> &calls,
                        const std::string &object) {
  std::vector<Set> out;
  for (const Call &c : calls) {
    if (c.object == object && c.fn.rfind("propSet", 0) == 0) {
      out.push_back({c.fn, c.name, c.index, c.value});
    }
  }
  return out;
}

void expectSets(const std::vector<Set> &actual,
                const std::vector<Set> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].fn, expected[i].fn) << i;
    EXPECT_EQ(actual[i].name, expected[i].name) << i;
    EXPECT_EQ(actual[i].index, expected[i].index) << i;
    EXPECT_EQ(actual[i].value, expected[i].value) << i;
  }
}

const std::vector<Set> kEffectSets = {
    {"propSetString", "OfxPropLabel", 0, " ~ Qvo Vantorel ~ "},
    {"propSetString", "OfxImageEffectPluginPropGrouping", 0,
     "Kestrune Plugins!"},
    {"propSetString", "OfxImageEffectPropSupportedPixelDepths", 0,
     "OfxBitDepthByte"},
    {"propSetString", "OfxImageEffectPropSupportedPixelDepths", 1,
     "OfxBitDepthFloat"},
    {"propSetString", "OfxImageEffectPropSupportedContexts", 0,
     "OfxImageEffectContextFilter"},
    {"propSetString", "OfxImageEffectPropSupportedContexts", 1,
     "OfxImageEffectContextGeneral"},
    {"propSetInt", "OfxImageEffectPropSupportsTiles", 0, "0"},
};

const std::vector<Set> kClipSets = {
    {"propSetString", "OfxImageClipPropSupportedComponents", 0,
     "OfxImageComponentRGBA"},
    {"propSetString", "OfxImageClipPropSupportedPixelDepths", 0,
     "OfxBitDepthByte"},
    {"propSetString", "OfxImageClipPropSupportedPixelDepths", 1,
     "OfxBitDepthFloat"},
    {"propSetString", "OfxImageEffectPropSupportedComponents", 0,
     "OfxImageComponentRGBA"},
    {"propSetInt", "OfxImageEffectPropSupportsTiles", 0, "0"},
};

struct ExpectedParam {
  const char *type, *name, *label, *shortLabel, *parent;
  double def, min, max;
};

const ExpectedParam kParams[] = {
    {"OfxParamTypeGroup", "GroupLegal", "Legalize it!", "Legal", "", 0, 0, 0},
    {"OfxParamTypeBoolean", "LegalizeLevels", "Legalize Levels", "Legalize",
     "GroupLegal", 0, 0, 0},
    {"OfxParamTypeGroup", "GroupRef", "Reference it!", "Ref", "", 0, 0, 0},
    {"OfxParamTypeBoolean", "FalseColorMode", "False Color Assist",
     "False Color", "GroupRef", 0, 0, 0},
    {"OfxParamTypeBoolean", "ShowSkinTonePatches", "Macbeth Skin Tone Patches",
     "Patches", "GroupRef", 0, 0, 0},
    {"OfxParamTypeBoolean", "ShowSkinToneLine", "Macbeth Skin Tone Line",
     "Line", "GroupRef", 0, 0, 0},
    {"OfxParamTypeDouble", "SkinLinePos", "Skin Line Position (%)", "Skin Pos",
     "GroupRef", 0.73, 0.0, 1.0},
    {"OfxParamTypeBoolean", "ShowMiddleGray", "18% Middle Gray", "Gray",
     "GroupRef", 0, 0, 0},
    {"OfxParamTypeDouble", "GrayLinePos", "Gray Line Position (%)", "Gray Pos",
     "GroupRef", 0.12, 0.0, 1.0},
    {"OfxParamTypeDouble", "LineThickness", "Guide Line Thickness (%)",
     "Thickness", "GroupRef", 15.0, 0.1, 30.0},
    {"OfxParamTypeGroup", "GroupGuides", "Compose it!", "Guides", "", 0, 0, 0},
    {"OfxParamTypeBoolean", "GuideThirds", "Rule of Thirds", "Thirds",
     "GroupGuides", 0, 0, 0},
    {"OfxParamTypeBoolean", "GuideGolden", "Golden Ratio (Phi Grid)", "Golden",
     "GroupGuides", 0, 0, 0},
    {"OfxParamTypeBoolean", "GuideCrosshair", "Center Crosshair", "Crosshair",
     "GroupGuides", 0, 0, 0},
    {"OfxParamTypeGroup", "GroupCrops", "Cinematize it!", "Crops", "", 0, 0, 0},
    {"OfxParamTypeBoolean", "Crop185", "1.85:1 (Widescreen Drama)", "1.85:1",
     "GroupCrops", 0, 0, 0},
    {"OfxParamTypeBoolean", "Crop235", "2.35:1 (Cinemascope Vintage)", "2.35:1",
     "GroupCrops", 0, 0, 0},
    {"OfxParamTypeBoolean", "Crop239", "2.39:1 (Anamorphic Blockbuster)",
     "2.39:1", "GroupCrops", 0, 0, 0},
    {"OfxParamTypeDouble", "CropOpacity", "Cinematic Bar Opacity", "Opacity",
     "GroupCrops", 1.0, 0.0, 1.0},
};

using DescribeTest = PluginTest;

TEST_F(DescribeTest, EffectGetsSixPropertiesInOrderAndNoTiles) {
  host.bind(plugin);
  host.clearCalls();
  OfxStatus status = -1;
  Effect *descriptor = host.describe(plugin, &status);
  EXPECT_EQ(status, kOfxStatOK);
  const auto calls = host.calls();
  expectSets(setsOn(calls, descriptor->props.label), kEffectSets);
  for (const Call &c : calls) {
    if (c.fn.rfind("propSet", 0) == 0) {
      EXPECT_EQ(c.status, kOfxStatOK) << describeCall(c);
      EXPECT_EQ(c.object, descriptor->props.label) << describeCall(c);
    }
  }
  EXPECT_EQ(descriptor->props.getString("OfxPropLabel"), " ~ Qvo Vantorel ~ ");
  EXPECT_EQ(descriptor->props.dimension("OfxImageEffectPropSupportedContexts"),
            2);
}

TEST_F(DescribeTest, ClipsOutputThenSourceEachWithRGBAAndTwoDepths) {
  host.bind(plugin);
  host.describe(plugin);
  host.clearCalls();
  OfxStatus status = -1;
  Effect *d =
      host.describeInContext(plugin, "OfxImageEffectContextFilter", &status);
  EXPECT_EQ(status, kOfxStatOK);
  const auto calls = host.calls();
  const auto defines = callsNamed(calls, {"clipDefine"});
  ASSERT_EQ(defines.size(), 2u);
  EXPECT_EQ(defines[0].name, "Output");
  EXPECT_EQ(defines[1].name, "Source");
  ASSERT_EQ(d->clips.size(), 2u);
  for (const char *name : {"Output", "Source"}) {
    ofxhost::Clip *clip = d->clip(name);
    ASSERT_NE(clip, nullptr) << name;
    expectSets(setsOn(calls, clip->props.label), kClipSets);
    // A strict host keeps only what the standard names.
    EXPECT_EQ(clip->props.getString("OfxImageEffectPropSupportedComponents"),
              "OfxImageComponentRGBA");
    EXPECT_EQ(clip->props.getInt("OfxImageEffectPropSupportsTiles"), 0);
    EXPECT_FALSE(clip->props.has("OfxImageClipPropSupportedPixelDepths"));
  }
  // The clips come before any parameter.
  size_t lastClipCall = 0, firstParamCall = calls.size();
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].fn == "clipDefine") {
      lastClipCall = i;
    }
    if (calls[i].fn == "getParamSet" && firstParamCall == calls.size()) {
      firstParamCall = i;
    }
  }
  EXPECT_LT(lastClipCall, firstParamCall);
}

TEST_F(DescribeTest, FourGroupsAndFifteenParametersInOrder) {
  Effect *d = describeFilter();
  ASSERT_EQ(d->params.params.size(), std::size(kParams));
  for (size_t i = 0; i < std::size(kParams); ++i) {
    const ExpectedParam &e = kParams[i];
    const Param &p = *d->params.params[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(p.name, e.name);
    EXPECT_EQ(p.type, e.type);
    EXPECT_EQ(p.props.getString("OfxPropLabel"), e.label);
    EXPECT_EQ(p.props.getString("OfxPropShortLabel"), e.shortLabel);
    if (*e.parent) {
      EXPECT_EQ(p.props.getString("OfxParamPropParent"), e.parent);
    } else {
      EXPECT_FALSE(p.props.has("OfxParamPropParent"));
    }
    if (p.type == "OfxParamTypeDouble") {
      EXPECT_EQ(p.props.getDouble("OfxParamPropDefault"), e.def);
      EXPECT_EQ(p.props.getDouble("OfxParamPropMin"), e.min);
      EXPECT_EQ(p.props.getDouble("OfxParamPropMax"), e.max);
      EXPECT_EQ(p.props.getDouble("OfxParamPropDisplayMin"), e.min);
      EXPECT_EQ(p.props.getDouble("OfxParamPropDisplayMax"), e.max);
    } else {
      EXPECT_FALSE(p.props.has("OfxParamPropDefault"));
    }
  }
}

TEST_F(DescribeTest, EachParameterGetsItsPropertiesInOrder) {
  host.bind(plugin);
  host.describe(plugin);
  host.clearCalls();
  Effect *d = host.describeInContext(plugin, "OfxImageEffectContextFilter");
  const auto calls = host.calls();
  const auto defines = callsNamed(calls, {"paramDefine"});
  ASSERT_EQ(defines.size(), std::size(kParams));
  for (size_t i = 0; i < std::size(kParams); ++i) {
    const ExpectedParam &e = kParams[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(defines[i].name, e.name);
    std::vector<Set> expected = {
        {"propSetString", "OfxParamPropLabel", 0, e.label},
        {"propSetString", "OfxParamPropShortLabel", 0, e.shortLabel},
        {"propSetString", "OfxPropShortLabel", 0, e.shortLabel},
        {"propSetString", "OfxPropLabel", 0, e.label},
    };
    if (*e.parent) {
      expected.push_back({"propSetString", "OfxParamPropParent", 0, e.parent});
    }
    if (std::string(e.type) == "OfxParamTypeDouble") {
      char text[5][32];
      const double values[5] = {e.def, e.min, e.max, e.min, e.max};
      const char *names[5] = {"OfxParamPropDefault", "OfxParamPropMin",
                              "OfxParamPropMax", "OfxParamPropDisplayMin",
                              "OfxParamPropDisplayMax"};
      for (int k = 0; k < 5; ++k) {
        std::snprintf(text[k], sizeof text[k], "%.17g", values[k]);
        expected.push_back({"propSetDouble", names[k], 0, text[k]});
      }
    }
    expectSets(setsOn(calls, d->params.params[i]->props.label), expected);
  }
}

TEST_F(DescribeTest, StrictHostRefusesOnlyTheNonStandardNames) {
  describeFilter();
  for (const Call &c : host.calls()) {
    if (c.fn.rfind("propSet", 0) != 0) {
      continue;
    }
    const bool standard = ofxhost::isStandardPropertyName(c.name);
    EXPECT_EQ(c.status, standard ? kOfxStatOK : kOfxStatErrUnknown)
        << describeCall(c);
  }
}

TEST_F(DescribeTest, LenientHostKeepsBothLabelNamesAndClipNames) {
  host.faults.acceptNonStandardNames = true;
  Effect *d = describeFilter();
  for (const auto &p : d->params.params) {
    EXPECT_EQ(p->props.getString("OfxParamPropLabel"),
              p->props.getString("OfxPropLabel"));
    EXPECT_EQ(p->props.getString("OfxParamPropShortLabel"),
              p->props.getString("OfxPropShortLabel"));
  }
  ofxhost::Clip *source = d->clip("Source");
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->props.dimension("OfxImageClipPropSupportedPixelDepths"), 2);
  EXPECT_EQ(source->props.getString("OfxImageClipPropSupportedPixelDepths", 1),
            "OfxBitDepthFloat");
}

TEST_F(DescribeTest, EveryContextGetsTheSameDefinitions) {
  host.bind(plugin);
  host.describe(plugin);
  std::vector<std::vector<std::string>> seen;
  for (const char *context :
       {"OfxImageEffectContextFilter", "OfxImageEffectContextGeneral",
        "OfxImageEffectContextGenerator", "NoSuchContext"}) {
    host.clearCalls();
    OfxStatus status = -1;
    host.describeInContext(plugin, context, &status);
    EXPECT_EQ(status, kOfxStatOK) << context;
    std::vector<std::string> calls;
    for (const Call &c : host.calls()) {
      if (c.fn != "action") {
        calls.push_back(c.fn + ' ' + c.name + ' ' + std::to_string(c.index) +
                        ' ' + c.value);
      }
    }
    seen.push_back(calls);
  }
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i], seen[0]) << i;
  }
}

TEST_F(DescribeTest, InstanceStartsFromTheDefaults) {
  Effect *instance = makeInstance();
  for (const ExpectedParam &e : kParams) {
    Param *p = instance->param(e.name);
    ASSERT_NE(p, nullptr) << e.name;
    if (std::string(e.type) == "OfxParamTypeBoolean") {
      EXPECT_EQ(p->intValue, 0) << e.name;
    } else if (std::string(e.type) == "OfxParamTypeDouble") {
      EXPECT_EQ(p->doubleValue, e.def) << e.name;
    }
  }
}

struct MissingSuiteCase {
  const char *suite;
  OfxStatus describeStatus, inContextStatus;
  size_t clips, params;
};

TEST_F(DescribeTest, MissingSuites) {
  const MissingSuiteCase cases[] = {
      {"OfxPropertySuite", kOfxStatErrMissingHostFeature,
       kOfxStatErrMissingHostFeature, 0, 0},
      {"OfxImageEffectSuite", kOfxStatErrMissingHostFeature,
       kOfxStatErrMissingHostFeature, 0, 0},
      {"OfxParameterSuite", kOfxStatOK, kOfxStatOK, 2, 0},
  };
  for (const MissingSuiteCase &c : cases) {
    SCOPED_TRACE(c.suite);
    auto fresh = loadFreshModule();
    OfxPlugin *p = fresh->plugin(0);
    TestHost h;
    h.faults.withheldSuites = {c.suite};
    h.bind(p);
    h.clearCalls();
    OfxStatus describeStatus = -1, inContextStatus = -1;
    h.describe(p, &describeStatus);
    Effect *d =
        h.describeInContext(p, "OfxImageEffectContextFilter", &inContextStatus);
    EXPECT_EQ(describeStatus, c.describeStatus);
    EXPECT_EQ(inContextStatus, c.inContextStatus);
    EXPECT_EQ(d->clips.size(), c.clips);
    EXPECT_EQ(d->params.params.size(), c.params);
    if (c.describeStatus != kOfxStatOK) {
      for (const Call &call : h.calls()) {
        EXPECT_EQ(call.fn, "action") << describeCall(call);
      }
    }
  }
}

struct FailureCase {
  const char *fault; // key in Faults::nullHandles or Faults::failing
  bool asFailure;    // failing status rather than a null handle
  OfxStatus describeStatus, inContextStatus;
  size_t clips, params;
};

TEST_F(DescribeTest, HostCallsThatGiveNoHandle) {
  const FailureCase cases[] = {
      {"getPropertySet", false, kOfxStatFailed, kOfxStatOK, 2, 19},
      {"getPropertySet", true, kOfxStatFailed, kOfxStatOK, 2, 19},
      {"clipDefine:Output", true, kOfxStatOK, kOfxStatFailed, 0, 0},
      {"clipDefine:Source", false, kOfxStatOK, kOfxStatFailed, 2, 0},
      {"getParamSet", false, kOfxStatOK, kOfxStatFailed, 2, 0},
      {"getParamSet", true, kOfxStatOK, kOfxStatFailed, 2, 0},
      {"paramDefine:LineThickness", false, kOfxStatOK, kOfxStatOK, 2, 19},
      {"paramDefine:GroupRef", true, kOfxStatOK, kOfxStatOK, 2, 18},
      {"clipDefine:Output", false, kOfxStatOK, kOfxStatFailed, 1, 0},
      {"clipDefine:Source", true, kOfxStatOK, kOfxStatFailed, 1, 0},
      {"paramDefine", true, kOfxStatOK, kOfxStatOK, 2, 0},
      {"paramDefine", false, kOfxStatOK, kOfxStatOK, 2, 19},
      {"propSetString", true, kOfxStatOK, kOfxStatOK, 2, 19},
      {"propSetDouble", true, kOfxStatOK, kOfxStatOK, 2, 19},
  };
  for (const FailureCase &c : cases) {
    SCOPED_TRACE(std::string(c.fault) + (c.asFailure ? " fails" : " null"));
    auto fresh = loadFreshModule();
    OfxPlugin *p = fresh->plugin(0);
    TestHost h;
    if (c.asFailure) {
      h.faults.failing[c.fault] = kOfxStatErrUnknown;
    } else {
      h.faults.nullHandles.insert(c.fault);
    }
    h.bind(p);
    OfxStatus describeStatus = -1, inContextStatus = -1;
    Effect *e = h.describe(p, &describeStatus);
    h.clearCalls();
    Effect *d =
        h.describeInContext(p, "OfxImageEffectContextFilter", &inContextStatus);
    EXPECT_EQ(describeStatus, c.describeStatus);
    EXPECT_EQ(inContextStatus, c.inContextStatus);
    EXPECT_EQ(d->clips.size(), c.clips);
    EXPECT_EQ(d->params.params.size(), c.params);
    if (c.describeStatus != kOfxStatOK) {
      EXPECT_TRUE(e->props.names().empty() ||
                  !e->props.has("OfxImageEffectPluginPropGrouping"));
    }
    for (const Call &call : h.calls()) {
      EXPECT_NE(call.object, "null")
          << "set on a missing handle: " << describeCall(call);
    }
  }
}

TEST_F(DescribeTest, RefusedPropertiesDoNotStopTheDescription) {
  host.faults.refusedProperties = {"OfxImageEffectPropSupportedPixelDepths",
                                   "OfxPropLabel", "OfxParamPropMin"};
  host.bind(plugin);
  OfxStatus describeStatus = -1, inContextStatus = -1;
  Effect *e = host.describe(plugin, &describeStatus);
  Effect *d = host.describeInContext(plugin, "OfxImageEffectContextFilter",
                                     &inContextStatus);
  EXPECT_EQ(describeStatus, kOfxStatOK);
  EXPECT_EQ(inContextStatus, kOfxStatOK);
  EXPECT_EQ(e->props.getString("OfxImageEffectPluginPropGrouping"),
            "Kestrune Plugins!");
  EXPECT_EQ(e->props.dimension("OfxImageEffectPropSupportedContexts"), 2);
  EXPECT_EQ(d->params.params.size(), 19u);
  EXPECT_EQ(d->param("CropOpacity")->props.getDouble("OfxParamPropMax"), 1.0);
  EXPECT_FALSE(d->param("CropOpacity")->props.has("OfxPropLabel"));
}

} // namespace
} // namespace vt
