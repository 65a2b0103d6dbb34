// kvx-measure: runs a program RUNS times, one after another, with its output thrown away, and
// prints on one line the median wall time from start to exit and the median processor time
// (user and system) in microseconds, the largest peak resident size in KiB, and the program's
// exit status (the first that was not 0, if any).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration): posix_spawn passes it on

namespace {

int64_t NowMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t Microseconds(const timeval& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000 + time.tv_usec;
}

int64_t Median(std::vector<int64_t> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  long runs = 1;
  if (argc > 2 && std::strcmp(argv[1], "-n") == 0) {
    runs = std::strtol(argv[2], nullptr, 10);
    first = 3;
  }
  if (first >= argc || runs < 1) {
    (void)std::fputs("Usage: kvx-measure [-n RUNS] PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<int64_t> walls;
  std::vector<int64_t> cpus;
  long peakKiB = 0;
  int exitStatus = 0;
  for (long run = 0; run < runs; ++run) {
    const int64_t start = NowMicroseconds();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[first], &actions, nullptr, argv + first, environ) != 0) {
      (void)std::fprintf(stderr, "kvx-measure: cannot start %s\n", argv[first]);
      return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return 1;
    walls.push_back(NowMicroseconds() - start);
    cpus.push_back(Microseconds(usage.ru_utime) + Microseconds(usage.ru_stime));
    peakKiB = std::max(peakKiB, usage.ru_maxrss);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (exitStatus == 0) exitStatus = code;
  }
  posix_spawn_file_actions_destroy(&actions);
  (void)std::printf("%lld %lld %ld %d\n", static_cast<long long>(Median(walls)),
                    static_cast<long long>(Median(cpus)), peakKiB, exitStatus);
  return 0;
}
