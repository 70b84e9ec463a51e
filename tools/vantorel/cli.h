// Command-line plumbing shared by the subcommands: exit codes, option
// parsing, error messages and the small value parsers.
#pragma once

#include "ofx_host.h"

#include <map>
#include <string>
#include <vector>

namespace vantorel {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

using Args = std::vector<std::string>;

// An option a command accepts, e.g. {"--size", true} or {"--verify", false}.
struct OptionSpec {
  const char *name;
  bool takesValue;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options; // every value given

  bool has(const std::string &name) const { return options.count(name) != 0; }
  // The last value given for `name`, else `fallback`.
  std::string value(const std::string &name,
                    const std::string &fallback = "") const;
  // Every value given for `name`, in order.
  std::vector<std::string> values(const std::string &name) const;
};

// Splits `args` into positional arguments and the options of `specs`.
// False with *error for an unknown option or an option missing its value.
bool parseArgs(const Args &args, const std::vector<OptionSpec> &specs,
               ParsedArgs *parsed, std::string *error);

// Prints "vantorel: MESSAGE" on standard error; returns kExitFailed.
int fail(const std::string &message);

// "WxH" with both at least 1.
bool parseSize(const std::string &text, int *width, int *height,
               std::string *error);
// "byte" or "float".
bool parseDepth(const std::string &text, ofxhost::Depth *depth,
                std::string *error);

} // namespace vantorel
