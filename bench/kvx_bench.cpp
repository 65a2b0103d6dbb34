// The in-process measures of scripts/bench (Google Benchmark):
//  - TransferInProcess/KIND: a whole transfer of kvx-emulator's built-in capture against its
//    instrument played in this process, through the scripted link, with the pauses recorded
//    instead of slept and the files in memory: the program's own cost of the protocol. Its
//    counters: the commands sent (one protocol cycle each) and the pauses asked for.
//  - LibraryRoundTrip: TarvoSend("END\r") and TarvoReceive of the reply, against the kvx-emulator
//    that serves $TARVO_DEVICE_ROOT.
//  - BareRoundTrip: the same exchange with nothing but the stand-in's frames, over two Unix
//    stream sockets (one per pipe, as the library has them) to a server in a child process that
//    answers each WRITE and READ at once: what a round trip costs without the library.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>

#include "emulated_instrument.h"
#include "program_fakes.h"
#include "scripted_link.h"
#include "standin_wire.h"
#include "tarvo.h"
#include "transfer_engine.h"

namespace {

using program_testing::EmulatedInstrument;
using program_testing::MemoryFileSystem;
using program_testing::RecordingOperator;
using program_testing::ScriptedLink;

void TransferInProcess(benchmark::State& state) {
  const std::string kind = std::to_string(state.range(0));
  std::size_t cycles = 0;
  uint64_t pausedMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RecordingOperator ui;
    MemoryFileSystem files;
    files.MakeFolder("/save");
    TransferState transfer;
    EmulatedInstrument instrument({"--kind", kind});
    ScriptedLink link;
    link.instrument = &instrument;
    link.clock = &ui;
    TransferEngine engine(ui, ui, files, transfer, link);
    state.ResumeTiming();

    engine.Run("/save", 0);

    state.PauseTiming();
    if (engine.transferEnd != TransferEnd::Finished) {
      state.SkipWithError("the transfer did not finish");
      break;
    }
    cycles = link.commands.size();
    pausedMs = std::accumulate(ui.pauses.begin(), ui.pauses.end(), uint64_t{0});
    state.ResumeTiming();
  }
  state.counters["cycles"] = static_cast<double>(cycles);
  state.counters["pause_ms"] = static_cast<double>(pausedMs);
}
BENCHMARK(TransferInProcess)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void LibraryRoundTrip(benchmark::State& state) {
  if (TarvoInit() != 0) {
    state.SkipWithError("no instrument (kvx-emulator in $TARVO_DEVICE_ROOT)");
    return;
  }
  char reply[TARVO_RECEIVE_MAX];
  for (auto _ : state) {
    uint32_t length = TARVO_RECEIVE_MAX;
    if (TarvoSend("END\r", 4) != 0 || TarvoReceive(reply, &length) != 0 || length != 4) {
      state.SkipWithError("the round trip failed");
      break;
    }
  }
  TarvoExit();
}
BENCHMARK(LibraryRoundTrip)->Unit(benchmark::kMicrosecond);

// The command and its reply, as frame bytes (no terminator).
const uint8_t kEnd[4] = {'E', 'N', 'D', '\r'};

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  return write(fd, data, size) == static_cast<ssize_t>(size);
}

// Answers a WRITE on `writes` with its count and a READ on `reads` with "END\r", in turn,
// until either stream closes.
void ServeBareFrames(int writes, int reads) {
  uint8_t request[64];
  for (;;) {
    uint8_t length[4];
    if (!ReadAll(writes, length, 4)) return;
    const uint32_t body = standin::GetU32(length);
    if (body < 1 || body > sizeof request || !ReadAll(writes, request, body)) return;
    uint8_t written[12];
    standin::PutU32(written, 8);
    standin::PutU32(written + 4, standin::kStatusOk);
    standin::PutU32(written + 8, body - 1);
    if (!WriteAll(writes, written, sizeof written)) return;

    if (!ReadAll(reads, length, 4)) return;
    if (standin::GetU32(length) != 5 || !ReadAll(reads, request, 5)) return;
    uint8_t read[12];
    standin::PutU32(read, 8);
    standin::PutU32(read + 4, standin::kStatusOk);
    std::memcpy(read + 8, kEnd, sizeof kEnd);
    if (!WriteAll(reads, read, sizeof read)) return;
  }
}

int Connect(const sockaddr_un& address) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void BareRoundTrip(benchmark::State& state) {
  const char* root = std::getenv("TARVO_DEVICE_ROOT");  // NOLINT(concurrency-mt-unsafe)
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = std::string(root != nullptr ? root : ".") + "/bare-frames";
  if (path.size() >= sizeof address.sun_path) {
    state.SkipWithError("the socket's path is too long");
    return;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  (void)unlink(path.c_str());
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0 ||
      bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 2) != 0) {
    state.SkipWithError("cannot listen on the socket");
    return;
  }
  const pid_t server = fork();
  if (server == 0) {
    const int writes = accept(listener, nullptr, nullptr);
    const int reads = accept(listener, nullptr, nullptr);
    if (writes >= 0 && reads >= 0) ServeBareFrames(writes, reads);
    _exit(0);
  }
  close(listener);
  const int writes = Connect(address);
  const int reads = writes >= 0 ? Connect(address) : -1;

  uint8_t writeFrame[9];
  standin::PutU32(writeFrame, 5);
  writeFrame[4] = standin::kWrite;
  std::memcpy(writeFrame + 5, kEnd, sizeof kEnd);
  uint8_t readFrame[9];
  standin::PutU32(readFrame, 5);
  readFrame[4] = standin::kRead;
  standin::PutU32(readFrame + 5, TARVO_RECEIVE_MAX);
  uint8_t reply[12];
  for (auto _ : state) {
    if (reads < 0 || !WriteAll(writes, writeFrame, sizeof writeFrame) ||
        !ReadAll(writes, reply, sizeof reply) || !WriteAll(reads, readFrame, sizeof readFrame) ||
        !ReadAll(reads, reply, sizeof reply) || std::memcmp(reply + 8, kEnd, sizeof kEnd) != 0) {
      state.SkipWithError("the bare round trip failed");
      break;
    }
  }
  if (writes >= 0) close(writes);
  if (reads >= 0) close(reads);
  if (server > 0) {
    (void)kill(server, SIGTERM);
    (void)waitpid(server, nullptr, 0);
  }
  (void)unlink(path.c_str());
}
BENCHMARK(BareRoundTrip)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
