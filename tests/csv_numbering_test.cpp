// Where the CSV files go and how they are numbered, every way a group's file can fail to be made
// or written, and a stop in the middle of a group.
#include <string>

#include "csv_output.h"
#include "program_test_support.h"

namespace program_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char kPastLastNumber[] =
    "ファイル名が“QM-9999.csv”を超えます。\r\nファイル名またはフォルダ名を変更して下さい。\n";
const char kCsvNotCreated[] =
    "エラー\r\nファイルが作成できません。\r\nQM-DATAフォルダを確認して下さい。\n";

// A kind-1 capture of `groups` groups of one sample each.
std::string Groups(int groups) {
  std::string capture;
  for (int i = 0; i < groups; ++i) {
    capture += HeaderRecord("070315103000", "0100", "00", '4', '0', 1) + "00EB";
  }
  return capture;
}

std::string Title(const std::string& csv) {
  return csv.substr(0, csv.find("\r\n"));
}

TEST(CsvNumberTest, ANameCarriesANumberWhenOnlyDigitsAreLeftOfIt) {
  int32_t number = -1;
  EXPECT_TRUE(kvx::FileNumberOf("QM-0012.csv", &number));
  EXPECT_EQ(number, 12);
  EXPECT_TRUE(kvx::FileNumberOf("QM-12.csv", &number));
  EXPECT_EQ(number, 12);
  EXPECT_TRUE(kvx::FileNumberOf("QM-.csv", &number));
  EXPECT_EQ(number, 0);
  EXPECT_TRUE(kvx::FileNumberOf("QM-00QM-12.csv", &number));
  EXPECT_EQ(number, 12);
  EXPECT_TRUE(kvx::FileNumberOf("QM-99999999999999.csv", &number));
  EXPECT_GT(number, 9999);
  // Pieces are taken out in one pass: what the removals join is not taken out again.
  for (const char* name :
       {"qm-0007.csv", "QM-0007a.csv", "QM-0007 (2).csv", "data.csv", "XQM-0007.csv", "QM-0007.CSV",
        "QM-0007.csv.bak", "QM-QQM-M-5.csv", "QM-1.c.csvsv"}) {
    EXPECT_FALSE(kvx::FileNumberOf(name, &number)) << name;
  }
}

TEST(CsvNumberingTest, AMissingFolderIsMadeAndSearchedAgainForTheNextGroup) {
  Conversion conversion(1);
  conversion.Run(Groups(3));

  EXPECT_THAT(conversion.files.Names(conversion.OutputFolder()),
              ElementsAre("QM-0001.csv", "QM-0002.csv", "QM-0003.csv"));
  EXPECT_EQ(Title(conversion.File("QM-0003.csv")), Cp932("ファイルネーム,QM-0003"));
  // The first group found no folder, the second found QM-0001.csv, the third did not search.
  EXPECT_EQ(conversion.files.listings, 2);
  EXPECT_TRUE(conversion.transfer.folderScanned);
  EXPECT_EQ(conversion.transfer.lastFileNumber, 3);
}

TEST(CsvNumberingTest, NumbersGoOnFromTheHighestInTheFolderWhateverTheListingOrder) {
  for (bool reversed : {false, true}) {
    Conversion conversion(1);
    conversion.files.reverseListing = reversed;
    // No QM-0004.csv: a number taken from any name but the highest's would fill that gap.
    for (const char* name :
         {"QM-0001.csv", "QM-0002.csv", "QM-0005.csv", "QM-0003.csv", "notes.txt", "qm-0042.csv"}) {
      conversion.Write(std::string("QM-DATA/") + name, "existing");
    }
    conversion.Run(Groups(2));
    EXPECT_EQ(Title(conversion.File("QM-0006.csv")), Cp932("ファイルネーム,QM-0006"))
        << (reversed ? "reversed" : "in name order");
    EXPECT_TRUE(conversion.files.Exists(conversion.OutputFolder() + "/QM-0007.csv"));
    EXPECT_EQ(conversion.File("QM-0005.csv"), "existing");
  }
}

TEST(CsvNumberingTest, ShortAndEmptyNumbersCountAndOtherNamesDoNot) {
  struct Case {
    std::vector<std::string> existing;
    const char* next;
  };
  const Case cases[] = {
      {{"QM-12.csv"}, "QM-0013.csv"},
      {{"QM-.csv"}, "QM-0001.csv"},
      {{"qm-0007.csv", "QM-0007a.csv", "QM-0007 (2).csv", "plan.csv"}, "QM-0001.csv"},
      {{"QM-0003.csv", "QM-0010.csv", "QM-0007.csv"}, "QM-0011.csv"},
  };
  for (const Case& c : cases) {
    for (bool reversed : {false, true}) {
      Conversion conversion(1);
      conversion.files.reverseListing = reversed;
      for (const std::string& name : c.existing) {
        conversion.Write("QM-DATA/" + name, "");
      }
      conversion.Run(Groups(1));
      EXPECT_TRUE(conversion.files.Exists(conversion.OutputFolder() + "/" + c.next)) << c.next;
      EXPECT_EQ(conversion.Files().size(), c.existing.size() + 1) << c.next;
    }
  }
}

TEST(CsvNumberingTest, AnExistingFileIsNeverEmptiedButPassedOver) {
  // The listing misses QM-0002.csv (as a listing taken a moment too early would).
  Conversion conversion(1);
  conversion.files.hiddenNames = {"QM-0002.csv", "QM-0003.csv"};
  conversion.Write("QM-DATA/QM-0001.csv", "first");
  conversion.Write("QM-DATA/QM-0002.csv", "second");
  conversion.files.MakeFolder(conversion.OutputFolder() + "/QM-0003.csv");  // a folder

  conversion.Run(Groups(2));

  EXPECT_EQ(conversion.File("QM-0002.csv"), "second");
  EXPECT_EQ(Title(conversion.File("QM-0004.csv")), Cp932("ファイルネーム,QM-0004"));
  EXPECT_EQ(Title(conversion.File("QM-0005.csv")), Cp932("ファイルネーム,QM-0005"));
  EXPECT_THAT(conversion.ui.messages, IsEmpty());
}

TEST(CsvNumberingTest, NoNumberPastQm9999) {
  for (const char* last : {"QM-9999.csv", "QM-12000.csv"}) {
    Conversion conversion(1);
    conversion.Write(std::string("QM-DATA/") + last, "");
    conversion.Run(Groups(2));
    EXPECT_THAT(conversion.ui.messages, ElementsAre(kPastLastNumber)) << last;
    EXPECT_EQ(conversion.Files().size(), 1u) << last;
  }

  // The last free number is taken; the group after it stops the walk.
  Conversion conversion(1);
  conversion.Write("QM-DATA/QM-9998.csv", "");
  conversion.Run(Groups(3));
  EXPECT_TRUE(conversion.files.Exists(conversion.OutputFolder() + "/QM-9999.csv"));
  EXPECT_THAT(conversion.ui.messages, ElementsAre(kPastLastNumber));
  EXPECT_EQ(conversion.transfer.lastFileNumber, 10000);  // until the transfer's clean-up

  // Passing over existing files does not pass 9999 either.
  Conversion crowded(1);
  crowded.files.hiddenNames = {"QM-9999.csv"};
  crowded.Write("QM-DATA/QM-9998.csv", "");
  crowded.Write("QM-DATA/QM-9999.csv", "kept");
  crowded.Run(Groups(1));
  EXPECT_THAT(crowded.ui.messages, ElementsAre(kPastLastNumber));
  EXPECT_EQ(crowded.File("QM-9999.csv"), "kept");
}

TEST(CsvNumberingTest, AFolderEndingInASeparatorIsUsedAsBuilt) {
  Conversion conversion(1);
  conversion.transfer.saveFolder = conversion.SaveFolder() + "/";
  const std::string capture = Groups(1);
  conversion.transfer.capturePath = conversion.Write("capture.tmp", capture);
  conversion.transfer.payloadLength = static_cast<int32_t>(capture.size());
  std::vector<std::string> created;
  conversion.files.onCreate = [&created](const std::string& path) { created.push_back(path); };

  kvx::ConvertCapture(1, 0, conversion.ui, conversion.files, conversion.transfer);

  EXPECT_THAT(created, ElementsAre(conversion.SaveFolder() + "//QM-DATA/QM-0001.csv"));
}

TEST(CsvStopTest, AFolderThatCannotBeMadeStopsTheWalk) {
  Conversion conversion(1);
  conversion.files.failCreateFolder = true;
  conversion.Run(Groups(2));
  EXPECT_THAT(conversion.ui.messages, ElementsAre("QM-DATAフォルダの作成に失敗しました。"));
  EXPECT_FALSE(conversion.files.Exists(conversion.OutputFolder()));
}

TEST(CsvStopTest, AFileThatCannotBeCreatedStopsTheWalk) {
  Conversion conversion(1);
  conversion.files.failCreateFile = true;
  conversion.Run(Groups(2));
  EXPECT_THAT(conversion.ui.messages, ElementsAre(kCsvNotCreated));
  EXPECT_THAT(conversion.Files(), IsEmpty());
}

TEST(CsvStopTest, APathLongerThan255BytesIsRefused) {
  // saveFolder + "/QM-DATA/QM-0001.csv" (20 bytes) of exactly 255 and of 256 bytes.
  for (std::size_t length : {255u, 256u}) {
    Conversion conversion(1);
    const std::string base = conversion.SaveFolder() + "/";
    conversion.transfer.saveFolder = base + std::string(length - 20 - base.size(), 'f');
    conversion.files.MakeFolder(conversion.transfer.saveFolder);
    const std::string capture = Groups(2);
    conversion.transfer.capturePath = conversion.Write("capture.tmp", capture);
    conversion.transfer.payloadLength = static_cast<int32_t>(capture.size());
    kvx::ConvertCapture(1, 0, conversion.ui, conversion.files, conversion.transfer);

    const std::string output = conversion.transfer.saveFolder + "/QM-DATA";
    if (length == 255) {
      EXPECT_THAT(conversion.files.Names(output), ElementsAre("QM-0001.csv", "QM-0002.csv"));
      EXPECT_THAT(conversion.ui.messages, IsEmpty());
    } else {
      EXPECT_THAT(conversion.files.Names(output), IsEmpty());
      EXPECT_THAT(conversion.ui.messages, ElementsAre(kCsvNotCreated));
    }
  }
}

TEST(CsvStopTest, AFullDiskLeavesNoTruncatedFile) {
  // Enough samples for the file to be written in several pieces.
  std::string samples;
  for (int i = 0; i < 9000; ++i)
    samples += "00EB";
  const std::string big = HeaderRecord("070315103000", "0100", "00", '0', '0', 9000) + samples;

  Conversion full(1);
  full.files.bytesUntilFull = 1000;
  full.Run(big + Groups(1));
  EXPECT_THAT(full.ui.messages, ElementsAre(kCsvNotCreated));
  EXPECT_THAT(full.Files(), IsEmpty());
  EXPECT_EQ(full.transfer.sampleIndex, 0);

  // Full when a small file is written at its end.
  Conversion small(1);
  small.files.bytesUntilFull = 50;
  small.Run(Groups(2));
  EXPECT_THAT(small.ui.messages, ElementsAre(kCsvNotCreated));
  EXPECT_THAT(small.Files(), IsEmpty());

  // Full in the second group: the first file is complete and stays.
  Conversion later(1);
  later.files.bytesUntilFull = 200;
  later.Run(Groups(1) + big);
  EXPECT_THAT(later.ui.messages, ElementsAre(kCsvNotCreated));
  EXPECT_THAT(later.files.Names(later.OutputFolder()), ElementsAre("QM-0001.csv"));
}

TEST(CsvStopTest, AFailedCloseRemovesTheFileAndStopsTheWalk) {
  Conversion conversion(1);
  conversion.files.failClose = true;
  conversion.Run(Groups(2));
  EXPECT_THAT(conversion.ui.messages, ElementsAre(kCsvNotCreated));
  EXPECT_THAT(conversion.Files(), IsEmpty());
}

TEST(CsvStopTest, AStopWithinALongGroupIsActedOnLongBeforeItsEnd) {
  // 100,000 samples, some 1.7 MB of rows. A stop asked for as the group's file is made ends the
  // walk within a few thousand samples: the file goes, and little of the group was written.
  std::string samples;
  for (int i = 0; i < 100000; ++i)
    samples += "00EB";
  Conversion conversion(1);
  constexpr std::size_t kRoom = std::size_t{1} << 30;  // a disk that never fills, to count bytes
  conversion.files.bytesUntilFull = kRoom;
  conversion.files.onCreate = [&conversion](const std::string&) {
    conversion.ui.stopRequested = true;
  };

  conversion.Run(HeaderRecord("070315103000", "0100", "00", '4', '0', 100000) + samples);

  EXPECT_EQ(conversion.outcome.end, kvx::ConversionEnd::Stopped);
  EXPECT_THAT(conversion.Files(), IsEmpty());
  EXPECT_THAT(conversion.ui.messages, IsEmpty());
  EXPECT_LT(kRoom - *conversion.files.bytesUntilFull, 170000u) << "more than a tenth of the group";
}

}  // namespace
}  // namespace program_testing
