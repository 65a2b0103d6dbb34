// The operator's side without windows, for the command-line tools: messages go to stderr in
// UTF-8, the dialog's controls are plain values that a front end sets and reads, the folder
// chooser gives the folder set beforehand, pauses really sleep, and a stop signal asks the
// running operation to stop.
#ifndef KVX_HEADLESS_OPERATOR_H
#define KVX_HEADLESS_OPERATOR_H

#include <string>

#include "operator_side.h"

class HeadlessOperator : public OperatorSide {
 public:
  // `programName` opens every message line on stderr.
  explicit HeadlessOperator(std::string programName) : programName_(std::move(programName)) {}

  void ShowMessage(const std::string& text) override;
  void ExchangeData(std::string& statusText, int32_t& displayMode,
                    DataDirection direction) override;
  std::string ChooseFolder(const std::string& title, const std::string& initialFolder) override;
  void EnableControl(int id, bool enabled) override;
  void RepaintNow() override {}
  void LetOneMessageThrough() override {}
  // Sleeps, in short pieces so that a stop is seen at once.
  void Pause(uint32_t milliseconds) override;
  uint64_t MonotonicMilliseconds() override;
  // A stop signal has come (see kvx::system::CatchStopSignals).
  bool StopRequested() override;

  // The controls: what the status line shows, which display mode is chosen, whether the
  // buttons can be pressed; and the folder the operator chooses (empty: the choice is cancelled).
  std::string statusLine;
  int32_t displayChoice = 0;
  bool transferEnabled = true;
  bool closeEnabled = true;
  std::string chosenFolder;

 private:
  std::string programName_;
};

// A code page 932 text for a UTF-8 terminal: CR LF as LF, every line after the first indented
// by two blanks, no line break at the end.
std::string TextForTerminal(const std::string& text);

#endif  // KVX_HEADLESS_OPERATOR_H
