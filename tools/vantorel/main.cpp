// vantorel: loads the plug-in into the project's own host and applies it
// from the command line.
#include "commands.h"
#include "output_file.h"

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv) {
  using namespace vantorel;
  if (argc < 2)
    return usageError(nullptr, "no command given");
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    printUsage(stdout);
    return kExitOk;
  }
  if (name == "--version" || name == "-V") {
    printVersion(stdout);
    return kExitOk;
  }
  const Command *command = findCommand(name);
  if (!command)
    return usageError(nullptr, "unknown command '" + name + "'");
  const Args args(argv + 2, argv + argc);
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    printCommandHelp(*command, stdout);
    return kExitOk;
  }
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, command->accepted, &parsed, &error))
    return usageError(command->name, error);
  removeTemporaryFilesOnSignalsAndOutOfMemory();
  return command->run(parsed);
}
