// The subcommands of vantorel and the table that lists them.
#pragma once

#include "cli.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vantorel {

struct Command {
  const char *name;
  const char *arguments; // the usage line after the name
  const char *summary;
  const char *options; // one line per option, for --help
  std::vector<OptionSpec> accepted;
  int (*run)(const ParsedArgs &args);
};

const std::vector<Command> &commands();
const Command *findCommand(const std::string &name);

// Prints the overview of every command, or one command's help.
void printUsage(std::FILE *out);
void printCommandHelp(const Command &command, std::FILE *out);
// "vantorel VERSION (OpenImageIO VERSION)".
void printVersion(std::FILE *out);

// Prints "vantorel: MESSAGE" and the command's usage line on standard
// error; returns kExitUsage.
int usageError(const char *command, const std::string &message);

int runDescribe(const ParsedArgs &args);
int runRender(const ParsedArgs &args);
int runChart(const ParsedArgs &args);
int runGallery(const ParsedArgs &args);

} // namespace vantorel
