// vantorel describe: the plug-in as a host sees it.
#include "commands.h"
#include "session.h"

#include "ofx_host.h"
#include "ofx_names.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace vantorel {

namespace {

using ofxhost::Effect;
using ofxhost::Host;
using ofxhost::Module;
using ofxhost::PropertySet;

// Short decimal text that reads back as the same double.
std::string formatDouble(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  if (std::strtod(buffer, nullptr) != value)
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string formatValue(const ofxhost::Property &p, std::size_t i) {
  const auto &v = p.values[i];
  switch (p.type) {
  case ofxhost::PropType::Pointer:
    return std::get<void *>(v) ? "ptr" : "null";
  case ofxhost::PropType::String:
    return "\"" + std::get<std::string>(v) + "\"";
  case ofxhost::PropType::Double:
    return formatDouble(std::get<double>(v));
  case ofxhost::PropType::Int:
    return std::to_string(std::get<int>(v));
  }
  return std::string();
}

// A property's values, comma-separated; empty when absent.
std::string formatProperty(const PropertySet &props, const std::string &name) {
  const ofxhost::Property *p = props.find(name);
  std::string text;
  for (std::size_t i = 0; p && i < p->values.size(); ++i) {
    if (i)
      text += ", ";
    text += formatValue(*p, i);
  }
  return text;
}

// Like formatProperty, but strings unquoted (for tables).
std::string plainProperty(const PropertySet &props, const std::string &name) {
  const ofxhost::Property *p = props.find(name);
  if (p && p->type == ofxhost::PropType::String) {
    std::string text;
    for (std::size_t i = 0; i < p->values.size(); ++i)
      text += (i ? ", " : "") + std::get<std::string>(p->values[i]);
    return text;
  }
  return formatProperty(props, name);
}

void printProperties(const PropertySet &props, const char *indent) {
  std::size_t width = 0;
  for (const std::string &name : props.names())
    width = std::max(width, name.size());
  for (const std::string &name : props.names())
    std::printf("%s%-*s  %s\n", indent, static_cast<int>(width), name.c_str(),
                formatProperty(props, name).c_str());
  if (props.names().empty())
    std::printf("%s(none)\n", indent);
}

void printTable(const std::vector<std::vector<std::string>> &rows) {
  std::vector<std::size_t> widths;
  for (const auto &row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c)
        widths.push_back(0);
      widths[c] = std::max(widths[c], row[c].size());
    }
  for (const auto &row : rows) {
    std::string line = "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size())
        line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  }
}

bool reportAction(const char *action, OfxStatus status) {
  std::printf("%s: %s\n", action, ofxhost::statusName(status).c_str());
  return actionSucceeded(status);
}

// ---------------------------------------------------------------- describe

std::string shortType(const std::string &type) {
  const std::string prefix = "OfxParamType";
  return type.compare(0, prefix.size(), prefix) == 0
             ? type.substr(prefix.size())
             : type;
}

void printParameters(const Effect &effect) {
  std::printf("\nparameters (%zu)\n", effect.params.params.size());
  std::vector<std::vector<std::string>> rows = {{"#", "type", "name", "label",
                                                 "short label", "parent",
                                                 "default", "min", "max"}};
  int order = 0;
  for (const auto &param : effect.params.params) {
    const PropertySet &p = param->props;
    rows.push_back({std::to_string(order++), shortType(param->type),
                    param->name, plainProperty(p, kOfxPropLabel),
                    plainProperty(p, kOfxPropShortLabel),
                    plainProperty(p, kOfxParamPropParent),
                    plainProperty(p, kOfxParamPropDefault),
                    plainProperty(p, kOfxParamPropMin),
                    plainProperty(p, kOfxParamPropMax)});
  }
  printTable(rows);
}

} // namespace

int runDescribe(const ParsedArgs &args) {
  if (!args.positional.empty())
    return usageError("describe",
                      "unexpected argument '" + args.positional.front() + "'");
  const std::string bundle = args.value("--bundle");
  std::string error;
  std::unique_ptr<Module> module = loadModule(bundle, &error);
  if (!module)
    return fail(error);
  std::printf("bundle   %s\n", bundleFolderOf(*module).c_str());
  std::printf("binary   %s\n", module->path().c_str());
  const int count = module->numberOfPlugins();
  std::printf("plug-ins %d\n", count);
  if (count < 1)
    return fail("the binary holds no plug-in");
  OfxPlugin *plugin = module->plugin(0);
  if (!plugin)
    return fail("OfxGetPlugin(0) answered null");
  std::printf("\nplug-in 0\n");
  std::printf("  api          %s\n",
              plugin->pluginApi ? plugin->pluginApi : "(null)");
  std::printf("  api version  %d\n", plugin->apiVersion);
  std::printf("  identifier   %s\n",
              plugin->pluginIdentifier ? plugin->pluginIdentifier : "(null)");
  std::printf("  version      %u.%u\n\n", plugin->pluginVersionMajor,
              plugin->pluginVersionMinor);

  Host host;
  host.bind(plugin);
  int result = kExitOk;
  if (!reportAction(kOfxActionLoad,
                    host.action(plugin, kOfxActionLoad, nullptr))) {
    result = kExitFailed;
  } else {
    OfxStatus status = kOfxStatOK;
    Effect *described = host.describe(plugin, &status);
    if (!reportAction(kOfxActionDescribe, status)) {
      result = kExitFailed;
    } else {
      std::printf("\neffect properties\n");
      printProperties(described->props, "  ");
      std::printf("\n");
      Effect *filter =
          host.describeInContext(plugin, kOfxImageEffectContextFilter, &status);
      if (!reportAction(kOfxImageEffectActionDescribeInContext, status))
        result = kExitFailed;
      std::printf("\nclips (%zu) in %s\n", filter->clips.size(),
                  kOfxImageEffectContextFilter);
      for (const auto &clip : filter->clips) {
        std::printf("  %s\n", clip->name.c_str());
        printProperties(clip->props, "    ");
      }
      printParameters(*filter);
    }
    std::printf("\n");
    reportAction(kOfxActionUnload,
                 host.action(plugin, kOfxActionUnload, nullptr));
  }
  return result;
}

} // namespace vantorel
