// CTarvoDlg, the program's main dialog: its members, and the operations that the transfer and
// the conversion run on it.
#ifndef KVX_TARVODLG_H
#define KVX_TARVODLG_H

#include <cstdint>
#include <string>

#include "program_platform.h"
#include "transfer_state.h"

class CTarvoDlg {
 public:
  CTarvoDlg(ProgramPlatform& platform, TransferState& transfer)
      : platform_(platform), transfer_(transfer) {}

  // Turns the capture file of an instrument of kind 1 or 2 into CSV files in QM-DATA below
  // the chosen folder, one per measurement group.
  void ConvertToCsvKind1();
  void ConvertToCsvKind2();

  std::string statusText;   // the status line
  int32_t displayMode = 0;  // 0 relative time, 1 absolute time

 private:
  void ConvertCapture(int instrumentKind);

  ProgramPlatform& platform_;
  TransferState& transfer_;
};

#endif  // KVX_TARVODLG_H
