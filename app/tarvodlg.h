// CTarvoDlg, the program's main dialog: its members, and the operations that the transfer and
// the conversion run on it.
#ifndef KVX_TARVODLG_H
#define KVX_TARVODLG_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "csv_conversion.h"
#include "file_system.h"
#include "instrument_link.h"
#include "operator_side.h"
#include "transfer_state.h"

// Which way the last transfer ended.
enum class TransferEnd {
  None,                     // no transfer yet, or the folder chooser was cancelled
  Finished,                 // the data came to its end and the CSV writer ran
  TemporaryFileNotCreated,  // no temporary folder, or no capture file in it
  CaptureNotOpened,         // "作成失敗"
  NoDriver,                 // the link did not start
  LostLink,                 // a receive failed, or "END\r" could not be sent before any answer
  NoProgress,               // nothing moved on for too long; ends as a lost link does
  SendFailed,               // "送信エラーN:code"
  EndedByInstrument,        // "YYY" before any data
  NoData,                   // "? T"
  RefusedByInstrument,      // "? S"
  NotIdentified,            // the data would begin, but no instrument ever identified itself
  DataDamaged,              // the third bad block
  CaptureNotWritten,        // the capture file could not take a block, or be finished
  Stopped,                  // the operator asked it to stop (a signal to kvx-transfer)
};

// What becomes of the capture file at the end of the data. The dialog deletes it, as every
// transfer's end does; kvx-transfer keeps it when the CSV files are incomplete, or always.
enum class CaptureKeeping { Never, WhenConversionIncomplete, Always };

class CTarvoDlg {
 public:
  CTarvoDlg(OperatorSide& ui, FileSystem& files, TransferState& transfer, InstrumentLink& link)
      : ui_(ui), files_(files), transfer_(transfer), link_(link) {}
  // A dialog that only converts: no instrument is ever found.
  CTarvoDlg(OperatorSide& ui, FileSystem& files, TransferState& transfer)
      : CTarvoDlg(ui, files, transfer, noLink_) {}

  // The dialog's two push buttons: "データ転送" and "閉じる".
  static constexpr int kTransferButton = 1019;
  static constexpr int kCloseButton = 1000;

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

  // A transfer during which nothing moves on (no step of the handshake reached, no block
  // stored) for this long ends as a lost link does.
  static constexpr uint32_t kDefaultProgressTimeoutMs = 30000;
  uint32_t progressTimeoutMs = kDefaultProgressTimeoutMs;

  // How long the instrument is given to answer "END\r" before it is asked once more, while it
  // has not answered anything in this transfer.
  static constexpr uint32_t kFirstAnswerWaitMs = 3000;

  CaptureKeeping captureKeeping = CaptureKeeping::Never;
  std::string keepCaptureAs;  // where CaptureKeeping::Always keeps it first (code page 932)

  // What the last transfer and the last conversion came to, and where the capture was kept
  // (empty when it was deleted).
  TransferEnd transferEnd = TransferEnd::None;
  kvx::ConversionOutcome conversion;
  std::string keptCapture;

 private:
  // The instrument's pace: a pause before each response is awaited, and one before the
  // clean-up at an end.
  static constexpr uint32_t kStepPauseMs = 300;
  static constexpr uint32_t kEndPauseMs = 200;

  void ConvertCapture(int instrumentKind);

  // Sets the status line and shows it.
  void ShowStatus(std::string_view text);
  // Closes the capture file if it is open, and deletes it unless it is kept.
  void CloseAndDeleteCapture();
  // The transfer button (1019), then the close button (1000).
  void EnableButtons();
  int32_t Send(std::string_view command);
  // A message, then the capture gone, a pause of 200 ms and the clean-up.
  void EndTransfer(TransferEnd end, std::string_view message);
  // The link no longer works: the message, the capture gone, an empty status line, the clean-up.
  void EndOnLostLink(TransferEnd end = TransferEnd::LostLink);
  // The capture file could not take the data: the message, "END\r" to the instrument when it is
  // still sending, the capture gone, the clean-up and an empty status line.
  void EndOnCaptureNotWritten(bool tellInstrument);
  // "送信エラー<number>:<code>", and the end as EndTransfer.
  void EndOnSendError(int number, int32_t code);

  // Receives until the answer to the last command sent has come, and gives it as text up to a
  // zero byte; answers that are still owed to earlier commands are passed over. After each
  // receive that brings nothing, `nothingYet` is given how many came in a row, and may end the
  // transfer (false). False when the transfer has ended.
  bool ReceiveAnswer(std::string* response, const std::function<bool(int)>& nothingYet);
  // Nothing yet in the handshake: a pause, and "END\r" once more when the instrument has not
  // answered anything since the last one for kFirstAnswerWaitMs. False when that send failed
  // and the transfer has ended.
  bool AwaitFirstAnswer();

  // Something moved on: the wait for the next step starts afresh.
  void NoteProgress();
  // Ends the transfer when the operator has asked it to stop or when it has made no progress
  // for too long; true when it has ended.
  bool EndedByStopOrStall();
  // The transfer at the end of the data: the capture file kept, or deleted.
  void KeepOrDeleteCapture();
  // Copies the capture to `path`, a new file: Created, or Exists (nothing done), or Failed (no
  // file left behind).
  CreateResult CopyCaptureTo(const std::string& path);

  OperatorSide& ui_;
  FileSystem& files_;
  TransferState& transfer_;
  NoInstrumentLink noLink_;
  InstrumentLink& link_;
  uint64_t lastProgressMs_ = 0;
  int handshakeStep_ = 0;  // the furthest step reached: 1 "STATUS2\r" … 4 "N\r"
  // The instrument answers every command once, in order, however late. A repeated first
  // "END\r" is one question asked again: the first response answers it, and the answers to the
  // repeats are owed, to be passed over when they come.
  int answersOwed_ = 0;
  uint64_t lastEndSentMs_ = 0;  // when "END\r" last went out unanswered
};

// Asks the operator for the folder to save to, starting at `initialFolder`; empty text when
// cancelled.
std::string ChooseSaveFolder(OperatorSide& ui, const std::string& initialFolder);

#endif  // KVX_TARVODLG_H
