/* A small macOS bundle for the Mach-O loader's tests, built for both macOS
   processors with clang and ld64.lld against the project's libSystem stub
   (tests/CMakeLists.txt). It needs what the plug-in module needs of a
   loader: rebased pointers, every import the stub lists (bound at load, the
   lazy ones too), the stack guard (built with -fstack-protector-all), an
   initialiser and a terminator, exports found by name, and the host's
   parameter suite called with variadic arguments the way the processor's
   macOS convention passes them. Built with VANTOREL_UNKNOWN_IMPORT it also
   calls a function no library provides. */
#include "ofx_abi.h"

#include <fenv.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

void memset_pattern16(void *to, const void *pattern, size_t size);

/* Pointers to the bundle's own data, rebased as it loads. */
static const char *const kWords[] = {"rebased", "pointers"};
EXPORT const char *word(int i) { return kWords[i]; }

static int started;
__attribute__((constructor)) static void start(void) { started = 7; }
EXPORT int startedWith(void) { return started; }

static int *stopped;
__attribute__((destructor)) static void stop(void) {
  if (stopped)
    *stopped = 1;
}
EXPORT void noteStopIn(int *flag) { stopped = flag; }

EXPORT int compare(const char *a, const char *b) { return strcmp(a, b); }
EXPORT const char *find(const char *text, const char *part) {
  return strstr(text, part);
}
EXPORT void copy(void *to, const void *from, size_t size) {
  memcpy(to, from, size);
}
EXPORT void move(void *to, const void *from, size_t size) {
  memmove(to, from, size);
}
EXPORT void fillWithPattern(void *to, const void *pattern, size_t size) {
  memset_pattern16(to, pattern, size);
}
EXPORT int rounding(void) { return fegetround(); }
/* The modes as the project's fenv.h for macOS gives them. */
EXPORT void roundingModes(int modes[4]) {
  modes[0] = FE_TONEAREST;
  modes[1] = FE_DOWNWARD;
  modes[2] = FE_UPWARD;
  modes[3] = FE_TOWARDZERO;
}

#if defined(VANTOREL_UNKNOWN_IMPORT)
void vantorelNoSuchFunction(void);
EXPORT void callUnknown(void) { vantorelNoSuchFunction(); }
#endif

/* A plug-in record, so the host binds it as it binds a plug-in. */
static const OfxParameterSuiteV1 *params;

static void setHost(OfxHost *host) {
  params = (const OfxParameterSuiteV1 *)host->fetchSuite(
      host->host, "OfxParameterSuite", 1);
}

static OfxStatus mainEntry(const char *action, const void *handle,
                           OfxPropertySetHandle inArgs,
                           OfxPropertySetHandle outArgs) {
  (void)action;
  (void)handle;
  (void)inArgs;
  (void)outArgs;
  return kOfxStatReplyDefault;
}

static OfxPlugin plugin = {"OfxImageEffectPluginAPI",
                           1,
                           "org.vantorel.MachOLoaderTest",
                           1,
                           0,
                           setHost,
                           mainEntry};

EXPORT int OfxGetNumberOfPlugins(void) { return 1; }
EXPORT OfxPlugin *OfxGetPlugin(int nth) { return nth == 0 ? &plugin : 0; }

/* Each variadic member of the parameter suite, called as the module calls
   them. Each export takes a decoy in the register where the host's own
   convention would look for the variadic argument, so a host that read it
   there would answer through the decoy. */
EXPORT OfxStatus getInt(OfxParamHandle p, int *decoy, int *value) {
  (void)decoy;
  return params->paramGetValue(p, value);
}
EXPORT OfxStatus getDouble(OfxParamHandle p, double *decoy, double *value) {
  (void)decoy;
  return params->paramGetValue(p, value);
}
EXPORT OfxStatus getAtTime(OfxParamHandle p, OfxTime time, double *decoy,
                           double *value) {
  (void)decoy;
  return params->paramGetValueAtTime(p, time, value);
}
EXPORT OfxStatus getDerivative(OfxParamHandle p, OfxTime time, double *decoy,
                               double *value) {
  (void)decoy;
  return params->paramGetDerivative(p, time, value);
}
EXPORT OfxStatus getIntegral(OfxParamHandle p, OfxTime from, OfxTime to,
                             double *decoy, double *value) {
  (void)decoy;
  return params->paramGetIntegral(p, from, to, value);
}
EXPORT OfxStatus setInt(OfxParamHandle p, int decoy, int value) {
  (void)decoy;
  return params->paramSetValue(p, value);
}
EXPORT OfxStatus setDouble(OfxParamHandle p, double decoy, double value) {
  (void)decoy;
  return params->paramSetValue(p, value);
}
EXPORT OfxStatus setIntAtTime(OfxParamHandle p, OfxTime time, int decoy,
                              int value) {
  (void)decoy;
  return params->paramSetValueAtTime(p, time, value);
}
