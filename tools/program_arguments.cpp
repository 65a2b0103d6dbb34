#include "program_arguments.h"

#include "tool_system.h"

namespace cli {

Arguments ParseProgramArguments(const std::string& program, int argc, char** argv,
                                const std::vector<OptionSpec>& specs, const std::string& usage) {
  std::vector<std::string> unconvertible;
  const std::vector<std::string> words =
      cli::system::CommandLineArguments(argc, argv, &unconvertible);
  SetProgramName(program);
  if (!unconvertible.empty()) {
    UsageError(Format(Tr("this argument has no code page 932 form: %s"), unconvertible[0].c_str()));
  }
  return Parse(program, words, specs, usage);
}

std::string FolderOf(const std::string& path) {
  const std::size_t start = cli::system::NameStart(path);
  return start == 0 ? "." : path.substr(0, start);
}

int32_t DisplayModeOption(const Arguments& arguments) {
  const std::string time = arguments.Value("time", "relative");
  if (time != "relative" && time != "absolute") {
    UsageError(Tr("--time must be relative or absolute"));
  }
  return time == "absolute" ? 1 : 0;
}

}  // namespace cli
