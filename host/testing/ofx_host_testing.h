// The host library's test side, for the tests, the fuzz targets and the
// host library itself (target ofxhost_testing; the command-line tool cannot
// include it): a TestHost that logs every suite call and action and can be
// told to misbehave the ways real hosts do, and images laid out against
// guard pages or described the odd ways hosts describe them.
#pragma once

#include "ofx_host.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace ofxhost {

// ---------------------------------------------------------------- images

// Where an image's memory sits between two inaccessible pages. The memory
// is exactly the bytes its rows cover, |rowBytes| x (height - 1) + one row
// of pixels, so a read or write one byte past either end faults at once.
// Only one end can touch its guard page exactly (the span is rarely a whole
// number of pages); the other guard page lies within a page of that end.
enum class Guard {
  None,    // ordinary heap memory
  AtEnd,   // the byte after the highest-addressed row is inaccessible
  AtStart, // the byte before the lowest-addressed row is inaccessible
};

// An image's layout, and how a test host places and describes it.
struct TestImageSpec : ImageSpec {
  bool rowBytesAsGiven = false; // take rowBytes as it is, even 0
  // Which names the image answers its depth under.
  bool standardDepthName = true;     // "OfxImageEffectPropPixelDepth"
  bool nonStandardDepthName = false; // "OfxImagePropPixelDepth"
  bool nullData = false;             // answer a null data address
  std::uint8_t fill = 0;             // initial byte value of the buffer
  Guard guard = Guard::None;
};

// ---------------------------------------------------------------- the log

struct Call {
  std::string fn;     // suite member, e.g. "propSetString", or "fetchSuite"
  std::string object; // label of the handle it was called on, or "null"
  std::string name;   // property, clip, parameter or suite name
  int index = 0;      // index, count, version, or a time (truncated)
  std::string value;  // the value set or answered, as text
  OfxStatus status = kOfxStatOK;
};

// ---------------------------------------------------------------- faults

// Ways the host can be told to misbehave. Keys for `failing` and
// `nullHandles` are a suite member name ("clipGetImage"), or a member and a
// name ("clipGetImage:Source", "paramGetHandle:CropOpacity").
struct Faults {
  bool nullFetchSuite = false;              // OfxHost::fetchSuite is null
  std::set<std::string> withheldSuites;     // fetchSuite answers null
  std::set<std::string> refusedProperties;  // set and get: kOfxStatErrUnknown
  std::set<std::string> unansweredGets;     // get: kOfxStatErrUnknown, no write
  std::map<std::string, OfxStatus> failing; // call returns status, no output
  std::set<std::string> nullHandles;        // call returns OK, null out-handle
  // Accept property names the standard does not define (a lenient host).
  bool acceptNonStandardNames = false;
};

// ---------------------------------------------------------------- the host

// A Host that logs every suite call and action (fetchSuite calls and
// actions included) and obeys `faults`.
class TestHost : public Host {
public:
  TestHost();

  Faults faults;
  bool logging = true; // turn off to keep no log

  // The call log, in the order the calls ended, from every thread.
  std::vector<Call> calls() const;
  void clearCalls();
  // Adds a call to the log when logging; the suites call it.
  void log(Call call);

  using Host::attachImage;
  // Attaches a new image laid out as `spec` says to an instance's clip.
  std::shared_ptr<Image> attachImage(Effect *instance, const std::string &clip,
                                     const TestImageSpec &spec);

private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

} // namespace ofxhost
