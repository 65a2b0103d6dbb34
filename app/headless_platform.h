// The headless backend of the program's platform: no windows. Messages go to stderr in UTF-8,
// the dialog's controls are plain values that a front end sets and reads, and the folder
// chooser gives the folder set beforehand. Files, folders and pauses are those of the system the
// program was built for.
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
  std::string ChooseFolder(const std::string& title, const std::string& initialFolder) override;
  void EnableButton(DialogButton button, bool enabled) override;
  void RepaintNow() override {}
  void LetOneMessageThrough() override {}
  // Sleeps, in short pieces so that a stop is seen at once.
  void Pause(uint32_t milliseconds) override;
  uint64_t MonotonicMilliseconds() override;
  // A stop signal has come (see kvx::system::CatchStopSignals).
  bool StopRequested() override;

  char PathSeparator() const override;
  bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                     std::size_t* length) override;
  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override;
  bool TemporaryFolder(std::string* folder) override;
  bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                        std::string* path) override;
  bool OpenFileForWriting(const std::string& path, FileHandle* file) override;
  bool IsFolder(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  CreateResult CreateNewFile(const std::string& path, FileHandle* file) override;
  bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) override;
  bool CloseFile(FileHandle file) override;
  bool RemoveFile(const std::string& path) override;

  // The controls: what the status line shows, which display mode is chosen, whether the
  // buttons can be pressed; and the folder the operator chooses (empty: the choice is cancelled).
  std::string statusLine;
  int displayChoice = 0;
  bool transferEnabled = true;
  bool closeEnabled = true;
  std::string chosenFolder;

 private:
  std::string programName_;
};

// A code page 932 text for a UTF-8 terminal: CR LF as LF, every line after the first indented
// by two blanks, no line break at the end.
std::string TextForTerminal(const std::string& text);

#endif  // KVX_HEADLESS_PLATFORM_H
