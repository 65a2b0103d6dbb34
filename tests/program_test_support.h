// What the program's tests share: a headless platform that records what the operator would see
// and can be told to fail, a temporary folder, and captures and expected CSV texts written
// the readable way.
#ifndef TESTS_PROGRAM_TEST_SUPPORT_H
#define TESTS_PROGRAM_TEST_SUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "headless_platform.h"
#include "tarvodlg.h"
#include "transfer_state.h"

namespace program_testing {

// UTF-8 to code page 932, as the program's texts are kept.
std::string Cp932(const std::string& utf8);

// A CSV text as the program writes it: code page 932, CR LF line ends.
std::string CsvBytes(const std::string& utf8WithLf);

// The headless platform, recording messages and status-line changes in UTF-8 (nothing is
// printed), with faults to order.
class TestPlatform : public HeadlessPlatform {
 public:
  TestPlatform() : HeadlessPlatform("test") {}

  void ShowMessage(const std::string& text) override;
  void ExchangeData(CTarvoDlg& dialog, DataDirection direction) override;
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override;
  bool CreateFolder(const std::string& path) override;
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override;
  bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) override;
  bool CloseFile(FileHandle file) override;
  void Pause(uint32_t milliseconds) override;
  // The real clock moved on by every pause asked for, as if it had been slept.
  uint64_t MonotonicMilliseconds() override;
  bool StopRequested() override { return stopRequested; }
  void RepaintNow() override { ++repaints; }
  void LetOneMessageThrough() override { ++messagesLetThrough; }
  bool TemporaryFolder(std::string* folder) override;
  bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                        std::string* path) override;
  bool OpenFileForWriting(const std::string& path, FileHandle* file) override;

  int listings = 0;                      // folder listings asked for
  std::vector<std::string> messages;     // in UTF-8
  std::vector<std::string> statusLines;  // each status line shown, in UTF-8

  std::vector<uint32_t> pauses;  // asked for, not slept
  int repaints = 0;
  int messagesLetThrough = 0;
  std::string temporaryFolder;  // the user's temporary folder, when set

  // Stops asked for: at once, at the n-th pause (from 1), or as the n-th CSV file is created.
  bool stopRequested = false;
  std::optional<std::size_t> stopAtPause;
  std::optional<int> stopAtCsvFile;

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

 private:
  uint64_t pausedMs_ = 0;
  int csvFilesCreated_ = 0;
};

// A fresh folder of the test's, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& Path() const { return path_; }
  // Writes a file below the folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The names in a folder, in byte order.
std::vector<std::string> Names(const std::string& folder);

// A 60-character header record: start time YYMMDDhhmmss, interval digits and code, layout and
// unit codes, sample count; the fields the converters do not read are filled with '0'.
std::string HeaderRecord(const std::string& start, const std::string& interval,
                         const std::string& code, char layout, char unit, int count);

// Converts `capture` as the program does at the end of a transfer of `kind`, with the
// temporary folder as the chosen folder, and reads back the CSV files it left.
class Conversion {
 public:
  explicit Conversion(int kind, int displayMode = 0) : kind_(kind), displayMode_(displayMode) {}

  // Runs the conversion; the CSV files are in Files() afterwards, by name.
  void Run(const std::string& capture);
  const std::map<std::string, std::string>& Files() const { return files_; }
  std::string File(const std::string& name) const;
  std::string OutputFolder() const { return folder_.Path() + "/QM-DATA"; }

  TestPlatform platform;
  TransferState transfer;
  kvx::ConversionOutcome outcome;
  ScratchFolder folder_;

 private:
  int kind_;
  int displayMode_;
  std::map<std::string, std::string> files_;
};

}  // namespace program_testing

#endif  // TESTS_PROGRAM_TEST_SUPPORT_H
