// The system's files and folders on Windows. Paths arrive in code page 932 and go to the
// wide-character calls in UTF-16, so they mean the same whatever the process's ANSI code page.
#include <windows.h>

#include <algorithm>

#include "file_system.h"
#include "wide_text.h"

using kvx::win32::FromWide;
using kvx::win32::kCodePage932;
using kvx::win32::NativePath;

namespace {

HANDLE HandleOf(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

}  // namespace

char SystemFileSystem::PathSeparator() const {
  return '\\';
}

bool SystemFileSystem::TemporaryFolder(std::string* folder) {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return length > 0 && length <= MAX_PATH &&
         FromWide(kCodePage932, std::wstring(buffer, length), folder);
}

bool SystemFileSystem::CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                        std::string* path) {
  std::wstring nativeFolder;
  std::wstring nativePrefix;
  wchar_t buffer[MAX_PATH];
  return NativePath(folder, &nativeFolder) && NativePath(prefix, &nativePrefix) &&
         GetTempFileNameW(nativeFolder.c_str(), nativePrefix.c_str(), 0, buffer) != 0 &&
         FromWide(kCodePage932, buffer, path);
}

bool SystemFileSystem::OpenFileForWriting(const std::string& path, FileHandle* file) {
  std::wstring native;
  if (!NativePath(path, &native)) return false;
  const HANDLE handle = CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<FileHandle>(handle);
  return true;
}

bool SystemFileSystem::ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                                     std::size_t* length) {
  std::wstring native;
  if (!NativePath(path, &native)) return false;
  const HANDLE file = CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::size_t total = 0;
  bool ok = true;
  while (total < capacity) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(capacity - total, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(file, buffer + total, want, &got, nullptr)) ok = false;
    if (!ok || got == 0) break;
    total += got;
  }
  CloseHandle(file);
  *length = total;
  return ok;
}

bool SystemFileSystem::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  std::wstring pattern;
  if (!NativePath(folder + "\\*", &pattern)) return false;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  names->clear();
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::string converted;
    // A name with no code page 932 form never names a CSV file of ours.
    if (FromWide(kCodePage932, name, &converted)) names->push_back(converted);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return true;
}

bool SystemFileSystem::IsFolder(const std::string& path) {
  std::wstring native;
  if (!NativePath(path, &native)) return false;
  const DWORD attributes = GetFileAttributesW(native.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SystemFileSystem::CreateFolder(const std::string& path) {
  std::wstring native;
  return NativePath(path, &native) && CreateDirectoryW(native.c_str(), nullptr) != FALSE;
}

CreateResult SystemFileSystem::CreateNewFile(const std::string& path, FileHandle* file) {
  std::wstring native;
  if (!NativePath(path, &native)) return CreateResult::Failed;
  const HANDLE handle = CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateResult::Exists
                                                                       : CreateResult::Failed;
  }
  *file = reinterpret_cast<FileHandle>(handle);
  return CreateResult::Created;
}

bool SystemFileSystem::WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(HandleOf(file), data, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool SystemFileSystem::CloseFile(FileHandle file) {
  return CloseHandle(HandleOf(file)) != FALSE;
}

bool SystemFileSystem::RemoveFile(const std::string& path) {
  std::wstring native;
  return NativePath(path, &native) && DeleteFileW(native.c_str()) != FALSE;
}
