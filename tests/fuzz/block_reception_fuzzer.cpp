// The transfer under libFuzzer, with the instrument's replies made of the fuzzer's bytes, through
// the scripted link (no process, no socket, no pause), with the files in memory.
//
// Input: byte 0 chooses (bit 0) kind 2 rather than 1, (bit 1) absolute time, (bit 2) fuzzed
// replies in the handshake too; bytes 1 and 2 pick a call of the files and of the link to fail
// (0: none; bit 7: from then on). The rest is the instrument's answers, one per command:
// an action byte (a reply, at once or up to 20 s late, the device gone before or instead of it,
// a failed write, silence, empty reads), a length byte and that many bytes of reply. Late
// replies wait their turn, as an instrument's do. When the bytes run out the instrument keeps
// silent, and the transfer must end by itself.
//
// Whatever the bytes, the transfer ends cleanly; every block that it stored or asked for again
// is the answer to the request just before it, never a late answer to an earlier one; what it
// stored is exactly the payloads of the blocks it accepted, each a well-formed block, and the
// CSV files are that capture's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "program_fakes.h"
#include "scripted_link.h"
#include "transfer_engine.h"

namespace {

using program_testing::MemoryFileSystem;
using program_testing::RecordingOperator;
using program_testing::ScriptedInstrument;
using program_testing::ScriptedLink;

void Require(bool holds, const char* what) {
  if (holds) return;
  (void)std::fprintf(stderr, "block-reception-fuzzer: %s\n", what);
  std::abort();
}

// A data block as the instrument sends it: an odd number of characters, hexadecimal digit pairs
// before the final one, summing to a multiple of 256.
bool WellFormedBlock(const std::string& block) {
  if (block.size() < 3 || block.size() % 2 == 0) return false;
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
    const std::string pair = block.substr(i, 2);
    if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    sum += static_cast<unsigned>(std::stoul(pair, nullptr, 16));
  }
  return sum % 256 == 0;
}

class FuzzedInstrument : public ScriptedInstrument {
 public:
  FuzzedInstrument(const uint8_t* data, std::size_t size, int kind, bool fuzzedHandshake)
      : data_(data), size_(size), kind_(kind), fuzzedHandshake_(fuzzedHandshake) {}

  emulator::Outcome Command(const std::string& bytes) override {
    // What the program made of the reply before: a block it asked for again, or stored. Either
    // way it must have been the answer to the request before this one.
    if ((bytes == "NEXT\r" || bytes == "AGAIN\r") && lastWasBlock_) {
      Require(link->lastAnswered == static_cast<int>(link->commands.size()) - 1,
              "a block was taken that answers an earlier request");
    }
    if (bytes == "NEXT\r" && lastWasBlock_) {
      Require(WellFormedBlock(lastSeen_), "a malformed block was accepted");
      stored += lastSeen_.substr(0, lastSeen_.size() - 3);
    }
    if (bytes == "AGAIN\r" && lastWasBlock_) {
      Require(!WellFormedBlock(lastSeen_), "a well-formed block was asked for again");
    }
    if (bytes == "N\r") inData_ = true;
    lastWasBlock_ = inData_ && (bytes == "N\r" || bytes == "NEXT\r" || bytes == "AGAIN\r");

    emulator::Outcome outcome;
    if (!fuzzedHandshake_ && !inData_) {
      outcome.reply = HandshakeReply(bytes);
    } else if (offset_ + 2 > size_) {
      outcome.action = emulator::Outcome::Silent;
    } else {
      const uint8_t action = data_[offset_];
      const std::size_t length = std::min<std::size_t>(data_[offset_ + 1], size_ - offset_ - 2);
      outcome.reply.assign(reinterpret_cast<const char*>(data_ + offset_ + 2), length);
      offset_ += 2 + length;
      if (action >= 160 && action < 200) outcome.delayMs = (action - 159u) * 500u;
      outcome.action = action < 200   ? emulator::Outcome::Reply
                       : action < 212 ? emulator::Outcome::Silent
                       : action < 224 ? emulator::Outcome::EmptyReads
                       : action < 236 ? emulator::Outcome::WriteFails
                       : action < 246 ? emulator::Outcome::DropLater
                                      : emulator::Outcome::DropNow;
      if (outcome.action == emulator::Outcome::EmptyReads) readsEmpty_ = true;
    }
    // The program sees the reply up to its first zero byte, and no more than a receive holds.
    lastSeen_ = outcome.reply.substr(0, TARVO_RECEIVE_MAX);
    lastSeen_ = lastSeen_.substr(0, lastSeen_.find('\0'));
    lastSeen_ = lastSeen_.substr(0, 243);
    return outcome;
  }

  bool ReadsComeEmpty() const override { return readsEmpty_; }

  std::string stored;                  // the payloads of the blocks the program accepted, in order
  const ScriptedLink* link = nullptr;  // what the program received, and what it answers

 private:
  std::string HandshakeReply(const std::string& command) const {
    if (command == "STATUS2\r")
      return kind_ == 1 ? "STATUS2\r006T000100\r" : "STATUS2\r001T000100\r";
    if (command == "STATUS\r") return "STATUS\r";
    if (command == "TRANS\r") return "TRANS\r";
    return "END\r";
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
  int kind_;
  bool fuzzedHandshake_;
  bool inData_ = false;
  bool lastWasBlock_ = false;
  bool readsEmpty_ = false;
  std::string lastSeen_;
};

std::map<std::string, std::string> CsvFiles(const MemoryFileSystem& files) {
  std::map<std::string, std::string> csv;
  for (const std::string& name : files.Names("/save/QM-DATA"))
    csv[name] = files.Read("/save/QM-DATA/" + name);
  return csv;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int kind = (data[0] & 1) != 0 ? 2 : 1;
  const int displayMode = (data[0] & 2) != 0 ? 1 : 0;
  FuzzedInstrument instrument(data + 3, size - 3, kind, (data[0] & 4) != 0);

  RecordingOperator ui;
  MemoryFileSystem files;
  // A "disk" of 96 KiB, so that captures that promise millions of samples end with a full disk
  // rather than fill the machine.
  files.bytesUntilFull = 96 << 10;
  TransferState transfer;
  ScriptedLink link;
  link.instrument = &instrument;
  link.clock = &ui;
  instrument.link = &link;
  if ((data[1] & 0x7F) != 0) files.faults.FailCall(data[1] & 0x7F, (data[1] & 0x80) != 0);
  if ((data[2] & 0x7F) != 0) link.faults.FailCall(data[2] & 0x7F, (data[2] & 0x80) != 0);
  files.MakeFolder("/save");
  TransferEngine engine(ui, ui, files, transfer, link);
  engine.captureKeeping = CaptureKeeping::Always;
  engine.keepCaptureAs = "/save/kept.txt";
  engine.Run("/save", displayMode);

  // A clean end, whatever came.
  Require(engine.transferEnd != TransferEnd::None, "the transfer did not end by a known path");
  Require(!link.IsOpen(), "the link was left open");
  Require(files.OpenFiles() == 0, "a file was left open");
  Require(transfer.captureFile == kNoFile, "the capture file was left open");
  Require(!ui.busy, "the front end was left busy");
  Require(transfer.payloadLength == 0 && transfer.blockCounter == 0 && transfer.resendCount == 0,
          "the counters were not cleared");
  for (const std::string& left : files.Names("/temp")) {
    Require(
        files.refusedRemovals.count("/temp/" + left) != 0 || engine.keptCapture == "/temp/" + left,
        "a capture file was left behind");
  }

  // At the end of the data: the capture kept is exactly what was accepted, and a conversion
  // that says it wrote everything wrote that capture's CSV files.
  if (engine.transferEnd == TransferEnd::Finished && engine.keptCapture == "/save/kept.txt") {
    const std::string kept = files.Read("/save/kept.txt");
    Require(kept == instrument.stored, "the capture is not the blocks that were accepted");
    if (engine.conversion.end == kvx::ConversionEnd::Converted) {
      RecordingOperator againUi;
      MemoryFileSystem again;
      again.bytesUntilFull = 96 << 10;
      TransferState againTransfer;
      againTransfer.saveFolder = "/save";
      againTransfer.capturePath = again.Write("/capture", kept);
      againTransfer.payloadLength = static_cast<int32_t>(kept.size());
      again.MakeFolder("/save");
      kvx::ConvertCapture(transfer.instrumentKind, displayMode, againUi, again, againTransfer);
      Require(CsvFiles(files) == CsvFiles(again), "the CSV files are not the capture's");
    }
  }
  return 0;
}
