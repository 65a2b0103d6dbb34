// UTF-16 as UTF-8, for what the Windows test programs print.
#ifndef TESTS_WINDOWS_UTF8_TEXT_H
#define TESTS_WINDOWS_UTF8_TEXT_H

#include <windows.h>

#include <string>

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

#endif  // TESTS_WINDOWS_UTF8_TEXT_H
