#include "program_test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "system_calls.h"

namespace program_testing {

std::string Cp932(const std::string& utf8) {
  std::string cp932;
  if (!kvx::system::Utf8ToCp932(utf8, &cp932)) throw std::runtime_error("no code page 932 form");
  return cp932;
}

std::string CsvBytes(const std::string& utf8WithLf) {
  std::string crlf;
  for (char c : Cp932(utf8WithLf)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

namespace {
std::string Utf8(const std::string& cp932) {
  std::string utf8;
  return kvx::system::Cp932ToUtf8(cp932, &utf8) ? utf8 : "(not code page 932) " + cp932;
}
}  // namespace

void TestPlatform::ShowMessage(const std::string& text) {
  messages.push_back(Utf8(text));
}

void TestPlatform::ExchangeData(CTarvoDlg& dialog, DataDirection direction) {
  HeadlessPlatform::ExchangeData(dialog, direction);
  if (direction == DataDirection::ToControls) statusLines.push_back(Utf8(statusLine));
}

bool TestPlatform::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  ++listings;
  if (!HeadlessPlatform::ListFolder(folder, names)) return false;
  std::sort(names->begin(), names->end());
  if (reverseListing) std::reverse(names->begin(), names->end());
  for (const std::string& hidden : hiddenNames)
    std::erase(*names, hidden);
  return true;
}

bool TestPlatform::CreateFolder(const std::string& path) {
  return !failCreateFolder && HeadlessPlatform::CreateFolder(path);
}

CreateResult TestPlatform::CreateNewFile(const std::string& path, FileHandle* file) {
  if (failCreateFile) return CreateResult::Failed;
  const CreateResult created = HeadlessPlatform::CreateNewFile(path, file);
  const bool csv = path.size() > 4 && path.compare(path.size() - 4, 4, ".csv") == 0;
  if (created == CreateResult::Created && csv && ++csvFilesCreated_ == stopAtCsvFile) {
    stopRequested = true;
  }
  return created;
}

void TestPlatform::Pause(uint32_t milliseconds) {
  pauses.push_back(milliseconds);
  pausedMs_ += milliseconds;
  if (pauses.size() == stopAtPause) stopRequested = true;
}

uint64_t TestPlatform::MonotonicMilliseconds() {
  return HeadlessPlatform::MonotonicMilliseconds() + pausedMs_;
}

bool TestPlatform::WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  if (bytesUntilFull) {
    const std::size_t fits = std::min(size, *bytesUntilFull);
    *bytesUntilFull -= fits;
    HeadlessPlatform::WriteFileBytes(file, data, fits);
    if (fits < size) return false;
  }
  return HeadlessPlatform::WriteFileBytes(file, data, size);
}

bool TestPlatform::CloseFile(FileHandle file) {
  const bool closed = HeadlessPlatform::CloseFile(file);
  return closed && !failClose;
}

bool TestPlatform::TemporaryFolder(std::string* folder) {
  if (failTemporaryFolder) return false;
  if (temporaryFolder.empty()) return HeadlessPlatform::TemporaryFolder(folder);
  *folder = temporaryFolder + "/";
  return true;
}

bool TestPlatform::CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                    std::string* path) {
  return !failUniqueFile && HeadlessPlatform::CreateUniqueFile(folder, prefix, path);
}

bool TestPlatform::OpenFileForWriting(const std::string& path, FileHandle* file) {
  return !failOpenForWriting && HeadlessPlatform::OpenFileForWriting(path, file);
}

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/kvx-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  const std::string path = path_ + "/" + name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string HeaderRecord(const std::string& start, const std::string& interval,
                         const std::string& code, char layout, char unit, int count) {
  char countField[8];
  std::snprintf(countField, sizeof countField, "%06X", count);
  std::string record = "0001" + start + interval + code + layout + unit + std::string(20, '0') +
                       countField + std::string(10, '0');
  if (record.size() != 60) throw std::logic_error("a header record is 60 characters");
  return record;
}

void Conversion::Run(const std::string& capture) {
  transfer.saveFolder = folder_.Path();
  transfer.capturePath = folder_.Write("capture/ini1234.tmp", capture);
  transfer.payloadLength = static_cast<int32_t>(capture.size());
  CTarvoDlg dialog(platform, transfer);
  dialog.displayMode = displayMode_;
  if (kind_ == 1) {
    dialog.ConvertToCsvKind1();
  } else {
    dialog.ConvertToCsvKind2();
  }
  outcome = dialog.conversion;
  files_.clear();
  for (const std::string& name : Names(OutputFolder())) {
    files_[name] = ReadFile(OutputFolder() + "/" + name);
  }
}

std::string Conversion::File(const std::string& name) const {
  auto found = files_.find(name);
  return found != files_.end() ? found->second : "(no file " + name + ")";
}

}  // namespace program_testing
