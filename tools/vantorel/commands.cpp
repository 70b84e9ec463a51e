#include "commands.h"

#include <cstdio>

namespace vantorel {

namespace {

const OptionSpec kBundle = {"--bundle", true};
const OptionSpec kSet = {"--set", true};
const OptionSpec kSize = {"--size", true};
const OptionSpec kDepth = {"--depth", true};

const char kBundleHelp[] =
    "  --bundle PATH      the plug-in bundle (default: the one this build "
    "made,\n"
    "                     else QvoVantorel.ofx.bundle found through "
    "OFX_PLUGIN_PATH)\n";
const char kSetHelp[] =
    "  --set NAME=VALUE   set a parameter by the name the plug-in declares "
    "(repeatable);\n"
    "                     switches take 0, 1, on, off, true or false\n";

const std::string kRenderHelp =
    std::string("  --size WxH         the size of the raw frames\n"
                "  --depth byte|float the depth of the raw frames (default "
                "byte)\n") +
    kSetHelp + kBundleHelp;
const std::string kChartHelp =
    std::string("  --size WxH         chart size (default 1280x720)\n"
                "  --depth byte|float chart depth (default byte)\n") +
    kSetHelp + kBundleHelp;
const std::string kDescribeHelp =
    std::string("  --calls            also print every suite call the "
                "plug-in made\n") +
    kBundleHelp;

} // namespace

const std::vector<Command> &commands() {
  static const std::vector<Command> table = {
      {"describe",
       "[--bundle PATH] [--calls]",
       "load the plug-in and print its description: plug-in record, effect "
       "properties, clips and parameters",
       kDescribeHelp.c_str(),
       {kBundle, {"--calls", false}},
       runDescribe},
      {"render",
       "IN OUT --size WxH [--depth byte|float] [--set NAME=VALUE]...",
       "render a raw RGBA frame through the plug-in (OUT ending in .ppm or "
       ".pfm is written as that format, anything else raw)",
       kRenderHelp.c_str(),
       {kBundle, kSet, kSize, kDepth},
       runRender},
      {"chart",
       "OUT [--size WxH] [--depth byte|float] [--set NAME=VALUE]...",
       "render the built-in test chart through the plug-in with every aid "
       "switched on (--set overrides) and print the output path",
       kChartHelp.c_str(),
       {kBundle, kSet, kSize, kDepth},
       runChart},
  };
  return table;
}

const Command *findCommand(const std::string &name) {
  for (const Command &c : commands())
    if (name == c.name)
      return &c;
  return nullptr;
}

void printUsage(std::FILE *out) {
  std::fprintf(out, "usage: vantorel COMMAND [OPTIONS]\n"
                    "       vantorel COMMAND --help\n\ncommands:\n");
  for (const Command &c : commands())
    std::fprintf(out, "  %s %s\n      %s\n", c.name, c.arguments, c.summary);
}

void printCommandHelp(const Command &command, std::FILE *out) {
  std::fprintf(out, "usage: vantorel %s %s\n\n%s\n\noptions:\n%s", command.name,
               command.arguments, command.summary, command.options);
}

int usageError(const char *command, const std::string &message) {
  std::fprintf(stderr, "vantorel: %s\n", message.c_str());
  const Command *c = command ? findCommand(command) : nullptr;
  if (c)
    std::fprintf(stderr, "usage: vantorel %s %s  (see vantorel %s --help)\n",
                 c->name, c->arguments, c->name);
  else
    std::fprintf(stderr, "usage: vantorel COMMAND [OPTIONS]  (see vantorel "
                         "--help)\n");
  return kExitUsage;
}

} // namespace vantorel
