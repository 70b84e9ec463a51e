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

// A whole decimal number, at most 18 digits (the caller checks the
// limit, so that the message can say which one is met).
bool parseFrameNumber(const std::string &text, long long *value) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::atoll(text.c_str());
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
  long long from = 0, to = 0;
  const bool ok =
      dash == std::string::npos
          ? parseFrameNumber(text, &from) && parseFrameNumber(text, &to)
          : parseFrameNumber(text.substr(0, dash), &from) &&
                parseFrameNumber(text.substr(dash + 1), &to);
  if (!ok) {
    *error = "--frames takes FIRST-LAST or one frame, whole numbers from 0 "
             "(not '" +
             text + "')";
    return false;
  }
  if (from > kLastFrameNumber || to > kLastFrameNumber) {
    *error = "--frames: frame numbers go up to " +
             std::to_string(kLastFrameNumber) + " (not '" + text + "')";
    return false;
  }
  if (from > to) {
    *error =
        "--frames takes FIRST-LAST with FIRST <= LAST (not '" + text + "')";
    return false;
  }
  *first = static_cast<int>(from);
  *last = static_cast<int>(to);
  return true;
}

FrameJob FramePlan::job(long long index) const {
  const int frame = static_cast<int>(first + index);
  return {framePath(inPattern, in, frame), framePath(outPattern, out, frame),
          frame};
}

bool planFrames(const std::string &in, const std::string &out,
                const std::string &frames, FramePlan *plan,
                std::string *error) {
  *plan = {in, out, findFramePattern(in), findFramePattern(out), 0, 0};
  if (frames.empty()) {
    if (plan->inPattern.present || plan->outPattern.present) {
      *error = "'" + (plan->inPattern.present ? in : out) +
               "' holds a frame pattern; give --frames FIRST-LAST";
      return false;
    }
    return true;
  }
  if (!plan->inPattern.present || !plan->outPattern.present) {
    *error = "--frames needs a frame pattern (#### or %04d) in both the "
             "input and the output";
    return false;
  }
  return parseFrameRange(frames, &plan->first, &plan->last, error);
}

} // namespace vantorel
