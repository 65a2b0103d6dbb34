// The one seam between KVX-300's portable logic and the system it runs on: the operator's side
// (messages, the dialog's controls) and the files and folders of the transfer and the
// conversion. Texts, paths among them, are code page 932 bytes.
//
// Backends: HeadlessPlatform (headless_platform.h) for the command-line tools and the tests, on
// the files and folders of the platform the program is built for; the Windows dialog later.
// Tests derive from a backend to record what the operator would see or to inject faults.
#ifndef KVX_PROGRAM_PLATFORM_H
#define KVX_PROGRAM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CTarvoDlg;

// An open file of the platform; kNoFile when there is none.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

enum class DataDirection { ToControls, ToMembers };

enum class CreateResult { Created, Exists, Failed };

// The dialog's two push buttons.
enum class DialogButton { Transfer = 1019, Close = 1000 };

class ProgramPlatform {
 public:
  virtual ~ProgramPlatform() = default;

  // A modal message with a single OK button; returns when the operator has closed it.
  virtual void ShowMessage(const std::string& text) = 0;

  // The dialog's data exchange: shows `statusText` and `displayMode` in the controls, or takes
  // the controls' values into them.
  virtual void ExchangeData(CTarvoDlg& dialog, DataDirection direction) = 0;

  // The operator chooses a folder, starting at `initialFolder`; empty text when cancelled.
  virtual std::string ChooseFolder(const std::string& title, const std::string& initialFolder) = 0;

  virtual void EnableButton(DialogButton button, bool enabled) = 0;
  // Repaints the dialog at once.
  virtual void RepaintNow() = 0;
  // Lets one waiting window message through, if there is one.
  virtual void LetOneMessageThrough() = 0;
  // Pauses, returning early when a stop has been asked for.
  virtual void Pause(uint32_t milliseconds) = 0;
  // A clock that never goes back: how long the transfer has waited is measured on it.
  virtual uint64_t MonotonicMilliseconds() = 0;
  // Whether the operator has asked the running operation to stop (a signal to a command-line
  // tool); the transfer and the conversion look between their steps and end cleanly. The
  // dialog has no such request.
  virtual bool StopRequested() { return false; }

  // The separator between a folder and the names in it.
  virtual char PathSeparator() const = 0;

  // Reads at most `capacity` bytes of the file, from its start, as they are stored.
  virtual bool ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                             std::size_t* length) = 0;

  // The names of the entries of a folder, in the order the system lists them; false when the
  // folder cannot be listed (as when it is missing).
  virtual bool ListFolder(const std::string& folder, std::vector<std::string>* names) = 0;

  // The user's temporary folder, ending in a separator; false when the system gives none.
  virtual bool TemporaryFolder(std::string* folder) = 0;
  // Creates a new, empty file with a unique name that starts with `prefix` in `folder`.
  virtual bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                std::string* path) = 0;
  // Opens an existing file for writing, emptied.
  virtual bool OpenFileForWriting(const std::string& path, FileHandle* file) = 0;

  virtual bool IsFolder(const std::string& path) = 0;
  virtual bool CreateFolder(const std::string& path) = 0;

  // Creates a new, empty file for writing; Exists when there already is an entry of that name
  // (on Windows, also one whose name differs only in case), and nothing is changed then.
  virtual CreateResult CreateNewFile(const std::string& path, FileHandle* file) = 0;
  virtual bool WriteFileBytes(FileHandle file, const char* data, std::size_t size) = 0;
  virtual bool CloseFile(FileHandle file) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
};

#endif  // KVX_PROGRAM_PLATFORM_H
