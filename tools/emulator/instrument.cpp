#include "instrument.h"

#include <algorithm>

#include "hex_digits.h"

namespace emulator {

namespace {

const char kIdentificationKind1[] = "STATUS2\r006T000100\r";
const char kIdentificationKind2[] = "STATUS2\r001T000100\r";
const char kStatusReply[] = "STATUS\r00000000\r";

}  // namespace

DialogueLog::~DialogueLog() {
  if (file_ != nullptr) (void)std::fclose(file_);
}

bool DialogueLog::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void DialogueLog::Line(const std::string& text) {
  if (file_ == nullptr) return;
  (void)std::fprintf(file_, "%s\n", text.c_str());
  (void)std::fflush(file_);
}

bool Unescape(const std::string& text, std::string* bytes) {
  bytes->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *bytes += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case 'r':
        *bytes += '\r';
        break;
      case 'n':
        *bytes += '\n';
        break;
      case '\\':
        *bytes += '\\';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int high = kvx::HexDigitValue(text[i + 1]);
        const int low = kvx::HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        *bytes += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

std::string Quoted(const std::string& bytes) {
  std::string text = "\"";
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\\' || c == '"') {
      text += '\\';
      text += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += c;
    } else {
      const char digits[] = "0123456789ABCDEF";
      text += "\\x";
      text += digits[byte >> 4];
      text += digits[byte & 15];
    }
  }
  return text + "\"";
}

Instrument::Instrument(int kind, std::string capture, std::size_t blockBytes, Faults faults,
                       DialogueLog& log)
    : kind_(kind),
      capture_(std::move(capture)),
      blockBytes_(blockBytes),
      faults_(std::move(faults)),
      log_(log),
      repliesDelayed_(faults_.replyDelayMs > 0 && !faults_.replyDelayFrom) {}

void Instrument::LinkOpened() {
  endSeenThisTransfer_ = false;
  answeredThisTransfer_ = false;
  currentBlock_ = 0;
  sendings_.clear();
  log_.Line("link opened");
}

void Instrument::LinkClosed() {
  currentBlock_ = 0;
  log_.Line("link closed");
}

std::size_t Instrument::BlockCount() const {
  const std::size_t digits = blockBytes_ * 2;
  return (capture_.size() + digits - 1) / digits;
}

std::string Instrument::Block(std::size_t number) const {
  const std::size_t digits = blockBytes_ * 2;
  const std::string data = capture_.substr((number - 1) * digits, digits);
  int sum = 0;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    sum += kvx::HexDigitValue(data[i]) * 16 + kvx::HexDigitValue(data[i + 1]);
  }
  const int checksum = (256 - sum % 256) % 256;
  const char digitsOf[] = "0123456789ABCDEF";
  return data + digitsOf[checksum >> 4] + digitsOf[checksum & 15] + "\r";
}

bool Instrument::Matches(const std::optional<Occurrence>& wanted,
                         const std::string& command) const {
  if (!wanted || wanted->command != command) return false;
  auto found = seen_.find(command);
  return found != seen_.end() && found->second == wanted->count;
}

Outcome Instrument::Command(const std::string& bytes) {
  // A command is its text up to the carriage return; one that has none is not understood.
  const std::string command =
      !bytes.empty() && bytes.back() == '\r' ? bytes.substr(0, bytes.size() - 1) : bytes + "?";
  ++seen_[command];

  if (Matches(faults_.failWritesFrom, command)) writesFailing_ = true;
  if (Matches(faults_.silentFrom, command)) silent_ = true;
  if (Matches(faults_.emptyReadsFrom, command)) readsEmpty_ = true;
  if (Matches(faults_.unknownRepliesFrom, command)) repliesUnknown_ = true;
  if (Matches(faults_.replyDelayFrom, command)) repliesDelayed_ = true;
  if (writesFailing_) {
    log_.Line("command " + Quoted(bytes) + ": write failed");
    return {Outcome::WriteFails, ""};
  }
  if (Matches(faults_.dropAtCommand, command)) {
    log_.Line("command " + Quoted(bytes) + ": device gone");
    return {Outcome::DropNow, ""};
  }
  log_.Line("command " + Quoted(bytes));
  if (silent_) return {Outcome::Silent, ""};
  if (readsEmpty_) return {Outcome::EmptyReads, ""};
  Outcome outcome = repliesUnknown_ ? Outcome{Outcome::Reply, "???\r"} : Answer(command);
  if (outcome.action == Outcome::Reply && Matches(faults_.dropAtReply, command)) {
    outcome.action = Outcome::DropLater;
  }
  outcome.delayMs = ReplyDelay();
  return outcome;
}

unsigned Instrument::ReplyDelay() {
  const unsigned delay = repliesDelayed_ ? faults_.replyDelayMs : 0;
  if (answeredThisTransfer_) return delay;
  answeredThisTransfer_ = true;
  return std::max(delay, faults_.firstReplyDelayMs);
}

Outcome Instrument::Answer(const std::string& command) {
  auto refusal = faults_.refusals.find(command);
  if (refusal != faults_.refusals.end()) return {Outcome::Reply, refusal->second + "\r"};

  if (command == "END") {
    const bool first = !endSeenThisTransfer_;
    endSeenThisTransfer_ = true;
    currentBlock_ = 0;  // An "END\r" in the data phase ends the transfer.
    return {Outcome::Reply, first && faults_.firstEndError ? "? E\r" : "END\r"};
  }
  if (command == "STATUS2") {
    if (faults_.identification) return {Outcome::Reply, *faults_.identification};
    return {Outcome::Reply, kind_ == 2 ? kIdentificationKind2 : kIdentificationKind1};
  }
  if (command == "STATUS") return {Outcome::Reply, kStatusReply};
  if (command == "TRANS") return {Outcome::Reply, "TRANS\r"};

  std::size_t wanted = 0;
  if (command == "N") wanted = 1;
  if (command == "NEXT" && currentBlock_ > 0) wanted = currentBlock_ + 1;
  if (command == "AGAIN" && currentBlock_ > 0) wanted = currentBlock_;
  if (wanted == 0) return {Outcome::Reply, "? E\r"};  // not understood here

  if (wanted > BlockCount()) {
    currentBlock_ = 0;  // The end of the data ends the transfer.
    return {Outcome::Reply, "YYY\r"};
  }
  currentBlock_ = wanted;
  if (faults_.dropAtBlock && *faults_.dropAtBlock == static_cast<int>(wanted)) {
    return {Outcome::DropLater, "", "block " + std::to_string(wanted)};
  }
  std::string label = "block " + std::to_string(wanted) + " of " + std::to_string(BlockCount());
  std::string block = SendBlock(wanted, &label);
  return {Outcome::Reply, block, label};
}

std::string Instrument::SendBlock(std::size_t number, std::string* label) {
  const int sending = ++sendings_[number];
  const int key = static_cast<int>(number);
  const bool first = sending == 1;
  auto text = faults_.blockTexts.find(key);
  if (first && text != faults_.blockTexts.end()) {
    *label += " replaced by";
    return text->second;
  }
  std::string block = Block(number);
  if (faults_.corruptAlways.count(key) != 0 || (first && faults_.corruptOnce.count(key) != 0)) {
    // One more than the right checksum: the sum ends in 01, not 00.
    const std::size_t at = block.size() - 3;
    const int checksum =
        (kvx::HexDigitValue(block[at]) * 16 + kvx::HexDigitValue(block[at + 1]) + 1) % 256;
    const char digits[] = "0123456789ABCDEF";
    block[at] = digits[checksum >> 4];
    block[at + 1] = digits[checksum & 15];
  }
  auto cut = faults_.cutBlocks.find(key);
  if (first && cut != faults_.cutBlocks.end()) {
    block.resize(std::min(block.size(), cut->second != 0 ? cut->second : block.size() / 2));
  }
  if (first && faults_.longBlocks.count(key) != 0) block += "00";
  return block;
}

}  // namespace emulator
