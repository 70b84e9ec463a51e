// The host library's operating-system layer on Windows.
#include "platform.h"

#include <cstdlib>
#include <windows.h>

namespace ofxhost {
namespace platform {

const char kPathListSeparator = ';';

std::string standardPluginFolder() {
  const char *common = std::getenv("CommonProgramFiles");
  return std::string(common && *common ? common
                                       : "C:\\Program Files\\Common Files") +
         "\\OFX\\Plugins";
}

namespace {

std::string lastErrorText() {
  const DWORD code = GetLastError();
  char *text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string message =
      length ? std::string(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' ||
                              message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
}

} // namespace

void *openLibrary(const std::filesystem::path &file, std::string *error) {
  // Dependencies are looked for beside the module first, as hosts load them.
  HMODULE library =
      LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library && error)
    *error = lastErrorText();
  return reinterpret_cast<void *>(library);
}

void *librarySymbol(void *library, const char *name) {
  return reinterpret_cast<void *>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }

// Windows' own loader loads every module here.
bool passesVariadicsOnStack(const void *) { return false; }

bool ownLoaderModuleRange(const void *, std::uintptr_t *, std::uintptr_t *) {
  return false;
}

std::size_t pageSize() {
  static const std::size_t size = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<std::size_t>(info.dwPageSize);
  }();
  return size;
}

void *reserveInaccessible(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
}

bool makeReadWrite(void *at, std::size_t size) {
  DWORD previous = 0;
  return VirtualProtect(at, size, PAGE_READWRITE, &previous) != 0;
}

void releaseReservation(void *reservation, std::size_t) {
  VirtualFree(reservation, 0, MEM_RELEASE);
}

void setEnvironment(const char *name, const char *value) {
  // An empty value removes the variable.
  _putenv_s(name, value ? value : "");
}

long processId() { return static_cast<long>(GetCurrentProcessId()); }

} // namespace platform
} // namespace ofxhost
