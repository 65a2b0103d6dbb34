#include "command_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "kvx_version.h"
#include "system_calls.h"

namespace cli {

namespace {

// printf into a text.
std::string Formatted(const char* format, std::va_list arguments) {
  std::va_list again;
  va_copy(again, arguments);
  const int size = std::vsnprintf(nullptr, 0, format, arguments);
  std::string text;
  if (size > 0) {
    text.assign(static_cast<std::size_t>(size) + 1, '\0');
    (void)std::vsnprintf(text.data(), text.size(), format, again);
    text.pop_back();
  }
  va_end(again);
  return text;
}

// printf into a text, then the text to the stream.
void WriteFormatted(std::FILE* stream, const char* format, std::va_list arguments) {
  const std::string text = Formatted(format, arguments);
  if (!text.empty()) kvx::system::WriteText(stream, text);
}

// Made on first use, so that the program's start cannot fail on it.
std::string& ProgramName() {
  static std::string name = "tool";
  return name;
}

}  // namespace

// A printf, so that the compiler checks the format of every message.
void Out(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  std::va_list arguments;
  va_start(arguments, format);
  WriteFormatted(stdout, format, arguments);
  va_end(arguments);
}

void Err(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): as Out
  std::va_list arguments;
  va_start(arguments, format);
  WriteFormatted(stderr, format, arguments);
  va_end(arguments);
}

std::string Format(const char* format, ...) {  // NOLINT(cert-dcl50-cpp): as Out
  std::va_list arguments;
  va_start(arguments, format);
  std::string text = Formatted(format, arguments);
  va_end(arguments);
  return text;
}

std::string Arguments::Value(const std::string& name, const std::string& fallback) const {
  auto found = options.find(name);
  return found != options.end() ? found->second : fallback;
}

void UsageError(const std::string& reason) {
  // Nothing is left to say it with when stderr does not take the message.
  Err(Tr("%s: %s\nTry '%s --help'.\n"), ProgramName().c_str(), reason.c_str(),
      ProgramName().c_str());
  std::exit(kUsageError);  // NOLINT(concurrency-mt-unsafe): the arguments come before any thread
}

std::string Required(const Arguments& arguments, const std::string& name) {
  if (!arguments.Has(name)) UsageError(Format(Tr("--%s is missing"), name.c_str()));
  return Optional(arguments, name);
}

std::string Optional(const Arguments& arguments, const std::string& name) {
  std::string value = arguments.Value(name, "");
  if (arguments.Has(name) && value.empty()) {
    UsageError(Format(Tr("--%s is empty"), name.c_str()));
  }
  return value;
}

void SetProgramName(const std::string& program) {
  std::string& programName = ProgramName();
  programName = program;
  const std::size_t slash = programName.find_last_of("/\\");
  if (slash != std::string::npos) programName.erase(0, slash + 1);
  if (programName.size() > 4 && programName.substr(programName.size() - 4) == ".exe") {
    programName.resize(programName.size() - 4);
  }
}

Arguments Parse(int argc, char** argv, const std::vector<OptionSpec>& specs,
                const std::string& usage) {
  return Parse(argc > 0 ? argv[0] : "tool",
               std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), specs, usage);
}

Arguments Parse(const std::string& program, const std::vector<std::string>& words,
                const std::vector<OptionSpec>& specs, const std::string& usage) {
  SetProgramName(program);
  Arguments arguments;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      arguments.operands.push_back(word);
      continue;
    }
    if (word == "--help" || word == "-h") {
      Out("%s", Tr(usage.c_str()));
      std::exit(0);  // NOLINT(concurrency-mt-unsafe): the arguments come before any thread
    }
    if (word == "--version" || word == "-V") {
      Out("%s %s\n", ProgramName().c_str(), KVX_VERSION_TEXT);
      std::exit(0);  // NOLINT(concurrency-mt-unsafe): the arguments come before any thread
    }
    if (word[1] != '-') UsageError(Format(Tr("unknown option %s"), word.c_str()));
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(2, equals == std::string::npos ? equals : equals - 2);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (candidate.name == name) spec = &candidate;
    }
    if (spec == nullptr) UsageError(Format(Tr("unknown option --%s"), name.c_str()));
    if (arguments.Has(name)) UsageError(Format(Tr("--%s is given twice"), name.c_str()));
    if (!spec->takesValue) {
      if (equals != std::string::npos) UsageError(Format(Tr("--%s takes no value"), name.c_str()));
      arguments.options[name] = "";
    } else if (equals != std::string::npos) {
      arguments.options[name] = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      arguments.options[name] = words[++i];
    } else {
      UsageError(Format(Tr("--%s needs a value"), name.c_str()));
    }
  }
  return arguments;
}

std::string Printable(const void* data, std::size_t size) {
  std::string text = "\"";
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char byte = static_cast<const unsigned char*>(data)[i];
    if (byte == '\r') {
      text += "\\r";
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      char escaped[8];
      (void)std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);  // always 4 characters
      text += escaped;
    }
  }
  return text + "\"";
}

}  // namespace cli
