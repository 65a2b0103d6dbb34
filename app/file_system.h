// The files and folders of the transfer and the conversion: the capture file, the output folder
// and its CSV files. Paths are the platform's: code page 932 bytes on Windows (the program's
// own encoding), the system's own bytes on Linux. The names the program makes are ASCII.
//
// SystemFileSystem is the system's, one implementation per platform (posix/, win32/); the tests
// and the fuzzer share one that keeps everything in memory.
#ifndef KVX_FILE_SYSTEM_H
#define KVX_FILE_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An open file; kNoFile when there is none.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

enum class CreateResult { Created, Exists, Failed };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The separator between a folder and the names in it.
  virtual char PathSeparator() const = 0;

  // The user's temporary folder, ending in a separator; false when the system gives none.
  virtual bool TemporaryFolder(std::string* folder) = 0;
  // Creates a new, empty file with a unique name that starts with `prefix` in `folder`.
  virtual bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                std::string* path) = 0;
  // Opens an existing file for writing, emptied.
  virtual bool OpenFileForWriting(const std::string& path, FileHandle* file) = 0;

  // Reads at most `capacity` bytes of the file, from its start, as they are stored.
  virtual bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                             std::size_t* length) = 0;

  // The names of the entries of a folder, in the order the system lists them; false when the
  // folder cannot be listed (as when it is missing).
  virtual bool ListFolder(const std::string& folder, std::vector<std::string>* names) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  virtual bool CreateFolder(const std::string& path) = 0;

  // Creates a new, empty file for writing; Exists when there already is an entry of that name
  // (on Windows, also one whose name differs only in case), and nothing is changed then.
  virtual CreateResult CreateNewFile(const std::string& path, FileHandle* file) = 0;
  virtual bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) = 0;
  virtual bool CloseFile(FileHandle file) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
};

// The files and folders of the system the program was built for.
class SystemFileSystem : public FileSystem {
 public:
  char PathSeparator() const override;
  bool TemporaryFolder(std::string* folder) override;
  bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                        std::string* path) override;
  bool OpenFileForWriting(const std::string& path, FileHandle* file) override;
  bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                     std::size_t* length) override;
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override;
  bool IsFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override;
  bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) override;
  bool CloseFile(FileHandle file) override;
  bool RemoveFile(const std::string& path) override;
};

#endif  // KVX_FILE_SYSTEM_H
