// The TestHost: the call log, and images laid out as a test asks.
#include "ofx_host_testing.h"

namespace ofxhost {

TestHost::TestHost() { testHost_ = this; }

std::vector<Call> TestHost::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void TestHost::clearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Call>().swap(calls_); // gives the memory back too
}

void TestHost::log(Call call) {
  if (!logging)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(std::move(call));
}

std::shared_ptr<Image> TestHost::attachImage(Effect *instance,
                                             const std::string &clip,
                                             const TestImageSpec &spec) {
  return attachNew(instance, clip, spec);
}

} // namespace ofxhost
