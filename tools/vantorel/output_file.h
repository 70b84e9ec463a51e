// Output files written whole: the bytes go to a hidden temporary file in
// OUT's folder, are flushed to the disk, and only then is the temporary file
// renamed to OUT (and the folder flushed). Any failure removes the temporary
// file and leaves an existing OUT as it was. Temporary files in flight are
// also removed when the process is stopped by SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <cstddef>
#include <string>

namespace vantorel {

// Installs the handlers that remove temporary files in flight on SIGINT,
// SIGTERM and SIGHUP and then end the process with that signal's usual
// status. Call once, before any file is written.
void removeTemporaryFilesOnSignals();

// The reason a file operation failed, in words, from an errno value:
// "the disk is full", "permission denied", ...
std::string reasonOf(int error);

// A temporary file beside `target` that becomes `target` on commit() and is
// removed otherwise (at the latest when the object goes away).
class OutputFile {
public:
  explicit OutputFile(std::string target);
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  // The temporary file's path, for writers that want a file name.
  const std::string &temporaryPath() const { return temporary_; }

  // Creates the temporary file and writes `size` bytes into it, then
  // flushes it to the disk. False with *error naming the target.
  bool write(const void *data, std::size_t size, std::string *error);
  // Flushes a temporary file that a writer filled by name to the disk.
  bool flushWritten(std::string *error);
  // Renames the temporary file to the target and flushes the folder.
  bool commit(std::string *error);
  // Removes the temporary file now.
  void discard();

private:
  bool failWith(int errorNumber, std::string *error);
  std::string target_;
  std::string temporary_;
  int slot_ = -1; // in the table the signal handlers read
  bool done_ = false;
};

} // namespace vantorel
