#include "library_messages.h"

#include <algorithm>
#include <mutex>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace vantorel {

namespace {

std::mutex bufferMutex;
int bufferFd = -1;              // where descriptor 2 now points
std::FILE *ownStream = nullptr; // the original standard error

// Words of the image libraries and what they mean, in plain terms.
struct PlainReason {
  const char *words[4];
  const char *reason;
};
const PlainReason kPlainReasons[] = {
    {{"end of file", "Premature end", "nexpected end", "truncated"},
     "the file ends early: it is cut short or damaged"},
    {{"No space left", nullptr, nullptr, nullptr},
     "the disk is full (no space left on device)"},
    {{"Permission denied", nullptr, nullptr, nullptr}, "permission denied"},
    {{"Not a PNG file", "Not a JPEG file", "not a TIFF file",
      "ould not find a format reader"},
     "not an image file in a format vantorel reads"},
};

// The lines of `text` without empty lines and repeats.
std::vector<std::string> distinctLines(const std::string &text) {
  std::istringstream stream(text);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(stream, line))
    if (!line.empty() &&
        std::find(lines.begin(), lines.end(), line) == lines.end())
      lines.push_back(line);
  return lines;
}

} // namespace

void catchLibraryMessages() {
  std::lock_guard<std::mutex> lock(bufferMutex);
  if (bufferFd >= 0)
    return;
  const int buffer = memfd_create("vantorel-library-messages", MFD_CLOEXEC);
  const int original = buffer < 0 ? -1 : dup(2);
  std::FILE *stream = original < 0 ? nullptr : fdopen(original, "w");
  if (!stream) {
    if (original >= 0)
      close(original);
    if (buffer >= 0)
      close(buffer);
    return;
  }
  std::fflush(stderr);
  if (dup2(buffer, 2) < 0) {
    std::fclose(stream);
    close(buffer);
    return;
  }
  std::setvbuf(stream, nullptr, _IOLBF, 0);
  ownStream = stream;
  bufferFd = buffer;
}

std::FILE *toolMessages() { return ownStream ? ownStream : stderr; }

std::vector<std::string> takeLibraryMessages() {
  std::lock_guard<std::mutex> lock(bufferMutex);
  if (bufferFd < 0)
    return {};
  std::fflush(stderr);
  const off_t size = lseek(bufferFd, 0, SEEK_END);
  std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size <= 0 || pread(bufferFd, text.data(), text.size(), 0) != size)
    text.clear();
  if (ftruncate(bufferFd, 0) != 0 || lseek(bufferFd, 0, SEEK_SET) != 0)
    return {};
  return distinctLines(text);
}

std::string libraryReason(const std::string &errorText) {
  std::vector<std::string> lines = distinctLines(errorText);
  for (const std::string &line : takeLibraryMessages())
    if (std::find(lines.begin(), lines.end(), line) == lines.end())
      lines.push_back(line);
  // A line that another one quotes whole says nothing more.
  std::vector<std::string> kept;
  std::string all;
  for (const std::string &line : lines) {
    all += line + "\n";
    if (std::none_of(lines.begin(), lines.end(), [&](const std::string &o) {
          return o != line && o.find(line) != std::string::npos;
        }))
      kept.push_back(line);
  }
  std::string details;
  for (const std::string &line : kept)
    details += (details.empty() ? "" : "; ") + line;
  if (details.empty())
    return "the image library gave no reason";
  for (const PlainReason &plain : kPlainReasons)
    for (const char *words : plain.words)
      if (words && all.find(words) != std::string::npos)
        return std::string(plain.reason) + " (" + details + ")";
  return details;
}

} // namespace vantorel
