// The transfer: from the capture file and the first "END\r" through the handshake and the data
// blocks to the CSV files, and the one way every transfer ends. It owns the capture file and
// the link while it runs, reports through a TransferObserver and waits on a TransferClock.
#ifndef KVX_TRANSFER_ENGINE_H
#define KVX_TRANSFER_ENGINE_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "csv_conversion.h"
#include "file_system.h"
#include "instrument_link.h"
#include "transfer_observer.h"
#include "transfer_state.h"

// Which way the last transfer ended.
enum class TransferEnd {
  None,                     // no transfer yet, or no folder was chosen
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
  NoMemory,                 // no memory to convert the capture: the front end ends the process
};

// What becomes of the capture file at the end of the data. The window deletes it, as every
// transfer's end does; kvx-transfer keeps it when the CSV files are incomplete, or always.
enum class CaptureKeeping { Never, WhenConversionIncomplete, Always };

class TransferEngine {
 public:
  TransferEngine(TransferObserver& observer, TransferClock& clock, FileSystem& files,
                 TransferState& transfer, InstrumentLink& link)
      : observer_(observer), clock_(clock), files_(files), transfer_(transfer), link_(link) {}

  // A whole transfer into `saveFolder` (empty: none was chosen, and nothing happens), with
  // relative (displayMode 0) or absolute (1) times in the CSV files. Returns when it is over.
  void Run(const std::string& saveFolder, int32_t displayMode);

  // The command and response exchange from the first "END\r" to the data blocks.
  void RunHandshake();

  // The data blocks, checked and stored, up to the end of the data and the CSV files.
  void ReceiveBlocks();

  // The one end of every transfer that has started the link: capture file gone, link stopped,
  // counters cleared, the front end no longer busy.
  void EndOfTransferCleanup();

  // Turns the capture file of an instrument of kind 1 or 2 into CSV files in QM-DATA below
  // the chosen folder, one per measurement group.
  void ConvertToCsvKind1();
  void ConvertToCsvKind2();

  // A transfer during which nothing moves on (no step of the handshake reached, no block
  // stored) for this long ends as a lost link does.
  static constexpr uint32_t kDefaultProgressTimeoutMs = 30000;
  uint32_t progressTimeoutMs = kDefaultProgressTimeoutMs;

  // How long the instrument is given to answer "END\r" before it is asked once more, while it
  // has not answered anything in this transfer.
  static constexpr uint32_t kFirstAnswerWaitMs = 3000;

  CaptureKeeping captureKeeping = CaptureKeeping::Never;
  std::string keepCaptureAs;  // where CaptureKeeping::Always keeps it first (a path)

  // What the last transfer and the last conversion came to, and where the capture was kept
  // (empty when it was deleted).
  TransferEnd transferEnd = TransferEnd::None;
  kvx::ConversionOutcome conversion;
  std::string keptCapture;
  // The blocks of the last transfer, as they stood at its end (the observer hears of each block
  // as it arrives, before its data is checked and stored).
  TransferProgress progress;

 private:
  // The instrument's pace: a pause before each response is awaited, and one before the
  // clean-up at most ends.
  static constexpr uint32_t kStepPauseMs = 300;
  static constexpr uint32_t kEndPauseMs = 200;

  // The capture file made and opened, the link started and "END\r" sent; false when the
  // transfer has ended instead.
  bool Start();
  void ConvertCapture(int instrumentKind);
  int32_t Send(std::string_view command);

  // Ends the transfer the way `end` ends, with `message` for the operator where that end shows
  // one (empty: the end's own text). Every end goes through here.
  void Finish(TransferEnd end, const std::string& message = "");
  // "送信エラー<number>:<code>".
  void FinishOnSendError(int number, int32_t code);
  // Closes the capture file if it is open, and deletes it unless it is kept or already gone.
  void CloseAndDeleteCapture();

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
  // The status line's heartbeat and the observer's news of a block that has come in.
  void ReportBlockArrived();
  // The transfer at the end of the data: the capture file kept, or deleted.
  void KeepOrDeleteCapture();
  // Copies the capture to `path`, a new file: Created, or Exists (nothing done), or Failed (no
  // file left behind).
  CreateResult CopyCaptureTo(const std::string& path);

  TransferObserver& observer_;
  TransferClock& clock_;
  FileSystem& files_;
  TransferState& transfer_;
  InstrumentLink& link_;

  int32_t displayMode_ = 0;      // 0 relative time, 1 absolute time, for this transfer
  bool captureOnDisk_ = false;   // the capture file exists and is the transfer's to delete
  bool linkStarted_ = false;     // the link is started: the clean-up stops it
  bool dataEnded_ = false;       // "YYY" has ended the data: the instrument sends no more
  uint64_t lastProgressMs_ = 0;  // when the transfer last moved on
  int handshakeStep_ = 0;        // the furthest step reached: 1 "STATUS2\r" … 4 "N\r"
  // The instrument answers every command once, in order, however late. A repeated first
  // "END\r" is one question asked again: the first response answers it, and the answers to the
  // repeats are owed, to be passed over when they come.
  int answersOwed_ = 0;
  uint64_t lastEndSentMs_ = 0;  // when "END\r" last went out unanswered
};

#endif  // KVX_TRANSFER_ENGINE_H
