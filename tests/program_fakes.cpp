#include "program_fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "system_calls.h"

namespace program_testing {

namespace {

std::string Utf8(const std::string& cp932) {
  std::string utf8;
  return kvx::system::Cp932ToUtf8(cp932, &utf8) ? utf8 : "(not code page 932) " + cp932;
}

}  // namespace

std::string MemoryFileSystem::Normal(const std::string& path) {
  std::string normal;
  for (char c : path) {
    if (c == '/' && !normal.empty() && normal.back() == '/') continue;
    normal += c;
  }
  if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

std::string MemoryFileSystem::Parent(const std::string& normal) {
  const std::size_t slash = normal.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : normal.substr(0, slash);
}

bool MemoryFileSystem::TemporaryFolder(std::string* folder) {
  if (faults.NextCallFails() || failTemporaryFolder) return false;
  MakeFolder(temporaryFolder);
  *folder = Normal(temporaryFolder) + "/";
  return true;
}

bool MemoryFileSystem::CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                        std::string* path) {
  if (faults.NextCallFails() || failUniqueFile || !HasFolder(folder)) return false;
  std::string candidate;
  do {
    char number[8];
    (void)std::snprintf(number, sizeof number, "%04X", ++uniqueNumber_ & 0xFFFF);
    candidate = Normal(folder + "/" + prefix + number + ".tmp");
  } while (Exists(candidate));
  files_[candidate] = "";
  *path = candidate;
  return true;
}

bool MemoryFileSystem::OpenFileForWriting(const std::string& path, FileHandle* file) {
  const std::string normal = Normal(path);
  if (faults.NextCallFails() || failOpenForWriting || folders_.count(normal) != 0 ||
      folders_.count(Parent(normal)) == 0) {
    return false;
  }
  files_[normal].clear();
  open_[nextHandle_] = normal;
  *file = nextHandle_++;
  return true;
}

bool MemoryFileSystem::ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                                     std::size_t* length) {
  if (faults.NextCallFails()) return false;
  auto found = files_.find(Normal(path));
  if (found == files_.end()) return false;
  *length = std::min(capacity, found->second.size());
  std::memcpy(buffer, found->second.data(), *length);
  return true;
}

bool MemoryFileSystem::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  ++listings;
  if (faults.NextCallFails() || !HasFolder(folder)) return false;
  *names = Names(folder);
  if (reverseListing) std::reverse(names->begin(), names->end());
  for (const std::string& hidden : hiddenNames)
    std::erase(*names, hidden);
  return true;
}

bool MemoryFileSystem::IsFolder(const std::string& path) {
  return !faults.NextCallFails() && HasFolder(path);
}

bool MemoryFileSystem::HasFolder(const std::string& path) const {
  return folders_.count(Normal(path)) != 0;
}

bool MemoryFileSystem::CreateFolder(const std::string& path) {
  const std::string normal = Normal(path);
  if (faults.NextCallFails() || failCreateFolder || Exists(normal) ||
      folders_.count(Parent(normal)) == 0)
    return false;
  folders_.insert(normal);
  return true;
}

CreateResult MemoryFileSystem::CreateNewFile(const std::string& path, FileHandle* file) {
  const std::string normal = Normal(path);
  if (faults.NextCallFails() || failCreateFile || folders_.count(Parent(normal)) == 0) {
    return CreateResult::Failed;
  }
  if (Exists(normal)) return CreateResult::Exists;
  files_[normal] = "";
  open_[nextHandle_] = normal;
  *file = nextHandle_++;
  if (onCreate) onCreate(path);
  return CreateResult::Created;
}

bool MemoryFileSystem::WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  if (faults.NextCallFails()) return false;
  auto found = open_.find(file);
  if (found == open_.end()) return false;
  std::size_t fits = size;
  if (bytesUntilFull) {
    fits = std::min(size, *bytesUntilFull);
    *bytesUntilFull -= fits;
  }
  auto stored = files_.find(found->second);
  if (stored != files_.end()) stored->second.append(data, fits);
  return fits == size;
}

bool MemoryFileSystem::CloseFile(FileHandle file) {
  // A close that fails still lets the handle go, as the systems' closes do.
  const bool failed = faults.NextCallFails();
  auto found = open_.find(file);
  if (found == open_.end()) return false;
  const bool below = !failCloseBelow.empty() && Parent(found->second) == Normal(failCloseBelow);
  open_.erase(found);
  return !failClose && !below && !failed;
}

bool MemoryFileSystem::RemoveFile(const std::string& path) {
  if (faults.NextCallFails()) {
    if (files_.count(Normal(path)) != 0) refusedRemovals.insert(Normal(path));
    return false;
  }
  refusedRemovals.erase(Normal(path));
  return files_.erase(Normal(path)) == 1;
}

void MemoryFileSystem::MakeFolder(const std::string& path) {
  for (std::string folder = Normal(path); folder != "/"; folder = Parent(folder))
    folders_.insert(folder);
}

void MemoryFileSystem::RemoveTree(const std::string& path) {
  const std::string normal = Normal(path);
  auto below = [&normal](const std::string& entry) {
    return entry == normal || entry.starts_with(normal + "/");
  };
  std::erase_if(files_, [&below](const auto& file) { return below(file.first); });
  std::erase_if(folders_, below);
}

std::string MemoryFileSystem::Write(const std::string& path, const std::string& bytes) {
  std::string normal = Normal(path);
  MakeFolder(Parent(normal));
  files_[normal] = bytes;
  return normal;
}

std::string MemoryFileSystem::Read(const std::string& path) const {
  auto found = files_.find(Normal(path));
  return found != files_.end() ? found->second : "(no file " + path + ")";
}

bool MemoryFileSystem::Exists(const std::string& path) const {
  const std::string normal = Normal(path);
  return files_.count(normal) != 0 || folders_.count(normal) != 0;
}

std::vector<std::string> MemoryFileSystem::Names(const std::string& folder) const {
  const std::string prefix = Normal(folder) == "/" ? "/" : Normal(folder) + "/";
  std::set<std::string> names;
  auto add = [&](const std::string& path) {
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
        path.find('/', prefix.size()) == std::string::npos) {
      names.insert(path.substr(prefix.size()));
    }
  };
  for (const auto& [path, bytes] : files_)
    add(path);
  for (const std::string& path : folders_)
    add(path);
  return std::vector<std::string>(names.begin(), names.end());
}

void RecordingOperator::Alert(const std::string& message) {
  messages.push_back(Utf8(message));
}

void RecordingOperator::ShowStatus(const std::string& text) {
  HeadlessOperator::ShowStatus(text);
  statusLines.push_back(Utf8(text));
}

void RecordingOperator::BlockArrived(const TransferProgress& progress) {
  statusAtBlocks += statusLine.empty() ? '0' : '1';
  blocks.push_back(progress);
}

void RecordingOperator::Pause(uint32_t milliseconds) {
  pauses.push_back(milliseconds);
  pausedMs_ += milliseconds;
  if (pauses.size() == stopAtPause) stopRequested = true;
}

uint64_t RecordingOperator::MonotonicMilliseconds() {
  return HeadlessOperator::MonotonicMilliseconds() + pausedMs_;
}

}  // namespace program_testing
