#include "reply_queue.h"

#include <chrono>

namespace emulator {

uint64_t ReplyQueue::SteadyNowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool ReplyQueue::Add(const Outcome& outcome, uint64_t nowMs, int emptyReadsBeforeReply, int tag) {
  int emptyReads = emptyReadsBeforeReply;
  const bool replaced = !pending_.empty() && emptyReads > 0;
  if (replaced) {
    emptyReads = pending_.front().emptyReads;
    pending_.clear();
  }
  if (outcome.action == Outcome::Reply || outcome.action == Outcome::DropLater) {
    pending_.push_back({outcome, emptyReads, nowMs + outcome.delayMs, tag});
  }
  return replaced;
}

ReplyQueue::Next ReplyQueue::Take(uint64_t nowMs, Outcome* outcome, uint64_t* dueMs, int* tag) {
  if (pending_.empty()) return Next::Nothing;
  Pending& next = pending_.front();
  if (next.emptyReads > 0) {
    --next.emptyReads;
    return Next::EmptyRead;
  }
  if (nowMs < next.dueMs) {
    *dueMs = next.dueMs;
    return Next::NotYet;
  }
  *outcome = next.outcome;
  if (tag != nullptr) *tag = next.tag;
  pending_.pop_front();
  return Next::Reply;
}

}  // namespace emulator
