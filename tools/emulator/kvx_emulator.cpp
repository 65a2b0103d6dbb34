// kvx-emulator: plays the instrument and its USB driver, so that the library, the transfer and
// the program can be run without hardware.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "driver.h"
#include "emulator_options.h"
#include "instrument.h"
#include "program_arguments.h"

namespace {

const char kUsage[] =
    "Usage: kvx-emulator [--kind 1|2] [--capture FILE] [--block-bytes N] [--name NAME]\n"
    "                    [--log FILE] [FAULT...]\n"
    "\n"
    "Plays a logging instrument and its USB driver until interrupted (Ctrl-C), one transfer\n"
    "after another: it presents a device interface of the instrument's class and answers each\n"
    "command on pipe 1 of interface 0 with one reply on pipe 0 - \"END\\r\", \"STATUS2\\r\" (the\n"
    "identification of its kind), \"STATUS\\r\", \"TRANS\\r\", then the data blocks for \"N\\r\",\n"
    "\"NEXT\\r\" and \"AGAIN\\r\", and \"YYY\\r\" after the last one.\n"
    "On Linux the interface is a socket in the folder\n"
    "$TARVO_DEVICE_ROOT/{5ff884a1-b0e8-11d3-abc7-0080c8792d99}/\n"
    "(TARVO_DEVICE_ROOT defaults to /tmp/tarvo-<uid>). On Windows it is registered for\n"
    "SetupAPI and its pipes are the named pipes if000pipe000 and if000pipe001.\n"
    "\n"
    "  --kind 1|2         the instrument kind, which names it and its sample size (default 1)\n"
    "  --capture FILE     the data to deliver, as the program's capture file holds it: an even\n"
    "                     number of hexadecimal digits (default: a built-in day of readings)\n"
    "  --block-bytes N    data bytes per block, 1 to 120 (default 120)\n"
    "  --name NAME        the device interface's name (default 0000-kvx-emulator on Linux,\n"
    "                     KVX_EMULATOR on Windows)\n"
    "  --log FILE         write every command, reply and driver request to FILE as it happens\n"
    "  -h, --help         show this text\n"
    "  -V, --version      show the version\n"
    "\n"
    "Faults (CMD is a command without its \\r, such as NEXT; CMD:N is its N-th arrival since\n"
    "the emulator started; BLOCKS is a list of block numbers such as 2,5):\n"
    "  --first-end-error            answer the first \"END\\r\" of each transfer with \"? E\"\n"
    "  --refuse CMD=REPLY           answer CMD with REPLY: YYY, \"? T\" or \"? S\"\n"
    "  --identification TEXT        identify with TEXT (escapes \\r \\n \\\\ \\xNN), e.g. as\n"
    "                               neither kind: \"STATUS2\\r000T000100\\r\"\n"
    "  --empty-reads N              complete N reads with 0 bytes before each reply; a command\n"
    "                               that comes first replaces the reply (Linux)\n"
    "  --corrupt BLOCKS             send these blocks with a wrong checksum the first time\n"
    "  --corrupt-always BLOCKS      send these blocks with a wrong checksum every time\n"
    "  --cut-block K[:LENGTH]       send block K cut to LENGTH characters (default half) once\n"
    "  --long-block K               send block K with two more characters once (245 with\n"
    "                               120-byte blocks)\n"
    "  --block-text K=TEXT          send TEXT (escapes as for --identification) instead of\n"
    "                               block K once; the resend after \"AGAIN\\r\" is the block\n"
    "  --drop-at-command CMD[:N]    the device goes as CMD arrives: its write fails\n"
    "  --drop-at-reply CMD[:N]      the device goes after taking CMD, before its reply\n"
    "  --drop-at-block K            the device goes instead of sending block K\n"
    "  --fail-writes-from CMD[:N]   the write of CMD and every later write fail (Linux)\n"
    "  --fail-probe                 the driver does not answer its probe request (Linux)\n"
    "  --silent-from CMD[:N]        from CMD on, take every command and never answer it\n"
    "  --empty-reads-from CMD[:N]   from CMD on, answer no command and complete every read at\n"
    "                               once with 0 bytes (Windows: as --silent-from)\n"
    "  --unknown-replies-from CMD[:N]\n"
    "                               from CMD on, answer every command with \"???\\r\"\n"
    "  --reply-delay MS[:CMD[:N]]   answer every command (from CMD on) MS milliseconds after\n"
    "                               it came, 0 to 600000; replies wait their turn in order\n"
    "  --first-reply-delay MS       answer the first command of each transfer MS milliseconds\n"
    "                               late, as an instrument that wakes up\n"
    "\n"
    "Environment:\n"
    "  TARVO_DEVICE_ROOT  on Linux, the root of the driver stand-in's registry\n"
    "\n"
    "Exit status: 0 when stopped, 1 when the interface cannot be presented, 2 on a usage error\n"
    "or an unreadable capture file.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<cli::OptionSpec> specs = emulator::InstrumentOptionSpecs();
  specs.insert(specs.end(), {{"name", true}, {"log", true}});
  const cli::Arguments arguments =
      cli::ParseProgramArguments("kvx-emulator", argc, argv, specs, kUsage);
  if (!arguments.operands.empty()) cli::UsageError("unexpected " + arguments.operands[0]);

  const emulator::InstrumentOptions options = emulator::ReadInstrumentOptions(arguments);
  const int kind = options.kind;
  const std::string capture = emulator::LoadCapture(options, "kvx-emulator");

  emulator::DialogueLog log;
  if (arguments.Has("log") && !log.Open(arguments.Value("log", ""))) {
    cli::Err("kvx-emulator: cannot write the log %s\n", arguments.Value("log", "").c_str());
    return cli::kUsageError;
  }
  emulator::Instrument instrument(kind, capture, static_cast<std::size_t>(options.blockBytes),
                                  options.faults, log);
  cli::Out("kvx-emulator: an instrument of kind %d with %zu data blocks (%zu characters)\n", kind,
           instrument.BlockCount(), capture.size());
  return emulator::ServeInstrument(instrument,
                                   arguments.Value("name", emulator::DefaultInterfaceName()));
}
