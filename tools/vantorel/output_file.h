// Output files written whole: the bytes go to a hidden temporary file in
// OUT's folder, are flushed to the disk, and only then is the temporary file
// renamed to OUT (and the folder flushed). Any failure removes the temporary
// file and leaves an existing OUT as it was. Temporary files in flight are
// also removed when the process is stopped by SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vantorel {

// Installs the handlers that remove temporary files in flight on SIGINT,
// SIGTERM and SIGHUP and then end the process with that signal's usual
// status, and when memory runs out print "vantorel: out of memory", remove
// them and exit with status 1. Call once, before any file is written.
void removeTemporaryFilesOnSignalsAndOutOfMemory();

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
  // Renames the temporary file to the target and flushes the folder.
  bool commit(std::string *error);
  // Removes the temporary file now.
  void discard();
  // Removes the temporary file and answers false with "cannot write
  // 'TARGET': REASON" in *error.
  bool fail(const std::string &reason, std::string *error);

private:
  bool failWith(int errorNumber, std::string *error);
  std::string target_;
  std::string temporary_;
  int slot_ = -1; // in the table the signal handlers read
  bool done_ = false;
};

// A file that lives in memory only, for image writers that write to a file
// name rather than to memory: its name opens the same memory again, and
// reading and seeking in it work as in a file on a disk.
class MemoryFile {
public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile &) = delete;
  MemoryFile &operator=(const MemoryFile &) = delete;

  // Whether it was made; else *error says why.
  bool made(std::string *error) const;
  // The name a writer opens it by.
  const std::string &path() const { return path_; }
  // Everything written to it. False with *error when it cannot be read.
  bool contents(std::vector<unsigned char> *bytes, std::string *error) const;

private:
  int fd_ = -1;
  int madeError_ = 0;
  std::string path_;
};

} // namespace vantorel
