#include "commands.h"

#include "platform.h"
#include "session.h"

#include <OpenImageIO/oiioversion.h>

#include <cstdio>

namespace vantorel {

namespace {

const OptionSpec kBundle = {"--bundle", true};
const OptionSpec kSet = {"--set", true};
const OptionSpec kSize = {"--size", true};
const OptionSpec kDepth = {"--depth", true};
const OptionSpec kFrames = {"--frames", true};
const OptionSpec kOutType = {"--out-type", true};
const OptionSpec kJobs = {"--jobs", true};
const OptionSpec kVerify = {"--verify", false};

const std::string kBundleHelp =
    "  --bundle PATH       load the plug-in from this bundle folder (see "
    "\"the plug-in\"\n"
    "                      below)\n";
const std::string kSetHelp =
    "  --set NAME=VALUE    set a parameter by the name the plug-in declares "
    "(repeatable);\n"
    "                      switches take 0, 1, on, off, true or false, "
    "numbers must\n"
    "                      lie in the declared range\n";

const std::string kRenderHelp =
    "  IN, OUT             image files (EXR, DPX, TIFF, PNG, JPEG, ...); OUT's "
    "extension\n"
    "                      picks its format; OUT has IN's channels (grey "
    "becomes RGB).\n"
    "                      With --frames both hold a frame pattern, #### or "
    "%04d, and\n"
    "                      the frame number is the render time\n"
    "  --frames FIRST-LAST the frames of a sequence\n"
    "  --depth byte|float  render at this depth (default: float for half, "
    "float and\n"
    "                      16-bit files, byte for 8-bit files)\n"
    "  --out-type uint8|uint16|half|float\n"
    "                      the pixel type written (default: the input's; "
    "a format\n"
    "                      that cannot hold it gets its nearest)\n"
    "  --jobs N            frames in flight at once, 1 to 64 (default: the "
    "core count)\n"
    "  --verify            also compare every pixel of each output read "
    "back with what\n"
    "                      was rendered, for formats that store pixels "
    "without loss\n"
    "                      (PNG, TIFF, DPX, EXR but its lossy "
    "compressions, BMP, TGA,\n"
    "                      SGI, PNM); costs a full decode of every file. "
    "Without it\n"
    "                      each output's size, channels and pixel type are "
    "read back\n" +
    kSetHelp + kBundleHelp;
const std::string kChartHelp =
    "  --size WxH          chart size (default 1280x720)\n"
    "  --depth byte|float  chart depth (default: float for .exr, .pfm and "
    ".hdr, else\n"
    "                      byte)\n" +
    kSetHelp + kBundleHelp;
const std::string kGalleryHelp =
    "  --size WxH          size of the chart in each tile (default 310x174, "
    "a sheet\n"
    "                      1280 pixels wide)\n" +
    kBundleHelp;

} // namespace

const std::vector<Command> &commands() {
  static const std::vector<Command> table = {
      {"describe",
       "[--bundle PATH]",
       "load the plug-in and print its description: plug-in record, effect "
       "properties, clips and parameters",
       kBundleHelp.c_str(),
       {kBundle},
       runDescribe},
      {"render",
       "IN OUT [--frames FIRST-LAST] [--depth byte|float] "
       "[--out-type TYPE] [--jobs N] [--verify] [--set NAME=VALUE]...",
       "render an image file, or a sequence of them, through the plug-in",
       kRenderHelp.c_str(),
       {kBundle, kSet, kDepth, kFrames, kOutType, kJobs, kVerify},
       runRender},
      {"chart",
       "OUT [--size WxH] [--depth byte|float] [--set NAME=VALUE]...",
       "render the built-in test chart through the plug-in with every aid "
       "switched on (--set overrides) and print the output path",
       kChartHelp.c_str(),
       {kBundle, kSet, kSize, kDepth},
       runChart},
      {"gallery",
       "OUT [--size WxH]",
       "render the chart under each aid on its own and all together, as "
       "one captioned contact sheet, and print the output path",
       kGalleryHelp.c_str(),
       {kBundle, kSize},
       runGallery},
  };
  return table;
}

const Command *findCommand(const std::string &name) {
  for (const Command &c : commands())
    if (name == c.name)
      return &c;
  return nullptr;
}

namespace {

// Where every command looks for the plug-in, and what its exit status
// means: the end of every --help.
void printBundleSearchAndExitStatus(std::FILE *out) {
  std::fprintf(
      out,
      "\nthe plug-in:\n"
      "  Every command loads the plug-in from the first of these that "
      "holds it:\n"
      "    1. --bundle PATH: that bundle folder (or its .ofx binary);\n"
      "    2. the first %s with a binary for this system in\n"
      "       the folders listed in OFX_PLUGIN_PATH (separated by '%c') or "
      "below them;\n"
      "    3. the same in the standard OpenFX folder %s.\n"
      "  render's summary line and describe name the bundle loaded.\n"
      "\nexit status:\n"
      "  0  done\n"
      "  1  failed: an input that cannot be read, a plug-in that cannot be "
      "found,\n"
      "     loaded or that fails to render, an output that cannot be "
      "written or\n"
      "     does not read back as written\n"
      "  2  a mistake in the command line: an unknown command or option, a "
      "missing\n"
      "     or refused value\n",
      kBundleName, ofxhost::platform::kPathListSeparator,
      ofxhost::platform::standardPluginFolder().c_str());
}

} // namespace

void printUsage(std::FILE *out) {
  std::fprintf(out, "usage: vantorel COMMAND [OPTIONS]\n"
                    "       vantorel COMMAND --help\n"
                    "       vantorel --version\n\ncommands:\n");
  for (const Command &c : commands())
    std::fprintf(out, "  %s %s\n      %s\n", c.name, c.arguments, c.summary);
  printBundleSearchAndExitStatus(out);
}

void printCommandHelp(const Command &command, std::FILE *out) {
  std::fprintf(out, "usage: vantorel %s %s\n\n%s\n\noptions:\n%s", command.name,
               command.arguments, command.summary, command.options);
  printBundleSearchAndExitStatus(out);
}

void printVersion(std::FILE *out) {
  std::fprintf(out, "vantorel %s (OpenImageIO %s)\n", VANTOREL_VERSION,
               OIIO_VERSION_STRING);
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
