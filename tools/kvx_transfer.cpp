// kvx-transfer: one transfer from the instrument exactly as KVX-300's "データ転送" button runs
// it, with a folder of the user's choice, reporting on the terminal what the dialog would show.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "command_line.h"
#include "exit_status.h"
#include "file_system.h"
#include "instrument_places.h"
#include "listed_file_system.h"
#include "program_arguments.h"
#include "program_texts.h"
#include "system_calls.h"
#include "tool_operator.h"
#include "tool_system.h"
#include "transfer_engine.h"
#include "transfer_state.h"

namespace {

constexpr const char* kUsage = cli::TrLater(
    "Usage: kvx-transfer --folder DIR [--time relative|absolute] [--timeout SECONDS]\n"
    "                    [--keep-capture FILE] [--summary text|json] [--device PATH]\n"
    "       kvx-transfer --list\n"
    "\n"
    "Runs one transfer from the instrument exactly as KVX-300's \"データ転送\" button does, with\n"
    "DIR as the chosen folder: the handshake, the data blocks at the protocol's own pace, and\n"
    "the CSV files in DIR/QM-DATA. Each change of the status line, each message for the\n"
    "operator and the progress of the data blocks (stored, and asked for again) are shown as\n"
    "they happen. At the end each CSV file written is listed on stdout, one path a line, and a\n"
    "summary follows. One transfer runs at a time: while KVX-300 or another kvx-transfer has\n"
    "the instrument, this one ends at once.\n"
    "\n"
    "  --folder DIR              the folder to save to (it must exist)\n"
    "  --time relative|absolute  times since the start of the measurement, or calendar times\n"
    "                            (default relative)\n"
    "  --timeout SECONDS         end the transfer as a lost link when nothing moves on (no step\n"
    "                            of the handshake reached, no block stored) for this long\n"
    "                            (1 to 86400, default 30)\n"
    "  --keep-capture FILE       keep the downloaded data (the capture) in FILE, a new file,\n"
    "                            for kvx-convert. Without it the capture is kept only when the\n"
    "                            CSV files could not all be written: then it goes into DIR as\n"
    "                            kvx-capture-kind<1|2>.txt, and where it went is shown.\n"
    "  --summary text|json       the summary as a line (default), or as one JSON object alone\n"
    "                            on stdout for scripts: files, kind, groups, samples,\n"
    "                            characters, resends, seconds, end, exit_status (the status\n"
    "                            line and the progress then go to stderr)\n"
    "  --device PATH             talk to the instrument whose path is PATH, as --list shows\n"
    "                            it (default: the first instrument found that opens)\n"
    "  --list                    list the instruments found, one path a line, in the order\n"
    "                            in which the transfer tries them, and do nothing else\n"
    "  -h, --help                show this text\n"
    "  -V, --version             show the version\n"
    "\n"
    "Environment:\n"
    "  TARVO_DEVICE_ROOT  on Linux, the root of the driver stand-in's registry, where the\n"
    "                     instrument is looked for (default /tmp/tarvo-<uid>); it is also\n"
    "                     looked for among the USB devices whose ids /etc/tarvo/usb-ids names\n"
    "  TARVO_USB_IDS      more ids of USB instruments, vvvv:pppp separated by commas\n"
    "  LANG, LC_MESSAGES, LC_ALL, LANGUAGE\n"
    "                     the language of the messages: Japanese, or English with each of\n"
    "                     the program's Japanese messages followed by its meaning\n"
    "                     (nothing else of the locale: the CSV files are the same bytes\n"
    "                     under every locale)\n"
    "\n"
    "Exit status:\n"
    "  0   the transfer finished (\"終了しました\") and every CSV file was written\n"
    "  2   usage error, or DIR takes no file\n"
    "  3   no instrument or driver found (\"USBドライバを認識できません。\"), none listed\n"
    "      (--list), or not the one that --device names\n"
    "  4   the instrument could not be reached, the link was lost, or nothing moved on for the\n"
    "      --timeout (\"計測器と通信できません。\")\n"
    "  5   a command could not be sent (\"送信エラーN:code\")\n"
    "  6   the instrument ended the transfer before its data (\"ENDコマンドが入りました。\")\n"
    "  7   the instrument has no data (\"データがありません。\")\n"
    "  8   the data arrived damaged three times (\"受信データ破損しています。\")\n"
    "  9   the temporary capture file could not be made or written\n"
    "  10  the data was downloaded, but not every CSV file could be written: the capture is\n"
    "      kept (see above) to be converted again with kvx-convert\n"
    "  11  another transfer is running (KVX-300 or kvx-transfer); nothing was done\n"
    "  128+N  stopped by signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP or the console\n"
    "         closing): the capture is deleted, and so is a CSV file being written; CSV\n"
    "         files already complete stay\n"
    "  1   any other end\n");

// The front end on the terminal: what the window would show, on `live` (stdout, or stderr when
// stdout is kept for the JSON summary).
class TransferOperator : public ToolOperator {
 public:
  TransferOperator(std::FILE* live, ListedFileSystem& files)
      : ToolOperator("kvx-transfer", files),
        live_(live),
        terminal_(live == stdout && cli::system::StandardOutputIsTerminal()),
        start_(std::chrono::steady_clock::now()) {}

  // The engine's record of the blocks, for the last drawing of the progress line.
  void Follow(const TransferProgress& final) { final_ = &final; }

  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

  void Alert(const std::string& message) override {
    EndProgressLine();
    (void)std::fflush(stdout);
    ToolOperator::Alert(message);
  }

  void ShowStatus(const std::string& text) override {
    const bool changed = text != statusLine;
    ToolOperator::ShowStatus(text);
    if (!changed) return;
    EndProgressLine();
    Say(cli::Format(cli::Tr("status line: %s\n"),
                    statusLine.empty() ? cli::Tr("(empty)") : Shown(statusLine).c_str()));
  }

  // Each block's news comes before its data is checked: the line shows what is stored so far,
  // and is drawn once more with the transfer's last figures when it ends.
  void BlockArrived(const TransferProgress& progress) override {
    if (progress.blocksArrived > 1) DrawProgress(progress);
  }

  // The progress line's last drawing, with the figures of the end; then its line is ended.
  void EndProgressLine() {
    if (final_ != nullptr && final_->blocksArrived > 0 &&
        final_->blocksStored + final_->resends != drawnBlocks_) {
      DrawProgress(*final_);
    }
    if (progressOpen_) Say("\n");
    progressOpen_ = false;
  }

 private:
  void DrawProgress(const TransferProgress& progress) {
    const std::string line =
        cli::Format(cli::Tr("blocks stored %d, %d characters, %d resent, %.1f s"),
                    progress.blocksStored, progress.charactersStored, progress.resends, Seconds());
    Say(std::string(terminal_ ? "\r" : "") + line + (terminal_ ? "\033[K" : "\n"));
    progressOpen_ = terminal_;
    drawnBlocks_ = progress.blocksStored + progress.resends;
  }

  void Say(const std::string& text) {
    kvx::system::WriteText(live_, text);
    (void)std::fflush(live_);
  }

  std::FILE* live_;
  bool terminal_;
  const TransferProgress* final_ = nullptr;
  std::chrono::steady_clock::time_point start_;
  bool progressOpen_ = false;
  int32_t drawnBlocks_ = 0;  // the blocks stored and resent when the line was last drawn
};

// The program's link, to the one instrument that --device names when it names one. It stays
// with the tool, so that KVX-300.exe binds the four link functions of every tarvo.dll.
class ChosenInstrumentLink : public LibraryLink {
 public:
  explicit ChosenInstrumentLink(std::string devicePath) : devicePath_(std::move(devicePath)) {}
  int32_t Init() override {
    return devicePath_.empty() ? LibraryLink::Init() : TarvoInitDevice(devicePath_.c_str());
  }

 private:
  std::string devicePath_;  // empty: the first instrument found
};

// The CSV files go into the folder at the end of the download: a folder that takes no file is
// found out before the instrument is asked for anything, by making a file there and removing it.
void RequireWritableFolder(FileSystem& files, const std::string& folder) {
  std::string probe;
  if (!files.CreateUniqueFile(folder + files.PathSeparator(), ".kvx-transfer-", &probe)) {
    cli::UsageError(cli::Format(cli::Tr("cannot write into the folder %s: %s"),
                                cli::system::ShownPath(folder).c_str(),
                                cli::system::LastErrorText().c_str()));
  }
  (void)files.RemoveFile(probe);
}

// Text as a JSON string.
std::string JsonString(const std::string& utf8) {
  std::string json = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      (void)std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

// What the transfer wrote and came to: the CSV files one a line and a summary line, or one JSON
// object, on stdout.
void ReportOutcome(const TransferEngine& engine, const TransferState& transfer,
                   const std::vector<std::string>& written, double seconds, int status, bool json) {
  std::vector<std::string> csvFiles;
  for (const std::string& path : written) {
    if (path != engine.keptCapture) csvFiles.push_back(cli::system::ShownPath(path));
  }
  const TransferProgress& progress = engine.progress;
  if (json) {
    std::string files;
    for (const std::string& path : csvFiles)
      files += (files.empty() ? "" : ", ") + JsonString(path);
    cli::Out(
        "{\"files\": [%s], \"kind\": %s, \"groups\": %d, \"samples\": %lld, "
        "\"characters\": %d, \"resends\": %d, \"seconds\": %.1f, \"end\": \"%s\", "
        "\"exit_status\": %d}\n",
        files.c_str(),
        transfer.instrumentKind == 0 ? "null" : std::to_string(transfer.instrumentKind).c_str(),
        engine.conversion.groups, static_cast<long long>(engine.conversion.samples),
        progress.charactersStored, progress.resends, seconds,
        kvx::TransferEndName(engine.transferEnd), status);
    return;
  }
  for (const std::string& path : csvFiles)
    cli::Out("%s\n", path.c_str());
  if (progress.blocksArrived == 0 && engine.transferEnd != TransferEnd::Finished) return;
  cli::Out(engine.conversion.groups == 1
               ? cli::Tr("kind %d: %d group, %lld samples, %d characters, %d resent, %.1f s\n")
               : cli::Tr("kind %d: %d groups, %lld samples, %d characters, %d resent, %.1f s\n"),
           transfer.instrumentKind, engine.conversion.groups,
           static_cast<long long>(engine.conversion.samples), progress.charactersStored,
           progress.resends, seconds);
}

// Tells where the downloaded data went when it was kept, and how to convert it again.
void ReportKeptCapture(const TransferEngine& engine, const TransferState& transfer,
                       int32_t displayMode) {
  if (engine.keptCapture.empty()) return;
  const std::string kept = cli::system::ShownPath(engine.keptCapture);
  switch (engine.conversion.end) {
    case kvx::ConversionEnd::Converted:
    case kvx::ConversionEnd::Stopped:
      cli::Err(cli::Tr("kvx-transfer: the downloaded data is kept in %s\n"), kept.c_str());
      return;
    case kvx::ConversionEnd::CaptureNotOpened:
      cli::Err(cli::Tr("kvx-transfer: the downloaded data could not be read back for the "
                       "conversion; it is left in %s\n"),
               kept.c_str());
      return;
    default:
      break;
  }
  cli::Err(
      cli::Tr(
          "kvx-transfer: not every CSV file could be written; the downloaded data is kept "
          "in %s.\n  Once the cause is mended, convert it with:\n  kvx-convert --force --kind %d "
          "--time %s --folder %s %s\n"),
      kept.c_str(), transfer.instrumentKind, displayMode == 1 ? "absolute" : "relative",
      cli::system::ShellQuoted(cli::system::ShownPath(transfer.saveFolder)).c_str(),
      cli::system::ShellQuoted(kept).c_str());
}

// Says that no instrument, or not the one that --device names, was found, and where the link
// looked (which on Windows the program's own message says).
void ReportNoInstrument(const std::string& devicePath) {
  const std::string places = cli::system::InstrumentPlaces();
  if (!devicePath.empty()) {
    const std::string shown = cli::system::ShownPath(devicePath);
    cli::Err("%s\n", (places.empty()
                          ? cli::Format(cli::Tr("kvx-transfer: the instrument %s was not found, "
                                                "or it did not open (kvx-transfer --list shows "
                                                "those found)"),
                                        shown.c_str())
                          : cli::Format(cli::Tr("kvx-transfer: the instrument %s was not found in "
                                                "%s, or it did not open (kvx-transfer --list "
                                                "shows those found)"),
                                        shown.c_str(), places.c_str()))
                         .c_str());
  } else if (!places.empty()) {
    cli::Err(cli::Tr("kvx-transfer: no instrument was found in %s\n"), places.c_str());
  }
}

// --list: the instruments found, one path a line, in the order in which the link tries them.
int ListInstruments() {
  int listed = 0;
  for (uint32_t index = 0;; ++index) {
    char path[TARVO_DEVICE_PATH_MAX];
    const int32_t length = TarvoDevicePath(index, path);
    if (length < 0) break;
    if (length >= TARVO_DEVICE_PATH_MAX) {
      cli::Err(
          cli::Tr("kvx-transfer: instrument %u has a path of %d characters, longer than the link "
                  "takes: it is passed over\n"),
          index + 1, length);
      continue;
    }
    cli::Out("%s\n", cli::system::ShownPath(path).c_str());
    ++listed;
  }
  if (listed > 0) return kvx::kTransferFinished;
  if (cli::system::InstrumentPlaces().empty()) {
    cli::Err("%s", cli::Tr("kvx-transfer: no instrument was found\n"));
  } else {
    ReportNoInstrument({});
  }
  return kvx::kTransferNoDriver;
}

// Seconds of --timeout, as milliseconds.
uint32_t TimeoutOption(const cli::Arguments& arguments) {
  const std::string text = arguments.Value("timeout", "30");
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) < 1 ||
      std::stoi(text) > 86400) {
    cli::UsageError(cli::Tr("--timeout must be a number of seconds from 1 to 86400"));
  }
  return static_cast<uint32_t>(std::stoi(text)) * 1000;
}

}  // namespace

int main(int argc, char** argv) {
  cli::StartMessages();
  kvx::system::CatchStopSignals();
  const cli::Arguments arguments = cli::ParseProgramArguments("kvx-transfer", argc, argv,
                                                              {{"folder", true},
                                                               {"time", true},
                                                               {"timeout", true},
                                                               {"keep-capture", true},
                                                               {"summary", true},
                                                               {"device", true},
                                                               {"list", false}},
                                                              kUsage);
  if (!arguments.operands.empty()) {
    cli::UsageError(cli::Format(cli::Tr("unexpected %s"), arguments.operands[0].c_str()));
  }
  if (arguments.Has("list")) {
    if (arguments.options.size() > 1) cli::UsageError(cli::Tr("--list takes no other option"));
    return ListInstruments();
  }
  const std::string devicePath = cli::Optional(arguments, "device");
  const std::string folder = cli::Required(arguments, "folder");
  const int32_t displayMode = cli::DisplayModeOption(arguments);
  const uint32_t timeoutMs = TimeoutOption(arguments);
  const std::string summary = arguments.Value("summary", "text");
  if (summary != "text" && summary != "json")
    cli::UsageError(cli::Tr("--summary must be text or json"));
  const bool json = summary == "json";
  ListedFileSystem files;
  if (!files.IsFolder(folder)) {
    cli::UsageError(cli::Format(cli::Tr("no folder %s"), cli::system::ShownPath(folder).c_str()));
  }
  RequireWritableFolder(files, folder);
  const std::string keepAs = arguments.Value("keep-capture", "");
  std::uint64_t size = 0;
  if (arguments.Has("keep-capture") &&
      (keepAs.empty() || files.IsFolder(keepAs) || cli::system::FileSize(keepAs, &size))) {
    cli::UsageError(cli::Format(cli::Tr("--keep-capture needs the name of a new file: %s"),
                                cli::system::ShownPath(keepAs).c_str()));
  }
  if (arguments.Has("keep-capture") && !files.IsFolder(cli::FolderOf(keepAs))) {
    cli::UsageError(
        cli::Format(cli::Tr("--keep-capture names a file in a folder that does not exist: %s"),
                    cli::system::ShownPath(keepAs).c_str()));
  }

  std::string error;
  switch (kvx::system::TakeSingleInstanceGuard(kvx::system::kTransferGuard, &error)) {
    case kvx::system::GuardResult::Taken:
      break;
    case kvx::system::GuardResult::HeldElsewhere:
      cli::Err(
          cli::Tr("kvx-transfer: another transfer is running (KVX-300 or kvx-transfer); try "
                  "again once it has ended\n"));
      return kvx::kTransferAnotherTransfer;
    case kvx::system::GuardResult::Failed:
      cli::Err("kvx-transfer: %s\n", error.c_str());
      return kvx::kTransferOtherEnd;
  }

  TransferState transfer;
  TransferOperator ui(json ? stderr : stdout, files);
  ChosenInstrumentLink link(devicePath);
  TransferEngine engine(ui, ui, files, transfer, link);
  ui.Follow(engine.progress);
  engine.progressTimeoutMs = timeoutMs;
  engine.captureKeeping = arguments.Has("keep-capture") ? CaptureKeeping::Always
                                                        : CaptureKeeping::WhenConversionIncomplete;
  engine.keepCaptureAs = keepAs;
  engine.Run(folder, displayMode);
  ui.EndProgressLine();
  ReportKeptCapture(engine, transfer, displayMode);
  if (engine.transferEnd == TransferEnd::NoDriver) ReportNoInstrument(devicePath);
  const int status = kvx::TransferExitStatus(engine, kvx::system::StopSignal());
  if (engine.transferEnd == TransferEnd::Stopped) {
    cli::Err(cli::Tr("kvx-transfer: stopped by signal %d%s\n"), kvx::system::StopSignal(),
             engine.keptCapture.empty() && engine.progress.charactersStored > 0
                 ? cli::Tr("; the downloaded data was deleted")
                 : "");
  }
  ReportOutcome(engine, transfer, files.written, ui.Seconds(), status, json);
  return status;
}
