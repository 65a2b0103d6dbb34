// The link to the instrument as the transfer uses it: the four link calls of tarvo, behind one
// narrow interface, so that the transfer can run against the library (LibraryLink, the
// program's) or against an instrument played in the tests' own process.
#ifndef KVX_INSTRUMENT_LINK_H
#define KVX_INSTRUMENT_LINK_H

#include <cstdint>

#include "tarvo.h"

class InstrumentLink {
 public:
  virtual ~InstrumentLink() = default;

  // Starts the link to the first instrument found: LINK_OK, or LINK_NO_DEVICE.
  virtual int32_t Init() = 0;
  // Stops the link; harmless when it is not started.
  virtual void Exit() = 0;
  // Writes one command: LINK_OK, or the failure (LINK_IO_FAILED while the device still
  // answers, LINK_NO_DEVICE when it is gone, LINK_NOT_OPEN without a link).
  virtual int32_t Send(const char* data, uint32_t length) = 0;
  // Reads what the instrument has sent into `buffer` (TARVO_RECEIVE_MAX bytes), waiting at most
  // a second: LINK_OK with *length the count (0: nothing yet), or a failure as for Send, with
  // *length left at TARVO_RECEIVE_MAX.
  virtual int32_t Receive(char* buffer, uint32_t* length) = 0;
};

// The program's link: tarvo's TarvoInit, TarvoExit, TarvoSend and TarvoReceive.
class LibraryLink : public InstrumentLink {
 public:
  int32_t Init() override;
  void Exit() override;
  int32_t Send(const char* data, uint32_t length) override;
  int32_t Receive(char* buffer, uint32_t* length) override;
};

// No link at all: no instrument is ever found.
class NoInstrumentLink : public InstrumentLink {
 public:
  int32_t Init() override { return LINK_NO_DEVICE; }
  void Exit() override {}
  int32_t Send(const char*, uint32_t) override { return LINK_NOT_OPEN; }
  int32_t Receive(char*, uint32_t* length) override {
    *length = TARVO_RECEIVE_MAX;
    return LINK_NOT_OPEN;
  }
};

#endif  // KVX_INSTRUMENT_LINK_H
