// What only the command-line tools ask of Linux: their arguments, whether standard output is a
// terminal, and a file's size.
#include <sys/stat.h>
#include <unistd.h>

#include "system_calls.h"
#include "tool_system.h"

namespace cli::system {

using kvx::system::Cp932ToUtf8;
using kvx::system::Utf8ToCp932;

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

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) != 0;
}

bool FileSize(const std::string& path, std::uint64_t* size) {
  std::string native;
  struct stat status;
  if (!Cp932ToUtf8(path, &native) || stat(native.c_str(), &status) != 0 ||
      !S_ISREG(status.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

}  // namespace cli::system
