#include "scripted_link.h"

#include <algorithm>

#include "platform.h"

namespace program_testing {

int32_t ScriptedLink::Init() {
  Exit();  // A second start begins afresh, as the library's does.
  if (faults.NextCallFails() || instrument == nullptr) return LINK_NO_DEVICE;
  open_ = true;
  gone_ = false;
  ++opens;
  replies_.Clear();
  instrument->LinkOpened();
  return LINK_OK;
}

void ScriptedLink::Exit() {
  if (!open_) return;
  open_ = false;
  ++closes;
  replies_.Clear();
  instrument->LinkClosed();
}

int32_t ScriptedLink::Send(const char* data, uint32_t length) {
  if (faults.NextCallFails()) return LINK_IO_FAILED;
  if (!open_) return LINK_NOT_OPEN;
  if (gone_) return LINK_NO_DEVICE;
  const std::string bytes(data, length);
  std::string shown = bytes;
  if (!shown.empty() && shown.back() == '\r') shown.pop_back();
  const emulator::Outcome outcome = instrument->Command(bytes);
  switch (outcome.action) {
    case emulator::Outcome::WriteFails:
      commands.push_back(shown + " (write failed)");
      return instrument->AnswersProbe() ? LINK_IO_FAILED : LINK_NO_DEVICE;
    case emulator::Outcome::DropNow:
      commands.push_back(shown + " (device gone)");
      gone_ = true;
      replies_.Clear();
      return LINK_NO_DEVICE;
    case emulator::Outcome::Reply:
    case emulator::Outcome::DropLater:
    case emulator::Outcome::Silent:
    case emulator::Outcome::EmptyReads:
      break;
  }
  commands.push_back(shown);
  replies_.Add(outcome, Now(), instrument->EmptyReadsBeforeReply(),
               static_cast<int>(commands.size()) - 1);
  return LINK_OK;
}

int32_t ScriptedLink::Receive(char* buffer, uint32_t* length) {
  *length = TARVO_RECEIVE_MAX;
  if (faults.NextCallFails()) return LINK_IO_FAILED;
  if (!open_) return LINK_NOT_OPEN;
  if (gone_) return LINK_NO_DEVICE;
  if (instrument->ReadsComeEmpty()) return Nothing(length);
  emulator::Outcome outcome;
  uint64_t dueMs = 0;
  int command = 0;
  switch (replies_.Take(Now(), &outcome, &dueMs, &command)) {
    case emulator::ReplyQueue::Next::Nothing:
      // Nothing is coming: the read waits out its second.
      Wait(tarvo::kReadWaitMs);
      return Nothing(length);
    case emulator::ReplyQueue::Next::EmptyRead:
      return Nothing(length);
    case emulator::ReplyQueue::Next::NotYet: {
      // A late reply: the read takes it as it comes, or gives up after its second.
      const uint64_t now = Now();
      if (dueMs > now + tarvo::kReadWaitMs) {
        Wait(tarvo::kReadWaitMs);
        return Nothing(length);
      }
      Wait(static_cast<uint32_t>(dueMs > now ? dueMs - now : 0));
      replies_.Take(dueMs, &outcome, &dueMs, &command);
      break;
    }
    case emulator::ReplyQueue::Next::Reply:
      break;
  }
  lastAnswered = command;
  if (outcome.action == emulator::Outcome::DropLater) {
    gone_ = true;
    return LINK_NO_DEVICE;
  }
  const std::size_t size = std::min<std::size_t>(outcome.reply.size(), TARVO_RECEIVE_MAX);
  std::copy_n(outcome.reply.data(), size, buffer);
  *length = static_cast<uint32_t>(size);
  return LINK_OK;
}

int32_t ScriptedLink::Nothing(uint32_t* length) {
  ++emptyReceives;
  *length = 0;
  return LINK_OK;
}

}  // namespace program_testing
