// What a transfer tells its front end while it runs, and the clock it runs on. The window, the
// command-line tools and the tests each implement both. Texts are code page 932 bytes.
#ifndef KVX_TRANSFER_OBSERVER_H
#define KVX_TRANSFER_OBSERVER_H

#include <cstdint>
#include <string>

// Where a transfer stands when a data block has come in.
struct TransferProgress {
  int32_t blocksArrived = 0;     // data blocks received in this transfer, good or bad
  int32_t blocksStored = 0;      // good blocks whose data is in the capture file
  int32_t charactersStored = 0;  // their characters
  int32_t resends = 0;           // bad blocks asked for again
};

class TransferObserver {
 public:
  virtual ~TransferObserver() = default;

  // The status line now reads `text` (empty: blank).
  virtual void ShowStatus(const std::string& text) = 0;
  // While busy, the operator can neither start another transfer nor close the program.
  virtual void SetBusy(bool busy) = 0;
  // A data block has come in, before it is checked. The window repaints and lets one waiting
  // message through here; nothing else of the front end runs during a transfer.
  virtual void BlockArrived(const TransferProgress& progress) = 0;
  // A message that the operator must acknowledge; returns when it has been.
  virtual void Alert(const std::string& message) = 0;
};

class TransferClock {
 public:
  virtual ~TransferClock() = default;

  // Pauses, returning early when a stop has been asked for.
  virtual void Pause(uint32_t milliseconds) = 0;
  // A clock that never goes back: how long the transfer has waited is measured on it.
  virtual uint64_t MonotonicMilliseconds() = 0;
  // Whether the operator has asked the transfer to stop (a signal to a command-line tool); the
  // transfer looks between its steps and ends cleanly. The window has no such request.
  virtual bool StopRequested() = 0;
};

#endif  // KVX_TRANSFER_OBSERVER_H
