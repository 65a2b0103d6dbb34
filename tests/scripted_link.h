// The link to the instrument played in the tests' own process: no process, no socket, no real
// pause. The transfer drives it call by call, as it drives the library; what answers is a
// ScriptedInstrument (kvx-emulator's instrument, emulated_instrument.h, or a fuzzer's replies),
// and any call can be made to fail by a countdown.
#ifndef TESTS_SCRIPTED_LINK_H
#define TESTS_SCRIPTED_LINK_H

#include <cstdint>
#include <string>
#include <vector>

#include "fault_countdown.h"
#include "instrument.h"
#include "instrument_link.h"
#include "program_fakes.h"
#include "reply_queue.h"

namespace program_testing {

// What stands behind the link: the instrument's answer to each command written to it, as
// kvx-emulator's driver takes it.
class ScriptedInstrument {
 public:
  virtual ~ScriptedInstrument() = default;
  virtual void LinkOpened() {}
  virtual void LinkClosed() {}
  virtual emulator::Outcome Command(const std::string& bytes) = 0;
  // Reads that complete with nothing before each reply.
  virtual int EmptyReadsBeforeReply() const { return 0; }
  // Whether every read completes with nothing from now on.
  virtual bool ReadsComeEmpty() const { return false; }
  // Whether the device answers when a failed transfer is looked into.
  virtual bool AnswersProbe() const { return true; }
};

class ScriptedLink : public InstrumentLink {
 public:
  // Init, Send and Receive count for the countdown (Exit has no failure to give): the call
  // picked fails with LINK_NO_DEVICE (Init) or LINK_IO_FAILED, and reaches no instrument.
  int32_t Init() override;
  void Exit() override;
  int32_t Send(const char* data, uint32_t length) override;
  int32_t Receive(char* buffer, uint32_t* length) override;

  ScriptedInstrument* instrument = nullptr;  // the instrument connected, if one is
  FaultCountdown faults;
  // The test's clock, by which late replies come; a receive moves it on by the time it waits
  // (up to the library's second) when nothing is there yet.
  RecordingOperator* clock = nullptr;

  // What happened: the commands the instrument took ("END", "NEXT (write failed)",
  // "N (device gone)"), the receives that brought nothing, and the link's starts and stops.
  std::vector<std::string> commands;
  // The command (its index in `commands`) that the last reply received answers; -1 for none.
  int lastAnswered = -1;
  int emptyReceives = 0;
  int opens = 0;
  int closes = 0;
  bool IsOpen() const { return open_; }

 private:
  int32_t Nothing(uint32_t* length);
  uint64_t Now() const { return clock != nullptr ? clock->MonotonicMilliseconds() : 0; }
  void Wait(uint32_t milliseconds) const {
    if (clock != nullptr) clock->Elapse(milliseconds);
  }

  bool open_ = false;
  bool gone_ = false;             // the device went away while the link was open
  emulator::ReplyQueue replies_;  // each tagged with the index of the command it answers
};

}  // namespace program_testing

#endif  // TESTS_SCRIPTED_LINK_H
