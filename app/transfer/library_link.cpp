// The program's link to the instrument: the tarvo library's link functions.
#include "instrument_link.h"

int32_t LibraryLink::Init() {
  return TarvoInit();
}

void LibraryLink::Exit() {
  TarvoExit();
}

int32_t LibraryLink::Send(const char* data, uint32_t length) {
  return TarvoSend(data, length);
}

int32_t LibraryLink::Receive(char* buffer, uint32_t* length) {
  return TarvoReceive(buffer, length);
}
