// kvx-emulator as a real process for the tests: started with options in a registry of its own,
// stopped at the end, its dialogue log readable at any time.
#ifndef TESTS_EMULATOR_PROCESS_H
#define TESTS_EMULATOR_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class EmulatorProcess {
 public:
  // Starts the emulator with `options` (and --log) in a fresh TARVO_DEVICE_ROOT, and waits until
  // its interface is present.
  explicit EmulatorProcess(const std::vector<std::string>& options);
  ~EmulatorProcess();  // SIGTERM, then waits for it; removes the registry.
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  std::vector<std::string> Log() const;
  // Waits (a few seconds at most) until the log holds `line`.
  bool WaitForLogLine(const std::string& line) const;
  // Stops the emulator and returns its exit status.
  int Stop();
  bool InterfacePresent() const;

  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::string logPath_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs the emulator with `options` until it ends by itself; returns its exit status, and its
// stderr in `errors`.
int RunEmulator(const std::vector<std::string>& options, std::string* errors);

}  // namespace testing_support

#endif  // TESTS_EMULATOR_PROCESS_H
