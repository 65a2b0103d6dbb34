// The system's files and folders on Linux. Paths are the system's own bytes (UTF-8 as a rule),
// handed over as they are: any name the system takes works.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "file_system.h"
#include "system_calls.h"

namespace {

// The file name for the system: the path itself.
bool NativePath(const std::string& path, std::string* native) {
  *native = path;
  return true;
}

// A large buffer about to be filled is fresh memory: huge pages, where the system grants them,
// spare a page fault for every 4 KiB of it. Only a hint; nothing changes when it is refused.
void HugePagesFor(char* buffer, std::size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (end > first) {
    (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#else
  (void)buffer;
  (void)size;
#endif
}

}  // namespace

char SystemFileSystem::PathSeparator() const {
  return '/';
}

bool SystemFileSystem::TemporaryFolder(std::string* folder) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the program never changes its environment.
  const char* tmpdir = std::getenv("TMPDIR");
  std::string native = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  if (native.back() != '/') native += '/';
  *folder = native;
  return true;
}

bool SystemFileSystem::CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                        std::string* path) {
  std::string native;
  if (!NativePath(folder + prefix, &native)) return false;
  native += "XXXXXX";
  const int fd = mkstemp(native.data());
  if (fd < 0) return false;
  close(fd);
  *path = native;
  return true;
}

bool SystemFileSystem::OpenFileForWriting(const std::string& path, FileHandle* file) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  *file = fd;
  return true;
}

bool SystemFileSystem::ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                                     std::size_t* length) {
  std::string native;
  if (!NativePath(path, &native)) return false;
  const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  HugePagesFor(buffer, capacity);
  std::size_t total = 0;
  bool ok = true;
  while (total < capacity) {
    const ssize_t got = read(fd, buffer + total, capacity - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  close(fd);
  *length = total;
  return ok;
}

bool SystemFileSystem::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  std::string native;
  if (!NativePath(folder, &native)) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(native.c_str()), closedir);
  if (!dir) return false;
  names->clear();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): this stream is read by this thread alone.
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    names->push_back(name);
  }
  return true;
}

bool SystemFileSystem::IsFolder(const std::string& path) {
  std::string native;
  struct stat status;
  return NativePath(path, &native) && stat(native.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool SystemFileSystem::CreateFolder(const std::string& path) {
  std::string native;
  return NativePath(path, &native) && mkdir(native.c_str(), 0777) == 0;
}

CreateResult SystemFileSystem::CreateNewFile(const std::string& path, FileHandle* file) {
  std::string native;
  if (!NativePath(path, &native)) return CreateResult::Failed;
  const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::Exists : CreateResult::Failed;
  *file = fd;
  return CreateResult::Created;
}

bool SystemFileSystem::WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(static_cast<int>(file), data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool SystemFileSystem::CloseFile(FileHandle file) {
  return close(static_cast<int>(file)) == 0;
}

bool SystemFileSystem::RemoveFile(const std::string& path) {
  std::string native;
  return NativePath(path, &native) && unlink(native.c_str()) == 0;
}
