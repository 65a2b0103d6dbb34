// The system's files as the tools use them: noting the files that a conversion leaves behind
// (those it created and did not remove again, in the order it made them), and why the last call
// that failed did, in the system's own words, for the line after the program's message.
#ifndef TOOLS_LISTED_FILE_SYSTEM_H
#define TOOLS_LISTED_FILE_SYSTEM_H

#include <string>
#include <vector>

#include "file_system.h"

class ListedFileSystem : public SystemFileSystem {
 public:
  bool OpenFileForWriting(const std::string& path, FileHandle* file) override;
  bool CreateFolder(const std::string& path) override;
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override;
  bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) override;
  bool CloseFile(FileHandle file) override;
  bool RemoveFile(const std::string& path) override;

  // "PATH: reason" for the last call that failed, once; empty when none failed since.
  std::string TakeFailure();

  std::vector<std::string> written;

 private:
  void NoteFailure(const std::string& path);

  std::string openPath_;  // the file being written (a conversion writes one at a time)
  std::string failure_;
};

// Tells, after a message of the program about a file or a folder, why it failed: the failure
// that `files` noted, or, for a CSV file that no call was made for, its path's length.
void ExplainFileFailure(const std::string& program, const std::string& message,
                        ListedFileSystem& files);

#endif  // TOOLS_LISTED_FILE_SYSTEM_H
