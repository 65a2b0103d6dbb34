// The options of kvx-emulator that make the instrument: its kind, its data, its blocks and its
// faults. Shared by the emulator and by the tests that play the same instrument in their own
// process.
#ifndef EMULATOR_EMULATOR_OPTIONS_H
#define EMULATOR_EMULATOR_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "instrument.h"

namespace emulator {

struct InstrumentOptions {
  int kind = 1;
  int blockBytes = 120;
  Faults faults;
  std::optional<std::string> capturePath;  // the data's file; the built-in day when absent
};

// The options that make the instrument (--kind, --capture, --block-bytes and every fault).
std::vector<cli::OptionSpec> InstrumentOptionSpecs();

// Reads the options from parsed arguments; a value that does not fit is a usage error, shown
// with `usage` (exit status 2).
InstrumentOptions ReadInstrumentOptions(const cli::Arguments& arguments);

// The instrument's data: the capture file's digits, or the built-in day of its kind. A file that
// cannot be read or holds anything but an even number of hexadecimal digits ends the program
// with exit status 2 and one line on stderr that `program` begins.
std::string LoadCapture(const InstrumentOptions& options, const std::string& program);

}  // namespace emulator

#endif  // EMULATOR_EMULATOR_OPTIONS_H
