// What the program's tests share: a conversion in memory, a real temporary folder (for what
// other processes read), and captures and expected CSV texts written the readable way.
#ifndef TESTS_PROGRAM_TEST_SUPPORT_H
#define TESTS_PROGRAM_TEST_SUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "program_fakes.h"
#include "transfer_engine.h"
#include "transfer_state.h"

namespace program_testing {

// UTF-8 to code page 932, as the program's texts are kept.
std::string Cp932(const std::string& utf8);

// A CSV text as the program writes it: code page 932, CR LF line ends.
std::string CsvBytes(const std::string& utf8WithLf);

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

// A 60-character header record: start time YYMMDDhhmmss, interval digits and code, layout and
// unit codes, sample count; the fields the converters do not read are filled with '0'.
std::string HeaderRecord(const std::string& start, const std::string& interval,
                         const std::string& code, char layout, char unit, int count);

// Converts `capture` as the program does at the end of a transfer of `kind`, in memory, with
// /save as the chosen folder, and reads back the CSV files it left.
class Conversion {
 public:
  explicit Conversion(int kind, int displayMode = 0) : kind_(kind), displayMode_(displayMode) {
    files.MakeFolder(SaveFolder());
  }

  // Runs the conversion; the CSV files are in Files() afterwards, by name.
  void Run(const std::string& capture);
  const std::map<std::string, std::string>& Files() const { return files_; }
  std::string File(const std::string& name) const;
  std::string SaveFolder() const { return "/save"; }
  std::string OutputFolder() const { return SaveFolder() + "/QM-DATA"; }
  // Writes a file below the chosen folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) {
    return files.Write(SaveFolder() + "/" + name, bytes);
  }

  RecordingOperator ui;
  MemoryFileSystem files;
  TransferState transfer;
  kvx::ConversionOutcome outcome;

 private:
  int kind_;
  int displayMode_;
  std::map<std::string, std::string> files_;
};

}  // namespace program_testing

#endif  // TESTS_PROGRAM_TEST_SUPPORT_H
