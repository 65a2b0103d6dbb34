// Every fault, swept: whole transfers and conversions are run once to count the calls they make
// into the files and folders and into the link, then once more for every N with the N-th call
// failing, once or from then on. After every run the end must be one of the documented ones,
// with exactly its message, and nothing may be left that looks complete but is not.
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "emulated_instrument.h"
#include "exit_status.h"
#include "program_test_support.h"
#include "program_texts.h"
#include "system_calls.h"

namespace program_testing {
namespace {

using ::testing::IsEmpty;

std::string Utf8(std::string_view cp932) {
  std::string utf8;
  kvx::system::Cp932ToUtf8(std::string(cp932), &utf8);
  return utf8;
}

std::string Example(int kind) {
  std::ifstream in(
      std::string(KVX_SOURCE_DIR) + "/examples/kind" + std::to_string(kind) + "-capture.txt",
      std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const char* ConversionName(kvx::ConversionEnd end) {
  switch (end) {
    case kvx::ConversionEnd::Converted:
      return "CSV files written";
    case kvx::ConversionEnd::CaptureNotOpened:
      return "capture not read back";
    case kvx::ConversionEnd::FolderNotCreated:
      return "QM-DATA not made";
    case kvx::ConversionEnd::CsvNotWritten:
      return "a CSV file not written";
    case kvx::ConversionEnd::NumbersUsedUp:
      return "numbers used up";
    case kvx::ConversionEnd::Stopped:
      return "stopped";
    case kvx::ConversionEnd::NoMemory:
      return "no memory";
  }
  return "?";
}

// The one message the operator sees at the end of a conversion, if any.
std::vector<std::string> ConversionMessages(kvx::ConversionEnd end) {
  switch (end) {
    case kvx::ConversionEnd::Converted:
    case kvx::ConversionEnd::Stopped:
    case kvx::ConversionEnd::NoMemory:
      return {};
    case kvx::ConversionEnd::CaptureNotOpened:
      return {Utf8(kvx::texts::kCaptureNotOpened)};
    case kvx::ConversionEnd::FolderNotCreated:
      return {Utf8(kvx::texts::kFolderNotCreated)};
    case kvx::ConversionEnd::CsvNotWritten:
      return {Utf8(kvx::texts::kCsvNotCreated)};
    case kvx::ConversionEnd::NumbersUsedUp:
      return {Utf8(kvx::texts::kPastLastFileNumber)};
  }
  return {"?"};
}

// kvx-transfer's exit status for each end, as its --help lists them.
int DocumentedExitStatus(TransferEnd end, kvx::ConversionEnd conversion) {
  switch (end) {
    case TransferEnd::Finished:
      return conversion == kvx::ConversionEnd::Converted ? 0 : 10;
    case TransferEnd::NoDriver:
      return 3;
    case TransferEnd::LostLink:
    case TransferEnd::NoProgress:
      return 4;
    case TransferEnd::SendFailed:
      return 5;
    case TransferEnd::TemporaryFileNotCreated:
    case TransferEnd::CaptureNotOpened:
    case TransferEnd::CaptureNotWritten:
      return 9;
    default:
      return -1;  // no end that a fault of the files or the link can bring
  }
}

// kvx-convert's exit status for each end, as its --help lists them.
int DocumentedConvertExitStatus(kvx::ConversionEnd end) {
  switch (end) {
    case kvx::ConversionEnd::Converted:
      return 0;
    case kvx::ConversionEnd::CaptureNotOpened:
      return 3;
    case kvx::ConversionEnd::FolderNotCreated:
      return 4;
    case kvx::ConversionEnd::CsvNotWritten:
      return 5;
    case kvx::ConversionEnd::NumbersUsedUp:
      return 6;
    case kvx::ConversionEnd::Stopped:
      return 128;
    case kvx::ConversionEnd::NoMemory:
      return 1;
  }
  return -1;
}

enum class Target { Files, Link };

// How often each end came, by the fault's reach: once, or from then on.
using OutcomeTable = std::map<std::string, std::pair<int, int>>;

void PrintTable(const std::string& title, const OutcomeTable& table) {
  std::cout << "  " << title << "\n    " << std::left << std::setw(58) << "end" << std::right
            << std::setw(6) << "once" << std::setw(14) << "from then on"
            << "\n";
  for (const auto& [end, counts] : table) {
    std::cout << "    " << std::left << std::setw(58) << end << std::right << std::setw(6)
              << counts.first << std::setw(14) << counts.second << "\n";
  }
}

// One transfer of the window, built afresh for every run: the instrument in this process, the
// files in memory.
struct TransferRig {
  TransferRig(int kind, int mode, const std::string& captureFile) : displayMode(mode) {
    instrument = std::make_unique<EmulatedInstrument>(std::vector<std::string>{
        "--kind", std::to_string(kind), "--capture", captureFile, "--block-bytes", "40"});
    link.instrument = instrument.get();
    link.clock = &ui;
    files.MakeFolder("/save");
    files.temporaryFolder = "/temp";
  }

  std::map<std::string, std::string> CsvFiles() const {
    std::map<std::string, std::string> csv;
    for (const std::string& name : files.Names("/save/QM-DATA"))
      csv[name] = files.Read("/save/QM-DATA/" + name);
    return csv;
  }

  std::unique_ptr<EmulatedInstrument> instrument;
  ScriptedLink link;
  RecordingOperator ui;
  MemoryFileSystem files;
  TransferState transfer;
  TransferEngine engine{ui, ui, files, transfer, link};
  int displayMode;

  void Run() { engine.Run("/save", displayMode); }
};

// What every run must leave, whatever failed. Returns the end's name for the table.
std::string CheckTransferEnd(TransferRig& rig, const std::map<std::string, std::string>& clean) {
  const TransferEngine& engine = rig.engine;
  std::string name = kvx::TransferEndName(engine.transferEnd);
  if (engine.transferEnd == TransferEnd::Finished) {
    name += std::string(": ") + ConversionName(engine.conversion.end);
  }

  // A documented end, with exactly its message.
  std::vector<std::string> expected;
  switch (engine.transferEnd) {
    case TransferEnd::Finished:
      expected = ConversionMessages(engine.conversion.end);
      break;
    case TransferEnd::TemporaryFileNotCreated:
    case TransferEnd::CaptureNotWritten:
      expected = {Utf8(kvx::texts::kTemporaryFileNotCreated)};
      break;
    case TransferEnd::CaptureNotOpened:
      expected = {Utf8(kvx::texts::kCreationFailed)};
      break;
    case TransferEnd::NoDriver:
      expected = {Utf8(kvx::texts::kDriverNotRecognised)};
      break;
    case TransferEnd::LostLink:
    case TransferEnd::NoProgress:
      expected = {Utf8(kvx::texts::kCannotCommunicate)};
      break;
    case TransferEnd::SendFailed:
      EXPECT_EQ(rig.ui.messages.size(), 1u);
      if (!rig.ui.messages.empty()) {
        EXPECT_TRUE(std::regex_match(rig.ui.messages[0], std::regex("送信エラー[1-8]:-9")))
            << rig.ui.messages[0];
      }
      expected = rig.ui.messages;
      break;
    default:
      ADD_FAILURE() << "an end that no fault of the files or the link brings: " << name;
  }
  EXPECT_EQ(rig.ui.messages, expected) << name;
  EXPECT_EQ(kvx::TransferExitStatus(engine, 0),
            DocumentedExitStatus(engine.transferEnd, engine.conversion.end))
      << name;

  // No capture left, unless the system refused to remove it after it was asked to.
  for (const std::string& left : rig.files.Names("/temp")) {
    EXPECT_EQ(rig.files.refusedRemovals.count("/temp/" + left), 1u)
        << "capture /temp/" << left << " left behind (" << name << ")";
  }
  // Every CSV file is byte for byte a clean run's, unless the system refused to remove an
  // incomplete one, and then the operator has been told the conversion failed.
  for (const auto& [file, bytes] : rig.CsvFiles()) {
    const auto cleanFile = clean.find(file);
    if (cleanFile != clean.end() && cleanFile->second == bytes) continue;
    EXPECT_EQ(rig.files.refusedRemovals.count("/save/QM-DATA/" + file), 1u)
        << file << " is not what a clean run writes (" << name << ")";
    EXPECT_NE(engine.conversion.end, kvx::ConversionEnd::Converted) << name;
  }
  if (engine.transferEnd == TransferEnd::Finished &&
      engine.conversion.end == kvx::ConversionEnd::Converted) {
    EXPECT_EQ(rig.CsvFiles(), clean) << "a conversion that says it wrote everything";
  }

  // The link stopped, the counters cleared, the front end no longer busy, no file left open.
  EXPECT_FALSE(rig.link.IsOpen()) << name;
  EXPECT_EQ(rig.link.opens, rig.link.closes) << name;
  const TransferState& t = rig.transfer;
  EXPECT_EQ(t.responseSeen + t.lastFileNumber + t.folderScanned + t.sampleIndex + t.sampleCount +
                t.payloadLength + t.blockCounter + t.resendCount,
            0)
      << name;
  EXPECT_EQ(t.captureFile, kNoFile) << name;
  EXPECT_EQ(rig.files.OpenFiles(), 0u) << name;
  EXPECT_FALSE(rig.ui.busy) << name;
  return name;
}

class FaultSweepTest : public ::testing::Test {
 protected:
  ScratchFolder captures_;
};

TEST_F(FaultSweepTest, EveryFailedCallOfATransferEndsItCleanly) {
  std::cout << "Transfers, with the N-th call failing:\n";
  for (int kind : {1, 2}) {
    const std::string captureFile = captures_.Write("kind" + std::to_string(kind), Example(kind));
    for (int mode : {0, 1}) {
      // The clean run: its CSV files, and how many calls it makes.
      TransferRig cleanRun(kind, mode, captureFile);
      cleanRun.Run();
      ASSERT_EQ(cleanRun.engine.transferEnd, TransferEnd::Finished);
      const auto clean = cleanRun.CsvFiles();
      ASSERT_EQ(clean.size(), 3u);
      for (Target target : {Target::Files, Target::Link}) {
        const uint64_t calls =
            target == Target::Files ? cleanRun.files.faults.Calls() : cleanRun.link.faults.Calls();
        OutcomeTable table;
        for (bool fromThenOn : {false, true}) {
          for (uint64_t n = 1; n <= calls; ++n) {
            SCOPED_TRACE(::testing::Message()
                         << "kind " << kind << ", display mode " << mode << ", "
                         << (target == Target::Files ? "files" : "link") << " call " << n
                         << (fromThenOn ? " and on" : " once"));
            TransferRig rig(kind, mode, captureFile);
            (target == Target::Files ? rig.files.faults : rig.link.faults).FailCall(n, fromThenOn);
            rig.Run();
            const std::string end = CheckTransferEnd(rig, clean);
            (fromThenOn ? table[end].second : table[end].first) += 1;
            if (HasFailure()) return;
          }
        }
        std::ostringstream title;
        title << "kind " << kind << ", " << (mode == 0 ? "relative" : "absolute") << " time, "
              << calls << " " << (target == Target::Files ? "file system" : "link") << " calls:";
        PrintTable(title.str(), table);
      }
    }
  }
}

TEST_F(FaultSweepTest, EveryFailedCallOfAConversionLeavesOnlyWholeCsvFiles) {
  // Three groups of the example, then a group large enough to be written in many pieces.
  std::string large = HeaderRecord("070315103000", "0000", "00", '0', '0', 10000);
  for (int i = 0; i < 10000; ++i)
    large += "00EB";
  const std::string capture = Example(1) + large;
  std::cout << "Conversions of four groups, with the N-th call failing:\n";
  for (int mode : {0, 1}) {
    Conversion cleanRun(1, mode);
    cleanRun.Run(capture);
    ASSERT_EQ(cleanRun.outcome.end, kvx::ConversionEnd::Converted);
    ASSERT_EQ(cleanRun.Files().size(), 4u);
    const uint64_t calls = cleanRun.files.faults.Calls();
    OutcomeTable table;
    for (bool fromThenOn : {false, true}) {
      for (uint64_t n = 1; n <= calls; ++n) {
        SCOPED_TRACE(::testing::Message() << "display mode " << mode << ", call " << n
                                          << (fromThenOn ? " and on" : " once"));
        Conversion run(1, mode);
        run.files.faults.FailCall(n, fromThenOn);
        run.Run(capture);
        const kvx::ConversionEnd end = run.outcome.end;
        EXPECT_EQ(run.ui.messages, ConversionMessages(end));
        EXPECT_EQ(kvx::ConversionExitStatusFor(end, 0), DocumentedConvertExitStatus(end));
        for (const auto& [file, bytes] : run.Files()) {
          if (cleanRun.Files().count(file) != 0 && cleanRun.Files().at(file) == bytes) continue;
          EXPECT_EQ(run.files.refusedRemovals.count(run.OutputFolder() + "/" + file), 1u)
              << file << " is not what a clean run writes";
          EXPECT_NE(end, kvx::ConversionEnd::Converted);
        }
        if (end == kvx::ConversionEnd::Converted) {
          EXPECT_EQ(run.Files(), cleanRun.Files());
        }
        EXPECT_EQ(run.files.OpenFiles(), 0u);
        EXPECT_EQ(run.transfer.sampleIndex, 0);
        (fromThenOn ? table[ConversionName(end)].second : table[ConversionName(end)].first) += 1;
        if (HasFailure()) return;
      }
    }
    PrintTable(std::string(mode == 0 ? "relative" : "absolute") + " time, " +
                   std::to_string(calls) + " file system calls:",
               table);
  }
}

}  // namespace
}  // namespace program_testing
