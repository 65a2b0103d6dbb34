// Text encodings, pauses, stop signals and the one-at-a-time guard on Linux.
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "system_calls.h"

namespace kvx::system {

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 4 + 4, '\0');
  char* inPointer = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char* outPointer = out->data();
  std::size_t outLeft = out->size();
  const bool ok =
      iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(converter);
  out->resize(out->size() - outLeft);
  return ok;
}

}  // namespace

// A conversion counts only when the text comes back unchanged: some characters (〜, −, ¥ …)
// have code page 932 bytes that mean a neighbouring character, and a path so converted would
// name another file.
bool Cp932ToUtf8(const std::string& cp932, std::string* utf8) {
  std::string back;
  return Convert("UTF-8", "CP932", cp932, utf8) && Convert("CP932", "UTF-8", *utf8, &back) &&
         back == cp932;
}

bool Utf8ToCp932(const std::string& utf8, std::string* cp932) {
  std::string back;
  return Convert("CP932", "UTF-8", utf8, cp932) && Convert("UTF-8", "CP932", *cp932, &back) &&
         back == utf8;
}

void SleepUntil(std::chrono::steady_clock::time_point deadline) {
  // The steady clock is CLOCK_MONOTONIC: its time points are that clock's readings.
  const auto since =
      std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
  const timespec wake = {static_cast<time_t>(since.count() / 1000000000),
                         static_cast<long>(since.count() % 1000000000)};
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
}

namespace {

std::atomic<int> stopSignal{0};

void NoteStopSignal(int signal) {
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
}

// The driver stand-in's registry root, where its interface class folders live.
std::string DeviceRoot() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the program never changes its environment.
  const char* root = std::getenv("TARVO_DEVICE_ROOT");
  return root != nullptr && root[0] != '\0' ? root : "/tmp/tarvo-" + std::to_string(getuid());
}

// strerror's text for an error number, without strerror's buffer shared between threads.
std::string ErrorText(int error) {
  return std::generic_category().message(error);
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = NoteStopSignal;  // No SA_RESTART: a wait in progress ends early.
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal that the program was started with ignored (nohup, a background job of a shell)
    // stays ignored: whoever started it wanted it to run on.
    struct sigaction inherited = {};
    sigaction(signal, nullptr, &inherited);
    if (inherited.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
}

int StopSignal() {
  return stopSignal.load();
}

GuardResult TakeSingleInstanceGuard(const std::string& name, std::string* error) {
  const std::string root = DeviceRoot();
  const std::string path = root + "/" + name + ".lock";
  if (mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot make the folder " + root + ": " + ErrorText(errno);
    return GuardResult::Failed;
  }
  // The lock lives as long as the descriptor, which stays open until the process ends; the
  // system releases it however the process ends.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot open the lock file " + path + ": " + ErrorText(errno);
    return GuardResult::Failed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return GuardResult::Taken;
  const int failure = errno;
  close(fd);
  if (failure == EWOULDBLOCK) return GuardResult::HeldElsewhere;
  *error = "cannot lock " + path + ": " + ErrorText(failure);
  return GuardResult::Failed;
}

void WriteText(std::FILE* stream, std::string_view utf8) {
  (void)std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace kvx::system
