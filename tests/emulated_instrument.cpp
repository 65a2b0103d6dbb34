#include "emulated_instrument.h"

#include <fstream>
#include <iterator>

#include "dataset.h"
#include "emulator_options.h"

namespace program_testing {

EmulatedInstrument::EmulatedInstrument(const std::vector<std::string>& options) {
  const cli::Arguments arguments =
      cli::Parse("kvx-emulator", options, emulator::InstrumentOptionSpecs(), "(test options)");
  const emulator::InstrumentOptions parsed = emulator::ReadInstrumentOptions(arguments);
  std::string capture = emulator::BuiltInCapture(parsed.kind);
  if (parsed.capturePath) {
    std::ifstream in(*parsed.capturePath, std::ios::binary);
    capture.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  instrument_ = std::make_unique<emulator::Instrument>(
      parsed.kind, capture, static_cast<std::size_t>(parsed.blockBytes), parsed.faults, log_);
}

}  // namespace program_testing
