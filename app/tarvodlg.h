// CTarvoDlg, the program's main dialog: its members, and the operations that the transfer and
// the conversion run on it.
#ifndef KVX_TARVODLG_H
#define KVX_TARVODLG_H

#include <cstdint>
#include <string>
#include <string_view>

#include "program_platform.h"
#include "transfer_state.h"

class CTarvoDlg {
 public:
  CTarvoDlg(ProgramPlatform& platform, TransferState& transfer)
      : platform_(platform), transfer_(transfer) {}

  // The "データ転送" button: a whole transfer, from the folder chooser to the CSV files and the
  // last word on the status line. Returns when the transfer is over.
  void OnDataTransfer();

  // The command and response exchange from the first "END\r" to the data blocks.
  void RunHandshake();

  // The data blocks, checked and stored, up to the end of the data and the CSV files.
  void ReceiveBlocks();

  // The one end of every transfer that has started the link: capture file gone, link stopped,
  // counters cleared, buttons enabled.
  void EndOfTransferCleanup();

  // Turns the capture file of an instrument of kind 1 or 2 into CSV files in QM-DATA below
  // the chosen folder, one per measurement group.
  void ConvertToCsvKind1();
  void ConvertToCsvKind2();

  std::string statusText;   // the status line
  int32_t displayMode = 0;  // 0 relative time, 1 absolute time

 private:
  // The instrument's pace: a pause before each response is awaited, and one before the
  // clean-up at an end.
  static constexpr uint32_t kStepPauseMs = 300;
  static constexpr uint32_t kEndPauseMs = 200;

  void ConvertCapture(int instrumentKind);

  // Sets the status line and shows it.
  void ShowStatus(std::string_view text);
  // Closes the capture file if it is open, and deletes it.
  void CloseAndDeleteCapture();
  // The transfer button (1019), then the close button (1000).
  void EnableButtons();
  int32_t Send(std::string_view command);
  // A message, then the capture gone, a pause of 200 ms and the clean-up.
  void EndTransfer(std::string_view message);
  // The link no longer works: the message, the capture gone, an empty status line, the clean-up.
  void EndOnLostLink();
  // "送信エラー<number>:<code>", and the end as EndTransfer.
  void EndOnSendError(int number, int32_t code);

  ProgramPlatform& platform_;
  TransferState& transfer_;
};

// Asks the operator for the folder to save to, starting at `initialFolder`; empty text when
// cancelled.
std::string ChooseSaveFolder(ProgramPlatform& platform, const std::string& initialFolder);

#endif  // KVX_TARVODLG_H
