#include "sequence.h"

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace vantorel {

namespace {

// The last match of "%0Nd", "%d" or "#..." in `path`.
bool lastPatternMatch(const std::string &path, std::smatch *last) {
  static const std::regex pattern("%(0[1-9])?d|#+");
  bool found = false;
  for (auto it = std::sregex_iterator(path.begin(), path.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    *last = *it;
    found = true;
  }
  return found;
}

// A whole decimal number from 0 to 999999999.
bool parseFrameNumber(const std::string &text, int *value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::atoi(text.c_str());
  return true;
}

} // namespace

FramePattern findFramePattern(const std::string &path) {
  FramePattern pattern;
  std::smatch match;
  if (!lastPatternMatch(path, &match))
    return pattern;
  pattern.present = true;
  pattern.prefix = match.prefix().str();
  pattern.suffix = match.suffix().str();
  const std::string text = match.str();
  pattern.digits = text[0] == '#'     ? static_cast<int>(text.size())
                   : match[1].matched ? text[2] - '0'
                                      : 1;
  return pattern;
}

std::string framePath(const FramePattern &pattern, const std::string &path,
                      int frame) {
  if (!pattern.present)
    return path;
  char number[16];
  std::snprintf(number, sizeof number, "%0*d", pattern.digits, frame);
  return pattern.prefix + number + pattern.suffix;
}

bool parseFrameRange(const std::string &text, int *first, int *last,
                     std::string *error) {
  const std::size_t dash = text.find('-');
  const bool ok =
      dash == std::string::npos
          ? parseFrameNumber(text, first) && parseFrameNumber(text, last)
          : parseFrameNumber(text.substr(0, dash), first) &&
                parseFrameNumber(text.substr(dash + 1), last);
  if (!ok || *first > *last) {
    *error = "--frames takes FIRST-LAST, whole numbers with FIRST <= LAST "
             "(not '" +
             text + "')";
    return false;
  }
  return true;
}

bool planFrames(const std::string &in, const std::string &out,
                const std::string &frames, std::vector<FrameJob> *jobs,
                std::string *error) {
  const FramePattern inPattern = findFramePattern(in);
  const FramePattern outPattern = findFramePattern(out);
  if (frames.empty()) {
    if (inPattern.present || outPattern.present) {
      *error = "'" + (inPattern.present ? in : out) +
               "' holds a frame pattern; give --frames FIRST-LAST";
      return false;
    }
    jobs->push_back({in, out, 0});
    return true;
  }
  if (!inPattern.present || !outPattern.present) {
    *error = "--frames needs a frame pattern (#### or %04d) in both the "
             "input and the output";
    return false;
  }
  int first = 0, last = 0;
  if (!parseFrameRange(frames, &first, &last, error))
    return false;
  for (int frame = first; frame <= last; ++frame)
    jobs->push_back({framePath(inPattern, in, frame),
                     framePath(outPattern, out, frame), frame});
  return true;
}

} // namespace vantorel
