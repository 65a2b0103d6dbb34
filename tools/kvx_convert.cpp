// kvx-convert: converts a capture file into CSV files exactly as KVX-300 does at the end of a
// transfer, with a folder of the user's choice as the chosen folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>

#include "capture_decoding.h"
#include "command_line.h"
#include "csv_conversion.h"
#include "exit_status.h"
#include "file_system.h"
#include "listed_file_system.h"
#include "program_arguments.h"
#include "program_texts.h"
#include "system_calls.h"
#include "tool_operator.h"
#include "tool_system.h"
#include "transfer_state.h"

namespace {

constexpr const char* kUsage = cli::TrLater(
    "Usage: kvx-convert --kind 1|2 [--time relative|absolute] [--force] --folder DIR CAPTURE_FILE\n"
    "\n"
    "Converts CAPTURE_FILE into CSV files as KVX-300 does at the end of a transfer, with DIR\n"
    "as the chosen folder: one file per measurement group, in DIR/QM-DATA (made when missing),\n"
    "numbered on from the files already there (QM-0001.csv to QM-9999.csv). Messages for the\n"
    "operator go to stderr, the files written are listed on stdout. CAPTURE_FILE is only read.\n"
    "\n"
    "  --kind 1|2                the instrument kind\n"
    "  --time relative|absolute  times since the start of the measurement, or calendar times\n"
    "                            (default relative)\n"
    "  --folder DIR              the folder chosen for the transfer\n"
    "  --force                   convert a capture that no instrument of the kind sent, as\n"
    "                            the program converts whatever a transfer received\n"
    "  -h, --help                show this text\n"
    "  -V, --version             show the version\n"
    "\n"
    "A capture file holds the instrument's data as text, back to back with no line breaks. Each\n"
    "measurement group is a 60-character header record followed by its samples. In the record,\n"
    "counting from 0: the start time YYMMDDhhmmss at 4-15; the interval at 16-21, either\n"
    "4 digits of milliseconds and \"83\", or 2 digits of minutes, 2 of seconds and \"00\"; the\n"
    "layout at 22 (\"0\" rows with times, \"4\" without); the unit at 23 (\"0\" Celsius, \"1\"\n"
    "Fahrenheit); the number of samples at 44-49 in hexadecimal. A kind-1 sample is 4\n"
    "hexadecimal digits, a 16-bit value in tenths (7FFF and 8001 mark readings out of range).\n"
    "A kind-2 sample adds 8 characters, whose last 6 are the measurement clock: hours, minutes\n"
    "and seconds, 2 hexadecimal digits each.\n"
    "\n"
    "A capture that is not one of the kind is refused before anything is written (exit status\n"
    "3, with the first group that is not as it should be, and a hint when the capture reads\n"
    "as the other kind): a header record cut short or with a field out of its form, samples\n"
    "missing or not hexadecimal. With --force it is converted all the same, as the program\n"
    "converts a transfer (missing samples read as 0.0), with a warning on stderr for each\n"
    "group that declares more samples than the capture holds or holds other characters.\n"
    "\n"
    "Environment:\n"
    "  LANG, LC_MESSAGES, LC_ALL, LANGUAGE\n"
    "                     the language of the messages: Japanese, or English with each of\n"
    "                     the program's Japanese messages followed by its meaning\n"
    "                     (nothing else of the locale: the CSV files are the same bytes\n"
    "                     under every locale)\n"
    "\n"
    "Exit status:\n"
    "  0   every measurement group is in its CSV file\n"
    "  2   usage error (DIR must exist)\n"
    "  3   CAPTURE_FILE cannot be read, or is no capture of the kind (without --force)\n"
    "  4   QM-DATA could not be made\n"
    "  5   a CSV file could not be made, written or closed (a full disk, a path over 255\n"
    "      bytes): the files before it are complete, the one being written was removed\n"
    "  6   the file numbers ran out at QM-9999.csv\n"
    "  128+N  stopped by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP or the console\n"
    "         closing): the CSV file being written was removed, those complete stay\n"
    "  1   any other end (no memory for the capture)\n");

// One line for each group that does not look like the instrument's own data.
void WarnOfOddGroups(const std::vector<kvx::GroupNotice>& notices) {
  for (const kvx::GroupNotice& notice : notices) {
    std::string line = cli::Format(cli::Tr("kvx-convert: warning: group %d"), notice.group);
    if (!notice.file.empty()) line += " (" + cli::system::ShownPath(notice.file) + ")";
    std::vector<std::string> faults;
    if (notice.headerLength < kvx::kHeaderRecordSize) {
      faults.push_back(cli::Format(cli::Tr("has a header record of only %zu of its 60 characters"),
                                   notice.headerLength));
    }
    if (notice.presentSamples < notice.declaredSamples) {
      faults.push_back(cli::Format(
          cli::Tr("declares %d samples, the capture holds %d (the missing ones read as 0.0)"),
          notice.declaredSamples, notice.presentSamples));
    }
    if (notice.hasNonHexadecimal) {
      faults.push_back(cli::Format(cli::Tr("holds a character that is no hexadecimal digit among "
                                           "its samples (at %zu of the capture)"),
                                   notice.nonHexadecimal + 1));
    }
    for (std::size_t i = 0; i < faults.size(); ++i) {
      line += (i == 0 ? " " : cli::Tr("; it ")) + faults[i];
    }
    cli::Err("%s\n", line.c_str());
  }
}

// What is wrong with the group of a capture that is no capture of the kind.
std::string FaultOf(const kvx::CaptureFault& fault, int kind) {
  switch (fault.problem) {
    case kvx::CaptureFault::RecordCutShort:
      return cli::Format(cli::Tr("its header record has only %zu of its 60 characters"),
                         fault.held);
    case kvx::CaptureFault::StartTimeNotDecimal:
      return cli::Tr("its header record's start time (characters 4 to 15) is not decimal");
    case kvx::CaptureFault::IntervalCodeOdd:
      return cli::Tr("its header record's interval code (characters 20 and 21) is not 83 or 00");
    case kvx::CaptureFault::IntervalNotDecimal:
      return cli::Tr("its header record's interval (characters 16 to 19) is not decimal");
    case kvx::CaptureFault::LayoutCodeOdd:
      return cli::Tr("its header record's layout code (character 22) is not 0 or 4");
    case kvx::CaptureFault::UnitCodeOdd:
      return cli::Tr("its header record's unit code (character 23) is not 0 or 1");
    case kvx::CaptureFault::CountNotHexadecimal:
      return cli::Tr("its header record's sample count (characters 44 to 49) is not hexadecimal");
    case kvx::CaptureFault::SamplesMissing:
      return cli::Format(cli::Tr("its header record declares %zu samples (%zu characters), the "
                                 "capture holds %zu"),
                         fault.declared, fault.declared * kvx::SampleSize(kind), fault.held);
    case kvx::CaptureFault::SampleNotHexadecimal:
      return cli::Format(cli::Tr("its samples hold a character that is no hexadecimal digit (at "
                                 "offset %zu)"),
                         fault.badOffset);
  }
  return {};
}

// Whether the capture is what an instrument of the kind sends; if not, says so, and which kind
// it reads as when it does.
bool IsCaptureOfKind(FileSystem& files, const std::string& path, std::size_t size, int kind) {
  std::string capture(size, '\0');
  std::size_t length = 0;
  if (!files.ReadFileBytes(path, capture.data(), capture.size(), &length)) {
    cli::Err(cli::Tr("kvx-convert: cannot read the capture file %s\n"),
             cli::system::ShownPath(path).c_str());
    return false;
  }
  capture.resize(length);
  const std::optional<kvx::CaptureFault> fault = kvx::FirstCaptureFault(capture, kind);
  if (!fault) return true;
  const int other = 3 - kind;
  std::string hint;
  if (!kvx::FirstCaptureFault(capture, other)) {
    hint = cli::Format(cli::Tr("; this looks like a kind-%d capture: use --kind %d"), other, other);
  }
  cli::Err(cli::Tr("kvx-convert: %s is not a kind-%d capture: group %zu (at offset %zu): %s%s\n"),
           cli::system::ShownPath(path).c_str(), kind, fault->group, fault->offset,
           FaultOf(*fault, kind).c_str(), hint.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  cli::StartMessages();
  kvx::system::CatchStopSignals();
  const cli::Arguments arguments = cli::ParseProgramArguments(
      "kvx-convert", argc, argv,
      {{"kind", true}, {"time", true}, {"folder", true}, {"force", false}}, kUsage);

  const std::string kind = cli::Required(arguments, "kind");
  if (kind != "1" && kind != "2") cli::UsageError(cli::Tr("--kind must be 1 or 2"));
  const int32_t displayMode = cli::DisplayModeOption(arguments);
  const std::string folder = cli::Required(arguments, "folder");
  if (arguments.operands.size() != 1) cli::UsageError(cli::Tr("give one capture file"));
  ListedFileSystem files;
  if (!files.IsFolder(folder)) {
    cli::UsageError(cli::Format(cli::Tr("no folder %s"), cli::system::ShownPath(folder).c_str()));
  }

  TransferState transfer;
  transfer.saveFolder = folder;
  transfer.capturePath = arguments.operands[0];
  std::uint64_t size = 0;
  if (!cli::system::FileSize(transfer.capturePath, &size)) {
    cli::Err(cli::Tr("kvx-convert: cannot read the capture file %s\n"),
             cli::system::ShownPath(transfer.capturePath).c_str());
    return kvx::kCaptureUnreadable;
  }
  if (size > INT32_MAX) {
    cli::Err(cli::Tr("kvx-convert: the capture file %s is larger than a transfer can be\n"),
             cli::system::ShownPath(transfer.capturePath).c_str());
    return kvx::kCaptureUnreadable;
  }
  transfer.payloadLength = static_cast<int32_t>(size);
  const int instrumentKind = kind == "1" ? 1 : 2;
  if (!arguments.Has("force") && !IsCaptureOfKind(files, transfer.capturePath,
                                                  static_cast<std::size_t>(size), instrumentKind)) {
    return kvx::kCaptureUnreadable;
  }

  ToolOperator ui("kvx-convert", files);
  const kvx::ConversionOutcome conversion =
      kvx::ConvertCapture(instrumentKind, displayMode, ui, files, transfer);
  if (conversion.end == kvx::ConversionEnd::NoMemory) ui.Alert(std::string(kvx::texts::kNoMemory));
  WarnOfOddGroups(conversion.notices);
  for (const std::string& path : files.written)
    cli::Out("%s\n", cli::system::ShownPath(path).c_str());
  if (conversion.end == kvx::ConversionEnd::Stopped) {
    cli::Err(cli::Tr("kvx-convert: stopped by signal %d\n"), kvx::system::StopSignal());
  }
  return kvx::ConversionExitStatusFor(conversion.end, kvx::system::StopSignal());
}
