#include "params.h"

#include "ofx_names.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace vantorel {

namespace {

std::string formatNumber(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

std::string lowerCase(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string validNames(const std::vector<ParamInfo> &params) {
  std::string names;
  for (const ParamInfo &p : params)
    names += (names.empty() ? "" : ", ") + p.name;
  return names;
}

struct BooleanWord {
  const char *word;
  double value;
};

const BooleanWord kBooleanWords[] = {
    {"0", 0}, {"1", 1}, {"off", 0}, {"on", 1}, {"false", 0}, {"true", 1},
};

bool parseBoolean(const ParamInfo &param, const std::string &text,
                  double *value, std::string *error) {
  const std::string word = lowerCase(text);
  for (const BooleanWord &w : kBooleanWords)
    if (word == w.word) {
      *value = w.value;
      return true;
    }
  *error = param.name +
           " is a switch: give 0, 1, on, off, true or false "
           "(not '" +
           text + "')";
  return false;
}

bool parseNumber(const ParamInfo &param, const std::string &text, double *value,
                 std::string *error) {
  const std::string range =
      formatNumber(param.minimum) + " to " + formatNumber(param.maximum);
  char *end = nullptr;
  errno = 0;
  const double number = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno == ERANGE ||
      !std::isfinite(number) ||
      std::isspace(static_cast<unsigned char>(text[0]))) {
    *error =
        param.name + " takes a number from " + range + " (not '" + text + "')";
    return false;
  }
  if (number < param.minimum || number > param.maximum) {
    *error = param.name + "=" + text + " is out of range: it takes " + range;
    return false;
  }
  *value = number;
  return true;
}

} // namespace

std::vector<ParamInfo> declaredParams(const ofxhost::Effect &effect) {
  std::vector<ParamInfo> params;
  for (const auto &param : effect.params.params) {
    const bool boolean = param->type == kOfxParamTypeBoolean;
    if (!boolean && param->type != kOfxParamTypeDouble)
      continue;
    ParamInfo info;
    info.name = param->name;
    info.boolean = boolean;
    const ofxhost::PropertySet &props = param->props;
    if (props.has(kOfxPropLabel))
      info.label = props.getString(kOfxPropLabel);
    info.minimum = boolean ? 0.0
                   : props.has(kOfxParamPropMin)
                       ? props.getDouble(kOfxParamPropMin)
                       : -std::numeric_limits<double>::max();
    info.maximum = boolean ? 1.0
                   : props.has(kOfxParamPropMax)
                       ? props.getDouble(kOfxParamPropMax)
                       : std::numeric_limits<double>::max();
    if (props.has(kOfxParamPropDefault))
      info.defaultValue = boolean ? props.getInt(kOfxParamPropDefault)
                                  : props.getDouble(kOfxParamPropDefault);
    params.push_back(info);
  }
  return params;
}

bool parseSetting(const std::string &text, const std::vector<ParamInfo> &params,
                  Setting *setting, std::string *error) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    *error = "--set takes NAME=VALUE (not '" + text + "')";
    return false;
  }
  const std::string name = text.substr(0, equals);
  auto param = std::find_if(params.begin(), params.end(),
                            [&](const ParamInfo &p) { return p.name == name; });
  if (param == params.end()) {
    *error = "the plug-in has no parameter '" + name +
             "'; valid parameters: " + validNames(params);
    return false;
  }
  setting->name = name;
  const std::string value = text.substr(equals + 1);
  return param->boolean ? parseBoolean(*param, value, &setting->value, error)
                        : parseNumber(*param, value, &setting->value, error);
}

std::vector<Setting> everyAidOn(const std::vector<ParamInfo> &params) {
  std::vector<Setting> settings;
  for (const ParamInfo &p : params)
    if (p.boolean)
      settings.push_back({p.name, 1.0});
  return settings;
}

} // namespace vantorel
