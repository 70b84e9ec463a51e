#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vantorel {

namespace {

// The temporary files in flight, for the signal handlers: a slot is free
// (0), being filled (1) or names a file to remove (2). Fixed storage, as a
// handler may only read memory and call unlink.
constexpr int kSlots = 256;
std::atomic<int> slotState[kSlots];
char slotPath[kSlots][PATH_MAX];

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Only what a signal handler may do: read memory and call unlink.
void removeInFlight() {
  for (int i = 0; i < kSlots; ++i)
    if (slotState[i].load() == 2)
      unlink(slotPath[i]);
}

extern "C" void removeInFlightAndStop(int signal) {
  removeInFlight();
  std::signal(signal, SIG_DFL);
  raise(signal); // delivered with the default action once this returns
}

// Called by operator new when memory runs out, in place of an exception:
// the tool reports every failure the same way, and this one ends it.
void outOfMemory() {
  static const char message[] =
      "vantorel: out of memory (is the picture too large?)\n";
  if (::write(2, message, sizeof message - 1) < 0) {
    // Nothing more can be said.
  }
  removeInFlight();
  _exit(1);
}

int claimSlot(const std::string &path) {
  if (path.size() >= PATH_MAX)
    return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (slotState[i].compare_exchange_strong(expected, 1)) {
      std::memcpy(slotPath[i], path.c_str(), path.size() + 1);
      slotState[i].store(2);
      return i;
    }
  }
  return -1; // more files in flight than slots: not removed on a signal
}

void releaseSlot(int slot) {
  if (slot >= 0)
    slotState[slot].store(0);
}

std::string temporaryPathFor(const std::string &target) {
  static std::atomic<unsigned> counter{0};
  const fs::path path(target);
  return (path.parent_path() /
          ("." + path.stem().string() + ".vantorel-" +
           std::to_string(getpid()) + "-" + std::to_string(counter++) +
           path.extension().string()))
      .string();
}

// Writes all of `size` bytes to `fd`; false with errno set on failure.
bool writeAll(int fd, const void *data, std::size_t size) {
  const char *bytes = static_cast<const char *>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      if (n == 0)
        errno = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// fsync of `fd` then close; false with errno set when either fails.
bool syncAndClose(int fd) {
  const bool synced = fsync(fd) == 0 || errno == EINVAL; // EINVAL: no sync
  const int syncError = errno;
  const bool closed = close(fd) == 0;
  if (!synced)
    errno = syncError;
  return synced && closed;
}

} // namespace

void removeTemporaryFilesOnSignalsAndOutOfMemory() {
  std::set_new_handler(outOfMemory);
  struct sigaction action = {};
  action.sa_handler = removeInFlightAndStop;
  sigemptyset(&action.sa_mask);
  for (int signal : kCleanupSignals)
    sigaddset(&action.sa_mask, signal);
  for (int signal : kCleanupSignals)
    sigaction(signal, &action, nullptr);
}

std::string reasonOf(int error) {
  switch (error) {
  case ENOSPC:
    return "the disk is full (no space left on device)";
  case EDQUOT:
    return "the disk quota is exhausted";
  case EACCES:
  case EPERM:
    return "permission denied";
  case EROFS:
    return "the file system is read-only";
  case EISDIR:
    return "it is a folder";
  case ENOENT:
    return "the folder does not exist";
  default:
    return std::strerror(error);
  }
}

OutputFile::OutputFile(std::string target)
    : target_(std::move(target)), temporary_(temporaryPathFor(target_)),
      slot_(claimSlot(temporary_)) {}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::fail(const std::string &reason, std::string *error) {
  *error = "cannot write '" + target_ + "': " + reason;
  discard();
  return false;
}

bool OutputFile::failWith(int errorNumber, std::string *error) {
  return fail(reasonOf(errorNumber), error);
}

bool OutputFile::write(const void *data, std::size_t size, std::string *error) {
  const int fd = ::open(temporary_.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0)
    return failWith(errno, error);
  if (!writeAll(fd, data, size)) {
    const int writeError = errno;
    close(fd);
    return failWith(writeError, error);
  }
  return syncAndClose(fd) || failWith(errno, error);
}

bool OutputFile::commit(std::string *error) {
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0)
    return failWith(errno, error);
  done_ = true;
  releaseSlot(slot_);
  slot_ = -1;
  // The rename lasts only once the folder is on the disk too.
  std::string folder = fs::path(target_).parent_path().string();
  const int fd =
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || !syncAndClose(fd)) {
    *error = "cannot write '" + target_ + "': " + reasonOf(errno);
    return false;
  }
  return true;
}

void OutputFile::discard() {
  if (!done_)
    unlink(temporary_.c_str());
  done_ = true;
  releaseSlot(slot_);
  slot_ = -1;
}

MemoryFile::MemoryFile() {
  fd_ = memfd_create("vantorel-encode", MFD_CLOEXEC);
  if (fd_ < 0)
    madeError_ = errno;
  else
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0)
    close(fd_);
}

bool MemoryFile::made(std::string *error) const {
  if (fd_ < 0)
    *error =
        "cannot make a file in memory to encode into: " + reasonOf(madeError_);
  return fd_ >= 0;
}

bool MemoryFile::contents(std::vector<unsigned char> *bytes,
                          std::string *error) const {
  struct stat status = {};
  if (fstat(fd_, &status) != 0) {
    *error = "cannot read the file encoded in memory: " + reasonOf(errno);
    return false;
  }
  bytes->resize(static_cast<std::size_t>(status.st_size));
  std::size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t n = pread(fd_, bytes->data() + done, bytes->size() - done,
                            static_cast<off_t>(done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      *error = "cannot read the file encoded in memory: " +
               reasonOf(n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

} // namespace vantorel
