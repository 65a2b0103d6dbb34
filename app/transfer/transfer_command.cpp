// The start of a transfer: the capture file made and opened, the link started and the first
// command sent; and the wait for each answer, which the handshake and the data share.
#include <cstring>

#include "program_texts.h"
#include "transfer_engine.h"

void TransferEngine::Run(const std::string& saveFolder, int32_t displayMode) {
  transferEnd = TransferEnd::None;
  conversion = {};
  keptCapture.clear();
  transfer_.saveFolder = saveFolder;
  if (saveFolder.empty()) return;
  displayMode_ = displayMode;
  if (Start()) RunHandshake();
}

bool TransferEngine::Start() {
  captureOnDisk_ = linkStarted_ = dataEnded_ = false;
  progress = {};
  observer_.SetBusy(true);
  if (!files_.TemporaryFolder(&transfer_.tempDir) ||
      !files_.CreateUniqueFile(transfer_.tempDir, "ini", &transfer_.capturePath)) {
    Finish(TransferEnd::TemporaryFileNotCreated);
    return false;
  }
  captureOnDisk_ = true;
  if (!files_.OpenFileForWriting(transfer_.capturePath, &transfer_.captureFile)) {
    transfer_.captureFile = kNoFile;
    Finish(TransferEnd::CaptureNotOpened);
    return false;
  }
  if (link_.Init() != LINK_OK) {
    Finish(TransferEnd::NoDriver);
    return false;
  }
  linkStarted_ = true;

  handshakeStep_ = 0;
  answersOwed_ = 0;
  NoteProgress();
  observer_.ShowStatus(std::string(kvx::texts::kCommunicating));
  clock_.Pause(kStepPauseMs);
  if (Send("END\r") != LINK_OK) {
    Finish(TransferEnd::LostLink);
    return false;
  }
  lastEndSentMs_ = clock_.MonotonicMilliseconds();
  return true;
}

int32_t TransferEngine::Send(std::string_view command) {
  return link_.Send(command.data(), static_cast<uint32_t>(command.size()));
}

bool TransferEngine::ReceiveAnswer(std::string* response,
                                   const std::function<bool(int)>& nothingYet) {
  char buffer[TARVO_RECEIVE_MAX] = {};
  uint32_t length = 0;
  for (int emptyReceives = 0;;) {
    if (EndedByStopOrStall()) return false;
    if (link_.Receive(buffer, &length) != LINK_OK) {
      Finish(TransferEnd::LostLink);
      return false;
    }
    if (length == 0) {
      if (!nothingYet(emptyReceives++)) return false;
      continue;
    }
    const bool firstResponse = !transfer_.responseSeen;
    transfer_.responseSeen = true;
    // Answers come in order: while some are owed to earlier commands, this is one of them, and
    // taking it for the answer to the last command would put every later step one behind.
    if (!firstResponse && answersOwed_ > 0) {
      --answersOwed_;
      emptyReceives = 0;
      continue;
    }
    response->assign(buffer, strnlen(buffer, length));
    return true;
  }
}

bool TransferEngine::AwaitFirstAnswer() {
  clock_.Pause(kStepPauseMs);
  // Once the instrument has answered, it is awake: a late answer is waited for, never asked
  // for again. Before that, "END\r" goes out once more only when the last one has had time to
  // be answered, and its answer, should it come after all, is owed.
  if (transfer_.responseSeen ||
      clock_.MonotonicMilliseconds() - lastEndSentMs_ < kFirstAnswerWaitMs) {
    return true;
  }
  if (Send("END\r") != LINK_OK) {
    Finish(TransferEnd::LostLink);
    return false;
  }
  lastEndSentMs_ = clock_.MonotonicMilliseconds();
  ++answersOwed_;
  return true;
}

void TransferEngine::NoteProgress() {
  lastProgressMs_ = clock_.MonotonicMilliseconds();
}

bool TransferEngine::EndedByStopOrStall() {
  if (clock_.StopRequested()) {
    Finish(TransferEnd::Stopped);
    return true;
  }
  if (clock_.MonotonicMilliseconds() - lastProgressMs_ >= progressTimeoutMs) {
    Finish(TransferEnd::NoProgress);
    return true;
  }
  return false;
}
