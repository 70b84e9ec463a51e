// The parameters a render samples, as the render sees them: each one's host
// name and the RenderParams field its value goes to. The description's
// parameter table holds them, with their defaults, once.
#ifndef VANTOREL_SAMPLED_PARAMS_H
#define VANTOREL_SAMPLED_PARAMS_H

#include "vantorel_types.h"

// The fifteen parameters, numbered 0 to 14 in the order they are sampled.
enum { kSampledParamCount = 15 };

// Where one value goes: a switch's field or a number's, the other null.
typedef struct ParamField {
  int32_t *flag;
  double *number;
} ParamField;

// The host name of sampled parameter i.
const char *sampledParamName(unsigned i);

// The field of `params` that sampled parameter i fills.
ParamField sampledParamField(RenderParams *params, unsigned i);

// RenderParams holding every parameter's default.
RenderParams defaultRenderParams(void);

#endif
