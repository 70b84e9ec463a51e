#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vantorel {

std::string ParsedArgs::value(const std::string &name,
                              const std::string &fallback) const {
  auto found = options.find(name);
  return found == options.end() || found->second.empty() ? fallback
                                                         : found->second.back();
}

std::vector<std::string> ParsedArgs::values(const std::string &name) const {
  auto found = options.find(name);
  return found == options.end() ? std::vector<std::string>() : found->second;
}

bool parseArgs(const Args &args, const std::vector<OptionSpec> &specs,
               ParsedArgs *parsed, std::string *error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      parsed->positional.push_back(arg);
      continue;
    }
    auto spec =
        std::find_if(specs.begin(), specs.end(),
                     [&](const OptionSpec &s) { return arg == s.name; });
    if (spec == specs.end()) {
      *error = "unknown option '" + arg + "'";
      return false;
    }
    std::vector<std::string> &values = parsed->options[arg];
    if (!spec->takesValue)
      continue;
    if (++i == args.size()) {
      *error = arg + " needs a value";
      return false;
    }
    values.push_back(args[i]);
  }
  return true;
}

int fail(const std::string &message) {
  std::fprintf(stderr, "vantorel: %s\n", message.c_str());
  return kExitFailed;
}

namespace {

// A whole decimal number from 1 to 65535.
bool parseDimension(const std::string &text, int *value) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::atoi(text.c_str());
  return *value >= 1 && *value <= 65535;
}

} // namespace

bool parseSize(const std::string &text, int *width, int *height,
               std::string *error) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos || !parseDimension(text.substr(0, x), width) ||
      !parseDimension(text.substr(x + 1), height)) {
    *error = "--size takes WIDTHxHEIGHT, each 1 to 65535 (not '" + text + "')";
    return false;
  }
  return true;
}

bool parseDepth(const std::string &text, ofxhost::Depth *depth,
                std::string *error) {
  if (text == "byte" || text == "float") {
    *depth = text == "byte" ? ofxhost::Depth::Byte : ofxhost::Depth::Float;
    return true;
  }
  *error = "--depth takes byte or float (not '" + text + "')";
  return false;
}

} // namespace vantorel
