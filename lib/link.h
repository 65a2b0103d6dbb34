// The message link: one instrument, its receive pipe and its send pipe.
#ifndef TARVO_LINK_H
#define TARVO_LINK_H

namespace tarvo {

// Trace lines, as the code page 932 bytes that go to the debugger output. The Japanese words
// are 異常終了, "abnormal end".
inline constexpr char kTraceResetEntry[] = "Entry TarvoReset()\n";
inline constexpr char kTraceResetExit[] = "Exit TarvoReset()\n";
inline constexpr char kTraceWriteFailed[] =
    "WriteFile() state==0 \x88\xd9\x8f\xed\x8f\x49\x97\xb9\n";
inline constexpr char kTraceReadFailed[] = "ReadFile() state==0 \x88\xd9\x8f\xed\x8f\x49\x97\xb9\n";

// The pause between stopping and restarting the link in TarvoReset.
inline constexpr unsigned kResetPauseMs = 5000;

// Judges a failed pipe transfer of the link: -7 when the link names no open device, -8 when the
// device does not answer the probe, else 0 (which the callers report as -9).
int ClassifyLinkFailure();

}  // namespace tarvo

#endif  // TARVO_LINK_H
