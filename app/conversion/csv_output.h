// Where the CSV file of each measurement group goes: the folder QM-DATA below the chosen folder,
// files QM-0001.csv to QM-9999.csv numbered on from those already there, and the file itself.
#ifndef KVX_CSV_OUTPUT_H
#define KVX_CSV_OUTPUT_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "csv_conversion.h"
#include "file_system.h"
#include "transfer_state.h"

namespace kvx {

// The longest CSV path, in bytes, that the program handles; a longer one is not created.
inline constexpr std::size_t kMaxCsvPathBytes = 255;

// The CSV file of one measurement group, written as the program's text files are: every "\n"
// becomes CR LF. Writes are buffered; a failed write or close removes the file, and tells the
// operator, so that no truncated file is left to look complete.
class CsvFile {
 public:
  CsvFile(ConversionObserver& ui, FileSystem& files, FileHandle file, std::string path,
          std::string title);
  ~CsvFile();  // Abandons a file that was not finished: closed and removed.
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;

  const std::string& Title() const { return title_; }

  // False once a write has failed; the file is gone then.
  bool Append(std::string_view text);

  // The most bytes a row written through RowSpace may take.
  static constexpr std::size_t kRowRoom = 512;
  // Room for one row of at most kRowRoom bytes, written as it is to be stored (lines already
  // ending in CR LF), at the end of what waits to be written...
  char* RowSpace() { return pending_.get() + pendingSize_; }
  // ... and the row's end, which takes it in. False once a write has failed, as with Append.
  bool EndRow(const char* end) {
    pendingSize_ = static_cast<std::size_t>(end - pending_.get());
    return pendingSize_ < kFlushSize || Flush();
  }
  // Writes what is left and closes the file; false (the file gone) when that fails.
  bool Finish();

 private:
  bool Flush();
  void Abandon();

  ConversionObserver& ui_;
  FileSystem& files_;
  FileHandle file_;
  std::string path_;
  std::string title_;
  // What waits to be written: less than kFlushSize bytes between calls, with kRowRoom to spare.
  static constexpr std::size_t kFlushSize = std::size_t{1} << 18;
  std::unique_ptr<char[]> pending_;
  std::size_t pendingSize_ = 0;
};

// The highest file number that a name of the output folder carries, if it carries one: a name
// that starts with "QM-" and holds only digits once every "QM-" and ".csv" is taken out
// ("QM-0012.csv" and "QM-12.csv" carry 12, "QM-.csv" carries 0).
bool FileNumberOf(const std::string& name, int32_t* number);

// Opens the CSV file of the next measurement group with the next free number, or tells the
// operator why not and gives nothing, with the reason in `failure`: the number would pass 9999,
// QM-DATA cannot be made, or the file cannot be created.
std::unique_ptr<CsvFile> OpenNextCsvFile(ConversionObserver& ui, FileSystem& files,
                                         TransferState& transfer, ConversionEnd* failure);

}  // namespace kvx

#endif  // KVX_CSV_OUTPUT_H
