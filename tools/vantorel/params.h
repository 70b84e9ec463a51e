// The parameters the plug-in declared, and checking "NAME=VALUE" settings
// against them: nothing outside what was declared is accepted, and nothing
// is clamped.
#pragma once

#include "ofx_host.h"

#include <string>
#include <vector>

namespace vantorel {

// A parameter that holds a value (groups are left out).
struct ParamInfo {
  std::string name;
  std::string label;
  bool boolean = false;
  double minimum = 0.0; // the declared range of a number parameter
  double maximum = 0.0;
  double defaultValue = 0.0;
};

struct Setting {
  std::string name;
  double value = 0.0; // 0 or 1 for booleans
};

// The boolean and number parameters of `effect`, in declaration order.
std::vector<ParamInfo> declaredParams(const ofxhost::Effect &effect);

// Parses "NAME=VALUE" against `params`. Booleans take 0, 1, on, off, true
// or false; numbers must be finite and inside the declared range. False
// with *error saying what is wrong and what would be accepted.
bool parseSetting(const std::string &text, const std::vector<ParamInfo> &params,
                  Setting *setting, std::string *error);

// A setting per boolean parameter, switching every aid on.
std::vector<Setting> everyAidOn(const std::vector<ParamInfo> &params);

} // namespace vantorel
