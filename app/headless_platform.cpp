#include "headless_platform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "system_calls.h"
#include "tarvodlg.h"

std::string TextForTerminal(const std::string& text) {
  std::string utf8;
  if (!kvx::system::Cp932ToUtf8(text, &utf8)) utf8 = text;
  std::string shown;
  for (char c : utf8) {
    if (c == '\r') continue;
    shown += c;
    if (c == '\n') shown += "  ";
  }
  while (!shown.empty() && (shown.back() == ' ' || shown.back() == '\n'))
    shown.pop_back();
  return shown;
}

void HeadlessPlatform::ShowMessage(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", programName_.c_str(), TextForTerminal(text).c_str());
  std::fflush(stderr);
}

void HeadlessPlatform::ExchangeData(CTarvoDlg& dialog, DataDirection direction) {
  if (direction == DataDirection::ToControls) {
    statusLine = dialog.statusText;
    displayChoice = dialog.displayMode;
  } else {
    dialog.statusText = statusLine;
    dialog.displayMode = displayChoice;
  }
}

std::string HeadlessPlatform::ChooseFolder(const std::string&, const std::string&) {
  return chosenFolder;
}

void HeadlessPlatform::EnableButton(DialogButton button, bool enabled) {
  (button == DialogButton::Transfer ? transferEnabled : closeEnabled) = enabled;
}

void HeadlessPlatform::Pause(uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kPiece = std::chrono::milliseconds(50);
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (auto left = end - Clock::now(); left > Clock::duration::zero() && !StopRequested();
       left = end - Clock::now()) {
    const auto piece =
        std::chrono::ceil<std::chrono::milliseconds>(std::min<Clock::duration>(left, kPiece));
    kvx::system::Sleep(static_cast<uint32_t>(piece.count()));
  }
}

uint64_t HeadlessPlatform::MonotonicMilliseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool HeadlessPlatform::StopRequested() {
  return kvx::system::StopSignal() != 0;
}

bool HeadlessPlatform::TemporaryFolder(std::string* folder) {
  return kvx::system::TemporaryFolder(folder);
}

bool HeadlessPlatform::CreateUniqueFile(const std::string& folder, const std::string& prefix,
                                        std::string* path) {
  return kvx::system::CreateUniqueFile(folder, prefix, path);
}

bool HeadlessPlatform::OpenFileForWriting(const std::string& path, FileHandle* file) {
  return kvx::system::OpenFileForWriting(path, file);
}

char HeadlessPlatform::PathSeparator() const {
  return kvx::system::PathSeparator();
}

bool HeadlessPlatform::ReadFileBytes(const std::string& path, char* buffer, std::size_t capacity,
                                     std::size_t* length) {
  return kvx::system::ReadFileBytes(path, buffer, capacity, length);
}

bool HeadlessPlatform::ListFolder(const std::string& folder, std::vector<std::string>* names) {
  return kvx::system::ListFolder(folder, names);
}

bool HeadlessPlatform::IsFolder(const std::string& path) {
  return kvx::system::IsFolder(path);
}

bool HeadlessPlatform::CreateFolder(const std::string& path) {
  return kvx::system::CreateFolder(path);
}

CreateResult HeadlessPlatform::CreateNewFile(const std::string& path, FileHandle* file) {
  return kvx::system::CreateNewFile(path, file);
}

bool HeadlessPlatform::WriteFileBytes(FileHandle file, const char* data, std::size_t size) {
  return kvx::system::WriteFileBytes(file, data, size);
}

bool HeadlessPlatform::CloseFile(FileHandle file) {
  return kvx::system::CloseFile(file);
}

bool HeadlessPlatform::RemoveFile(const std::string& path) {
  return kvx::system::RemoveFile(path);
}
