// The program's two seams played in memory, for the tests and the fuzzer: files and folders that
// live in memory and fail as they are told, and an operator's side that records what the
// operator would see, with pauses recorded instead of slept.
#ifndef TESTS_PROGRAM_FAKES_H
#define TESTS_PROGRAM_FAKES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fault_countdown.h"
#include "file_system.h"
#include "headless_operator.h"

namespace program_testing {

// Folders and files in memory, with '/' between names. Paths are taken as the system would:
// repeated and final separators do not matter. Nothing exists at first but the root.
class MemoryFileSystem : public FileSystem {
 public:
  char PathSeparator() const override { return '/'; }
  bool TemporaryFolder(std::string* folder) override;
  bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                        std::string* path) override;
  bool OpenFileForWriting(const std::string& path, FileHandle* file) override;
  bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                     std::size_t* length) override;
  // Counted in `listings`; names in byte order, or backwards, without the hidden ones.
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override;
  bool IsFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override;
  bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) override;
  bool CloseFile(FileHandle file) override;
  bool RemoveFile(const std::string& path) override;

  // Setting up and reading back.
  void MakeFolder(const std::string& path);  // with the folders above it
  void RemoveTree(const std::string& path);  // a folder with all in it, or a file
  // Writes a file, making the folders above it, and returns its path.
  std::string Write(const std::string& path, const std::string& bytes);
  std::string Read(const std::string& path) const;  // "(no file …)" when there is none
  bool Exists(const std::string& path) const;
  std::vector<std::string> Names(const std::string& folder) const;  // in byte order
  std::size_t OpenFiles() const { return open_.size(); }

  std::string temporaryFolder = "/temp";  // made when first asked for
  int listings = 0;
  // Called after each new file is made, with its path as the program gave it.
  std::function<void(const std::string& path)> onCreate;

  // Faults.
  bool failTemporaryFolder = false;
  bool failUniqueFile = false;
  bool failOpenForWriting = false;
  bool reverseListing = false;           // the folder lists its entries backwards
  std::vector<std::string> hiddenNames;  // entries the listing leaves out
  bool failCreateFolder = false;
  bool failCreateFile = false;
  std::optional<std::size_t> bytesUntilFull;  // the disk fills up after this many bytes
  bool failClose = false;
  std::string failCloseBelow;  // closes of the files in this folder fail
  // Every call above but PathSeparator counts; the one the countdown picks fails as the call
  // fails on a system: false, or CreateResult::Failed.
  FaultCountdown faults;
  std::set<std::string> refusedRemovals;  // files whose removal a fault refused, still there

 private:
  bool HasFolder(const std::string& path) const;
  static std::string Normal(const std::string& path);
  static std::string Parent(const std::string& normal);

  std::set<std::string> folders_ = {"/"};
  std::map<std::string, std::string> files_;
  std::map<FileHandle, std::string> open_;
  FileHandle nextHandle_ = 3;
  int uniqueNumber_ = 0;
};

// The front end of the tests: messages and status lines recorded in UTF-8 (nothing is
// printed), pauses recorded instead of slept, and stops on demand.
class RecordingOperator : public HeadlessOperator {
 public:
  RecordingOperator() : HeadlessOperator("test") {}

  void Alert(const std::string& message) override;
  void ShowStatus(const std::string& text) override;
  void BlockArrived(const TransferProgress& progress) override;
  void Pause(uint32_t milliseconds) override;
  // The real clock moved on by every pause asked for, as if it had been slept.
  uint64_t MonotonicMilliseconds() override;
  // The clock moves on as if the program had waited this long in a call (a receive's wait).
  void Elapse(uint32_t milliseconds) { pausedMs_ += milliseconds; }
  bool StopRequested() override { return stopRequested; }

  std::vector<std::string> messages;     // in UTF-8
  std::vector<std::string> statusLines;  // each status line shown, in UTF-8
  // The status line as it stood when each data block came in: '1' lit, '0' blank.
  std::string statusAtBlocks;
  std::vector<TransferProgress> blocks;  // each block's news, in order
  std::vector<uint32_t> pauses;          // asked for, not slept

  // A stop asked for: now, or at the n-th pause (from 1).
  bool stopRequested = false;
  std::optional<std::size_t> stopAtPause;

 private:
  uint64_t pausedMs_ = 0;
};

}  // namespace program_testing

#endif  // TESTS_PROGRAM_FAKES_H
