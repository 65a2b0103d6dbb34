// Files, folders and text encodings on Linux. Paths arrive in code page 932 and go to the
// system in UTF-8, its usual encoding of file names.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

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

// The file name for the system, or nothing when the path has no UTF-8 form.
bool NativePath(const std::string& path, std::string* native) {
  return Cp932ToUtf8(path, native);
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

std::vector<std::string> CommandLineArguments(int argc, char** argv,
                                              std::vector<std::string>* unconvertible) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    std::string converted;
    if (Utf8ToCp932(argv[i], &converted)) {
      arguments.push_back(converted);
    } else {
      unconvertible->push_back(argv[i]);
    }
  }
  return arguments;
}

char PathSeparator() {
  return '/';
}

bool TemporaryFolder(std::string* folder) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string native = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  if (native.back() != '/') native += '/';
  return Utf8ToCp932(native, folder);
}

bool CreateUniqueFile(const std::string& folder, const std::string& prefix, std::string* path) {
  std::string native;
  if (!NativePath(folder + prefix, &native)) return false;
  native += "XXXXXX";
  const int fd = mkstemp(native.data());
  if (fd < 0) return false;
  close(fd);
  return Utf8ToCp932(native, path);
}

bool OpenFileForWriting(const std::string& path, FileHandle* file) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

void Sleep(uint32_t milliseconds) {
  timespec left = {static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

namespace {

std::atomic<int> stopSignal{0};

void NoteStopSignal(int signal) {
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
}

// The driver stand-in's registry root, where its interface class folders live.
std::string DeviceRoot() {
  const char* root = std::getenv("TARVO_DEVICE_ROOT");
  return root != nullptr && root[0] != '\0' ? root : "/tmp/tarvo-" + std::to_string(getuid());
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
    *error = "cannot make the folder " + root + ": " + std::strerror(errno);
    return GuardResult::Failed;
  }
  // The lock lives as long as the descriptor, which stays open until the process ends; the
  // system releases it however the process ends.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot open the lock file " + path + ": " + std::strerror(errno);
    return GuardResult::Failed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return GuardResult::Taken;
  const int failure = errno;
  close(fd);
  if (failure == EWOULDBLOCK) return GuardResult::HeldElsewhere;
  *error = "cannot lock " + path + ": " + std::strerror(failure);
  return GuardResult::Failed;
}

bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                   std::size_t* length) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t total = 0;
  bool ok = true;
  while (total < capacity) {
    const ssize_t got = read(fd, buffer + total, capacity - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  close(fd);
  *length = total;
  return ok;
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  std::string native;
  if (!NativePath(folder, &native)) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.c_str()), closedir);
  if (!dir) return false;
  names->clear();
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string converted;
    // A name with no code page 932 form is listed as it is; it never names a CSV file of ours.
    names->push_back(Utf8ToCp932(name, &converted) ? converted : name);
  }
  return true;
}

bool IsFolder(const std::string& path) {
  std::string native;
  struct stat status;
  return NativePath(path, &native) && stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool CreateFolder(const std::string& path) {
  std::string native;
  return NativePath(path, &native) && mkdir(native.c_str(), 0777) == 0;
}

CreateResult CreateNewFile(const std::string& path, FileHandle* file) {
  std::string native;
  if (!NativePath(path, &native)) return CreateResult::Failed;
  const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  *file = fd;
  return CreateResult::Created;
}

bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(static_cast<int>(file), data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CloseFile(FileHandle file) {
  return close(static_cast<int>(file)) == 0;
}

bool RemoveFile(const std::string& path) {
  std::string native;
  return NativePath(path, &native) && unlink(native.c_str()) == 0;
}

bool FileSize(const std::string& path, std::uint64_t* size) {
  std::string native;
  struct stat status;
  if (!NativePath(path, &native) || stat(native.c_str(), &status) != 0 ||
      !S_ISREG(status.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

}  // namespace kvx::system
