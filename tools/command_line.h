// The shared style of the command-line tools: long options ("--name VALUE" or "--name=VALUE"),
// each at most once, -h or --help, -V or --version, messages in UTF-8, exit status 2 on a usage
// error, which is told in one line and a pointer to --help.
#ifndef TOOLS_COMMAND_LINE_H
#define TOOLS_COMMAND_LINE_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "messages.h"

// printf's format checking; mingw-w64's C++ library formats as the GNU C library does.
#if defined(__MINGW32__) && !defined(__clang__)
#define CLI_PRINTF_FORMAT(text, first) __attribute__((__format__(gnu_printf, text, first)))
#else
#define CLI_PRINTF_FORMAT(text, first) __attribute__((__format__(__printf__, text, first)))
#endif

namespace cli {

constexpr int kUsageError = 2;

// printf to stdout and to stderr, UTF-8 text: on a Windows console as its characters, elsewhere
// as the bytes (kvx::system::WriteText).
void Out(const char* format, ...) CLI_PRINTF_FORMAT(1, 2);
void Err(const char* format, ...) CLI_PRINTF_FORMAT(1, 2);

// printf into a text.
std::string Format(const char* format, ...) CLI_PRINTF_FORMAT(1, 2);

struct OptionSpec {
  std::string name;  // without the leading "--"
  bool takesValue;
};

struct Arguments {
  std::map<std::string, std::string> options;  // flags map to ""
  std::vector<std::string> operands;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Value(const std::string& name, const std::string& fallback) const;
};

// Parses the arguments after the program's name. On -h or --help prints `usage` to stdout and
// exits 0, on -V or --version prints "<program> <version>" and exits 0; an unknown option, an
// option given twice, a missing or unwanted value are usage errors.
Arguments Parse(const std::string& program, const std::vector<std::string>& words,
                const std::vector<OptionSpec>& specs, const std::string& usage);
Arguments Parse(int argc, char** argv, const std::vector<OptionSpec>& specs,
                const std::string& usage);

// The name that messages begin with: `program` without its folder and without ".exe".
void SetProgramName(const std::string& program);

// Prints "<program>: <reason>" and "Try '<program> --help'." to stderr, and exits 2.
[[noreturn]] void UsageError(const std::string& reason);

// The value of the option `name`; a usage error, "--<name> is missing" or "--<name> is empty",
// when it was not given or is empty.
std::string Required(const Arguments& arguments, const std::string& name);

// The value of the option `name`, or "" when it was not given; a usage error, "--<name> is
// empty", when it was given empty.
std::string Optional(const Arguments& arguments, const std::string& name);

// Protocol bytes as a quoted text for messages: printable ASCII as it is, "\r" for a carriage
// return, "\xNN" for any other byte.
std::string Printable(const void* data, std::size_t size);

}  // namespace cli

#endif  // TOOLS_COMMAND_LINE_H
