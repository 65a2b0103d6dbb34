// The instrument that kvx-emulator plays: it answers each command that arrives on its send pipe
// with one reply on its receive pipe, from the first "END\r" of a transfer through the
// identification to the data blocks and the closing "YYY\r", and it can be told to misbehave.
// How commands and replies travel is the driver's business (driver_posix.cpp, driver_win32.cpp).
#ifndef EMULATOR_INSTRUMENT_H
#define EMULATOR_INSTRUMENT_H

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace emulator {

// The n-th time a command comes ("NEXT\r" twice: {"NEXT", 2}); count 1 is the first.
struct Occurrence {
  std::string command;  // without its carriage return
  int count = 1;
};

struct Faults {
  bool firstEndError = false;                   // "? E\r" for the first "END\r" of a transfer
  std::map<std::string, std::string> refusals;  // command → "YYY", "? T" or "? S"
  std::optional<std::string> identification;    // instead of the kind's own
  int emptyReads = 0;           // reads completed with 0 bytes before a reply; a command that comes
                                // before the reply was read replaces it
  std::set<int> corruptOnce;    // blocks whose first sending has a bad checksum
  std::set<int> corruptAlways;  // blocks whose every sending has one
  std::map<int, std::size_t> cutBlocks;      // block → characters of its first sending (0: half)
  std::set<int> longBlocks;                  // blocks sent with two more characters
  std::optional<Occurrence> dropAtCommand;   // the link closes as this command comes
  std::optional<Occurrence> dropAtReply;     // the link closes instead of this reply
  std::optional<int> dropAtBlock;            // the link closes instead of this block
  std::optional<Occurrence> failWritesFrom;  // this command's write and all later ones fail
  bool failProbe = false;                    // the driver does not answer its probe
  // From this command on (itself included), every command is taken and:
  std::optional<Occurrence> silentFrom;          // never answered
  std::optional<Occurrence> emptyReadsFrom;      // never answered, and every read gets 0 bytes
  std::optional<Occurrence> unknownRepliesFrom;  // answered with "???\r"
  std::map<int, std::string> blockTexts;         // block → the text of its first sending
  // A slow instrument: every reply this late, from replyDelayFrom on (from the start when it is
  // absent), and the first reply of each transfer at least firstReplyDelayMs late (one that
  // wakes up). Replies wait their turn: none comes before the one to the command before it.
  unsigned replyDelayMs = 0;
  std::optional<Occurrence> replyDelayFrom;
  unsigned firstReplyDelayMs = 0;
};

// What the driver does with a command written to the instrument.
struct Outcome {
  enum Action {
    Reply,       // the write succeeds; `reply` is read next
    DropLater,   // the write succeeds; the link closes when the reply would be read
    WriteFails,  // the write fails; the device still answers
    DropNow,     // the device is gone: the write fails, and every later call
    Silent,      // the write succeeds; no reply comes
    EmptyReads,  // the write succeeds; no reply comes, and every read completes with 0 bytes
  } action = Reply;
  std::string reply;
  std::string label;     // what the reply is, for the log ("block 3 of 10"), when it says more
  unsigned delayMs = 0;  // how long after the command the reply (or the drop) comes
};

// One line per event, flushed at once, so that a test can read the dialogue as it goes.
class DialogueLog {
 public:
  DialogueLog() = default;
  ~DialogueLog();
  bool Open(const std::string& path);
  void Line(const std::string& text);

 private:
  std::FILE* file_ = nullptr;
};

// Text with \r, \n, \\ and \xNN escapes, as options give it; false when an escape is broken.
bool Unescape(const std::string& text, std::string* bytes);
// Bytes shown as a quoted text with those escapes.
std::string Quoted(const std::string& bytes);

class Instrument {
 public:
  // `capture` is the data as the program stores it: hexadecimal digits, an even number of them.
  Instrument(int kind, std::string capture, std::size_t blockBytes, Faults faults,
             DialogueLog& log);

  // A new link to the instrument: a new transfer begins.
  void LinkOpened();
  void LinkClosed();

  // A command as written to the send pipe.
  Outcome Command(const std::string& bytes);

  // How many reads before each reply complete with nothing.
  int EmptyReadsBeforeReply() const { return faults_.emptyReads; }
  // Whether every read completes with nothing from now on.
  bool ReadsComeEmpty() const { return readsEmpty_; }
  bool AnswersProbe() const { return !faults_.failProbe; }

  std::size_t BlockCount() const;
  // Block `number` (from 1): its data digits, the checksum digits and a carriage return.
  std::string Block(std::size_t number) const;

  DialogueLog& Log() { return log_; }

 private:
  Outcome Answer(const std::string& command);
  unsigned ReplyDelay();
  std::string SendBlock(std::size_t number, std::string* label);
  bool Matches(const std::optional<Occurrence>& wanted, const std::string& command) const;

  int kind_;
  std::string capture_;
  std::size_t blockBytes_;
  Faults faults_;
  DialogueLog& log_;

  std::map<std::string, int> seen_;  // how often each command came in this run
  bool writesFailing_ = false;
  bool silent_ = false;
  bool readsEmpty_ = false;
  bool repliesUnknown_ = false;
  bool repliesDelayed_ = false;
  bool endSeenThisTransfer_ = false;
  bool answeredThisTransfer_ = false;
  std::size_t currentBlock_ = 0;  // 0: not in the data phase
  std::map<std::size_t, int> sendings_;
};

}  // namespace emulator

#endif  // EMULATOR_INSTRUMENT_H
