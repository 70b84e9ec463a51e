// Pieces shared by the suite implementations: finding the host a call
// belongs to, and, when that is a TestHost, its faults and the call log
// entry being built.
#pragma once

#include "ofx_host.h"
#include "ofx_host_testing.h"

#include <string>

namespace ofxhost {
namespace detail {

// The host a call belongs to when its handle names none (a null or stale
// handle): the host sending the current action on this thread, else the
// most recently created host still alive.
Host *currentHost();
void registerHost(Host *host);
void unregisterHost(Host *host);

// Makes `host` the current host of this thread for its lifetime.
class HostScope {
public:
  explicit HostScope(Host *host);
  ~HostScope();
  HostScope(const HostScope &) = delete;
  HostScope &operator=(const HostScope &) = delete;

private:
  Host *previous_;
};

// A double (a frame time for the call log, a switch's value) as an int:
// truncated, saturated at the int range, and 0 for NaN.
int saturatedInt(double value);

// Value text for the call log.
std::string text(int value);
std::string text(double value);
std::string text(const std::string &value);
std::string text(const void *value); // "ptr" or "null"

// Label of a handle for the log: the object's label, "null", or "invalid".
std::string labelOf(const Object *object, const void *handle);

// The status `faults.failing` gives "fn:name" or "fn"; false if neither.
bool failingStatus(const Faults &faults, const char *fn,
                   const std::string &name, OfxStatus *status);
// True when `faults.nullHandles` names "fn:name" or "fn".
bool nullHandle(const Faults &faults, const char *fn, const std::string &name);

// The arguments' status for Logged::refused: kOfxStatErrValue unless every
// argument a call needs was given.
inline OfxStatus given(bool arguments) {
  return arguments ? kOfxStatOK : kOfxStatErrValue;
}

// One suite call: collects what the log needs, and logs it on done(). For
// a call to a plain host (no TestHost), it records nothing and no fault
// applies.
class Logged {
public:
  Logged(const char *fn, const Object *object, const void *handle,
         const char *name, int index = 0);
  Logged(const Logged &) = delete;
  Logged &operator=(const Logged &) = delete;

  // Whether anything is being recorded (the call's host is a TestHost
  // that logs).
  bool on() const { return on_; }
  Host *host() const { return host_; }
  // The TestHost's faults; an empty set for a plain host or none.
  const Faults &faults() const;
  const char *fn() const { return fn_; }
  const std::string &name() const { return name_; }

  void setValue(std::string value) {
    if (on_)
      call_.value = std::move(value);
  }
  void setName(const std::string &name) {
    name_ = name;
    if (on_)
      call_.name = name;
  }
  void setIndex(int index) { call_.index = index; }
  void setObject(const char *label) {
    if (on_)
      call_.object = label;
  }

  // Checks `failing` for this call; true with *status set when it applies.
  bool failing(OfxStatus *status) const {
    return failingStatus(faults(), fn_, name_, status);
  }
  // The opening every suite call shares, in this order: a handle that
  // names no live object of its kind answers kOfxStatErrBadHandle,
  // arguments found wrong answer `arguments` (kOfxStatOK when they are
  // right), and a `failing` fault answers its status. True when the call
  // ends there; ended() is then the status, logged.
  bool refused(bool liveHandle, OfxStatus arguments = kOfxStatOK);
  OfxStatus ended() const { return ended_; }
  bool nullHandle() const { return detail::nullHandle(faults(), fn_, name_); }

  OfxStatus done(OfxStatus status);

private:
  const char *fn_;
  Host *host_;
  TestHost *testHost_;
  bool on_;
  std::string name_;
  Call call_;
  OfxStatus ended_ = kOfxStatOK;
};

} // namespace detail

// The parameter suite for a module that passes variadic arguments Apple's
// arm64 way, each in a stack slot (platform::passesVariadicsOnStack): the
// same suite with entries that take them so.
const OfxParameterSuiteV1 *parameterSuiteVariadicsOnStack();

} // namespace ofxhost
