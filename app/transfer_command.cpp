// The "データ転送" command: choosing the folder, preparing the capture file, starting the link
// and sending the first command; the wait for each answer, which the handshake and the data
// share; and the clean-up with which every transfer ends.
#include <cstring>

#include "program_texts.h"
#include "tarvodlg.h"

std::string ChooseSaveFolder(OperatorSide& ui, const std::string& initialFolder) {
  return ui.ChooseFolder(std::string(kvx::texts::kChooseFolderTitle), initialFolder);
}

void CTarvoDlg::OnDataTransfer() {
  transferEnd = TransferEnd::None;
  conversion = {};
  keptCapture.clear();
  transfer_.saveFolder = ChooseSaveFolder(ui_, "c");
  if (transfer_.saveFolder.empty()) return;

  ui_.EnableControl(kTransferButton, false);
  ui_.EnableControl(kCloseButton, false);
  ui_.ExchangeData(statusText, displayMode,
                   DataDirection::ToMembers);  // the display mode, for the whole transfer

  if (!files_.TemporaryFolder(&transfer_.tempDir) ||
      !files_.CreateUniqueFile(transfer_.tempDir, "ini", &transfer_.capturePath)) {
    transferEnd = TransferEnd::TemporaryFileNotCreated;
    ui_.ShowMessage(std::string(kvx::texts::kTemporaryFileNotCreated));
    EnableButtons();
    return;
  }
  if (!files_.OpenFileForWriting(transfer_.capturePath, &transfer_.captureFile)) {
    transfer_.captureFile = kNoFile;
    transferEnd = TransferEnd::CaptureNotOpened;
    ui_.ShowMessage(std::string(kvx::texts::kCreationFailed));
    files_.RemoveFile(transfer_.capturePath);
    EnableButtons();
    return;
  }
  if (link_.Init() != LINK_OK) {
    transferEnd = TransferEnd::NoDriver;
    CloseAndDeleteCapture();
    ui_.ShowMessage(std::string(kvx::texts::kDriverNotRecognised));
    EnableButtons();
    return;
  }

  handshakeStep_ = 0;
  answersOwed_ = 0;
  NoteProgress();
  ShowStatus(kvx::texts::kCommunicating);
  ui_.Pause(kStepPauseMs);
  if (Send("END\r") != LINK_OK) {
    EndOnLostLink();
    return;
  }
  lastEndSentMs_ = ui_.MonotonicMilliseconds();
  RunHandshake();
}

bool CTarvoDlg::ReceiveAnswer(std::string* response, const std::function<bool(int)>& nothingYet) {
  char buffer[TARVO_RECEIVE_MAX] = {};
  uint32_t length = 0;
  for (int emptyReceives = 0;;) {
    if (EndedByStopOrStall()) return false;
    if (link_.Receive(buffer, &length) != LINK_OK) {
      EndOnLostLink();
      return false;
    }
    if (length == 0) {
      if (!nothingYet(emptyReceives++)) return false;
      continue;
    }
    const bool firstResponse = transfer_.responseSeen == 0;
    transfer_.responseSeen = 1;
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

void CTarvoDlg::EndOfTransferCleanup() {
  CloseAndDeleteCapture();  // The capture may be gone already.
  link_.Exit();
  transfer_.ClearCounters();
  EnableButtons();
}

void CTarvoDlg::EnableButtons() {
  ui_.EnableControl(kTransferButton, true);
  ui_.EnableControl(kCloseButton, true);
}

void CTarvoDlg::ShowStatus(std::string_view text) {
  statusText = text;
  ui_.ExchangeData(statusText, displayMode, DataDirection::ToControls);
}

void CTarvoDlg::CloseAndDeleteCapture() {
  if (transfer_.captureFile != kNoFile) {
    files_.CloseFile(transfer_.captureFile);
    transfer_.captureFile = kNoFile;
  }
  if (keptCapture != transfer_.capturePath) files_.RemoveFile(transfer_.capturePath);
}

int32_t CTarvoDlg::Send(std::string_view command) {
  return link_.Send(command.data(), static_cast<uint32_t>(command.size()));
}

void CTarvoDlg::EndTransfer(TransferEnd end, std::string_view message) {
  transferEnd = end;
  ui_.ShowMessage(std::string(message));
  CloseAndDeleteCapture();
  ui_.Pause(kEndPauseMs);
  EndOfTransferCleanup();
}

void CTarvoDlg::EndOnLostLink(TransferEnd end) {
  transferEnd = end;
  ui_.ShowMessage(std::string(kvx::texts::kCannotCommunicate));
  CloseAndDeleteCapture();
  ShowStatus("");
  EndOfTransferCleanup();
}

void CTarvoDlg::EndOnSendError(int number, int32_t code) {
  // "送信エラー<number>:<code>", as "%d" prints the code.
  EndTransfer(TransferEnd::SendFailed, std::string(kvx::texts::kSendError) +
                                           std::to_string(number) + ":" + std::to_string(code));
}

void CTarvoDlg::NoteProgress() {
  lastProgressMs_ = ui_.MonotonicMilliseconds();
}

bool CTarvoDlg::EndedByStopOrStall() {
  if (ui_.StopRequested()) {
    // The instrument is told, as after the third bad block; the operator asked for this end,
    // so there is no message.
    transferEnd = TransferEnd::Stopped;
    Send("END\r");
    CloseAndDeleteCapture();
    ShowStatus("");
    EndOfTransferCleanup();
    return true;
  }
  if (ui_.MonotonicMilliseconds() - lastProgressMs_ >= progressTimeoutMs) {
    EndOnLostLink(TransferEnd::NoProgress);
    return true;
  }
  return false;
}
