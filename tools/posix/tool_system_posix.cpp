// What only the command-line tools ask of Linux: their arguments, whether standard output is a
// terminal, a file's size, and a file's new name.
#include <sys/stat.h>

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system_calls.h"
#include "tool_system.h"

namespace cli::system {

std::vector<std::string> CommandLineArguments(int argc, char** argv,
                                              std::vector<std::string>* /*unconvertible*/) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string ShownPath(const std::string& path) {
  return path;
}

std::size_t NameStart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

bool FileSize(const std::string& path, std::uint64_t* size) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

bool WriteStandardOutputBytes(const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
         std::fflush(stdout) == 0;
}

std::string LastErrorText() {
  char buffer[256];
  // The GNU strerror_r: it returns the text, in `buffer` or a static one.
  return strerror_r(errno, buffer, sizeof buffer);
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace cli::system
