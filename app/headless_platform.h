// The headless backend of the program's platform: no windows. Messages go to stderr in UTF-8,
// and the dialog's controls are plain values that a front end sets and reads. Files and folders
// are those of the system the program was built for.
#ifndef KVX_HEADLESS_PLATFORM_H
#define KVX_HEADLESS_PLATFORM_H

#include <string>
#include <vector>

#include "program_platform.h"

class HeadlessPlatform : public ProgramPlatform {
 public:
  // `programName` opens every message line on stderr.
  explicit HeadlessPlatform(std::string programName) : programName_(std::move(programName)) {}

  void ShowMessage(const std::string& text) override;
  void ExchangeData(CTarvoDlg& dialog, DataDirection direction) override;

  char PathSeparator() const override;
  bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                     std::size_t* length) override;
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override;
  bool IsFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override;
  bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) override;
  bool CloseFile(FileHandle file) override;
  bool RemoveFile(const std::string& path) override;

  // The controls: what the status line shows and which display mode is chosen.
  std::string statusLine;
  int displayChoice = 0;

 private:
  std::string programName_;
};

// A code page 932 text for a UTF-8 terminal: CR LF as LF, every line after the first indented
// by two blanks, no line break at the end.
std::string TextForTerminal(const std::string& text);

#endif  // KVX_HEADLESS_PLATFORM_H
