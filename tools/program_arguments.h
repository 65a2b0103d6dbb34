// What the KVX-300 tools share beyond the command-line style: arguments and paths as the
// platform has them (code page 932, the program's own encoding, on Windows), and the --time
// option.
#ifndef TOOLS_PROGRAM_ARGUMENTS_H
#define TOOLS_PROGRAM_ARGUMENTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"

namespace cli {

// Parses the program's arguments as the platform gives them (on Windows converted to code page
// 932: an argument that has no code page 932 form is a usage error).
Arguments ParseProgramArguments(const std::string& program, int argc, char** argv,
                                const std::vector<OptionSpec>& specs, const std::string& usage);

// The folder that holds the last name of a path, with its separator; "." for a name alone.
std::string FolderOf(const std::string& path);

// The display mode that "--time relative|absolute" asks for (relative when absent): 0 for times
// since the start of the measurement, 1 for calendar times.
int32_t DisplayModeOption(const Arguments& arguments);

}  // namespace cli

#endif  // TOOLS_PROGRAM_ARGUMENTS_H
