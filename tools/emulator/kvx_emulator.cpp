// kvx-emulator: plays the instrument and its USB driver, so that the library, the transfer and
// the program can be run without hardware.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "dataset.h"
#include "driver.h"
#include "file_system.h"
#include "instrument.h"
#include "program_arguments.h"
#include "tool_system.h"

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
    "On Linux the interface is a socket in $TARVO_DEVICE_ROOT/{5ff884a1-b0e8-11d3-abc7-\n"
    "0080c8792d99}/ (TARVO_DEVICE_ROOT defaults to /tmp/tarvo-<uid>). On Windows it is\n"
    "registered for SetupAPI and its pipes are the named pipes if000pipe000 and if000pipe001.\n"
    "\n"
    "  --kind 1|2         the instrument kind, which names it and its sample size (default 1)\n"
    "  --capture FILE     the data to deliver, as the program's capture file holds it: an even\n"
    "                     number of hexadecimal digits (default: a built-in day of readings)\n"
    "  --block-bytes N    data bytes per block, 1 to 120 (default 120)\n"
    "  --name NAME        the device interface's name (default 0000-kvx-emulator on Linux,\n"
    "                     KVX_EMULATOR on Windows)\n"
    "  --log FILE         write every command, reply and driver request to FILE as it happens\n"
    "  --help             show this text\n"
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
    "\n"
    "Exit status: 0 when stopped, 1 when the interface cannot be presented, 2 on a usage error\n"
    "or an unreadable capture file.\n";

[[noreturn]] void Fail(const std::string& reason) {
  cli::UsageError(reason, kUsage);
}

int Number(const std::string& text, int low, int high, const std::string& what) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    Fail(what + " needs a number, not \"" + text + "\"");
  }
  const int value = std::stoi(text);
  if (value < low || value > high) {
    Fail(what + " must be " + std::to_string(low) + " to " + std::to_string(high));
  }
  return value;
}

const std::vector<std::string> kCommands = {"END", "STATUS2", "STATUS", "TRANS",
                                            "N",   "NEXT",    "AGAIN"};

emulator::Occurrence ParseOccurrence(const std::string& text, const std::string& option) {
  const std::size_t colon = text.find(':');
  emulator::Occurrence occurrence{text.substr(0, colon), 1};
  bool known = false;
  for (const std::string& command : kCommands)
    known = known || command == occurrence.command;
  if (!known) Fail(option + ": no command " + occurrence.command);
  if (colon != std::string::npos) {
    occurrence.count = Number(text.substr(colon + 1), 1, 999999, option);
  }
  return occurrence;
}

std::set<int> ParseBlocks(const std::string& text, const std::string& option) {
  std::set<int> blocks;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    blocks.insert(Number(text.substr(start, comma - start), 1, 999999, option));
    start = comma + 1;
  }
  return blocks;
}

emulator::Faults ParseFaults(const cli::Arguments& arguments) {
  emulator::Faults faults;
  faults.firstEndError = arguments.Has("first-end-error");
  faults.failProbe = arguments.Has("fail-probe");
  if (arguments.Has("refuse")) {
    const std::string refusal = arguments.Value("refuse", "");
    const std::size_t equals = refusal.find('=');
    const std::string reply = equals == std::string::npos ? "" : refusal.substr(equals + 1);
    if (reply != "YYY" && reply != "? T" && reply != "? S") {
      Fail("--refuse needs CMD=YYY, CMD=? T or CMD=? S");
    }
    faults.refusals[ParseOccurrence(refusal.substr(0, equals), "--refuse").command] = reply;
  }
  if (arguments.Has("identification")) {
    std::string identification;
    if (!emulator::Unescape(arguments.Value("identification", ""), &identification)) {
      Fail("--identification: a broken escape");
    }
    faults.identification = identification;
  }
  if (arguments.Has("empty-reads")) {
    faults.emptyReads = Number(arguments.Value("empty-reads", ""), 0, 1000, "--empty-reads");
  }
  if (arguments.Has("corrupt"))
    faults.corruptOnce = ParseBlocks(arguments.Value("corrupt", ""), "--corrupt");
  if (arguments.Has("corrupt-always")) {
    faults.corruptAlways = ParseBlocks(arguments.Value("corrupt-always", ""), "--corrupt-always");
  }
  if (arguments.Has("cut-block")) {
    const std::string cut = arguments.Value("cut-block", "");
    const std::size_t colon = cut.find(':');
    const int block = Number(cut.substr(0, colon), 1, 999999, "--cut-block");
    faults.cutBlocks[block] =
        colon == std::string::npos
            ? 0
            : static_cast<std::size_t>(Number(cut.substr(colon + 1), 1, 999999, "--cut-block"));
  }
  if (arguments.Has("long-block")) {
    faults.longBlocks.insert(Number(arguments.Value("long-block", ""), 1, 999999, "--long-block"));
  }
  if (arguments.Has("drop-at-command")) {
    faults.dropAtCommand =
        ParseOccurrence(arguments.Value("drop-at-command", ""), "--drop-at-command");
  }
  if (arguments.Has("drop-at-reply")) {
    faults.dropAtReply = ParseOccurrence(arguments.Value("drop-at-reply", ""), "--drop-at-reply");
  }
  if (arguments.Has("drop-at-block")) {
    faults.dropAtBlock = Number(arguments.Value("drop-at-block", ""), 1, 999999, "--drop-at-block");
  }
  if (arguments.Has("fail-writes-from")) {
    faults.failWritesFrom =
        ParseOccurrence(arguments.Value("fail-writes-from", ""), "--fail-writes-from");
  }
  if (arguments.Has("silent-from")) {
    faults.silentFrom = ParseOccurrence(arguments.Value("silent-from", ""), "--silent-from");
  }
  if (arguments.Has("empty-reads-from")) {
    faults.emptyReadsFrom =
        ParseOccurrence(arguments.Value("empty-reads-from", ""), "--empty-reads-from");
  }
  if (arguments.Has("unknown-replies-from")) {
    faults.unknownRepliesFrom =
        ParseOccurrence(arguments.Value("unknown-replies-from", ""), "--unknown-replies-from");
  }
  if (arguments.Has("block-text")) {
    const std::string given = arguments.Value("block-text", "");
    const std::size_t equals = given.find('=');
    if (equals == std::string::npos || equals + 1 == given.size()) {
      Fail("--block-text needs K=TEXT with a TEXT");
    }
    const int block = Number(given.substr(0, equals), 1, 999999, "--block-text");
    if (!emulator::Unescape(given.substr(equals + 1), &faults.blockTexts[block])) {
      Fail("--block-text: a broken escape");
    }
  }
  return faults;
}

// The capture file's text, which must be an even number of hexadecimal digits.
std::string ReadCapture(const std::string& path) {
  const std::string shown = cli::ShownInUtf8(path);
  std::uint64_t size = 0;
  std::string capture;
  std::size_t length = 0;
  if (!cli::system::FileSize(path, &size) || size > (64u << 20)) {
    std::fprintf(stderr, "kvx-emulator: cannot read the capture file %s\n", shown.c_str());
    std::exit(cli::kUsageError);
  }
  capture.resize(static_cast<std::size_t>(size));
  if (!SystemFileSystem().ReadFileBytes(path, capture.data(), capture.size(), &length) ||
      length != capture.size()) {
    std::fprintf(stderr, "kvx-emulator: cannot read the capture file %s\n", shown.c_str());
    std::exit(cli::kUsageError);
  }
  const std::size_t bad = capture.find_first_not_of("0123456789ABCDEFabcdef");
  if (bad != std::string::npos || capture.size() % 2 != 0) {
    std::fprintf(stderr,
                 "kvx-emulator: the capture file %s must hold an even number of hexadecimal "
                 "digits and nothing else%s\n",
                 shown.c_str(),
                 bad == std::string::npos
                     ? ""
                     : (" (character " + std::to_string(bad + 1) + " is not one)").c_str());
    std::exit(cli::kUsageError);
  }
  return capture;
}

}  // namespace

int main(int argc, char** argv) {
  const cli::Arguments arguments = cli::ParseInCodePage932("kvx-emulator", argc, argv,
                                                           {{"kind", true},
                                                            {"capture", true},
                                                            {"block-bytes", true},
                                                            {"name", true},
                                                            {"log", true},
                                                            {"first-end-error", false},
                                                            {"refuse", true},
                                                            {"identification", true},
                                                            {"empty-reads", true},
                                                            {"corrupt", true},
                                                            {"corrupt-always", true},
                                                            {"cut-block", true},
                                                            {"long-block", true},
                                                            {"drop-at-command", true},
                                                            {"drop-at-reply", true},
                                                            {"drop-at-block", true},
                                                            {"fail-writes-from", true},
                                                            {"fail-probe", false},
                                                            {"silent-from", true},
                                                            {"empty-reads-from", true},
                                                            {"unknown-replies-from", true},
                                                            {"block-text", true}},
                                                           kUsage);
  if (!arguments.operands.empty()) Fail("unexpected " + arguments.operands[0]);

  const int kind = Number(arguments.Value("kind", "1"), 1, 2, "--kind");
  const int blockBytes = Number(arguments.Value("block-bytes", "120"), 1, 120, "--block-bytes");
  const emulator::Faults faults = ParseFaults(arguments);
  const std::string capture = arguments.Has("capture") ? ReadCapture(arguments.Value("capture", ""))
                                                       : emulator::BuiltInCapture(kind);

  emulator::DialogueLog log;
  if (arguments.Has("log") && !log.Open(arguments.Value("log", ""))) {
    std::fprintf(stderr, "kvx-emulator: cannot write the log %s\n",
                 arguments.Value("log", "").c_str());
    return cli::kUsageError;
  }
  emulator::Instrument instrument(kind, capture, static_cast<std::size_t>(blockBytes), faults, log);
  std::printf("kvx-emulator: an instrument of kind %d with %zu data blocks (%zu characters)\n",
              kind, instrument.BlockCount(), capture.size());
  return emulator::ServeInstrument(instrument,
                                   arguments.Value("name", emulator::DefaultInterfaceName()));
}
