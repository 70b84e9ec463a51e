// The host's suites, fetched once by setHost and read by every action.
#ifndef VANTOREL_HOST_SUITES_H
#define VANTOREL_HOST_SUITES_H

#include "ofx_abi.h"

typedef struct HostSuites {
  const OfxImageEffectSuiteV1 *imageEffect;
  const OfxPropertySuiteV1 *property;
  const OfxParameterSuiteV1 *parameter;
} HostSuites;

extern HostSuites gHostSuites;

#endif
