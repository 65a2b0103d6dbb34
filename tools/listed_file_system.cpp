#include "listed_file_system.h"

#include <algorithm>

#include "command_line.h"
#include "csv_output.h"
#include "program_arguments.h"
#include "program_texts.h"
#include "tool_system.h"

bool ListedFileSystem::OpenFileForWriting(const std::string& path, FileHandle* file) {
  openPath_ = path;
  if (SystemFileSystem::OpenFileForWriting(path, file)) return true;
  NoteFailure(path);
  return false;
}

bool ListedFileSystem::CreateFolder(const std::string& path) {
  if (SystemFileSystem::CreateFolder(path)) return true;
  NoteFailure(path);
  return false;
}

CreateResult ListedFileSystem::CreateNewFile(const std::string& path, FileHandle* file) {
  const CreateResult result = SystemFileSystem::CreateNewFile(path, file);
  if (result == CreateResult::Created) {
    written.push_back(path);
    openPath_ = path;
  } else if (result == CreateResult::Failed) {
    NoteFailure(path);
  }
  return result;
}

bool ListedFileSystem::WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  if (SystemFileSystem::WriteFileBytes(file, data, size)) return true;
  NoteFailure(openPath_);
  return false;
}

bool ListedFileSystem::CloseFile(FileHandle file) {
  if (SystemFileSystem::CloseFile(file)) return true;
  NoteFailure(openPath_);
  return false;
}

bool ListedFileSystem::RemoveFile(const std::string& path) {
  std::erase(written, path);
  return SystemFileSystem::RemoveFile(path);
}

std::string ListedFileSystem::TakeFailure() {
  std::string failure;
  failure.swap(failure_);
  return failure;
}

void ListedFileSystem::NoteFailure(const std::string& path) {
  // Taken at once: the clean-up after a failure makes calls of its own.
  failure_ = cli::system::ShownPath(path) + ": " + cli::system::LastErrorText();
}

void ExplainFileFailure(const std::string& program, const std::string& message,
                        ListedFileSystem& files) {
  const std::string failure = files.TakeFailure();
  if (!failure.empty()) {
    cli::Err("%s: %s\n", program.c_str(), failure.c_str());
  } else if (message == kvx::texts::kCsvNotCreated) {
    // Every other way to this message goes through a call that failed.
    cli::Err(cli::Tr("%s: the CSV file's path would be longer than %zu bytes\n"), program.c_str(),
             kvx::kMaxCsvPathBytes);
  }
}
