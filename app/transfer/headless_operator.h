// The front end without windows, for the command-line tools and the tests: messages go to
// stderr in UTF-8, the status line and the busy state are plain values, pauses really sleep,
// and a stop signal asks the running transfer or conversion to stop.
#ifndef KVX_HEADLESS_OPERATOR_H
#define KVX_HEADLESS_OPERATOR_H

#include <string>

#include "csv_conversion.h"
#include "transfer_observer.h"

// A code page 932 text for a UTF-8 terminal: CR LF as LF, every line after the first indented
// by two blanks, no line break at the end.
std::string TextForTerminal(const std::string& text);

class HeadlessOperator : public TransferObserver,
                         public TransferClock,
                         public kvx::ConversionObserver {
 public:
  // `programName` opens every message line on stderr.
  explicit HeadlessOperator(std::string programName) : programName_(std::move(programName)) {}

  void ShowStatus(const std::string& text) override { statusLine = text; }
  void SetBusy(bool isBusy) override { busy = isBusy; }
  void BlockArrived(const TransferProgress&) override {}
  void Alert(const std::string& message) override;
  // Sleeps, in short pieces so that a stop is seen at once.
  void Pause(uint32_t milliseconds) override;
  uint64_t MonotonicMilliseconds() override;
  // A stop signal has come (see kvx::system::CatchStopSignals).
  bool StopRequested() override;

  std::string statusLine;  // what the status line shows
  bool busy = false;       // a transfer runs

 protected:
  const std::string& ProgramName() const { return programName_; }
  // One of the program's texts as the terminal shows it.
  virtual std::string Shown(const std::string& text) const { return TextForTerminal(text); }

 private:
  std::string programName_;
};

#endif  // KVX_HEADLESS_OPERATOR_H
