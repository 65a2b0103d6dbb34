// The system's files, noting the files that a conversion leaves behind: those it created and
// did not remove again, in the order it made them (the tools list them on stdout).
#ifndef TOOLS_LISTED_FILE_SYSTEM_H
#define TOOLS_LISTED_FILE_SYSTEM_H

#include <algorithm>
#include <string>
#include <vector>

#include "file_system.h"

class ListedFileSystem : public SystemFileSystem {
 public:
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override {
    const CreateResult result = SystemFileSystem::CreateNewFile(path, file);
    if (result == CreateResult::Created) written.push_back(path);
    return result;
  }

  bool RemoveFile(const std::string& path) override {
    std::erase(written, path);
    return SystemFileSystem::RemoveFile(path);
  }

  std::vector<std::string> written;
};

#endif  // TOOLS_LISTED_FILE_SYSTEM_H
