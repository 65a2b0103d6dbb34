// Whole transfers: the program's transfer against kvx-emulator's instrument, played in this
// process through a scripted link, and (a few, end to end) against kvx-emulator processes through
// the real library; the pauses are recorded instead of slept. Every way a transfer ends, what
// the operator sees, what the instrument is told, and that each end leaves nothing behind.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "block_checksum.h"
#include "emulated_instrument.h"
#include "emulator_process.h"
#include "program_test_support.h"

namespace program_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using testing_support::EmulatorProcess;

const char kCannotCommunicate[] = "計測器と通信できません。";
const char kCommunicating[] = "通信中…";
const char kFinished[] = "終了しました";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Example(int kind) {
  return ReadText(std::string(KVX_SOURCE_DIR) + "/examples/kind" + std::to_string(kind) +
                  "-capture.txt");
}

// What a transfer starts from, whatever link it runs over: the operator, the process-wide
// record, the folders, and the checks of its end.
class TransferFixture : public ::testing::Test {
 protected:
  TransferFixture() {
    files_.MakeFolder(kSaveFolder);
    files_.temporaryFolder = kTemporaryFolder;
  }

  static constexpr char kSaveFolder[] = "/save";
  static constexpr char kTemporaryFolder[] = "/temp";

  // What every end of a transfer leaves: no capture file, the counters cleared, the front end
  // no longer busy.
  void ExpectCleanEndOfTheProgram() {
    EXPECT_THAT(files_.Names(kTemporaryFolder), IsEmpty()) << "a capture file was left";
    EXPECT_EQ(transfer_.responseSeen + transfer_.lastFileNumber + transfer_.folderScanned +
                  transfer_.sampleIndex + transfer_.sampleCount + transfer_.payloadLength +
                  transfer_.blockCounter + transfer_.resendCount,
              0);
    EXPECT_EQ(transfer_.captureFile, kNoFile);
    EXPECT_EQ(files_.OpenFiles(), 0u);
    EXPECT_FALSE(ui_.busy);
  }

  std::string OutputFolder() const { return std::string(kSaveFolder) + "/QM-DATA"; }

  // The CSV files that converting `capture` gives, by name.
  static std::map<std::string, std::string> Expected(int kind, int displayMode,
                                                     const std::string& capture) {
    Conversion conversion(kind, displayMode);
    conversion.Run(capture);
    return conversion.Files();
  }

  std::map<std::string, std::string> Written() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : files_.Names(OutputFolder())) {
      files[name] = files_.Read(OutputFolder() + "/" + name);
    }
    return files;
  }

  // The instrument's data, in a real file for the emulator to read.
  std::string CaptureFile(const std::string& digits) { return captures_.Write("data", digits); }

  ScratchFolder captures_;
  // The folder and the display mode the operator chooses ("": the chooser cancelled).
  std::string chosenFolder_ = kSaveFolder;
  int32_t displayMode_ = 0;
  RecordingOperator ui_;
  MemoryFileSystem files_;
  TransferState transfer_;
};

// Transfers against the instrument played in this process.
class TransferTest : public TransferFixture {
 protected:
  TransferTest() { link_.clock = &ui_; }

  // Connects the instrument that kvx-emulator would play with `options`, presses "データ転送"
  // and returns the commands the instrument took, as "END", "STATUS2", … ("NEXT (write
  // failed)").
  std::vector<std::string> Transfer(const std::vector<std::string>& options) {
    Connect(options);
    engine_.Run(chosenFolder_, displayMode_);
    ExpectCleanEnd();
    return link_.commands;
  }

  void Connect(const std::vector<std::string>& options) {
    instrument_ = std::make_unique<EmulatedInstrument>(options);
    link_.instrument = instrument_.get();
    link_.commands.clear();
    link_.emptyReceives = 0;
  }

  // The program's clean end, and the link stopped.
  void ExpectCleanEnd() {
    ExpectCleanEndOfTheProgram();
    EXPECT_FALSE(link_.IsOpen()) << "the link was left open";
  }

  std::unique_ptr<EmulatedInstrument> instrument_;
  ScriptedLink link_;
  TransferEngine engine_{ui_, ui_, files_, transfer_, link_};
};

// Transfers against kvx-emulator processes through the library, end to end.
class EndToEndTransferTest : public TransferFixture {
 protected:
  // Starts an emulator with `options`, presses "データ転送" and waits until the link is closed.
  // Returns the commands the instrument saw, as TransferTest::Transfer does.
  std::vector<std::string> Transfer(const std::vector<std::string>& options) {
    EmulatorProcess emulator(options);
    engine_.Run(chosenFolder_, displayMode_);
    ExpectCleanEnd(emulator);
    return Commands(emulator.Log());
  }

  static std::vector<std::string> Commands(const std::vector<std::string>& log) {
    std::vector<std::string> commands;
    for (const std::string& line : log) {
      if (line.rfind("command \"", 0) != 0) continue;
      const std::size_t end = line.find("\\r\"");
      std::string command = line.substr(9, end - 9);
      if (line.find(": write failed") != std::string::npos) command += " (write failed)";
      if (line.find(": device gone") != std::string::npos) command += " (device gone)";
      commands.push_back(command);
    }
    return commands;
  }

  void ExpectCleanEnd(const EmulatorProcess& emulator) {
    ExpectCleanEndOfTheProgram();
    const std::vector<std::string> log = emulator.Log();
    if (std::find(log.begin(), log.end(), "link opened") != log.end()) {
      EXPECT_TRUE(emulator.WaitForLogLine("link closed"));
    }
  }

  LibraryLink link_;
  TransferEngine engine_{ui_, ui_, files_, transfer_, link_};
};

TEST_F(EndToEndTransferTest, BothKindsInBothDisplayModesEndInTheirCsvFiles) {
  for (int kind : {1, 2}) {
    for (int mode : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << "kind " << kind << ", display mode " << mode);
      files_.RemoveTree(OutputFolder());
      displayMode_ = mode;
      const std::string capture = Example(kind);
      Transfer({"--kind", std::to_string(kind), "--capture", CaptureFile(capture)});
      EXPECT_EQ(transfer_.instrumentKind, kind);
      EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
      EXPECT_EQ(engine_.transferEnd, TransferEnd::Finished);
      EXPECT_EQ(engine_.conversion.end, kvx::ConversionEnd::Converted);
      EXPECT_EQ(Written(), Expected(kind, mode, capture));
      EXPECT_EQ(Written().size(), 3u);
    }
  }
  EXPECT_THAT(ui_.messages, IsEmpty());
}

TEST_F(EndToEndTransferTest, EveryStepPausesAsTheProtocolWants) {
  const std::vector<std::string> commands =
      Transfer({"--capture", CaptureFile("0001"), "--block-bytes", "1"});

  EXPECT_THAT(commands, ElementsAre("END", "STATUS2", "STATUS", "TRANS", "N", "NEXT", "NEXT"));
  // Before "END"; a cycle and a pause after each of the four sends of the handshake; the same
  // for each of the two blocks; the cycle that receives "YYY"; before the clean-up.
  EXPECT_THAT(ui_.pauses, ElementsAreArray<uint32_t>({300, 300, 300, 300, 300, 300, 300, 300, 300,
                                                      300, 300, 300, 300, 300, 200}));
  EXPECT_THAT(ui_.statusLines, ElementsAre(kCommunicating, kCommunicating, kFinished));
}

TEST_F(TransferTest, TheHeartbeatBlinksFiveBlocksLitAndOneDark) {
  std::string capture;
  for (int i = 0; i < 14; ++i)
    capture += "00";
  Transfer({"--capture", CaptureFile(capture), "--block-bytes", "1"});

  // The status line as each of the 14 blocks came in; the transfer ends on "終了しました".
  EXPECT_EQ(ui_.statusAtBlocks, "11111011111011");
  EXPECT_EQ(ui_.statusLines.back(), kFinished);
  ASSERT_EQ(ui_.blocks.size(), 14u);
  // Each block's news comes before its data is stored; the engine's record holds the end.
  EXPECT_EQ(ui_.blocks.back().blocksArrived, 14);
  EXPECT_EQ(ui_.blocks.back().charactersStored, 26);
  EXPECT_EQ(engine_.progress.blocksStored, 14);
  EXPECT_EQ(engine_.progress.charactersStored, 28);
}

TEST_F(TransferTest, HandshakeEnds) {
  struct Case {
    std::vector<std::string> options;
    std::string message;
    std::string statusLine;
    std::vector<std::string> commands;
    TransferEnd end;
  };
  const Case cases[] = {
      // Path R: a receive fails; the first "END\r" cannot be repeated.
      {{"--drop-at-reply", "STATUS2"},
       kCannotCommunicate,
       "",
       {"END", "STATUS2"},
       TransferEnd::LostLink},
      {{"--silent-from", "END", "--fail-writes-from", "END:2"},
       kCannotCommunicate,
       "",
       {"END", "END (write failed)"},
       TransferEnd::LostLink},
      // Refusals before any data.
      {{"--refuse", "TRANS=YYY"},
       "ENDコマンドが入りました。",
       kCommunicating,
       {"END", "STATUS2", "STATUS", "TRANS"},
       TransferEnd::EndedByInstrument},
      {{"--refuse", "STATUS=? T"},
       "データがありません。",
       "",
       {"END", "STATUS2", "STATUS"},
       TransferEnd::NoData},
      {{"--refuse", "STATUS2=? S"},
       kCannotCommunicate,
       "",
       {"END", "STATUS2"},
       TransferEnd::RefusedByInstrument},
      // Send failures, row by row; the status line keeps "通信中…". The device still answers
      // its probe, so the code is -9; without the probe it is -8.
      {{"--first-end-error", "--fail-writes-from", "STATUS2"},
       "送信エラー1:-9",
       kCommunicating,
       {"END", "STATUS2 (write failed)"},
       TransferEnd::SendFailed},
      {{"--fail-writes-from", "STATUS2", "--fail-probe"},
       "送信エラー2:-8",
       kCommunicating,
       {"END", "STATUS2 (write failed)"},
       TransferEnd::SendFailed},
      {{"--fail-writes-from", "STATUS"},
       "送信エラー2:-9",
       kCommunicating,
       {"END", "STATUS2", "STATUS (write failed)"},
       TransferEnd::SendFailed},
      {{"--fail-writes-from", "TRANS"},
       "送信エラー3:-9",
       kCommunicating,
       {"END", "STATUS2", "STATUS", "TRANS (write failed)"},
       TransferEnd::SendFailed},
      {{"--fail-writes-from", "N"},
       "送信エラー4:-9",
       kCommunicating,
       {"END", "STATUS2", "STATUS", "TRANS", "N (write failed)"},
       TransferEnd::SendFailed},
      {{"--identification", "HELLO\\r", "--fail-writes-from", "END:2"},
       "送信エラー5:-9",
       kCommunicating,
       {"END", "STATUS2", "END (write failed)"},
       TransferEnd::SendFailed},
      // A response that only starts like an identification, and no kind known before.
      {{"--identification", "STATUS2\\r006T000100"},
       kCannotCommunicate,
       "",
       {"END", "STATUS2", "TRANS", "N"},
       TransferEnd::NotIdentified},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.front() + " " + c.options[1]);
    ui_.messages.clear();
    ui_.pauses.clear();
    transfer_.instrumentKind = 0;
    EXPECT_EQ(Transfer(c.options), c.commands);
    EXPECT_THAT(ui_.messages, ElementsAre(c.message));
    EXPECT_EQ(ui_.statusLine, Cp932(c.statusLine));
    EXPECT_EQ(engine_.transferEnd, c.end);
    EXPECT_FALSE(files_.Exists(OutputFolder()));
    // A lost link ends at once; every other end pauses 200 ms before the clean-up.
    EXPECT_EQ(ui_.pauses.back(), c.end == TransferEnd::LostLink ? 300u : 200u);
  }
}

TEST_F(TransferTest, TheStartOfATransferFailsCleanly) {
  {
    // Cancelling the folder chooser changes nothing at all.
    chosenFolder_ = "";
    engine_.Run(chosenFolder_, displayMode_);
    EXPECT_THAT(ui_.messages, IsEmpty());
    EXPECT_THAT(ui_.statusLines, IsEmpty());
    EXPECT_THAT(ui_.pauses, IsEmpty());
    EXPECT_EQ(engine_.transferEnd, TransferEnd::None);
    chosenFolder_ = kSaveFolder;
  }
  const std::string noFile =
      "エラー\r\nファイルが作成できません。\r\nインストール先を変更して下さい。\n";
  struct Case {
    bool* fault;
    std::string message;
    TransferEnd end;
  };
  for (const Case& c :
       {Case{&files_.failTemporaryFolder, noFile, TransferEnd::TemporaryFileNotCreated},
        Case{&files_.failUniqueFile, noFile, TransferEnd::TemporaryFileNotCreated},
        Case{&files_.failOpenForWriting, "作成失敗", TransferEnd::CaptureNotOpened}}) {
    Connect({});
    ui_.messages.clear();
    *c.fault = true;
    engine_.Run(chosenFolder_, displayMode_);
    *c.fault = false;
    EXPECT_THAT(ui_.messages, ElementsAre(c.message));
    EXPECT_EQ(engine_.transferEnd, c.end);
    EXPECT_EQ(link_.opens, 0) << "the link was started";
    ExpectCleanEnd();
  }
  {
    // No instrument: the driver message, and no link to stop.
    link_.instrument = nullptr;
    ui_.messages.clear();
    engine_.Run(chosenFolder_, displayMode_);
    EXPECT_THAT(
        ui_.messages,
        ElementsAre("USBドライバを認識できません。\r\nドライバをインストールして下さい。\n"));
    EXPECT_EQ(engine_.transferEnd, TransferEnd::NoDriver);
    ExpectCleanEnd();
  }
  {
    // The first "END\r" cannot be sent: the status line goes back to empty.
    ui_.messages.clear();
    Transfer({"--fail-writes-from", "END"});
    EXPECT_THAT(ui_.messages, ElementsAre(kCannotCommunicate));
    EXPECT_EQ(ui_.statusLine, "");
    EXPECT_EQ(engine_.transferEnd, TransferEnd::LostLink);
  }
}

TEST_F(TransferTest, BlockEnds) {
  const std::string capture = "000102030405";  // six one-byte blocks
  struct Case {
    std::vector<std::string> options;
    std::string message;
    std::string statusLine;
    std::vector<std::string> lastCommands;
    TransferEnd end;
  };
  const Case cases[] = {
      {{"--drop-at-block", "2"}, kCannotCommunicate, "", {"N", "NEXT"}, TransferEnd::LostLink},
      {{"--corrupt", "1", "--fail-writes-from", "AGAIN"},
       "送信エラー7:-9",
       kCommunicating,
       {"N", "AGAIN (write failed)"},
       TransferEnd::SendFailed},
      {{"--fail-writes-from", "NEXT"},
       "送信エラー8:-9",
       kCommunicating,
       {"N", "NEXT (write failed)"},
       TransferEnd::SendFailed},
      // The third bad block of a transfer ends it, and the instrument is told so.
      {{"--corrupt-always", "2"},
       "受信データ破損しています。",
       "データ破損",
       {"NEXT", "AGAIN", "AGAIN", "END"},
       TransferEnd::DataDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.front());
    ui_.messages.clear();
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--capture", CaptureFile(capture), "--block-bytes", "1"});
    const std::vector<std::string> commands = Transfer(options);
    ASSERT_GE(commands.size(), c.lastCommands.size());
    EXPECT_EQ(std::vector<std::string>(commands.end() - static_cast<long>(c.lastCommands.size()),
                                       commands.end()),
              c.lastCommands);
    EXPECT_THAT(ui_.messages, ElementsAre(c.message));
    EXPECT_EQ(ui_.statusLine, Cp932(c.statusLine));
    EXPECT_EQ(engine_.transferEnd, c.end);
    EXPECT_FALSE(files_.Exists(OutputFolder()));
    EXPECT_EQ(ui_.pauses.back(), c.end == TransferEnd::LostLink ? 300u : 200u);
  }
}

TEST_F(EndToEndTransferTest, TheLibraryTellsAFailedSendFromALostDeviceAndNoDevice) {
  struct Case {
    std::vector<std::string> options;
    std::string message;
    TransferEnd end;
  };
  const Case cases[] = {
      {{"--fail-writes-from", "NEXT"}, "送信エラー8:-9", TransferEnd::SendFailed},
      {{"--fail-writes-from", "STATUS2", "--fail-probe"},
       "送信エラー2:-8",
       TransferEnd::SendFailed},
      {{"--drop-at-block", "2"}, kCannotCommunicate, TransferEnd::LostLink},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.front());
    ui_.messages.clear();
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--capture", CaptureFile("000102"), "--block-bytes", "1"});
    Transfer(options);
    EXPECT_THAT(ui_.messages, ElementsAre(c.message));
    EXPECT_EQ(engine_.transferEnd, c.end);
    EXPECT_FALSE(files_.Exists(OutputFolder()));
  }
  {
    // No instrument in the registry: the driver message, and no link to stop.
    EmulatorProcess emulator({});
    emulator.Stop();
    ui_.messages.clear();
    engine_.Run(chosenFolder_, displayMode_);
    EXPECT_THAT(
        ui_.messages,
        ElementsAre("USBドライバを認識できません。\r\nドライバをインストールして下さい。\n"));
    EXPECT_EQ(engine_.transferEnd, TransferEnd::NoDriver);
    ExpectCleanEnd(emulator);
  }
}

TEST_F(TransferTest, ResentAndOddBlocksAreStoredOnceAndWhole) {
  // One group of 105 samples: 480 characters, two blocks of 120 bytes or four of 60.
  std::string capture = HeaderRecord("070315103000", "0000", "00", '4', '0', 105);
  for (int i = 0; i < 105; ++i)
    capture += "00EB";
  const auto expected = Expected(1, 0, capture);

  // A bad first block, resent; a second block of 245 characters, taken as its first 243.
  EXPECT_THAT(Transfer({"--capture", CaptureFile(capture), "--corrupt", "1", "--long-block", "2"}),
              ElementsAre("END", "STATUS2", "STATUS", "TRANS", "N", "AGAIN", "NEXT", "NEXT"));
  EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
  EXPECT_EQ(Written(), expected);

  // Two bad blocks in the transfer, a good one between them, the second cut short.
  files_.RemoveTree(OutputFolder());
  const std::vector<std::string> commands =
      Transfer({"--capture", CaptureFile(capture), "--block-bytes", "60", "--corrupt", "1",
                "--cut-block", "3:30"});
  EXPECT_THAT(commands, ElementsAre("END", "STATUS2", "STATUS", "TRANS", "N", "AGAIN", "NEXT",
                                    "NEXT", "AGAIN", "NEXT", "NEXT"));
  EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
  EXPECT_EQ(Written(), expected);
  EXPECT_THAT(ui_.messages, IsEmpty());
  // Six blocks came, four were stored (the bad ones were not), two were asked for again.
  EXPECT_EQ(engine_.progress.blocksArrived, 6);
  EXPECT_EQ(engine_.progress.blocksStored, 4);
  EXPECT_EQ(engine_.progress.resends, 2);
}

TEST_F(TransferTest, MalformedBlocksAreAskedForAgainAndNeverStored) {
  // One group of three samples: a block of 60 characters and a short last one of 12.
  const std::string capture =
      HeaderRecord("070315103000", "0000", "00", '4', '0', 3) + "00EB00EC00ED";
  const auto expected = Expected(1, 0, capture);
  const std::vector<std::string> faults[] = {
      {"--long-block", "2"},             // the short last block with characters after its end
      {"--block-text", "1=GGGG00\\r"},   // no digits, which a lenient reading takes for zeros
      {"--block-text", "2=-100\\r"},     // a sign, which a lenient reading takes for a 0
      {"--block-text", "2=0000\\r\\r"},  // an even length: three characters would be stored
      {"--block-text", "1=01G2FD\\r"},   // a pair cut short by a character that is no digit
  };
  for (const std::vector<std::string>& fault : faults) {
    SCOPED_TRACE(fault[0] + " " + fault[1]);
    files_.RemoveTree(OutputFolder());
    std::vector<std::string> options = {"--capture", CaptureFile(capture), "--block-bytes", "30"};
    options.insert(options.end(), fault.begin(), fault.end());
    const std::vector<std::string> commands = Transfer(options);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "AGAIN"), 1);
    EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
    EXPECT_EQ(Written(), expected);
  }
  EXPECT_THAT(ui_.messages, IsEmpty());
}

TEST_F(TransferTest, ATransferThatMakesNoProgressEndsAsALostLink) {
  struct Case {
    std::vector<std::string> options;
    std::string repeatedCommand;  // what the transfer keeps sending meanwhile, if anything
  };
  const Case cases[] = {
      // Answers that no step understands: the handshake answers "END\r" for ever.
      {{"--unknown-replies-from", "STATUS2"}, "END"},
      // "END" after each "STATUS2\r": the handshake goes round in a circle.
      {{"--identification", "END\\r"}, "STATUS2"},
      // Nothing but empty receives, in the handshake and in the data.
      {{"--empty-reads-from", "STATUS"}, ""},
      {{"--empty-reads-from", "NEXT"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0] + " " + c.options[1]);
    ui_.messages.clear();
    ui_.pauses.clear();
    std::vector<std::string> options = c.options;
    options.insert(options.end(), {"--capture", CaptureFile("000102"), "--block-bytes", "1"});
    const std::vector<std::string> commands = Transfer(options);
    EXPECT_THAT(ui_.messages, ElementsAre(kCannotCommunicate));
    EXPECT_EQ(ui_.statusLine, "");
    EXPECT_EQ(engine_.transferEnd, TransferEnd::NoProgress);
    EXPECT_FALSE(files_.Exists(OutputFolder()));
    // The time asked for in pauses, recorded instead of slept, reaches the bound.
    uint64_t paused = 0;
    for (uint32_t pause : ui_.pauses)
      paused += pause;
    EXPECT_GE(paused + 1000, TransferEngine::kDefaultProgressTimeoutMs);
    if (!c.repeatedCommand.empty()) {
      EXPECT_GE(std::count(commands.begin(), commands.end(), c.repeatedCommand), 40);
    }
  }
}

TEST_F(TransferTest, EveryStoredBlockIsProgressSoALongDownloadOutlastsTheBound) {
  engine_.progressTimeoutMs = 2000;
  Transfer({"--capture", CaptureFile("00010203040506070809"), "--block-bytes", "1"});
  EXPECT_EQ(engine_.transferEnd, TransferEnd::Finished);
  EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
  EXPECT_THAT(ui_.messages, IsEmpty());
  // The ten blocks took three times the bound.
  uint64_t paused = 0;
  for (uint32_t pause : ui_.pauses)
    paused += pause;
  EXPECT_GE(paused, 3u * 2000u);
}

TEST_F(TransferTest, EmptyReceivesAreRepeatedAtOnceThenWithAShortPause) {
  engine_.progressTimeoutMs = 2000;
  Transfer({"--capture", CaptureFile("00"), "--empty-reads-from", "NEXT"});
  const auto empty = link_.emptyReceives;
  const auto retryPauses = std::count(ui_.pauses.begin(), ui_.pauses.end(), 50u);
  // Ten at once, then a pause of 50 ms before each further one, until the bound.
  EXPECT_EQ(empty, retryPauses + 10);
  EXPECT_GE(retryPauses * 50 + 1000, 2000);
  EXPECT_LT(retryPauses * 50, 2000 + 100);
}

TEST_F(TransferTest, AStopEndsTheTransferAndLeavesNothingMisleading) {
  const std::string capture = Example(1);
  const auto expected = Expected(1, 0, capture);
  struct Case {
    std::size_t stopAtPause;
    std::vector<std::string> commands;  // "END\r" tells the instrument
  };
  const Case cases[] = {
      {3, {"END", "STATUS2", "END"}},                                           // the handshake
      {14, {"END", "STATUS2", "STATUS", "TRANS", "N", "NEXT", "NEXT", "END"}},  // the data
  };
  for (const Case& c : cases) {
    ui_.stopRequested = false;
    ui_.pauses.clear();
    ui_.stopAtPause = c.stopAtPause;
    EXPECT_EQ(Transfer({"--capture", CaptureFile(capture)}), c.commands);
    EXPECT_EQ(engine_.transferEnd, TransferEnd::Stopped);
    EXPECT_EQ(ui_.statusLine, "");
    EXPECT_FALSE(files_.Exists(OutputFolder()));
  }
  {
    // In the conversion, as the second group's file is made: that file goes, the first stays
    // whole, and the instrument, which has finished, is told nothing more.
    ui_.stopRequested = false;
    ui_.stopAtPause.reset();
    int csvFiles = 0;
    files_.onCreate = [&](const std::string& path) {
      if (path.ends_with(".csv") && ++csvFiles == 2) ui_.stopRequested = true;
    };
    const std::vector<std::string> commands = Transfer({"--capture", CaptureFile(capture)});
    EXPECT_EQ(commands.back(), "NEXT");
    EXPECT_EQ(engine_.transferEnd, TransferEnd::Stopped);
    EXPECT_EQ(engine_.conversion.end, kvx::ConversionEnd::Stopped);
    EXPECT_EQ(ui_.statusLine, "");
    const auto written = Written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written.at("QM-0001.csv"), expected.at("QM-0001.csv"));
  }
  EXPECT_THAT(ui_.messages, IsEmpty());
}

TEST_F(TransferTest, TheCaptureIsKeptWhenTheCsvFilesAreIncomplete) {
  const std::string capture = Example(1);
  const std::string keptName = std::string(kSaveFolder) + "/kvx-capture-kind1.txt";
  {
    // The window's way: whatever the conversion came to, the capture goes.
    files_.failCreateFolder = true;
    Transfer({"--capture", CaptureFile(capture)});
    EXPECT_EQ(engine_.conversion.end, kvx::ConversionEnd::FolderNotCreated);
    EXPECT_EQ(engine_.keptCapture, "");
    EXPECT_FALSE(files_.Exists(keptName));
  }
  engine_.captureKeeping = CaptureKeeping::WhenConversionIncomplete;
  for (const std::string& name :
       {keptName, std::string(kSaveFolder) + "/kvx-capture-kind1-2.txt"}) {
    // Into the chosen folder, under a name that is no CSV file's, never over another file.
    Transfer({"--capture", CaptureFile(capture)});
    EXPECT_EQ(engine_.transferEnd, TransferEnd::Finished);
    EXPECT_EQ(engine_.keptCapture, name);
    EXPECT_EQ(files_.Read(name), capture);
  }
  EXPECT_EQ(files_.Read(keptName), capture) << "an earlier capture was overwritten";
  files_.failCreateFolder = false;
  {
    // A conversion that wrote everything keeps nothing.
    Transfer({"--capture", CaptureFile(capture)});
    EXPECT_EQ(engine_.conversion.end, kvx::ConversionEnd::Converted);
    EXPECT_EQ(engine_.keptCapture, "");
  }
  {
    // When the chosen folder takes no file either, the capture stays in the temporary folder.
    files_.failCreateFile = true;
    Connect({"--capture", CaptureFile(capture)});
    engine_.Run(chosenFolder_, displayMode_);
    files_.failCreateFile = false;
    EXPECT_EQ(engine_.conversion.end, kvx::ConversionEnd::CsvNotWritten);
    EXPECT_EQ(engine_.keptCapture, transfer_.capturePath);
    EXPECT_EQ(files_.Read(transfer_.capturePath), capture);
    files_.RemoveFile(transfer_.capturePath);
    ExpectCleanEnd();
  }
  {
    // Asked to keep it always, it goes where it was asked to, and the CSV files are written.
    engine_.captureKeeping = CaptureKeeping::Always;
    engine_.keepCaptureAs = std::string(kSaveFolder) + "/kept.txt";
    files_.RemoveTree(OutputFolder());
    Transfer({"--capture", CaptureFile(capture)});
    EXPECT_EQ(engine_.keptCapture, engine_.keepCaptureAs);
    EXPECT_EQ(files_.Read(engine_.keepCaptureAs), capture);
    EXPECT_EQ(Written(), Expected(1, 0, capture));
  }
}

TEST_F(TransferTest, AnEmptyFirstYyyStillConvertsAndFinishes) {
  const std::vector<std::string> commands = Transfer({"--capture", CaptureFile("")});
  EXPECT_THAT(commands, ElementsAre("END", "STATUS2", "STATUS", "TRANS", "N"));
  EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
  EXPECT_THAT(ui_.messages, IsEmpty());
  EXPECT_FALSE(files_.Exists(OutputFolder()));
}

TEST_F(TransferTest, SlowRepliesAndQueriesForTheStatusAreWaitedFor) {
  // However late the instrument answers, every answer is taken for the command it answers:
  // "END\r" goes out again only while nothing at all has come for three seconds, the answers
  // to those repeats are passed over when they come, and every other command goes out once.
  struct Case {
    std::vector<std::string> options;
    long ends;  // how often "END\r" went out before the first answer came
  };
  const Case cases[] = {
      {{"--empty-reads", "2"}, 1},  // reads that bring nothing at once, then the reply
      {{"--reply-delay", "1500"}, 1},
      {{"--reply-delay", "3000"}, 1},
      {{"--reply-delay", "10000"}, 3},
      {{"--first-reply-delay", "5000"}, 2},  // an instrument that wakes up
      {{"--first-reply-delay", "20000"}, 6},
  };
  for (int kind : {1, 2}) {
    const std::string capture = Example(kind);
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message()
                   << "kind " << kind << ", " << c.options[0] << " " << c.options[1]);
      files_.RemoveTree(OutputFolder());
      std::vector<std::string> options = c.options;
      options.insert(options.end(),
                     {"--kind", std::to_string(kind), "--capture", CaptureFile(capture)});
      std::vector<std::string> expected(static_cast<std::size_t>(c.ends), "END");
      expected.insert(expected.end(), {"STATUS2", "STATUS", "TRANS", "N", "NEXT", "NEXT"});
      EXPECT_EQ(Transfer(options), expected);
      EXPECT_EQ(engine_.transferEnd, TransferEnd::Finished);
      EXPECT_EQ(Written(), Expected(kind, 0, capture));
    }
  }
  EXPECT_THAT(ui_.messages, IsEmpty());
}

TEST_F(TransferTest, AnEFromTheInstrumentIsAnsweredEveryTimeAndTheKindIsKept) {
  // Each transfer's first "END\r" gets "? E", which is answered with "STATUS2\r".
  for (int transfer = 0; transfer < 2; ++transfer) {
    const std::vector<std::string> commands =
        Transfer({"--first-end-error", "--kind", "2", "--capture", CaptureFile("")});
    EXPECT_THAT(commands, ElementsAre("END", "STATUS2", "STATUS", "TRANS", "N"));
    EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
  }
  // A later instrument that does not identify itself is read as the kind before.
  Transfer({"--identification", "STATUS2\\r006T000100", "--capture", CaptureFile("")});
  EXPECT_EQ(transfer_.instrumentKind, 2);
  EXPECT_EQ(ui_.statusLine, Cp932(kFinished));
}

TEST_F(TransferTest, ACaptureThatCannotBeWrittenEndsTheTransfer) {
  files_.bytesUntilFull = 100;
  const std::vector<std::string> commands = Transfer({"--kind", "1"});
  EXPECT_THAT(
      ui_.messages,
      ElementsAre("エラー\r\nファイルが作成できません。\r\nインストール先を変更して下さい。\n"));
  EXPECT_EQ(commands.back(), "END");
  EXPECT_EQ(ui_.statusLine, "");
  EXPECT_FALSE(files_.Exists(OutputFolder()));
}

TEST_F(TransferTest, ACaptureThatCannotBeFinishedIsNotConverted) {
  // The data all came, but the system could not finish the capture file: what it holds may not
  // be all of it, so no CSV file is made from it.
  files_.failCloseBelow = kTemporaryFolder;
  const std::vector<std::string> commands = Transfer({"--capture", CaptureFile(Example(1))});
  EXPECT_EQ(engine_.transferEnd, TransferEnd::CaptureNotWritten);
  EXPECT_THAT(
      ui_.messages,
      ElementsAre("エラー\r\nファイルが作成できません。\r\nインストール先を変更して下さい。\n"));
  EXPECT_EQ(commands.back(), "NEXT") << "the instrument, which has finished, was told more";
  EXPECT_EQ(ui_.statusLine, "");
  EXPECT_FALSE(files_.Exists(OutputFolder()));
}

TEST(BlockCheckTest, AGoodBlockIsHexadecimalPairsSummingToAMultipleOf256AndAFinalCharacter) {
  EXPECT_TRUE(kvx::BlockIsGood("0102FD\r"));
  EXPECT_FALSE(kvx::BlockIsGood("0102FE\r"));   // 257
  EXPECT_TRUE(kvx::BlockIsGood("0102fd\r"));    // either case
  EXPECT_TRUE(kvx::BlockIsGood("80800000\r"));  // 256 and a checksum of 00
  EXPECT_TRUE(kvx::BlockIsGood("00\r"));        // no data at all
  EXPECT_TRUE(kvx::BlockIsGood("0102FDx"));     // the final character is not looked at
}

TEST(BlockCheckTest, AnythingElseIsABadBlockThoughItsSumWouldHold) {
  for (const char* block : {
           "02D32B\r00",  // characters after the final one: the checksum digits became data
           "GGGG00\r",    // no digits, read leniently as zeros
           "01G2FD\r",    // a pair cut short by a character that is no digit
           " 1FF\r",      // a blank
           "-100\r",      // signs are no digits
           "+100\r",
           "0102FD",      // an even length: no final character
           "0102FD\r\r",  // an even length: one character too many
           "0\r",         // too short to hold a checksum
           "\r",
           "",
       }) {
    EXPECT_FALSE(kvx::BlockIsGood(block)) << ::testing::PrintToString(std::string(block));
  }
}

}  // namespace
}  // namespace program_testing
