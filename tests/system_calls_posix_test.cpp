// The system on Linux: code page 932 and UTF-8, where a text converts only when it comes back as
// it was, so that no path ever names another file; the files and folders the program uses; and
// the guard that lets one transfer run at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <optional>
#include <string>

#include "file_system.h"
#include "program_test_support.h"
#include "system_calls.h"

namespace {

using kvx::system::Cp932ToUtf8;
using kvx::system::GuardResult;
using kvx::system::TakeSingleInstanceGuard;
using kvx::system::Utf8ToCp932;
using program_testing::Cp932;
using program_testing::ScratchFolder;
using ::testing::ElementsAre;

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

TEST(SystemFileSystemTest, NewFilesAreNeverMadeOverOthersAndNamesAreCodePage932) {
  ScratchFolder scratch;
  SystemFileSystem files;
  const std::string folder = scratch.Path() + "/" + Cp932("保存先");
  ASSERT_TRUE(files.CreateFolder(folder));
  EXPECT_TRUE(files.IsFolder(folder));
  EXPECT_FALSE(files.CreateFolder(folder));

  FileHandle file = kNoFile;
  const std::string path = folder + "/QM-0001.csv";
  ASSERT_EQ(files.CreateNewFile(path, &file), CreateResult::Created);
  EXPECT_TRUE(files.WriteFileBytes(file, "a\r\nb\x1a", 5));
  EXPECT_TRUE(files.CloseFile(file));
  EXPECT_EQ(files.CreateNewFile(path, &file), CreateResult::Exists);
  EXPECT_EQ(files.CreateNewFile(folder + "/none/x.csv", &file), CreateResult::Failed);

  char bytes[16];
  std::size_t length = 0;
  ASSERT_TRUE(files.ReadFileBytes(path, bytes, 4, &length));
  EXPECT_EQ(std::string(bytes, length), "a\r\nb");  // as stored, and no more than asked

  std::string unique;
  ASSERT_TRUE(files.CreateUniqueFile(folder + "/", "ini", &unique));
  ASSERT_TRUE(files.OpenFileForWriting(unique, &file));
  EXPECT_TRUE(files.CloseFile(file));
  std::vector<std::string> names;
  ASSERT_TRUE(files.ListFolder(folder, &names));
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "QM-0001.csv");
  EXPECT_EQ(names[1].rfind("ini", 0), 0u);

  EXPECT_TRUE(files.RemoveFile(path));
  EXPECT_FALSE(files.RemoveFile(path));
  EXPECT_FALSE(files.ListFolder(folder + "/none", &names));
}

// Points the driver stand-in's registry root somewhere else while it lives.
// NOLINTBEGIN(concurrency-mt-unsafe): no other thread runs while the environment changes.
class DeviceRootSetting {
 public:
  explicit DeviceRootSetting(const std::string& root) {
    if (const char* before = getenv("TARVO_DEVICE_ROOT")) before_ = before;
    setenv("TARVO_DEVICE_ROOT", root.c_str(), 1);
  }
  ~DeviceRootSetting() {
    if (before_) {
      setenv("TARVO_DEVICE_ROOT", before_->c_str(), 1);
    } else {
      unsetenv("TARVO_DEVICE_ROOT");
    }
  }

 private:
  std::optional<std::string> before_;
};
// NOLINTEND(concurrency-mt-unsafe)

TEST(SingleInstanceGuardTest, IsTakenOnceAndSaysWhyWhenItCannotBe) {
  ScratchFolder scratch;
  const std::string file = scratch.Write("file", "");
  std::string error;
  {
    DeviceRootSetting root(file + "/root");
    EXPECT_EQ(TakeSingleInstanceGuard("KVX-300.exe", &error), GuardResult::Failed);
    EXPECT_EQ(error, "cannot make the folder " + file + "/root: Not a directory");
  }
  {
    DeviceRootSetting root(file);
    EXPECT_EQ(TakeSingleInstanceGuard("KVX-300.exe", &error), GuardResult::Failed);
    EXPECT_EQ(error, "cannot open the lock file " + file + "/KVX-300.exe.lock: Not a directory");
  }
  // The lock is the open file's, not the process's: a second take in this process is refused
  // as one in another process is. It is held until the process ends.
  DeviceRootSetting root(scratch.Path() + "/root");
  EXPECT_EQ(TakeSingleInstanceGuard("KVX-300.exe", &error), GuardResult::Taken);
  EXPECT_EQ(TakeSingleInstanceGuard("KVX-300.exe", &error), GuardResult::HeldElsewhere);
}

}  // namespace
