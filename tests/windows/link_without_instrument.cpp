// Run under Wine with no instrument's interface registered: the program binds tarvo.dll by
// ordinal (its import library has no names), finds no instrument, and sees the link closed.
// Prints one line per check and exits non-zero when one fails.
#include <cstdio>

#include "tarvo.h"

namespace {

int failures = 0;

void Expect(const char* what, long long got, long long wanted) {
  const bool ok = got == wanted;
  std::printf("%s %s: %lld (wanted %lld)\n", ok ? "ok  " : "FAIL", what, got, wanted);
  if (!ok) ++failures;
}

}  // namespace

int main() {
  Expect("TarvoInit with no instrument", TarvoInit(), LINK_NO_DEVICE);
  TarvoExit();  // Closes nothing, and must not fail.
  Expect("TarvoSend on a closed link", TarvoSend("END\r", 4), LINK_NOT_OPEN);

  char reply[TARVO_RECEIVE_MAX];
  uint32_t length = 0;
  Expect("TarvoReceive on a closed link", TarvoReceive(reply, &length), LINK_NOT_OPEN);
  Expect("length after a failed receive", length, TARVO_RECEIVE_MAX);
  Expect("TarvoReset on a closed link", TarvoReset(), LINK_RESET_FAILED);
  return failures == 0 ? 0 : 1;
}
