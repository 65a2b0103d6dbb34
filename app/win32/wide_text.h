// Code page 932 and UTF-16 on Windows: the program keeps its texts and paths in code page 932,
// and gives them to the wide-character ("W") calls, so that they mean the same whatever the
// process's ANSI code page.
#ifndef KVX_WIDE_TEXT_H
#define KVX_WIDE_TEXT_H

#include <windows.h>

#include <string>

namespace kvx::win32 {

constexpr UINT kCodePage932 = 932;

// A text of `codePage` in UTF-16; false when it holds bytes the code page has no character for.
bool ToWide(UINT codePage, const std::string& text, std::wstring* wide);
// UTF-16 in `codePage`; false when a character has no form there, or would come back changed.
bool FromWide(UINT codePage, const std::wstring& wide, std::string* text);
// A code page 932 path for the wide-character file calls.
bool NativePath(const std::string& path, std::wstring* native);

}  // namespace kvx::win32

#endif  // KVX_WIDE_TEXT_H
