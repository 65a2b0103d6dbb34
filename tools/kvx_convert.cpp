// kvx-convert: converts a capture file into CSV files exactly as KVX-300 does at the end of a
// transfer, with a folder of the user's choice as the chosen folder.
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "command_line.h"
#include "headless_platform.h"
#include "program_arguments.h"
#include "system_calls.h"
#include "tarvodlg.h"
#include "transfer_state.h"

namespace {

const char kUsage[] =
    "Usage: kvx-convert --kind 1|2 [--time relative|absolute] --folder DIR CAPTURE_FILE\n"
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
    "  --help                    show this text\n"
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
    "Exit status: 0 when the conversion ran, also when it stopped with a message; 2 on a usage\n"
    "error or when CAPTURE_FILE cannot be read.\n";

// The headless platform, noting the CSV files that the conversion leaves behind.
class ConverterPlatform : public HeadlessPlatform {
 public:
  ConverterPlatform() : HeadlessPlatform("kvx-convert") {}

  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override {
    const CreateResult result = HeadlessPlatform::CreateNewFile(path, file);
    if (result == CreateResult::Created) written.push_back(path);
    return result;
  }

  bool RemoveFile(const std::string& path) override {
    std::erase(written, path);
    return HeadlessPlatform::RemoveFile(path);
  }

  std::vector<std::string> written;
};

}  // namespace

int main(int argc, char** argv) {
  const cli::Arguments arguments = cli::ParseInCodePage932(
      "kvx-convert", argc, argv, {{"kind", true}, {"time", true}, {"folder", true}}, kUsage);

  const std::string kind = arguments.Value("kind", "");
  if (kind != "1" && kind != "2") cli::UsageError("--kind must be 1 or 2", kUsage);
  const int32_t displayMode = cli::DisplayModeOption(arguments, kUsage);
  if (!arguments.Has("folder") || arguments.Value("folder", "").empty()) {
    cli::UsageError("--folder is missing", kUsage);
  }
  if (arguments.operands.size() != 1) cli::UsageError("give one capture file", kUsage);

  TransferState transfer;
  transfer.saveFolder = arguments.Value("folder", "");
  transfer.capturePath = arguments.operands[0];
  std::uint64_t size = 0;
  if (!kvx::system::FileSize(transfer.capturePath, &size)) {
    std::fprintf(stderr, "kvx-convert: cannot read the capture file %s\n",
                 cli::ShownInUtf8(transfer.capturePath).c_str());
    return cli::kUsageError;
  }
  if (size > INT32_MAX) {
    std::fprintf(stderr, "kvx-convert: the capture file %s is larger than a transfer can be\n",
                 cli::ShownInUtf8(transfer.capturePath).c_str());
    return cli::kUsageError;
  }
  transfer.payloadLength = static_cast<int32_t>(size);

  ConverterPlatform platform;
  CTarvoDlg dialog(platform, transfer);
  dialog.displayMode = displayMode;
  if (kind == "1") {
    dialog.ConvertToCsvKind1();
  } else {
    dialog.ConvertToCsvKind2();
  }
  for (const std::string& path : platform.written)
    std::printf("%s\n", cli::ShownInUtf8(path).c_str());
  return 0;
}
