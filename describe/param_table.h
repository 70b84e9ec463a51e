// The effect's parameters: one table that both the description and the
// render's parameter sampling read, so each name and default lives here once.
#ifndef VANTOREL_PARAM_TABLE_H
#define VANTOREL_PARAM_TABLE_H

#include "sampled_params.h"

#include <stddef.h>

typedef enum ParamKind { kParamGroup, kParamBoolean, kParamDouble } ParamKind;

typedef struct ParamSpec {
  ParamKind kind;
  const char *name;
  const char *label;
  const char *shortLabel;
  const char *parent; // null for a group
  // The RenderParams field a boolean or a double fills, null otherwise, and
  // that field's offset in RenderParams (0 for a group).
  int32_t RenderParams::*flag;
  double RenderParams::*number;
  size_t fieldOffset;
  double defaultValue; // a boolean's default is its fall-back only
  double minimum;      // hard and displayed range of a double
  double maximum;
} ParamSpec;

// Groups and parameters in the order they are defined.
extern const ParamSpec kParamTable[];
extern const unsigned kParamTableSize;

const char *paramTypeName(ParamKind kind);

#endif
