// kvx-usb-emulator: kvx-emulator's instrument as USB devices below libusb, in a umockdev testbed,
// so that the library's USB device files can be tried without hardware or root.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "driver_umockdev.h"
#include "emulator_options.h"
#include "instrument.h"
#include "usb_model.h"

namespace {

const char kUsage[] =
    "Usage: kvx-usb-emulator [--ids VVVV:PPPP[,VVVV:PPPP...]] [--log FILE]\n"
    "                        [--without-permission] [--out-first] [INSTRUMENT OPTION...]\n"
    "\n"
    "Plays kvx-emulator's instrument as USB devices below libusb, one for each id (default\n"
    "1234:0300), at usb:1-1, usb:1-2 ... of a umockdev testbed, until interrupted (Ctrl-C). It\n"
    "prints the testbed's folder; a program sees the devices when it runs with\n"
    "LD_PRELOAD=libumockdev-preload.so.0 and UMOCKDEV_DIR set to that folder.\n"
    "\n"
    "  --ids LIST            the devices' vendor and product ids\n"
    "  --log FILE            write the first device's commands, replies and USB requests to FILE\n"
    "  --without-permission  the device nodes open for root only\n"
    "  --out-first           the OUT endpoint before the IN one, as a device the link cannot use\n"
    "  -h, --help            show this text\n"
    "\n"
    "The instrument options (--kind, --capture, --block-bytes and the faults) are those of\n"
    "kvx-emulator; kvx-emulator --help lists them.\n"
    "\n"
    "Exit status: 0 when stopped, 1 when the devices cannot be presented, 2 on a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<cli::OptionSpec> specs = emulator::InstrumentOptionSpecs();
  specs.insert(specs.end(),
               {{"ids", true}, {"log", true}, {"without-permission", false}, {"out-first", false}});
  const cli::Arguments arguments = cli::Parse(argc, argv, specs, kUsage);
  if (!arguments.operands.empty()) cli::UsageError("unexpected " + arguments.operands[0]);
  const emulator::InstrumentOptions options = emulator::ReadInstrumentOptions(arguments);
  const std::string capture = emulator::LoadCapture(options, "kvx-usb-emulator");

  emulator::UsbDevices devices;
  devices.withoutPermission = arguments.Has("without-permission");
  devices.outFirst = arguments.Has("out-first");
  std::vector<std::string> malformed;
  for (const tarvo::usb::UsbId& id :
       tarvo::usb::ParseIds(arguments.Value("ids", "1234:0300"), "--ids", &malformed)) {
    devices.ids.emplace_back(id.vendor, id.product);
  }
  if (!malformed.empty() || devices.ids.empty()) {
    cli::UsageError("--ids needs VVVV:PPPP ids");
  }

  emulator::DialogueLog log;
  emulator::DialogueLog unwritten;
  if (arguments.Has("log") && !log.Open(arguments.Value("log", ""))) {
    cli::Err("kvx-usb-emulator: cannot write the log %s\n", arguments.Value("log", "").c_str());
    return cli::kUsageError;
  }
  std::vector<std::unique_ptr<emulator::Instrument>> instruments;
  std::vector<emulator::Instrument*> served;
  for (std::size_t i = 0; i < devices.ids.size(); ++i) {
    instruments.push_back(std::make_unique<emulator::Instrument>(
        options.kind, capture, static_cast<std::size_t>(options.blockBytes), options.faults,
        i == 0 ? log : unwritten));
    served.push_back(instruments.back().get());
  }
  return emulator::ServeUsbInstruments(served, devices);
}
