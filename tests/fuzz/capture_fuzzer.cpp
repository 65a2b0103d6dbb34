// libFuzzer target: any capture text, converted by either instrument kind in either display mode.
// Files live in memory, and the "disk" holds 96 KiB, so that captures that promise millions of
// samples end with a full disk rather than fill the machine. No input may crash, hang, leak or
// leave a file open.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "program_platform.h"
#include "tarvodlg.h"
#include "transfer_state.h"

namespace {

class MemoryPlatform : public ProgramPlatform {
 public:
  explicit MemoryPlatform(std::string capture) : capture_(std::move(capture)) {}

  void ShowMessage(const std::string&) override {}
  void ExchangeData(CTarvoDlg&, DataDirection) override {}
  char PathSeparator() const override { return '/'; }

  // What only the transfer asks for.
  std::string ChooseFolder(const std::string&, const std::string&) override { return ""; }
  void EnableButton(DialogButton, bool) override {}
  void RepaintNow() override {}
  void LetOneMessageThrough() override {}
  void Pause(uint32_t) override {}
  uint64_t MonotonicMilliseconds() override { return 0; }
  bool TemporaryFolder(std::string*) override { return false; }
  bool CreateUniqueFile(const std::string&, const std::string&, std::string*) override {
    return false;
  }
  bool OpenFileForWriting(const std::string&, FileHandle*) override { return false; }

  bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                     std::size_t* length) override {
    if (path != "capture") return false;
    *length = std::min(capacity, capture_.size());
    std::memcpy(buffer, capture_.data(), *length);
    return true;
  }

  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override {
    if (!folderMade_) return false;
    names->clear();
    for (const auto& [path, size] : files_)
      names->push_back(path.substr(folder.size() + 1));
    return true;
  }

  bool IsFolder(const std::string&) override { return folderMade_; }
  bool CreateFolder(const std::string&) override { return folderMade_ = true; }

  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override {
    if (files_.count(path) != 0) return CreateResult::Exists;
    files_[path] = 0;
    *file = nextHandle_++;
    open_[*file] = path;
    return CreateResult::Created;
  }

  bool WriteFileBytes(FileHandle file, const char*, std::size_t size) override {
    if (open_.count(file) == 0) std::abort();  // written after its close
    if (written_ + size > kDiskSize) return false;
    written_ += size;
    files_[open_[file]] += size;
    return true;
  }

  bool CloseFile(FileHandle file) override { return open_.erase(file) == 1; }
  bool RemoveFile(const std::string& path) override { return files_.erase(path) == 1; }

  std::size_t OpenFiles() const { return open_.size(); }

 private:
  static constexpr std::size_t kDiskSize = 96 << 10;
  std::string capture_;
  bool folderMade_ = false;
  std::map<std::string, std::size_t> files_;
  std::map<FileHandle, std::string> open_;
  FileHandle nextHandle_ = 3;
  std::size_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the instrument kind and the display mode; the rest is the capture.
  const int instrumentKind = (data[0] & 1) + 1;
  MemoryPlatform platform(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  TransferState transfer;
  transfer.saveFolder = "chosen";
  transfer.capturePath = "capture";
  transfer.payloadLength = static_cast<int32_t>(size - 1);
  CTarvoDlg dialog(platform, transfer);
  dialog.displayMode = (data[0] >> 1) & 1;
  if (instrumentKind == 1) {
    dialog.ConvertToCsvKind1();
  } else {
    dialog.ConvertToCsvKind2();
  }
  if (platform.OpenFiles() != 0) std::abort();  // a CSV file left open
  if (transfer.sampleIndex != 0) std::abort();  // a group left half counted
  return 0;
}
