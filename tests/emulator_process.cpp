#include "emulator_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "device_access.h"
#include "standin_wire.h"

extern char** environ;

namespace testing_support {

namespace {

// The test's environment with `added` ("NAME=value") put in, each replacing a variable of its
// name.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& added) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& addition : added) {
      const std::string name = addition.substr(0, addition.find('=') + 1);  // with its '='
      replaced = replaced || text.compare(0, name.size(), name) == 0;
    }
    if (!replaced) entries.push_back(text);
  }
  entries.insert(entries.end(), added.begin(), added.end());
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  pointers.reserve(words.size() + 1);
  for (std::string& word : words)
    pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(const std::vector<std::string>& options, const std::string& errorsPath,
            const std::vector<std::string>& environment = {}, const char* program = KVX_EMULATOR,
            const std::string& outputPath = "/dev/null") {
  std::vector<std::string> words = {program};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv = Pointers(words);
  // The emulator is the device, not a program that uses one: no umockdev preload library for it,
  // should the tests run with one.
  std::vector<std::string> added = {"LD_PRELOAD="};
  added.insert(added.end(), environment.begin(), environment.end());
  std::vector<std::string> variables = EnvironmentWith(added);
  std::vector<char*> envp = Pointers(variables);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + std::string(program));
  return pid;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Condition>
bool WaitUntil(Condition done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace

EmulatorProcess::EmulatorProcess(const std::vector<std::string>& options,
                                 const std::vector<std::string>& environment) {
  Start(KVX_EMULATOR, options, environment, "/dev/null");
  if (!WaitUntil([this] { return InterfacePresent(); })) {
    throw std::runtime_error("the emulator did not present its interface");
  }
}

#ifdef KVX_USB_EMULATOR
std::unique_ptr<EmulatorProcess> EmulatorProcess::Usb(const std::vector<std::string>& options) {
  return std::unique_ptr<EmulatorProcess>(
      new EmulatorProcess(KVX_USB_EMULATOR, options, "UMOCKDEV_DIR="));
}
#endif

EmulatorProcess::EmulatorProcess(const char* program, const std::vector<std::string>& options,
                                 const std::string& marker) {
  // Its GLib and umockdev threads synchronise in ways that ThreadSanitizer does not see (the
  // libraries are not instrumented): the fixture does not report; the library under test does.
  const std::string output = Start(program, options, {"TSAN_OPTIONS=report_bugs=0"}, "stdout");
  if (!WaitUntil([&] { return ReadText(output).find(marker) != std::string::npos; })) {
    throw std::runtime_error("the USB emulator did not present its devices");
  }
  const std::string text = ReadText(output);
  const std::size_t at = text.find(marker) + marker.size();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the tests change it only while no thread reads it.
  setenv("UMOCKDEV_DIR", text.substr(at, text.find('\n', at) - at).c_str(), 1);
}

std::string EmulatorProcess::Start(const char* program, const std::vector<std::string>& options,
                                   const std::vector<std::string>& environment,
                                   const std::string& output) {
  char pattern[] = "/tmp/kvx-emulator-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  root_ = pattern;
  logPath_ = root_ + "/dialogue.log";
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the tests change it only while no thread reads it.
  setenv("TARVO_DEVICE_ROOT", root_.c_str(), 1);
  std::vector<std::string> all = options;
  all.insert(all.end(), {"--log", logPath_});
  std::string outputPath = output.front() == '/' ? output : root_ + "/" + output;
  pid_ = Spawn(all, root_ + "/stderr", environment, program, outputPath);
  return outputPath;
}

EmulatorProcess::~EmulatorProcess() {
  Stop();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the tests change it only while no thread reads it.
  unsetenv("UMOCKDEV_DIR");
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

int EmulatorProcess::Stop() {
  if (pid_ > 0) StopsWithin(SIGTERM, std::chrono::seconds(10));
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool EmulatorProcess::StopsWithin(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return true;
  kill(pid_, signal);
  // The allowance is counted in pauses of 5 ms rather than read off the clock, so that a machine
  // that stalls for a while (a busy or paused host) does not spend it all at once.
  constexpr auto kPause = std::chrono::milliseconds(5);
  bool ended = false;
  for (auto waited = std::chrono::milliseconds(0);
       !(ended = waitpid(pid_, &status_, WNOHANG) == pid_) && waited < limit; waited += kPause) {
    std::this_thread::sleep_for(kPause);
  }
  if (!ended) {
    // Says where it was, for whoever reads the failure.
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    (void)std::fprintf(stderr, "the emulator (process %d) was still running after signal %d:\n",
                       static_cast<int>(pid_), signal);
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("State", 0) == 0 || line.rfind("Sig", 0) == 0 || line.rfind("Shd", 0) == 0)
        (void)std::fprintf(stderr, "  %s\n", line.c_str());
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  pid_ = -1;
  return ended;
}

std::string EmulatorProcess::InterfacePath() const {
  return root_ + "/" + standin::InterfaceClassName(tarvo::INTERFACE_GUID) + "/0000-kvx-emulator";
}

bool EmulatorProcess::InterfacePresent() const {
  struct stat status;
  return stat(InterfacePath().c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

std::vector<std::string> EmulatorProcess::Log() const {
  std::vector<std::string> lines;
  std::ifstream in(logPath_);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

bool EmulatorProcess::WaitForLogLine(const std::string& line) const {
  return WaitUntil([&] {
    for (const std::string& logged : Log()) {
      if (logged == line) return true;
    }
    return false;
  });
}

int RunEmulator(const std::vector<std::string>& options, std::string* errors) {
  char pattern[] = "/tmp/kvx-emulator-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  const std::string errorsPath = std::string(pattern) + "/stderr";
  const pid_t pid = Spawn(options, errorsPath);
  int status = 0;
  waitpid(pid, &status, 0);
  *errors = ReadText(errorsPath);
  std::filesystem::remove_all(pattern);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProgram(std::vector<std::string> words, const std::vector<std::string>& environment,
               std::string* output) {
  std::vector<char*> argv = Pointers(words);
  std::vector<std::string> variables = EnvironmentWith(environment);
  std::vector<char*> envp = Pointers(variables);
  char outputPath[] = "/tmp/kvx-program-output-XXXXXX";
  const int fd = mkstemp(outputPath);
  if (fd < 0) throw std::runtime_error("cannot make a temporary file");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fd);
  *output = ReadText(outputPath);
  (void)std::remove(outputPath);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
