// kvx-emulator as a real process for the tests: started with options in a registry of its own,
// stopped at the end, its dialogue log readable at any time.
#ifndef TESTS_EMULATOR_PROCESS_H
#define TESTS_EMULATOR_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class EmulatorProcess {
 public:
  // Starts the emulator with `options` (and --log) in a fresh TARVO_DEVICE_ROOT, and waits until
  // its interface is present. `environment` ("NAME=value") is added to what it inherits.
  explicit EmulatorProcess(const std::vector<std::string>& options,
                           const std::vector<std::string>& environment = {});

  // kvx-usb-emulator with `options` (and --log): the instrument as USB devices, in a umockdev
  // testbed whose folder this process's UMOCKDEV_DIR names until the emulator stops (the
  // process must run with umockdev's preload library to see them). TARVO_DEVICE_ROOT names an
  // empty registry meanwhile.
  static std::unique_ptr<EmulatorProcess> Usb(const std::vector<std::string>& options);
  ~EmulatorProcess();  // Stops it as Stop() does; removes the registry.
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  std::vector<std::string> Log() const;
  // Waits (a few seconds at most) until the log holds `line`.
  bool WaitForLogLine(const std::string& line) const;
  // Stops the emulator (SIGTERM; SIGKILL should it still run after 10 seconds) and returns its
  // exit status, -1 when a signal ended it.
  int Stop();
  // Sends `signal` and waits for the emulator to end, at most `limit`; false when it was still
  // running then (it is killed).
  bool StopsWithin(int signal, std::chrono::milliseconds limit);
  bool InterfacePresent() const;

  const std::string& Root() const { return root_; }
  std::string InterfacePath() const;
  pid_t Pid() const { return pid_; }

 private:
  // Starts `program`, kvx-usb-emulator, as Usb() says, and waits until its output holds `marker`
  // and the testbed's folder after it.
  EmulatorProcess(const char* program, const std::vector<std::string>& options,
                  const std::string& marker);
  // Starts `program` with `options` and --log in a fresh registry that TARVO_DEVICE_ROOT names,
  // its output into `output` (a path, or a name in the registry folder); returns that file's path.
  std::string Start(const char* program, const std::vector<std::string>& options,
                    const std::vector<std::string>& environment, const std::string& output);

  std::string root_;
  std::string logPath_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs the emulator with `options` until it ends by itself; returns its exit status, and its
// stderr in `errors`.
int RunEmulator(const std::vector<std::string>& options, std::string* errors);

// Runs a program (`words`: its path and arguments) to its end with `environment` ("NAME=value")
// put into what it inherits; returns its exit status (-1 when a signal ended it), and its output
// and errors together in `output`.
int RunProgram(std::vector<std::string> words, const std::vector<std::string>& environment,
               std::string* output);

}  // namespace testing_support

#endif  // TESTS_EMULATOR_PROCESS_H
