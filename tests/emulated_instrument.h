// kvx-emulator's instrument played in the tests' own process, behind the scripted link.
#ifndef TESTS_EMULATED_INSTRUMENT_H
#define TESTS_EMULATED_INSTRUMENT_H

#include <memory>
#include <string>
#include <vector>

#include "instrument.h"
#include "scripted_link.h"

namespace program_testing {

// kvx-emulator's instrument in this process, made from the emulator's own options ("--kind",
// "--capture FILE", "--block-bytes", the faults).
class EmulatedInstrument : public ScriptedInstrument {
 public:
  explicit EmulatedInstrument(const std::vector<std::string>& options);

  void LinkOpened() override { instrument_->LinkOpened(); }
  void LinkClosed() override { instrument_->LinkClosed(); }
  emulator::Outcome Command(const std::string& bytes) override {
    return instrument_->Command(bytes);
  }
  int EmptyReadsBeforeReply() const override { return instrument_->EmptyReadsBeforeReply(); }
  bool ReadsComeEmpty() const override { return instrument_->ReadsComeEmpty(); }
  bool AnswersProbe() const override { return instrument_->AnswersProbe(); }

 private:
  emulator::DialogueLog log_;
  std::unique_ptr<emulator::Instrument> instrument_;
};

}  // namespace program_testing

#endif  // TESTS_EMULATED_INSTRUMENT_H
