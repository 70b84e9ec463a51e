// The module's two exported functions, the plug-in record, the binding to
// the host's suites and the action dispatcher.
#include "describe.h"
#include "host_suites.h"
#include "module_export.h"
#include "ofx_names.h"
#include "render.h"

#include <string.h>

HostSuites gHostSuites = {0, 0, 0};

static void setHost(OfxHost *host) {
  if (host == 0 || host->fetchSuite == 0) {
    return;
  }
  gHostSuites.property = (const OfxPropertySuiteV1 *)host->fetchSuite(
      host->host, kOfxPropertySuite, 1);
  gHostSuites.imageEffect = (const OfxImageEffectSuiteV1 *)host->fetchSuite(
      host->host, kOfxImageEffectSuite, 1);
  gHostSuites.parameter = (const OfxParameterSuiteV1 *)host->fetchSuite(
      host->host, kOfxParameterSuite, 1);
}

static OfxStatus answerOK(const void *, OfxPropertySetHandle,
                          OfxPropertySetHandle) {
  return kOfxStatOK;
}

static OfxStatus dispatchDescribe(const void *handle, OfxPropertySetHandle,
                                  OfxPropertySetHandle) {
  return describe((OfxImageEffectHandle)handle);
}

static OfxStatus dispatchDescribeInContext(const void *handle,
                                           OfxPropertySetHandle inArgs,
                                           OfxPropertySetHandle) {
  return describeInContext((OfxImageEffectHandle)handle, inArgs);
}

static OfxStatus dispatchRender(const void *handle, OfxPropertySetHandle inArgs,
                                OfxPropertySetHandle outArgs) {
  return render((OfxImageEffectHandle)handle, inArgs, outArgs);
}

typedef struct ActionRoute {
  const char *action;
  OfxStatus (*handler)(const void *handle, OfxPropertySetHandle inArgs,
                       OfxPropertySetHandle outArgs);
} ActionRoute;

// Compared in this order; the first full match decides.
static const ActionRoute kActionRoutes[] = {
    {kOfxActionLoad, answerOK},
    {kOfxActionUnload, answerOK},
    {kOfxActionDescribe, dispatchDescribe},
    {kOfxImageEffectActionDescribeInContext, dispatchDescribeInContext},
    {kOfxActionInstanceChanged, answerOK},
    {kOfxImageEffectActionRender, dispatchRender},
    {kOfxActionCreateInstance, answerOK},
};

static OfxStatus mainEntry(const char *action, const void *handle,
                           OfxPropertySetHandle inArgs,
                           OfxPropertySetHandle outArgs) {
  if (action == 0) {
    return kOfxStatReplyDefault;
  }
  for (unsigned i = 0; i < sizeof kActionRoutes / sizeof kActionRoutes[0];
       ++i) {
    if (strcmp(action, kActionRoutes[i].action) == 0) {
      return kActionRoutes[i].handler(handle, inArgs, outArgs);
    }
  }
  return kOfxStatReplyDefault;
}

// The one plug-in record, constant for the life of the module and
// initialised statically, so concurrent OfxGetPlugin calls share nothing
// writable.
static const OfxPlugin kPluginRecord = {kOfxImageEffectPluginApi,
                                        1,
                                        "com.Qvo.Vantorel.R108",
                                        1,
                                        8,
                                        setHost,
                                        mainEntry};

VANTOREL_EXPORT int OfxGetNumberOfPlugins(void) { return 1; }

VANTOREL_EXPORT OfxPlugin *OfxGetPlugin(int nth) {
  // The standard's signature hands out a non-const pointer; hosts only
  // read the record.
  return nth == 0 ? (OfxPlugin *)&kPluginRecord : 0;
}
