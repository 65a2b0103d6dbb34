// "Fail the Nth call, once or from then on": the fault that the tests' fakes can inject into
// any of their calls, whatever the call is, and the count of calls that a sweep runs against.
#ifndef TESTS_FAULT_COUNTDOWN_H
#define TESTS_FAULT_COUNTDOWN_H

#include <cstdint>
#include <optional>

namespace program_testing {

class FaultCountdown {
 public:
  // Call `n` (from 1) fails; with `fromThenOn` every call after it fails too.
  void FailCall(uint64_t n, bool fromThenOn) {
    failAt_ = n;
    fromThenOn_ = fromThenOn;
  }
  void Clear() { failAt_.reset(); }

  // Counts one call; true when it is to fail.
  bool NextCallFails() {
    ++calls_;
    if (!failAt_) return false;
    const bool fails = calls_ == *failAt_ || (fromThenOn_ && calls_ > *failAt_);
    if (fails) ++failed_;
    return fails;
  }

  uint64_t Calls() const { return calls_; }
  uint64_t Failed() const { return failed_; }

 private:
  std::optional<uint64_t> failAt_;
  bool fromThenOn_ = false;
  uint64_t calls_ = 0;
  uint64_t failed_ = 0;
};

}  // namespace program_testing

#endif  // TESTS_FAULT_COUNTDOWN_H
