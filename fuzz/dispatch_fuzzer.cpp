// Drives the dispatcher and the two describe actions with arbitrary action
// names, handles and arguments, through a host that withholds suites and
// refuses or fails any of the calls the description makes.
//
// Legitimate host input here: any action name (and, now and then, a null
// one), a handle that is null or a live descriptor or instance, inArgs that
// are null or a property set, any subset of suites, and any call failed
// with any status, answered with a null handle, or refused by property
// name. Handles that point at garbage are not tried: no host hands those
// over.
//
// Checked after every action: the status is one the action may answer, and
// the plug-in never sets a property or defines a parameter on a handle it
// did not get.
#include "ofx_host.h"
#include "ofx_host_testing.h"
#include "ofx_names.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace ofxhost;

[[noreturn]] void fail(const char *what, const std::string &detail) {
  std::fprintf(stderr, "dispatch fuzzer: %s: %s\n", what, detail.c_str());
  std::abort();
}

const char *const kActions[] = {kOfxActionLoad,
                                kOfxActionUnload,
                                kOfxActionDescribe,
                                kOfxImageEffectActionDescribeInContext,
                                kOfxActionInstanceChanged,
                                kOfxImageEffectActionRender,
                                kOfxActionCreateInstance,
                                "OfxActionDestroyInstance",
                                "OfxImageEffectActionIsIdentity",
                                "OfxImageEffectActionGetRegionOfDefinition",
                                "OfxImageEffectActionGetClipPreferences",
                                "ofxactionload",
                                "OfxActionDescrib",
                                "OfxActionDescribeX",
                                ""};

const char *const kSuites[] = {kOfxPropertySuite, kOfxImageEffectSuite,
                               kOfxParameterSuite};

// Calls the description makes, alone or with the name they carry.
const char *const kFallible[] = {"getPropertySet",
                                 "clipDefine",
                                 "clipDefine:Output",
                                 "clipDefine:Source",
                                 "getParamSet",
                                 "paramDefine",
                                 "paramDefine:GroupLegal",
                                 "paramDefine:LineThickness",
                                 "paramDefine:CropOpacity",
                                 "propSetString",
                                 "propSetDouble",
                                 "propSetInt",
                                 "propSetString:OfxPropLabel",
                                 "propSetDouble:OfxParamPropDefault",
                                 "propSetInt:OfxImageEffectPropSupportsTiles"};

const char *const kRefusable[] = {"OfxPropLabel",
                                  "OfxImageEffectPluginPropGrouping",
                                  "OfxImageEffectPropSupportedPixelDepths",
                                  "OfxImageEffectPropSupportedContexts",
                                  "OfxImageEffectPropSupportedComponents",
                                  "OfxImageEffectPropSupportsTiles",
                                  "OfxPropShortLabel",
                                  "OfxParamPropParent",
                                  "OfxParamPropDefault",
                                  "OfxParamPropMin",
                                  "OfxParamPropDisplayMax"};

OfxPlugin *plugin() {
  static std::unique_ptr<Module> module = [] {
    std::string error;
    auto loaded = Module::load(VANTOREL_BUNDLE_DIR, &error);
    if (!loaded)
      fail("cannot load the module", error);
    return loaded;
  }();
  return module->plugin(0);
}

void setFaults(FuzzedDataProvider &in, Faults &faults) {
  for (const char *suite : kSuites)
    if (in.ConsumeIntegralInRange(0, 7) == 0)
      faults.withheldSuites.insert(suite);
  faults.nullFetchSuite = in.ConsumeIntegralInRange(0, 31) == 0;
  faults.acceptNonStandardNames = in.ConsumeBool();
  const auto refused = in.ConsumeIntegral<uint16_t>();
  for (std::size_t i = 0; i < std::size(kRefusable); ++i)
    if (refused & (1u << i))
      faults.refusedProperties.insert(kRefusable[i]);
  const auto failing = in.ConsumeIntegral<uint16_t>();
  const auto nulls = in.ConsumeIntegral<uint16_t>();
  for (std::size_t i = 0; i < std::size(kFallible); ++i) {
    if (failing & (1u << i))
      faults.failing[kFallible[i]] = in.ConsumeIntegralInRange(1, 14);
    if (nulls & (1u << i))
      faults.nullHandles.insert(kFallible[i]);
  }
}

// The suites the plug-in holds start empty on every input.
void resetSuites() {
  static TestHost *empty = [] {
    auto *h = new TestHost;
    h->logging = false;
    h->faults.withheldSuites = {kSuites[0], kSuites[1], kSuites[2]};
    return h;
  }();
  empty->bind(plugin());
}

bool mayAnswer(const std::string &action, OfxStatus status) {
  const bool statusOfDescription = status == kOfxStatOK ||
                                   status == kOfxStatFailed ||
                                   status == kOfxStatErrMissingHostFeature;
  if (action == kOfxActionLoad || action == kOfxActionUnload ||
      action == kOfxActionInstanceChanged || action == kOfxActionCreateInstance)
    return status == kOfxStatOK;
  if (action == kOfxActionDescribe ||
      action == kOfxImageEffectActionDescribeInContext ||
      action == kOfxImageEffectActionRender)
    return statusOfDescription;
  return status == kOfxStatReplyDefault;
}

void checkNoUseOfMissingHandles(const TestHost &host,
                                const std::string &action) {
  for (const Call &c : host.calls()) {
    const bool uses = c.fn.rfind("propSet", 0) == 0 || c.fn == "paramDefine";
    if (uses && (c.object == "null" || c.object == "invalid"))
      fail("a call on a handle the host did not give",
           action + ": " + c.fn + " " + c.name);
  }
}

} // namespace

// Loads the module before the first input, so that libFuzzer counts its
// coverage from the start.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  plugin();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  OfxPlugin *p = plugin();
  resetSuites();
  TestHost host;
  setFaults(in, host.faults);
  host.bind(p);

  Effect descriptor(&host, "effect-descriptor", false);
  Effect instance(&host, "instance", true);
  PropertySet inArgs(&host, "inArgs");
  inArgs.setString(kOfxImageEffectPropContext,
                   {in.ConsumeBool() ? kOfxImageEffectContextFilter
                                     : in.ConsumeRandomLengthString(32)});
  for (int n = in.ConsumeIntegralInRange(1, 6); n > 0; --n) {
    // The plug-in sees a C string: up to the first NUL.
    const std::string action =
        in.ConsumeBool()
            ? std::string(in.PickValueInArray(kActions))
            : std::string(in.ConsumeRandomLengthString(48).c_str());
    const bool nullAction = in.ConsumeIntegralInRange(0, 31) == 0;
    const void *handle = nullptr;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      break;
    case 1:
      handle = instance.handle();
      break;
    default:
      handle = descriptor.handle();
    }
    OfxPropertySetHandle args = in.ConsumeBool() ? inArgs.handle() : nullptr;
    host.clearCalls();
    const OfxStatus status = host.action(
        p, nullAction ? nullptr : action.c_str(), handle, args, nullptr);
    if (!mayAnswer(nullAction ? std::string("(null)") : action, status))
      fail("unexpected status", action + " answered " + statusName(status));
    checkNoUseOfMissingHandles(host, action);
  }
  return 0;
}
