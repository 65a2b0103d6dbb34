#include "csv_output.h"

#include <algorithm>
#include <vector>

#include "program_texts.h"

namespace kvx {

namespace {

constexpr int32_t kLastFileNumber = 9999;

// Removes every occurrence of `piece`, in one pass from the left: what the removals join
// together is not looked at again.
std::string RemoveAll(const std::string& text, std::string_view piece) {
  std::string rest;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(piece, from)) != std::string::npos;
       from = at + piece.size()) {
    rest.append(text, from, at - from);
  }
  return rest.append(text, from);
}

// The folder listing counts the names that Windows' pattern "*.csv" matches.
bool EndsWithCsv(const std::string& name) {
  if (name.size() < 4) return false;
  std::string extension = name.substr(name.size() - 4);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return extension == ".csv";
}

// Looks for the numbers of the CSV files already in the output folder, until a search finds any.
void SearchExistingNumbers(FileSystem& files, TransferState& transfer,
                           const std::string& outputFolder) {
  std::vector<std::string> names;
  if (!files.ListFolder(outputFolder, &names)) return;
  bool anyMatch = false;
  bool anyNumber = false;
  int32_t highest = 0;
  for (const std::string& name : names) {
    if (!EndsWithCsv(name)) continue;
    anyMatch = true;
    int32_t number = 0;
    if (!FileNumberOf(name, &number)) continue;
    highest = anyNumber ? std::max(highest, number) : number;
    anyNumber = true;
  }
  if (!anyMatch) return;
  if (anyNumber) transfer.lastFileNumber = highest;
  transfer.folderScanned = true;
}

std::string FileTitle(int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  return "QM-" + digits;
}

}  // namespace

CsvFile::CsvFile(ConversionObserver& ui, FileSystem& files, FileHandle file, std::string path,
                 std::string title)
    : ui_(ui),
      files_(files),
      file_(file),
      path_(std::move(path)),
      title_(std::move(title)),
      pending_(new char[kFlushSize + kRowRoom]) {}

CsvFile::~CsvFile() {
  if (file_ != kNoFile) Abandon();
}

bool CsvFile::Append(std::string_view text) {
  if (file_ == kNoFile) return false;
  constexpr std::size_t kCapacity = kFlushSize + kRowRoom;
  for (const char c : text) {
    // Room for a CR LF at least.
    if (pendingSize_ + 2 > kCapacity && !Flush()) return false;
    if (c == '\n') pending_[pendingSize_++] = '\r';
    pending_[pendingSize_++] = c;
  }
  return pendingSize_ < kFlushSize || Flush();
}

bool CsvFile::Finish() {
  if (file_ == kNoFile || !Flush()) return false;
  const bool closed = files_.CloseFile(file_);
  file_ = kNoFile;
  if (!closed) {
    files_.RemoveFile(path_);
    ui_.Alert(std::string(texts::kCsvNotCreated));
  }
  return closed;
}

bool CsvFile::Flush() {
  if (files_.WriteFileBytes(file_, pending_.get(), pendingSize_)) {
    pendingSize_ = 0;
    return true;
  }
  Abandon();
  ui_.Alert(std::string(texts::kCsvNotCreated));
  return false;
}

void CsvFile::Abandon() {
  files_.CloseFile(file_);
  file_ = kNoFile;
  files_.RemoveFile(path_);
  pendingSize_ = 0;
}

bool FileNumberOf(const std::string& name, int32_t* number) {
  if (name.compare(0, 3, "QM-") != 0) return false;
  const std::string rest = RemoveAll(RemoveAll(name, "QM-"), ".csv");
  if (rest.find_first_not_of("0123456789") != std::string::npos) return false;
  int32_t value = 0;
  // Anything past the last number behaves alike; the cap keeps the sum in range.
  for (char digit : rest)
    value = std::min<int32_t>(value * 10 + (digit - '0'), 99999);
  *number = value;
  return true;
}

std::unique_ptr<CsvFile> OpenNextCsvFile(ConversionObserver& ui, FileSystem& files,
                                         TransferState& transfer, ConversionEnd* failure) {
  const char separator = files.PathSeparator();
  const std::string outputFolder = transfer.saveFolder + separator + "QM-DATA";
  if (!transfer.folderScanned) SearchExistingNumbers(files, transfer, outputFolder);

  if (++transfer.lastFileNumber > kLastFileNumber) {
    ui.Alert(std::string(texts::kPastLastFileNumber));
    *failure = ConversionEnd::NumbersUsedUp;
    return nullptr;
  }
  if (!files.IsFolder(outputFolder) && !files.CreateFolder(outputFolder)) {
    ui.Alert(std::string(texts::kFolderNotCreated));
    *failure = ConversionEnd::FolderNotCreated;
    return nullptr;
  }
  // A file that is already there is never emptied: the number after it is taken instead.
  for (;;) {
    const std::string title = FileTitle(transfer.lastFileNumber);
    std::string path = outputFolder + separator;
    path.append(title).append(".csv");
    FileHandle file = kNoFile;
    const CreateResult created =
        path.size() > kMaxCsvPathBytes ? CreateResult::Failed : files.CreateNewFile(path, &file);
    if (created == CreateResult::Created) {
      return std::make_unique<CsvFile>(ui, files, file, path, title);
    }
    if (created == CreateResult::Failed) {
      ui.Alert(std::string(texts::kCsvNotCreated));
      *failure = ConversionEnd::CsvNotWritten;
      return nullptr;
    }
    if (++transfer.lastFileNumber > kLastFileNumber) {
      ui.Alert(std::string(texts::kPastLastFileNumber));
      *failure = ConversionEnd::NumbersUsedUp;
      return nullptr;
    }
  }
}

}  // namespace kvx
