// The replies that the instrument owes, one for each command, in the order of the commands, as
// a driver holds them until the program reads them: each is due once its delay is over, and none
// is read before the one to the command before it. An instrument with empty reads answers the
// latest command only: a reply not yet read gives way to the next, which waits out the empty
// reads still owed. Times are milliseconds on any clock that never goes back.
#ifndef EMULATOR_REPLY_QUEUE_H
#define EMULATOR_REPLY_QUEUE_H

#include <cstdint>
#include <deque>

#include "instrument.h"

namespace emulator {

class ReplyQueue {
 public:
  // Now on the steady clock, by which the emulator's drivers time their replies.
  static uint64_t SteadyNowMs();

  // Takes a command's outcome at `nowMs` (a reply, or a drop in its place; anything else adds
  // nothing), with a tag of the driver's own that comes back with it. True when a reply not yet
  // read gave way to it.
  bool Add(const Outcome& outcome, uint64_t nowMs, int emptyReadsBeforeReply, int tag = 0);

  enum class Next {
    Nothing,    // no reply is owed
    NotYet,     // the oldest is not due yet: *dueMs says when it is
    EmptyRead,  // a read that completes with nothing, which the instrument still owes
    Reply,      // the oldest, taken: *outcome
  };
  // What a read at `nowMs` gets (a reply with its tag).
  Next Take(uint64_t nowMs, Outcome* outcome, uint64_t* dueMs, int* tag = nullptr);

  void Clear() { pending_.clear(); }

 private:
  struct Pending {
    Outcome outcome;
    int emptyReads;
    uint64_t dueMs;
    int tag;
  };
  std::deque<Pending> pending_;
};

}  // namespace emulator

#endif  // EMULATOR_REPLY_QUEUE_H
