// The operator's side of KVX-300: what the operator sees and does while the transfer and the
// conversion run. Texts are code page 932 bytes.
//
// Backends: the dialog window (win32/), HeadlessOperator (headless_operator.h) for the
// command-line tools, and the tests' recorder. The files and folders are another seam
// (file_system.h).
#ifndef KVX_OPERATOR_SIDE_H
#define KVX_OPERATOR_SIDE_H

#include <cstdint>
#include <string>

enum class DataDirection { ToControls, ToMembers };

class OperatorSide {
 public:
  virtual ~OperatorSide() = default;

  // A modal message with a single OK button; returns when the operator has closed it.
  virtual void ShowMessage(const std::string& text) = 0;

  // The dialog's data exchange: shows the status line's text and the display mode (0 relative,
  // 1 absolute time) in the controls, or takes the controls' values into them.
  virtual void ExchangeData(std::string& statusText, int32_t& displayMode,
                            DataDirection direction) = 0;

  // The operator chooses a folder, starting at `initialFolder`; empty text when cancelled.
  virtual std::string ChooseFolder(const std::string& title, const std::string& initialFolder) = 0;

  // Lets the operator press the control with this id, or not.
  virtual void EnableControl(int id, bool enabled) = 0;
  // Repaints the dialog at once.
  virtual void RepaintNow() = 0;
  // Lets one waiting window message through, if there is one.
  virtual void LetOneMessageThrough() = 0;

  // Pauses, returning early when a stop has been asked for.
  virtual void Pause(uint32_t milliseconds) = 0;
  // A clock that never goes back: how long the transfer has waited is measured on it.
  virtual uint64_t MonotonicMilliseconds() = 0;
  // Whether the operator has asked the running operation to stop (a signal to a command-line
  // tool); the transfer and the conversion look between their steps and end cleanly. The
  // dialog has no such request.
  virtual bool StopRequested() { return false; }
};

#endif  // KVX_OPERATOR_SIDE_H
