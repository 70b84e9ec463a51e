// The tool as the package installs it: the same binary, copied away from
// the build tree, finds the plug-in through --bundle, OFX_PLUGIN_PATH and
// the standard folder in that order and never loads the build's own
// bundle. And standard error stays the terminal's: a library's crash
// message reaches it.
#include "platform.h"
#include "tool_fixture.h"

#include <algorithm>
#include <csignal>
#include <map>

namespace {

using namespace toolfixture;

const std::string kStandardFolder = ofxhost::platform::standardPluginFolder();

// The first line of `output` that starts with `start`, without it.
std::string lineAfter(const std::string &output, const std::string &start) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(start, 0) == 0)
      return line.substr(start.size());
  return "(no line starting '" + start + "' in: " + output + ")";
}

class InstalledTool : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    tool = path("usr/bin/vantorel");
    pathBundle = path("plugins/vendor/QvoVantorel.ofx.bundle");
    fs::create_directories(dir / "usr" / "bin");
    fs::copy_file(VANTOREL_TOOL, tool);
    fs::create_directories(dir / "plugins" / "vendor");
    fs::copy(VANTOREL_TEST_BUNDLE, pathBundle, fs::copy_options::recursive);
    const std::uint8_t pixel[3] = {1, 2, 3};
    writeFile(path("in.png"), 1, 1, 3, TypeDesc::UINT8, pixel);
  }

  // The copied tool run from its own folder, with OFX_PLUGIN_PATH set to
  // `pluginPath` (unset when empty), as a shell command line.
  std::string command(const std::string &pluginPath,
                      const std::vector<std::string> &args) const {
    return "cd '" + path("usr/bin") + "' && " +
           (pluginPath.empty() ? "env -u OFX_PLUGIN_PATH"
                               : "env OFX_PLUGIN_PATH='" + pluginPath + "'") +
           " '" + tool + "'" + quoted(args);
  }

  std::string tool;       // the tool copied away from the build
  std::string pathBundle; // a bundle in a folder of OFX_PLUGIN_PATH
};

TEST_F(InstalledTool, FindsTheBundleThroughOfxPluginPathNotTheBuildFolder) {
  const struct {
    const char *what;
    std::string pluginPath;
    std::vector<std::string> bundleOption;
    std::string loaded; // the bundle named; empty: none found
  } cases[] = {
      {"OFX_PLUGIN_PATH", path("plugins"), {}, pathBundle},
      {"--bundle first",
       path("plugins"),
       {"--bundle", VANTOREL_TEST_BUNDLE},
       VANTOREL_TEST_BUNDLE},
      {"a folder without it, then one with it",
       path("usr") + ":" + path("plugins"),
       {},
       pathBundle},
      {"neither", "", {}, ""},
  };
  for (const auto &c : cases) {
    std::vector<std::string> describe = {"describe"};
    describe.insert(describe.end(), c.bundleOption.begin(),
                    c.bundleOption.end());
    const ToolRun described = runCommand(command(c.pluginPath, describe));
    std::vector<std::string> render = {"render", path("in.png"),
                                       path("out.png")};
    render.insert(render.end(), c.bundleOption.begin(), c.bundleOption.end());
    const ToolRun rendered = runCommand(command(c.pluginPath, render));
    EXPECT_EQ(described.output.find(VANTOREL_TEST_BUNDLE) != std::string::npos,
              c.loaded == VANTOREL_TEST_BUNDLE)
        << c.what << ": " << described.output;
    if (!c.loaded.empty()) {
      EXPECT_EQ(described.exitCode, 0) << c.what << ": " << described.output;
      EXPECT_EQ(lineAfter(described.output, "bundle   "), c.loaded) << c.what;
      EXPECT_EQ(rendered.exitCode, 0) << c.what << ": " << rendered.output;
      const std::string summaryEnd = ", plug-in from " + c.loaded + "\n";
      EXPECT_EQ(rendered.output.substr(
                    rendered.output.size() -
                    std::min(rendered.output.size(), summaryEnd.size())),
                summaryEnd)
          << c.what;
      continue;
    }
    // With nothing in OFX_PLUGIN_PATH the standard folder is searched,
    // whatever this machine holds there; never the build's bundle.
    if (described.exitCode == 0) {
      EXPECT_EQ(lineAfter(described.output, "bundle   ")
                    .rfind(kStandardFolder + "/", 0),
                0u)
          << described.output;
      continue;
    }
    EXPECT_EQ(described.exitCode, 1) << described.output;
    EXPECT_EQ(described.output,
              "vantorel: no QvoVantorel.ofx.bundle with a " +
                  std::string(VANTOREL_OFX_ARCH) +
                  " binary in the folders of OFX_PLUGIN_PATH (not set) or "
                  "in " +
                  kStandardFolder + " (name one with --bundle PATH)\n");
    EXPECT_EQ(rendered.output, described.output);
  }
}

// The standard folder itself, seen only by the tool: in a mount namespace
// of its own, /usr gets an overlay and the folder an empty tmpfs, so that
// nothing on this machine changes and what it holds there does not count.
TEST_F(InstalledTool, FindsTheBundleInTheStandardFolderAfterOfxPluginPath) {
  fs::create_directories(dir / "upper");
  fs::create_directories(dir / "work");
  std::ofstream script(path("in-namespace.sh"));
  script << "set -e\n"
         << "if [ ! -d '" << kStandardFolder << "' ]; then\n"
         << "  mount -t overlay overlay -o lowerdir=/usr,upperdir='"
         << path("upper") << "',workdir='" << path("work") << "' /usr\n"
         << "  mkdir -p '" << kStandardFolder << "'\n"
         << "fi\n"
         << "mount -t tmpfs tmpfs '" << kStandardFolder << "'\n"
         << "echo '== empty'\n"
         << command("", {"describe"}) << " 2>&1 || true\n"
         << "cp -R '" << VANTOREL_TEST_BUNDLE << "' '" << kStandardFolder
         << "/'\n"
         << "echo '== standard'\n"
         << command("", {"describe"}) << " 2>&1\n"
         << "echo '== path'\n"
         << command(path("plugins"), {"describe"}) << " 2>&1\n"
         << "echo '== option'\n"
         << command(path("plugins"), {"describe", "--bundle", pathBundle})
         << " 2>&1\n"
         << "echo '== render'\n"
         << command("", {"render", path("in.png"), path("out.png")})
         << " 2>&1\n";
  script.close();
  const ToolRun run = runCommand("unshare --mount --propagation private sh '" +
                                 path("in-namespace.sh") + "'");
  if (run.exitCode != 0 && run.output.find("== empty") == std::string::npos)
    GTEST_SKIP() << "cannot mount in a namespace of its own here (it needs "
                    "root): "
                 << run.output;
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string standard = kStandardFolder + "/QvoVantorel.ofx.bundle";
  std::map<std::string, std::string> parts;
  std::istringstream lines(run.output);
  std::string part;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("== ", 0) == 0)
      part = line.substr(3);
    else
      parts[part] += line + "\n";
  EXPECT_EQ(parts["empty"].rfind("vantorel: no QvoVantorel.ofx.bundle", 0), 0u)
      << parts["empty"];
  EXPECT_EQ(lineAfter(parts["standard"], "bundle   "), standard);
  EXPECT_EQ(lineAfter(parts["path"], "bundle   "), pathBundle);
  EXPECT_EQ(lineAfter(parts["option"], "bundle   "), pathBundle);
  EXPECT_NE(parts["render"].find(", plug-in from " + standard + "\n"),
            std::string::npos)
      << parts["render"];
  EXPECT_FALSE(
      fs::exists(dir / "upper" / "OFX" / "Plugins" / "QvoVantorel.ofx.bundle"))
      << "the bundle went to the tmpfs, gone with the namespace";
}

// A library that prints its own message and aborts inside the tool (here
// the plug-in binary): the message reaches standard error whole, and the
// tool ends with the signal.
TEST_F(ToolTest, ALibrarysCrashMessageReachesStandardError) {
  for (const char *command : {"describe", "render"}) {
    std::vector<std::string> args = {command};
    if (std::string(command) == "render")
      args.insert(args.end(), {path("in.png"), path("out.png")});
    args.insert(args.end(), {"--bundle", VANTOREL_CRASHING_BUNDLE});
    const ToolRun run = runTool(args);
    EXPECT_EQ(run.signal, SIGABRT) << command << ": " << run.output;
    EXPECT_NE(run.output.find("crashing plug-in: about to abort\n"),
              std::string::npos)
        << command << ": " << run.output;
  }
}

} // namespace
