#include "emulator_options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "command_line.h"
#include "dataset.h"
#include "file_system.h"
#include "hex_digits.h"
#include "program_arguments.h"
#include "tool_system.h"

namespace emulator {

namespace {

constexpr int kLongestDelayMs = 600000;  // ten minutes

// The parse of one set of arguments; every fault in them is a usage error.
class OptionReader {
 public:
  explicit OptionReader(const cli::Arguments& arguments) : arguments_(arguments) {}

  [[noreturn]] static void Fail(const std::string& reason) { cli::UsageError(reason); }

  int Number(const std::string& text, int low, int high, const std::string& what) const {
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

  Occurrence ParseOccurrence(const std::string& text, const std::string& option) const {
    static const char* const kCommands[] = {"END", "STATUS2", "STATUS", "TRANS",
                                            "N",   "NEXT",    "AGAIN"};
    const std::size_t colon = text.find(':');
    Occurrence occurrence{text.substr(0, colon), 1};
    if (std::none_of(std::begin(kCommands), std::end(kCommands),
                     [&](const char* command) { return occurrence.command == command; })) {
      Fail(option + ": no command " + occurrence.command);
    }
    if (colon != std::string::npos) {
      occurrence.count = Number(text.substr(colon + 1), 1, 999999, option);
    }
    return occurrence;
  }

  std::set<int> ParseBlocks(const std::string& text, const std::string& option) const {
    std::set<int> blocks;
    for (std::size_t start = 0; start <= text.size();) {
      const std::size_t comma = std::min(text.find(',', start), text.size());
      blocks.insert(Number(text.substr(start, comma - start), 1, 999999, option));
      start = comma + 1;
    }
    return blocks;
  }

  bool Has(const std::string& name) const { return arguments_.Has(name); }
  std::string Value(const std::string& name) const { return arguments_.Value(name, ""); }
  std::optional<Occurrence> OccurrenceOption(const std::string& name) const {
    if (!Has(name)) return std::nullopt;
    return ParseOccurrence(Value(name), "--" + name);
  }

  Faults ParseFaults() const {
    Faults faults;
    faults.firstEndError = Has("first-end-error");
    faults.failProbe = Has("fail-probe");
    if (Has("refuse")) {
      const std::string refusal = Value("refuse");
      const std::size_t equals = refusal.find('=');
      const std::string reply = equals == std::string::npos ? "" : refusal.substr(equals + 1);
      if (reply != "YYY" && reply != "? T" && reply != "? S") {
        Fail("--refuse needs CMD=YYY, CMD=? T or CMD=? S");
      }
      faults.refusals[ParseOccurrence(refusal.substr(0, equals), "--refuse").command] = reply;
    }
    if (Has("identification")) {
      std::string identification;
      if (!Unescape(Value("identification"), &identification)) {
        Fail("--identification: a broken escape");
      }
      faults.identification = identification;
    }
    if (Has("empty-reads"))
      faults.emptyReads = Number(Value("empty-reads"), 0, 1000, "--empty-reads");
    if (Has("corrupt")) faults.corruptOnce = ParseBlocks(Value("corrupt"), "--corrupt");
    if (Has("corrupt-always")) {
      faults.corruptAlways = ParseBlocks(Value("corrupt-always"), "--corrupt-always");
    }
    if (Has("cut-block")) {
      const std::string cut = Value("cut-block");
      const std::size_t colon = cut.find(':');
      const int block = Number(cut.substr(0, colon), 1, 999999, "--cut-block");
      faults.cutBlocks[block] =
          colon == std::string::npos
              ? 0
              : static_cast<std::size_t>(Number(cut.substr(colon + 1), 1, 999999, "--cut-block"));
    }
    if (Has("long-block")) {
      faults.longBlocks.insert(Number(Value("long-block"), 1, 999999, "--long-block"));
    }
    faults.dropAtCommand = OccurrenceOption("drop-at-command");
    faults.dropAtReply = OccurrenceOption("drop-at-reply");
    if (Has("drop-at-block")) {
      faults.dropAtBlock = Number(Value("drop-at-block"), 1, 999999, "--drop-at-block");
    }
    faults.failWritesFrom = OccurrenceOption("fail-writes-from");
    faults.silentFrom = OccurrenceOption("silent-from");
    faults.emptyReadsFrom = OccurrenceOption("empty-reads-from");
    faults.unknownRepliesFrom = OccurrenceOption("unknown-replies-from");
    if (Has("reply-delay")) {
      // MS[:CMD[:N]]: the delay, then where it begins, as the other faults name a command.
      const std::string given = Value("reply-delay");
      const std::size_t colon = given.find(':');
      faults.replyDelayMs = static_cast<unsigned>(
          Number(given.substr(0, colon), 0, kLongestDelayMs, "--reply-delay"));
      if (colon != std::string::npos) {
        faults.replyDelayFrom = ParseOccurrence(given.substr(colon + 1), "--reply-delay");
      }
    }
    if (Has("first-reply-delay")) {
      faults.firstReplyDelayMs = static_cast<unsigned>(
          Number(Value("first-reply-delay"), 0, kLongestDelayMs, "--first-reply-delay"));
    }
    if (Has("block-text")) {
      const std::string given = Value("block-text");
      const std::size_t equals = given.find('=');
      if (equals == std::string::npos || equals + 1 == given.size()) {
        Fail("--block-text needs K=TEXT with a TEXT");
      }
      const int block = Number(given.substr(0, equals), 1, 999999, "--block-text");
      if (!Unescape(given.substr(equals + 1), &faults.blockTexts[block])) {
        Fail("--block-text: a broken escape");
      }
    }
    return faults;
  }

 private:
  const cli::Arguments& arguments_;
};

}  // namespace

std::vector<cli::OptionSpec> InstrumentOptionSpecs() {
  return {{"kind", true},
          {"capture", true},
          {"block-bytes", true},
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
          {"block-text", true},
          {"reply-delay", true},
          {"first-reply-delay", true}};
}

InstrumentOptions ReadInstrumentOptions(const cli::Arguments& arguments) {
  const OptionReader reader(arguments);
  InstrumentOptions options;
  options.kind = reader.Number(arguments.Value("kind", "1"), 1, 2, "--kind");
  options.blockBytes =
      reader.Number(arguments.Value("block-bytes", "120"), 1, 120, "--block-bytes");
  options.faults = reader.ParseFaults();
  if (arguments.Has("capture")) options.capturePath = arguments.Value("capture", "");
  return options;
}

std::string LoadCapture(const InstrumentOptions& options, const std::string& program) {
  if (!options.capturePath) return BuiltInCapture(options.kind);
  const std::string& path = *options.capturePath;
  const std::string shown = cli::system::ShownPath(path);
  std::uint64_t size = 0;
  std::string capture;
  std::size_t length = 0;
  if (!cli::system::FileSize(path, &size) || size > (64u << 20) ||
      (capture.resize(static_cast<std::size_t>(size)),
       !SystemFileSystem().ReadFileBytes(path, capture.data(), capture.size(), &length)) ||
      length != capture.size()) {
    cli::Err("%s: cannot read the capture file %s\n", program.c_str(), shown.c_str());
    std::exit(cli::kUsageError);  // NOLINT(concurrency-mt-unsafe): before any thread starts
  }
  const std::size_t bad = kvx::FirstNonHexadecimal(capture);
  if (bad != std::string::npos || capture.size() % 2 != 0) {
    cli::Err(
        "%s: the capture file %s must hold an even number of hexadecimal digits "
        "and nothing else%s\n",
        program.c_str(), shown.c_str(),
        bad == std::string::npos
            ? ""
            : (" (character " + std::to_string(bad + 1) + " is not one)").c_str());
    std::exit(cli::kUsageError);  // NOLINT(concurrency-mt-unsafe): before any thread starts
  }
  return capture;
}

}  // namespace emulator
