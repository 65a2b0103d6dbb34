// kvx-transfer: one transfer from the instrument exactly as KVX-300's "データ転送" button runs
// it, with a folder of the user's choice, reporting on the terminal what the dialog would show.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "command_line.h"
#include "headless_platform.h"
#include "program_arguments.h"
#include "program_texts.h"
#include "system_calls.h"
#include "tarvodlg.h"
#include "transfer_state.h"

namespace {

const char kUsage[] =
    "Usage: kvx-transfer --folder DIR [--time relative|absolute]\n"
    "\n"
    "Runs one transfer from the instrument exactly as KVX-300's \"データ転送\" button does, with\n"
    "DIR as the chosen folder: the handshake, the data blocks at the protocol's own pace, and\n"
    "the CSV files in DIR/QM-DATA. Each change of the status line, each message for the\n"
    "operator and the progress of the data blocks are shown as they happen.\n"
    "\n"
    "  --folder DIR              the folder to save to (it must exist)\n"
    "  --time relative|absolute  times since the start of the measurement, or calendar times\n"
    "                            (default relative)\n"
    "  --help                    show this text\n"
    "\n"
    "Exit status:\n"
    "  0  the transfer finished (\"終了しました\")\n"
    "  2  usage error\n"
    "  3  no instrument or driver found (\"USBドライバを認識できません。\")\n"
    "  4  the instrument could not be reached, or the link was lost "
    "(\"計測器と通信できません。\")\n"
    "  5  a command could not be sent (\"送信エラーN:code\")\n"
    "  6  the instrument ended the transfer before its data (\"ENDコマンドが入りました。\")\n"
    "  7  the instrument has no data (\"データがありません。\")\n"
    "  8  the data arrived damaged three times (\"受信データ破損しています。\")\n"
    "  9  the temporary capture file could not be made or written\n"
    "  1  any other end\n";

enum ExitStatus {
  kFinished = 0,
  kOtherEnd = 1,
  kNoDriver = 3,
  kNoCommunication = 4,
  kSendFailed = 5,
  kEndedByInstrument = 6,
  kNoData = 7,
  kDataDamaged = 8,
  kCaptureFile = 9,
};

// The headless platform, telling the terminal what the dialog would show.
class TransferPlatform : public HeadlessPlatform {
 public:
  explicit TransferPlatform(const TransferState& transfer)
      : HeadlessPlatform("kvx-transfer"),
        transfer_(transfer),
        terminal_(kvx::system::StandardOutputIsTerminal()),
        start_(std::chrono::steady_clock::now()) {}

  void ShowMessage(const std::string& text) override {
    EndProgressLine();
    std::fflush(stdout);
    HeadlessPlatform::ShowMessage(text);
    if (firstMessage_.empty()) firstMessage_ = text;
  }

  void ExchangeData(CTarvoDlg& dialog, DataDirection direction) override {
    const std::string shown = statusLine;
    HeadlessPlatform::ExchangeData(dialog, direction);
    if (direction == DataDirection::ToControls && statusLine != shown) {
      EndProgressLine();
      std::printf("status line: %s\n",
                  statusLine.empty() ? "(empty)" : cli::ShownInUtf8(statusLine).c_str());
      std::fflush(stdout);
    }
  }

  // Called once for every data block that arrives.
  void LetOneMessageThrough() override {
    ++blocks_;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("%sblocks %d, %d characters stored, %d resend%s, %.1f s%s", terminal_ ? "\r" : "",
                blocks_, transfer_.payloadLength, transfer_.resendCount,
                transfer_.resendCount == 1 ? "" : "s", seconds, terminal_ ? "\033[K" : "\n");
    std::fflush(stdout);
    progressShown_ = terminal_;
  }

  // The kind of end, told by the transfer's first message.
  int ExitStatusFor(const std::string& finalStatus) const {
    namespace t = kvx::texts;
    const std::string_view message = firstMessage_;
    if (message.empty() && finalStatus == t::kFinished) return kFinished;
    if (message.empty()) return kOtherEnd;
    if (message == t::kDriverNotRecognised) return kNoDriver;
    if (message == t::kCannotCommunicate) return kNoCommunication;
    if (message.substr(0, t::kSendError.size()) == t::kSendError) return kSendFailed;
    if (message == t::kEndCommandCame) return kEndedByInstrument;
    if (message == t::kNoData) return kNoData;
    if (message == t::kDataCorruptedMessage) return kDataDamaged;
    if (message == t::kTemporaryFileNotCreated || message == t::kCreationFailed) {
      return kCaptureFile;
    }
    // A message of the conversion (a full disk, QM-9999.csv): the transfer still finished.
    return finalStatus == t::kFinished ? kFinished : kOtherEnd;
  }

 private:
  void EndProgressLine() {
    if (progressShown_) std::printf("\n");
    progressShown_ = false;
  }

  const TransferState& transfer_;
  bool terminal_;
  std::chrono::steady_clock::time_point start_;
  int blocks_ = 0;
  bool progressShown_ = false;
  std::string firstMessage_;
};

}  // namespace

int main(int argc, char** argv) {
  const cli::Arguments arguments = cli::ParseInCodePage932(
      "kvx-transfer", argc, argv, {{"folder", true}, {"time", true}}, kUsage);
  if (!arguments.operands.empty()) cli::UsageError("unexpected " + arguments.operands[0], kUsage);
  const std::string folder = arguments.Value("folder", "");
  if (folder.empty()) cli::UsageError("--folder is missing", kUsage);
  const int32_t displayMode = cli::DisplayModeOption(arguments, kUsage);
  if (!kvx::system::IsFolder(folder))
    cli::UsageError("no folder " + cli::ShownInUtf8(folder), kUsage);

  TransferState transfer;
  TransferPlatform platform(transfer);
  platform.chosenFolder = folder;
  platform.displayChoice = displayMode;
  CTarvoDlg dialog(platform, transfer);
  dialog.OnDataTransfer();
  return platform.ExitStatusFor(dialog.statusText);
}
