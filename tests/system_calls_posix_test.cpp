// Code page 932 and UTF-8 on Linux: a text converts only when it comes back as it was, so that
// no path ever names another file.
#include <gtest/gtest.h>

#include "system_calls.h"

namespace {

using kvx::system::Cp932ToUtf8;
using kvx::system::Utf8ToCp932;

TEST(TextConversionTest, TakesOnlyTextsThatComeBackUnchanged) {
  std::string cp932;
  EXPECT_TRUE(Utf8ToCp932("保存先～2026", &cp932));
  EXPECT_EQ(cp932,
            "\x95\xdb\x91\xb6\x90\xe6\x81\x60"
            "2026");
  std::string utf8;
  EXPECT_TRUE(Cp932ToUtf8(cp932, &utf8));
  EXPECT_EQ(utf8, "保存先～2026");

  // 〜 and ¥ have bytes in code page 932 that come back as ～ and a backslash; é has none.
  for (const char* text : {"a〜b", "a¥b", "café"}) {
    EXPECT_FALSE(Utf8ToCp932(text, &cp932)) << text;
  }
  EXPECT_FALSE(Cp932ToUtf8("\x81", &utf8));  // half a character
}

}  // namespace
