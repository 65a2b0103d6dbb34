// Run under Wine against kvx-emulator.exe (--kind 2): a receive that the instrument never answers
// ends after about a second with nothing, through tarvo.dll bound by ordinal, and the link still
// works afterwards with nothing lost. The emulator answers only commands, so a receive before any
// command gets nothing. Prints one line per check; exits non-zero on a fault.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tarvo.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  (void)std::fflush(stdout);
  if (!ok) ++failures;
}

// The reply with its carriage returns shown as \r.
std::string Visible(const std::string& text) {
  std::string shown;
  for (const char c : text)
    shown += c == '\r' ? std::string("\\r") : std::string(1, c);
  return shown;
}

}  // namespace

int main() {
  const bool linked = TarvoInit() == LINK_OK;
  Check(linked, "TarvoInit finds the emulated instrument");
  if (!linked) return 1;

  char buffer[TARVO_RECEIVE_MAX];
  uint32_t length = TARVO_RECEIVE_MAX;
  const ULONGLONG start = GetTickCount64();
  const int32_t result = TarvoReceive(buffer, &length);
  const ULONGLONG waited = GetTickCount64() - start;
  Check(result == LINK_OK && length == 0,
        "TarvoReceive with no command sent: " + std::to_string(result) + ", " +
            std::to_string(length) + " bytes (0, 0 bytes)");
  Check(waited >= 900 && waited <= 3000,
        "it waited " + std::to_string(waited) + " ms for the instrument (900 to 3000 ms)");

  const std::string command = "STATUS2\r";
  Check(TarvoSend(command.data(), static_cast<uint32_t>(command.size())) == LINK_OK,
        "TarvoSend STATUS2 after the cancelled receive");
  // The emulator answers at once, so the next receive must carry the whole reply.
  length = 0;
  const int32_t replyResult = TarvoReceive(buffer, &length);
  const std::string reply(buffer,
                          replyResult == LINK_OK ? std::min<uint32_t>(length, sizeof buffer) : 0);
  Check(replyResult == LINK_OK && reply == "STATUS2\r001T000100\r",
        "the next TarvoReceive: " + std::to_string(replyResult) + ", \"" + Visible(reply) +
            "\" (0, the identification \"STATUS2\\r001T000100\\r\")");

  TarvoExit();
  return failures == 0 ? 0 : 1;
}
