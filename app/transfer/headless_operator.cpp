#include "headless_operator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "system_calls.h"

std::string TextForTerminal(const std::string& text) {
  std::string utf8;
  if (!kvx::system::Cp932ToUtf8(text, &utf8)) utf8 = text;
  std::string shown;
  for (char c : utf8) {
    if (c == '\r') continue;
    shown += c;
    if (c == '\n') shown += "  ";
  }
  while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\n'))
    shown.pop_back();
  return shown;
}

void HeadlessOperator::Alert(const std::string& text) {
  // A message that stderr does not take has nowhere else to go.
  kvx::system::WriteText(stderr, programName_ + ": " + Shown(text) + "\n");
  (void)std::fflush(stderr);
}

void HeadlessOperator::Pause(uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPiece = std::chrono::milliseconds(50);
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  // In pieces, so that a stop is seen within one; each piece wakes at its own deadline, so the
  // pieces add up to the pause and no more.
  for (Clock::time_point now = Clock::now(); now < end && !StopRequested(); now = Clock::now()) {
    kvx::system::SleepUntil(std::min(end, now + kPiece));
  }
}

uint64_t HeadlessOperator::MonotonicMilliseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool HeadlessOperator::StopRequested() {
  return kvx::system::StopSignal() != 0;
}
