// The Mach-O loader: everything a file says is checked against the file's
// bounds before it is used, and a file is refused, with a message saying
// why, before anything is mapped.
#include "macho_loader.h"
#include "sha256.h"

#include <algorithm>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

namespace ofxhost {
namespace macho {

#if defined(__x86_64__)
const std::uint32_t kRunningCpu = kCpuX86_64;
#elif defined(__aarch64__)
const std::uint32_t kRunningCpu = kCpuArm64;
#else
const std::uint32_t kRunningCpu = 0;
#endif

namespace {

// ---------------------------------------------------------------- format

constexpr std::uint32_t kMagic64 = 0xfeedfacf;
constexpr std::uint32_t kFatMagic = 0xcafebabe; // stored big-endian
constexpr std::uint32_t kFileTypeBundle = 8;

constexpr std::uint32_t kRequiredByDyld = 0x80000000;
enum LoadCommand : std::uint32_t {
  kSegment64 = 0x19,
  kLoadDylib = 0xc,
  kLoadWeakDylib = 0x18 | kRequiredByDyld,
  kReexportDylib = 0x1f | kRequiredByDyld,
  kLoadUpwardDylib = 0x23 | kRequiredByDyld,
  kCodeSignature = 0x1d,
  kDyldInfo = 0x22,
  kDyldInfoOnly = 0x22 | kRequiredByDyld,
  kDyldExportsTrie = 0x33 | kRequiredByDyld,
  kDyldChainedFixups = 0x34 | kRequiredByDyld,
};

// Section types (the low byte of a section's flags).
enum SectionType : std::uint32_t {
  kModInitFuncPointers = 0x9,
  kModTermFuncPointers = 0xa,
  kThreadLocalRegular = 0x11,
  kThreadLocalInitFunctionPointers = 0x15,
  kInitFuncOffsets = 0x16,
};
constexpr std::uint32_t kSegmentReadOnlyAfterFixups = 0x10; // SG_READ_ONLY

constexpr std::uint32_t kCodeSignatureSuperBlob = 0xfade0cc0;
constexpr std::uint32_t kCodeDirectory = 0xfade0c02;
constexpr std::uint8_t kHashSha256 = 2;

constexpr std::size_t kMachHeaderSize = 32;
constexpr std::size_t kSegmentCommandSize = 72;
constexpr std::size_t kSectionSize = 80;
// Refuse images larger than this: no plug-in comes near it.
constexpr std::uint64_t kLargestImage = std::uint64_t(1) << 30;

const char kLibSystem[] = "/usr/lib/libSystem.B.dylib";

// Little- and big-endian reads of a byte range, whose callers check with
// has() first that the bytes are there.
class Bytes {
public:
  Bytes(const std::uint8_t *data, std::size_t size)
      : data_(data), size_(size) {}
  std::size_t size() const { return size_; }
  const std::uint8_t *data() const { return data_; }
  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  std::uint32_t le32(std::size_t at) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = v << 8 | data_[at + i];
    return v;
  }
  std::uint64_t le64(std::size_t at) const {
    return std::uint64_t(le32(at + 4)) << 32 | le32(at);
  }
  std::uint32_t be32(std::size_t at) const {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v = v << 8 | data_[at + i];
    return v;
  }
  std::uint64_t be64(std::size_t at) const {
    return std::uint64_t(be32(at)) << 32 | be32(at + 4);
  }
  // The NUL-terminated string at `at` inside [at, end), or false.
  bool cString(std::size_t at, std::size_t end, std::string *out) const {
    end = std::min(end, size_);
    for (std::size_t i = at; i < end; ++i) {
      if (data_[i] == 0) {
        out->assign(reinterpret_cast<const char *>(data_ + at), i - at);
        return true;
      }
    }
    return false;
  }

private:
  const std::uint8_t *data_;
  std::size_t size_;
};

std::string hex(std::uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(v));
  return text;
}

bool fail(std::string *error, const std::string &message) {
  if (error)
    *error = message;
  return false;
}

// ---------------------------------------------------------------- imports

std::uintptr_t stackGuard = 0;

[[noreturn]] void stackCheckFailed() {
  std::fputs("a Mach-O module overwrote its stack guard\n", stderr);
  std::abort();
}

// Imports are bound as the module loads, so no lazy binding reaches this.
[[noreturn]] void lazyBindingReached() {
  std::fputs("a Mach-O module asked for a lazy binding\n", stderr);
  std::abort();
}

char *findText(const char *text, const char *part) {
  return const_cast<char *>(std::strstr(text, part));
}

// Fills `size` bytes with the 16-byte `pattern` repeated (the last copy
// cut short), as macOS's memset_pattern16 does.
void memsetPattern16(void *to, const void *pattern, std::size_t size) {
  auto *out = static_cast<std::uint8_t *>(to);
  for (std::size_t done = 0; done < size; done += 16)
    std::memcpy(out + done, pattern, std::min<std::size_t>(16, size - done));
}

struct Import {
  const char *name;
  void *address;
};

// Every symbol a module may import, and what it is bound to: this
// process's C library where it has the function, else the loader's own.
// glibc keeps the stack guard in thread storage, so modules share the
// loader's guard variable. The rounding modes' values agree between macOS
// and Linux on both processors.
const std::vector<Import> &imports() {
  static const std::vector<Import> table = {
      {"___stack_chk_guard", &stackGuard},
      {"___stack_chk_fail", reinterpret_cast<void *>(&stackCheckFailed)},
      {"dyld_stub_binder", reinterpret_cast<void *>(&lazyBindingReached)},
      {"_strcmp", reinterpret_cast<void *>(&std::strcmp)},
      {"_strstr", reinterpret_cast<void *>(&findText)},
      {"_memmove", reinterpret_cast<void *>(&std::memmove)},
      {"_memcpy", reinterpret_cast<void *>(&std::memcpy)},
      {"_memset_pattern16", reinterpret_cast<void *>(&memsetPattern16)},
      {"_fegetround", reinterpret_cast<void *>(&std::fegetround)},
  };
  return table;
}

const Import *findImport(const std::string &name) {
  for (const Import &i : imports())
    if (name == i.name)
      return &i;
  return nullptr;
}

// ---------------------------------------------------------------- parsing

struct Section {
  std::uint64_t address, size;
  std::uint32_t type;
};

struct Segment {
  std::string name;
  std::uint64_t vmaddr, vmsize, fileoff, filesize;
  std::uint32_t initprot, flags;
};

struct Range {
  std::uint32_t offset = 0, size = 0;
};

// A slice's load commands, checked against its bounds.
struct Parsed {
  std::uint32_t cpu = 0;
  std::vector<Segment> segments;
  std::vector<Section> sections;
  std::vector<std::string> dylibs;
  Range rebase, bind, lazyBind, exports, signature;
  bool hasDyldInfo = false;
};

bool readRange(const Bytes &slice, std::size_t at, Range *range,
               const char *what, std::string *error) {
  range->offset = slice.le32(at);
  range->size = slice.le32(at + 4);
  if (!slice.has(range->offset, range->size))
    return fail(error,
                std::string("the ") + what + " runs past the end of the file");
  return true;
}

bool parseSegment(const Bytes &slice, std::size_t at, std::uint32_t cmdsize,
                  Parsed *parsed, std::string *error) {
  Segment s;
  const char *raw = reinterpret_cast<const char *>(slice.data() + at + 8);
  s.name.assign(raw, strnlen(raw, 16));
  s.vmaddr = slice.le64(at + 24);
  s.vmsize = slice.le64(at + 32);
  s.fileoff = slice.le64(at + 40);
  s.filesize = slice.le64(at + 48);
  s.initprot = slice.le32(at + 60);
  const std::uint32_t nsects = slice.le32(at + 64);
  s.flags = slice.le32(at + 68);
  if (s.filesize > s.vmsize || s.vmsize > kLargestImage ||
      s.vmaddr > kLargestImage)
    return fail(error, "segment " + s.name + " has impossible sizes");
  if (!slice.has(s.fileoff, s.filesize))
    return fail(error, "segment " + s.name + " runs past the end of the file");
  if (nsects > (cmdsize - kSegmentCommandSize) / kSectionSize)
    return fail(error, "segment " + s.name + " lists more sections than fit");
  for (std::uint32_t i = 0; i < nsects; ++i) {
    const std::size_t sect = at + kSegmentCommandSize + i * kSectionSize;
    Section section;
    section.address = slice.le64(sect + 32);
    section.size = slice.le64(sect + 40);
    section.type = slice.le32(sect + 64) & 0xff;
    if (section.address < s.vmaddr || section.size > s.vmsize ||
        section.address - s.vmaddr > s.vmsize - section.size)
      return fail(error, "a section lies outside segment " + s.name);
    if (section.type >= kThreadLocalRegular &&
        section.type <= kThreadLocalInitFunctionPointers)
      return fail(error, "the module has thread-local variables, which this "
                         "loader does not set up");
    parsed->sections.push_back(section);
  }
  parsed->segments.push_back(s);
  return true;
}

bool parseDylib(const Bytes &slice, std::size_t at, std::uint32_t cmdsize,
                Parsed *parsed, std::string *error) {
  std::string name;
  const std::uint32_t nameOffset = slice.le32(at + 8);
  if (nameOffset >= cmdsize ||
      !slice.cString(at + nameOffset, at + cmdsize, &name))
    return fail(error, "a library's load command is malformed");
  parsed->dylibs.push_back(name);
  return true;
}

// The size of the fixed part of each load command this loader reads.
std::uint32_t minimumSize(std::uint32_t cmd) {
  switch (cmd) {
  case kSegment64:
    return kSegmentCommandSize;
  case kLoadDylib:
  case kLoadWeakDylib:
  case kReexportDylib:
  case kLoadUpwardDylib:
    return 24;
  case kDyldInfo:
  case kDyldInfoOnly:
    return 48;
  case kDyldExportsTrie:
  case kCodeSignature:
    return 16;
  default:
    return 8;
  }
}

bool parse(const Bytes &slice, Parsed *parsed, std::string *error) {
  if (!slice.has(0, kMachHeaderSize))
    return fail(error, "the file is too short for a Mach-O header");
  if (slice.le32(0) != kMagic64)
    return fail(error,
                "not a 64-bit Mach-O file (magic " + hex(slice.le32(0)) + ")");
  parsed->cpu = slice.le32(4);
  const std::uint32_t fileType = slice.le32(12);
  if (fileType != kFileTypeBundle)
    return fail(error, "not a bundle (Mach-O file type " +
                           std::to_string(fileType) + ")");
  const std::uint32_t ncmds = slice.le32(16);
  const std::uint32_t sizeofcmds = slice.le32(20);
  if (!slice.has(kMachHeaderSize, sizeofcmds))
    return fail(error, "the load commands run past the end of the file");
  const std::size_t end = kMachHeaderSize + sizeofcmds;
  std::size_t at = kMachHeaderSize;
  for (std::uint32_t i = 0; i < ncmds; ++i) {
    if (end - at < 8)
      return fail(error, "the load commands run past their stated size");
    const std::uint32_t cmd = slice.le32(at);
    const std::uint32_t cmdsize = slice.le32(at + 4);
    if (cmdsize < 8 || cmdsize % 8 != 0 || cmdsize > end - at)
      return fail(error, "load command " + std::to_string(i) +
                             " has a bad size (" + std::to_string(cmdsize) +
                             ")");
    if (cmdsize < minimumSize(cmd))
      return fail(error, "load command " + hex(cmd) + " is too short");
    bool ok = true;
    switch (cmd) {
    case kSegment64:
      ok = parseSegment(slice, at, cmdsize, parsed, error);
      break;
    case kLoadDylib:
    case kLoadWeakDylib:
    case kReexportDylib:
    case kLoadUpwardDylib:
      ok = parseDylib(slice, at, cmdsize, parsed, error);
      break;
    case kDyldInfo:
    case kDyldInfoOnly:
      ok =
          readRange(slice, at + 8, &parsed->rebase, "rebase information",
                    error) &&
          readRange(slice, at + 16, &parsed->bind, "bind information", error) &&
          readRange(slice, at + 32, &parsed->lazyBind, "lazy bind information",
                    error) &&
          readRange(slice, at + 40, &parsed->exports, "export trie", error);
      parsed->hasDyldInfo = true;
      break;
    case kDyldExportsTrie:
      ok = readRange(slice, at + 8, &parsed->exports, "export trie", error);
      break;
    case kCodeSignature:
      ok =
          readRange(slice, at + 8, &parsed->signature, "code signature", error);
      break;
    case kDyldChainedFixups:
      return fail(error, "the module uses chained fix-ups; this loader reads "
                         "classic dyld information only");
    default:
      if (cmd & kRequiredByDyld)
        return fail(error, "load command " + hex(cmd) +
                               " is one this loader does not know");
    }
    if (!ok)
      return false;
    at += cmdsize;
  }
  if (parsed->segments.empty())
    return fail(error, "the module has no segments");
  if (!parsed->hasDyldInfo)
    return fail(error, "the module has no dyld information");
  for (const std::string &dylib : parsed->dylibs)
    if (dylib != kLibSystem)
      return fail(error, "the module links " + dylib +
                             "; this loader "
                             "provides only " +
                             kLibSystem);
  return true;
}

// ---------------------------------------------------------------- signature

bool checkCodeDirectory(const Bytes &slice, const Bytes &blob,
                        std::uint32_t signatureOffset, std::string *error) {
  if (!blob.has(0, 44))
    return fail(error, "the code directory is truncated");
  const std::uint32_t version = blob.be32(8);
  const std::uint32_t hashOffset = blob.be32(16);
  const std::uint32_t codeSlots = blob.be32(28);
  std::uint64_t codeLimit = blob.be32(32);
  const std::uint8_t hashSize = blob.data()[36];
  const std::uint8_t hashType = blob.data()[37];
  const std::uint8_t pageShift = blob.data()[39];
  if (version >= 0x20300 && blob.has(56, 8) && blob.be64(56) != 0)
    codeLimit = blob.be64(56);
  if (hashType != kHashSha256 || hashSize != 32)
    return fail(error, "the code signature hashes with type " +
                           std::to_string(hashType) +
                           "; this loader checks SHA-256 only");
  if (pageShift < 9 || pageShift > 24)
    return fail(error, "the code signature's page size is impossible");
  const std::uint64_t page = std::uint64_t(1) << pageShift;
  if (codeLimit > signatureOffset ||
      codeSlots != (codeLimit + page - 1) / page ||
      !blob.has(hashOffset, std::uint64_t(codeSlots) * hashSize))
    return fail(error, "the code signature does not cover the module");
  for (std::uint32_t i = 0; i < codeSlots; ++i) {
    const std::uint64_t from = i * page;
    const std::uint64_t length = std::min(page, codeLimit - from);
    const Sha256Digest digest = sha256(slice.data() + from, length);
    if (std::memcmp(digest.data(), blob.data() + hashOffset + i * hashSize,
                    hashSize) != 0)
      return fail(error, "the code signature does not match page " +
                             std::to_string(i) + " (bytes " +
                             std::to_string(from) + " to " +
                             std::to_string(from + length) + ")");
  }
  return true;
}

// Every CodeDirectory of the signature, each page of each recomputed.
bool checkSignature(const Bytes &slice, const Parsed &parsed,
                    std::string *error) {
  if (parsed.signature.size == 0) {
    if (parsed.cpu == kCpuArm64)
      return fail(error, "the arm64 module is not signed; macOS runs no "
                         "unsigned arm64 code");
    return true;
  }
  const Bytes super(slice.data() + parsed.signature.offset,
                    parsed.signature.size);
  if (!super.has(0, 12) || super.be32(0) != kCodeSignatureSuperBlob)
    return fail(error, "the code signature is not a signature blob");
  const std::uint32_t count = super.be32(8);
  if (!super.has(12, std::uint64_t(count) * 8))
    return fail(error, "the code signature's index is truncated");
  int directories = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t offset = super.be32(12 + 8 * i + 4);
    if (!super.has(offset, 8))
      return fail(error, "a code signature blob lies outside the signature");
    const std::uint32_t length = super.be32(offset + 4);
    if (!super.has(offset, length))
      return fail(error, "a code signature blob lies outside the signature");
    if (super.be32(offset) != kCodeDirectory)
      continue;
    ++directories;
    if (!checkCodeDirectory(slice, Bytes(super.data() + offset, length),
                            parsed.signature.offset, error))
      return false;
  }
  if (directories == 0)
    return fail(error, "the code signature holds no code directory");
  return true;
}

// ---------------------------------------------------------------- fix-ups

// Reads the LEB128 numbers of dyld's opcode streams.
class OpcodeReader {
public:
  explicit OpcodeReader(const Bytes &stream) : stream_(stream) {}
  bool done() const { return at_ >= stream_.size(); }
  std::size_t position() const { return at_; }
  void seek(std::size_t at) { at_ = at; }
  std::uint8_t byte() { return stream_.data()[at_++]; }
  bool uleb(std::uint64_t *value) {
    *value = 0;
    for (int shift = 0; shift < 64 && !done(); shift += 7) {
      const std::uint8_t b = byte();
      *value |= std::uint64_t(b & 0x7f) << shift;
      if (!(b & 0x80))
        return true;
    }
    return false;
  }
  bool sleb(std::int64_t *value) {
    std::uint64_t result = 0;
    int shift = 0;
    std::uint8_t b = 0x80;
    while (shift < 64 && !done() && (b & 0x80)) {
      b = byte();
      result |= std::uint64_t(b & 0x7f) << shift;
      shift += 7;
    }
    if (b & 0x80)
      return false;
    if (shift < 64 && (b & 0x40))
      result |= ~std::uint64_t(0) << shift;
    *value = static_cast<std::int64_t>(result);
    return true;
  }
  bool cString(std::string *out) {
    const std::size_t from = at_;
    if (!stream_.cString(from, stream_.size(), out))
      return false;
    at_ = from + out->size() + 1;
    return true;
  }

private:
  const Bytes &stream_;
  std::size_t at_ = 0;
};

// Runs `step` `count` times, stopping at its first failure.
template <typename Step> bool repeat(std::uint64_t count, const Step &step) {
  for (std::uint64_t i = 0; i < count; ++i)
    if (!step())
      return false;
  return true;
}

// A place a fix-up writes a pointer: a segment and the offset in it.
struct Place {
  std::uint32_t segment;
  std::uint64_t offset;
};

constexpr std::uint8_t kPointerType = 1;

bool placeInside(const Parsed &parsed, const Place &place, std::string *error) {
  if (place.segment >= parsed.segments.size() ||
      parsed.segments[place.segment].vmsize < 8 ||
      place.offset > parsed.segments[place.segment].vmsize - 8)
    return fail(error, "a fix-up lies outside the module's segments");
  return true;
}

// Walks the rebase opcodes, calling `rebase` at each place.
bool forEachRebase(const Parsed &parsed, const Bytes &stream,
                   const std::function<void(const Place &)> &rebase,
                   std::string *error) {
  OpcodeReader in(stream);
  Place place{0, 0};
  std::uint8_t type = kPointerType;
  std::uint64_t budget = kLargestImage / 8;
  const auto one = [&](std::uint64_t step) {
    if (!placeInside(parsed, place, error))
      return false;
    if (type != kPointerType)
      return fail(error, "a rebase is of type " + std::to_string(type) +
                             ", not a pointer");
    if (budget-- == 0)
      return fail(error, "the rebase information never ends");
    rebase(place);
    place.offset += 8 + step;
    return true;
  };
  const auto truncated = [&]() {
    return fail(error, "the rebase information is truncated");
  };
  while (!in.done()) {
    const std::uint8_t b = in.byte();
    const std::uint8_t imm = b & 0x0f;
    std::uint64_t count = 0, skip = 0;
    const auto skipping = [&] { return one(skip); };
    switch (b & 0xf0) {
    case 0x00: // done
      return true;
    case 0x10: // set type
      type = imm;
      break;
    case 0x20: // set segment and offset
      place.segment = imm;
      if (!in.uleb(&place.offset))
        return truncated();
      break;
    case 0x30: // add address
      if (!in.uleb(&skip))
        return truncated();
      place.offset += skip;
      break;
    case 0x40: // add address, scaled immediate
      place.offset += imm * 8u;
      break;
    case 0x50: // rebase immediate times
      if (!repeat(imm, skipping))
        return false;
      break;
    case 0x60: // rebase uleb times
      if (!in.uleb(&count))
        return truncated();
      if (!repeat(count, skipping))
        return false;
      break;
    case 0x70: // rebase and add address
      if (!in.uleb(&skip))
        return truncated();
      if (!one(skip))
        return false;
      break;
    case 0x80: // rebase uleb times, skipping uleb
      if (!in.uleb(&count) || !in.uleb(&skip))
        return truncated();
      if (!repeat(count, skipping))
        return false;
      break;
    default:
      return fail(error, "unknown rebase opcode " + hex(b));
    }
  }
  return true;
}

struct Binding {
  Place place;
  std::string symbol;
  std::int64_t addend;
};

// Walks one bind opcode stream, calling `bind` at each place. The lazy
// stream holds one binding after another, each ending with "done".
bool forEachBind(const Parsed &parsed, const Bytes &stream, bool lazy,
                 const std::function<void(const Binding &)> &bind,
                 std::string *error) {
  OpcodeReader in(stream);
  Binding binding{{0, 0}, "", 0};
  std::int64_t ordinal = 0;
  std::uint8_t type = kPointerType;
  std::uint64_t budget = kLargestImage / 8;
  const auto one = [&](std::uint64_t step) {
    if (!placeInside(parsed, binding.place, error))
      return false;
    if (type != kPointerType)
      return fail(error, "a binding is of type " + std::to_string(type) +
                             ", not a pointer");
    const bool libSystem =
        ordinal >= 1 && std::uint64_t(ordinal) <= parsed.dylibs.size();
    const bool flatLookup = ordinal == -2;
    if (!libSystem && !flatLookup)
      return fail(error, "the module binds " + binding.symbol +
                             " from library ordinal " +
                             std::to_string(ordinal) +
                             ", which this loader does not provide");
    if (!findImport(binding.symbol)) {
      std::string known;
      for (const Import &i : imports())
        known += std::string(known.empty() ? "" : ", ") + i.name;
      return fail(error, "the module imports " + binding.symbol +
                             ", which this loader does not provide (it "
                             "binds " +
                             known + ")");
    }
    if (budget-- == 0)
      return fail(error, "the bind information never ends");
    bind(binding);
    binding.place.offset += 8 + step;
    return true;
  };
  const auto truncated = [&]() {
    return fail(error, "the bind information is truncated");
  };
  while (!in.done()) {
    const std::uint8_t b = in.byte();
    const std::uint8_t imm = b & 0x0f;
    std::uint64_t count = 0, skip = 0;
    switch (b & 0xf0) {
    case 0x00: // done
      if (!lazy)
        return true;
      break;
    case 0x10: // library ordinal, immediate
      ordinal = imm;
      break;
    case 0x20: // library ordinal, uleb
      if (!in.uleb(&count))
        return truncated();
      ordinal = static_cast<std::int64_t>(count);
      break;
    case 0x30: // special library ordinal: 0, -1, -2, ...
      ordinal = imm == 0 ? 0 : static_cast<std::int8_t>(0xf0 | imm);
      break;
    case 0x40: // symbol name and flags
      if (!in.cString(&binding.symbol))
        return truncated();
      break;
    case 0x50: // type
      type = imm;
      break;
    case 0x60: // addend
      if (!in.sleb(&binding.addend))
        return truncated();
      break;
    case 0x70: // segment and offset
      binding.place.segment = imm;
      if (!in.uleb(&binding.place.offset))
        return truncated();
      break;
    case 0x80: // add address
      if (!in.uleb(&skip))
        return truncated();
      binding.place.offset += skip;
      break;
    case 0x90: // bind
      if (!one(0))
        return false;
      break;
    case 0xa0: // bind and add address
      if (!in.uleb(&skip))
        return truncated();
      if (!one(skip))
        return false;
      break;
    case 0xb0: // bind and add a scaled immediate
      if (!one(imm * 8u))
        return false;
      break;
    case 0xc0: // bind uleb times, skipping uleb
      if (!in.uleb(&count) || !in.uleb(&skip))
        return truncated();
      if (!repeat(count, [&] { return one(skip); }))
        return false;
      break;
    default:
      return fail(error, "unknown bind opcode " + hex(b));
    }
  }
  return true;
}

Bytes streamOf(const Bytes &slice, const Range &range) {
  return Bytes(slice.data() + range.offset, range.size);
}

// The binds of both streams (the module's imports are bound as it loads,
// the lazy ones too). Weak bindings, which let one image's definition
// stand in for another's, have nothing to choose between in a process
// holding one module, so they are left as linked.
bool forEachImport(const Parsed &parsed, const Bytes &slice,
                   const std::function<void(const Binding &)> &bind,
                   std::string *error) {
  return forEachBind(parsed, streamOf(slice, parsed.bind), false, bind,
                     error) &&
         forEachBind(parsed, streamOf(slice, parsed.lazyBind), true, bind,
                     error);
}

// ---------------------------------------------------------------- exports

// The address (from the image's header) the export trie gives `name`: its
// edges spell the name from the root, and the node they end at holds the
// symbol's flags and address.
bool lookUpExport(const Bytes &trie, const std::string &name,
                  std::uint64_t *address) {
  OpcodeReader in(trie);
  std::size_t matched = 0;
  for (int depth = 0; depth < 256; ++depth) {
    std::uint64_t terminalSize = 0;
    if (!in.uleb(&terminalSize) || !trie.has(in.position(), terminalSize))
      return false;
    if (matched == name.size()) {
      // Only regular definitions: no re-exports, resolvers, thread-locals
      // or absolute symbols.
      std::uint64_t flags = 0;
      return terminalSize != 0 && in.uleb(&flags) && (flags & 0x1b) == 0 &&
             in.uleb(address);
    }
    in.seek(in.position() + terminalSize);
    if (in.done())
      return false;
    const std::uint8_t children = in.byte();
    std::uint64_t next = 0;
    std::size_t edgeLength = 0;
    for (std::uint8_t c = 0; c < children; ++c) {
      std::string edge;
      std::uint64_t child = 0;
      if (!in.cString(&edge) || !in.uleb(&child))
        return false;
      if (edgeLength == 0 && !edge.empty() &&
          name.compare(matched, edge.size(), edge) == 0) {
        edgeLength = edge.size();
        next = child;
      }
    }
    if (edgeLength == 0 || next >= trie.size())
      return false;
    matched += edgeLength;
    in.seek(next);
  }
  return false;
}

// Everything checkSlice promises, leaving the parsed load commands.
bool parseAndCheck(const Bytes &slice, Parsed *parsed, std::string *error) {
  const auto noRebase = [](const Place &) {};
  const auto noBinding = [](const Binding &) {};
  return parse(slice, parsed, error) && checkSignature(slice, *parsed, error) &&
         forEachRebase(*parsed, streamOf(slice, parsed->rebase), noRebase,
                       error) &&
         forEachImport(*parsed, slice, noBinding, error);
}

} // namespace

std::string processorName(std::uint32_t cpu) {
  if (cpu == kCpuX86_64)
    return "x86_64";
  if (cpu == kCpuArm64)
    return "arm64";
  return "processor type " + hex(cpu);
}

bool isMachO(const std::uint8_t *head, std::size_t size) {
  if (size < 4)
    return false;
  const Bytes bytes(head, size);
  return bytes.le32(0) == kMagic64 || bytes.be32(0) == kFatMagic;
}

std::vector<std::string> bindableImports() {
  std::vector<std::string> names;
  for (const Import &i : imports())
    names.push_back(i.name);
  return names;
}

bool findSlice(const std::vector<std::uint8_t> &file, std::uint32_t cpu,
               std::size_t *offset, std::size_t *size, std::string *error) {
  const Bytes bytes(file.data(), file.size());
  if (!bytes.has(0, 8))
    return fail(error, "the file is too short for a Mach-O header");
  if (bytes.le32(0) == kMagic64) {
    const std::uint32_t slice = bytes.le32(4);
    if (slice != cpu)
      return fail(error, "a Mach-O file for " + processorName(slice) +
                             ", not for " + processorName(cpu));
    *offset = 0;
    *size = file.size();
    return true;
  }
  if (bytes.be32(0) != kFatMagic)
    return fail(error, "not a Mach-O file (magic " + hex(bytes.le32(0)) + ")");
  const std::uint32_t count = bytes.be32(4);
  if (!bytes.has(8, std::uint64_t(count) * 20))
    return fail(error, "the universal file's slice table is truncated");
  std::string held;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = 8 + 20 * i;
    const std::uint32_t sliceCpu = bytes.be32(entry);
    if (sliceCpu != cpu) {
      held += (held.empty() ? "" : ", ") + processorName(sliceCpu);
      continue;
    }
    *offset = bytes.be32(entry + 8);
    *size = bytes.be32(entry + 12);
    if (!bytes.has(*offset, *size))
      return fail(error, "the " + processorName(cpu) +
                             " slice runs past the end of the file");
    return true;
  }
  return fail(error, "a universal file without a " + processorName(cpu) +
                         " slice (it holds " + (held.empty() ? "none" : held) +
                         ")");
}

bool checkSlice(const std::uint8_t *data, std::size_t size,
                std::string *error) {
  Parsed parsed;
  return parseAndCheck(Bytes(data, size), &parsed, error);
}

// ---------------------------------------------------------------- loading

struct Image {
  std::uint8_t *mapping = nullptr; // the image's lowest segment
  std::size_t mappingSize = 0;
  const std::uint8_t *header = nullptr; // where the Mach-O header is mapped
  std::uint32_t cpu = 0;
  std::vector<std::uint8_t> exportTrie;
  std::vector<void (*)()> terminators; // in the order to run them
};

namespace {

std::mutex registryMutex;
std::vector<Image *> registry;

int protectionOf(const Segment &segment) {
  int protection = 0;
  if (segment.initprot & 1)
    protection |= PROT_READ;
  if ((segment.initprot & 2) && !(segment.flags & kSegmentReadOnlyAfterFixups))
    protection |= PROT_WRITE;
  if (segment.initprot & 4)
    protection |= PROT_EXEC;
  return protection;
}

std::uint64_t roundUp(std::uint64_t v, std::uint64_t to) {
  return (v + to - 1) / to * to;
}

// Gives each page the protections of the segments on it (several
// segments share a page where this system's pages are larger than the
// module's), and makes the processor see the code just written.
bool protect(const Image &image, const Parsed &parsed, std::uint64_t low,
             std::string *error) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t pages = image.mappingSize / page;
  std::vector<int> protections(pages, 0);
  for (const Segment &s : parsed.segments) {
    if (s.vmsize == 0)
      continue;
    const std::uint64_t from = (s.vmaddr - low) / page;
    const std::uint64_t to = roundUp(s.vmaddr - low + s.vmsize, page) / page;
    for (std::uint64_t p = from; p < to && p < pages; ++p)
      protections[p] |= protectionOf(s);
    if (s.initprot & 4) {
      char *code = reinterpret_cast<char *>(image.mapping + (s.vmaddr - low));
      __builtin___clear_cache(code, code + s.vmsize);
    }
  }
  for (std::size_t p = 0; p < pages;) {
    std::size_t q = p;
    while (q < pages && protections[q] == protections[p])
      ++q;
    if (mprotect(image.mapping + p * page, (q - p) * page, protections[p]) != 0)
      return fail(error, "cannot protect the module's pages");
    p = q;
  }
  return true;
}

std::uint64_t readPointer(const std::uint8_t *at) {
  std::uint64_t v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

void writePointer(std::uint8_t *at, std::uint64_t v) {
  std::memcpy(at, &v, sizeof v);
}

// The initialisers and terminators the sections list, each checked to
// lie in the image.
bool collectInitialisers(Image *image, const Parsed &parsed, std::uint64_t low,
                         std::vector<void (*)()> *initialisers,
                         std::string *error) {
  const auto inImage = [&](std::uint64_t address) {
    const std::uint64_t from = reinterpret_cast<std::uintptr_t>(image->mapping);
    return address >= from && address < from + image->mappingSize;
  };
  for (const Section &s : parsed.sections) {
    const std::uint8_t *at = image->mapping + (s.address - low);
    std::vector<std::uint64_t> functions;
    if (s.type == kModInitFuncPointers || s.type == kModTermFuncPointers) {
      for (std::uint64_t i = 0; i + 8 <= s.size; i += 8)
        functions.push_back(readPointer(at + i));
    } else if (s.type == kInitFuncOffsets) {
      for (std::uint64_t i = 0; i + 4 <= s.size; i += 4) {
        std::uint32_t offset;
        std::memcpy(&offset, at + i, sizeof offset);
        functions.push_back(reinterpret_cast<std::uintptr_t>(image->header) +
                            offset);
      }
    } else {
      continue;
    }
    for (std::uint64_t f : functions) {
      if (!inImage(f))
        return fail(error, "an initialiser or terminator lies outside the "
                           "module");
      void (*function)() = reinterpret_cast<void (*)()>(f);
      if (s.type == kModTermFuncPointers)
        image->terminators.insert(image->terminators.begin(), function);
      else
        initialisers->push_back(function);
    }
  }
  return true;
}

// Maps the checked slice: segments copied in, rebased and bound, then
// protected. Answers null (nothing left mapped) on failure.
Image *map(const Bytes &slice, const Parsed &parsed, std::string *error) {
  std::uint64_t low = ~std::uint64_t(0), high = 0;
  const Segment *headerSegment = nullptr;
  for (const Segment &s : parsed.segments) {
    if (s.fileoff == 0 && s.filesize >= kMachHeaderSize)
      headerSegment = &s;
    if (s.vmsize == 0)
      continue;
    low = std::min(low, s.vmaddr);
    high = std::max(high, s.vmaddr + s.vmsize);
  }
  if (!headerSegment || high <= low || high - low > kLargestImage) {
    fail(error, "the module's segments do not form an image");
    return nullptr;
  }
  for (const Segment &a : parsed.segments)
    for (const Segment &b : parsed.segments)
      if (&a != &b && a.vmsize && b.vmsize && a.vmaddr < b.vmaddr + b.vmsize &&
          b.vmaddr < a.vmaddr + a.vmsize) {
        fail(error, "segments " + a.name + " and " + b.name + " overlap");
        return nullptr;
      }
  // The image starts on a boundary of the largest page either system uses,
  // so its own alignments hold.
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t alignment = std::max<std::size_t>(page, 16384);
  const std::size_t span = roundUp(high - low, page);
  void *reserved = mmap(nullptr, span + alignment, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) {
    fail(error, "cannot map " + std::to_string(span) + " bytes");
    return nullptr;
  }
  auto *raw = static_cast<std::uint8_t *>(reserved);
  auto *base = reinterpret_cast<std::uint8_t *>(
      roundUp(reinterpret_cast<std::uintptr_t>(raw), alignment));
  if (base > raw)
    munmap(raw, base - raw);
  if (base + span < raw + span + alignment)
    munmap(base + span, raw + span + alignment - (base + span));

  std::unique_ptr<Image> image(new Image);
  image->mapping = base;
  image->mappingSize = span;
  image->cpu = parsed.cpu;
  image->header = base + (headerSegment->vmaddr - low);
  for (const Segment &s : parsed.segments)
    if (s.filesize)
      std::memcpy(base + (s.vmaddr - low), slice.data() + s.fileoff,
                  s.filesize);
  const std::uint64_t slide = reinterpret_cast<std::uintptr_t>(base) - low;
  const auto placed = [&](const Place &p) {
    return base + (parsed.segments[p.segment].vmaddr - low) + p.offset;
  };
  std::vector<void (*)()> initialisers;
  const bool fixed =
      forEachRebase(
          parsed, streamOf(slice, parsed.rebase),
          [&](const Place &p) {
            writePointer(placed(p), readPointer(placed(p)) + slide);
          },
          error) &&
      forEachImport(
          parsed, slice,
          [&](const Binding &b) {
            writePointer(placed(b.place), reinterpret_cast<std::uintptr_t>(
                                              findImport(b.symbol)->address) +
                                              b.addend);
          },
          error) &&
      collectInitialisers(image.get(), parsed, low, &initialisers, error) &&
      protect(*image, parsed, low, error);
  if (!fixed) {
    munmap(base, span);
    return nullptr;
  }
  const Bytes trie = streamOf(slice, parsed.exports);
  image->exportTrie.assign(trie.data(), trie.data() + trie.size());
  for (void (*initialise)() : initialisers)
    initialise();
  return image.release();
}

void seedStackGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::random_device random;
    stackGuard = std::uintptr_t(random()) << 32 | random();
  });
}

} // namespace

Image *load(const std::vector<std::uint8_t> &file, std::string *error) {
  if (kRunningCpu == 0) {
    fail(error, "this processor runs no Mach-O code");
    return nullptr;
  }
  std::size_t offset = 0, size = 0;
  if (!findSlice(file, kRunningCpu, &offset, &size, error))
    return nullptr;
  const Bytes slice(file.data() + offset, size);
  Parsed parsed;
  if (!parseAndCheck(slice, &parsed, error))
    return nullptr;
  if (parsed.cpu != kRunningCpu) {
    fail(error, "the universal file's " + processorName(kRunningCpu) +
                    " slice holds code for " + processorName(parsed.cpu));
    return nullptr;
  }
  seedStackGuard();
  Image *image = map(slice, parsed, error);
  if (image) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.push_back(image);
  }
  return image;
}

void *symbol(const Image *image, const char *name) {
  std::uint64_t address = 0;
  const Bytes trie(image->exportTrie.data(), image->exportTrie.size());
  const std::uint64_t headerOffset = image->header - image->mapping;
  if (!lookUpExport(trie, std::string("_") + name, &address) ||
      address >= image->mappingSize - headerOffset)
    return nullptr;
  return const_cast<std::uint8_t *>(image->header + address);
}

void unload(Image *image) {
  {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(std::remove(registry.begin(), registry.end(), image),
                   registry.end());
  }
  for (void (*terminate)() : image->terminators)
    terminate();
  munmap(image->mapping, image->mappingSize);
  delete image;
}

bool isImage(const void *handle) {
  std::lock_guard<std::mutex> lock(registryMutex);
  return std::find(registry.begin(), registry.end(), handle) != registry.end();
}

bool imageHolding(const void *address, Placement *placement) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::lock_guard<std::mutex> lock(registryMutex);
  for (const Image *image : registry) {
    const auto from = reinterpret_cast<std::uintptr_t>(image->mapping);
    if (at >= from && at < from + image->mappingSize) {
      placement->from = from;
      placement->to = from + image->mappingSize;
      placement->cpu = image->cpu;
      return true;
    }
  }
  return false;
}

} // namespace macho
} // namespace ofxhost
