// The CSV files of both instrument kinds: header lines, rows, the computed clock in relative and
// absolute time, the layouts, and what short or odd captures give.
#include <string>

#include "program_test_support.h"
#include "program_texts.h"
#include "system_calls.h"

namespace program_testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kRelative = 0;
constexpr int kAbsolute = 1;

// The rows of a CSV file in UTF-8, without their CR LF, from line `first` (1 = the first line).
std::vector<std::string> Lines(const std::string& csv, std::size_t first = 1) {
  std::string utf8;
  EXPECT_TRUE(kvx::system::Cp932ToUtf8(csv, &utf8));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = utf8.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(utf8.substr(start, end - start));
  }
  EXPECT_EQ(start, utf8.size()) << "text after the last CR LF";
  return std::vector<std::string>(
      lines.begin() + static_cast<long>(std::min(first - 1, lines.size())), lines.end());
}

// Kind-2 samples: a value and its measurement clock, hours, minutes and seconds in hexadecimal.
std::string Kind2Sample(const std::string& value, const std::string& hhmmss) {
  return value + "00" + hhmmss;
}

TEST(CsvWorkedExamplesTest, Kind1RelativeTime) {
  Conversion conversion(1, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0100", "00", '0', '0', 2) + "00EB" + "7FFF");

  EXPECT_EQ(conversion.File("QM-0001.csv"), CsvBytes("ファイルネーム,QM-0001\n"
                                                     "測定開始時間,07年,03月,15日,10時,30分,00秒\n"
                                                     "インターバル,01分00秒\n"
                                                     "サンプリング№,時:分:秒,℃\n"
                                                     "0,      0: 0: 0,     23.5\n"
                                                     "1,      0: 1: 0,     32767\n"));
  EXPECT_THAT(conversion.ui.messages, IsEmpty());
}

TEST(CsvWorkedExamplesTest, Kind1AbsoluteTime) {
  Conversion conversion(1, kAbsolute);
  conversion.Run(HeaderRecord("070315103000", "0100", "00", '0', '0', 2) + "00EB" + "7FFF");

  EXPECT_EQ(conversion.File("QM-0001.csv"), CsvBytes("ファイルネーム,QM-0001\n"
                                                     "測定開始時間,07年,03月,15日,10時,30分,00秒\n"
                                                     "インターバル,01分00秒\n"
                                                     "サンプリングNo.,年/月/日,時:分:秒,℃\n"
                                                     "0,     7/3/15,     10:30: 0,     23.5\n"
                                                     "1,     7/3/15,     10:31: 0,     32767\n"));
}

TEST(CsvWorkedExamplesTest, OnlyDisplayModeOneIsAbsoluteTime) {
  // The dialog's radio buttons give -1 when neither is chosen: that, like any mode but 1, is
  // relative time.
  const std::string capture =
      HeaderRecord("070315103000", "0100", "00", '0', '0', 2) + "00EB" + "7FFF";
  Conversion relative(1, kRelative);
  relative.Run(capture);
  for (int mode : {-1, 2}) {
    Conversion conversion(1, mode);
    conversion.Run(capture);
    EXPECT_EQ(conversion.File("QM-0001.csv"), relative.File("QM-0001.csv"))
        << "display mode " << mode;
  }
}

TEST(CsvWorkedExamplesTest, Kind2LayoutFourIsTheSameInBothModes) {
  const std::string capture = HeaderRecord("070315103000", "0000", "00", '4', '1', 3) +
                              "00EB0001050A" + "7FFF00010514" + "FF9C0001051E";
  const std::string expected = CsvBytes(
      "ファイルネーム,QM-0002\n"
      "測定開始時間,07年,03月,15日,10時,30分,00秒\n"
      "サンプリングNo.,計測時間,°F\n"
      "0,      1: 5:10,     23.5\n"
      "1,      1: 5:20,     32767\n"
      "2,      1: 5:30,     -10.0\n");
  for (int mode : {kRelative, kAbsolute}) {
    Conversion conversion(2, mode);
    conversion.Write("QM-DATA/QM-0001.csv", "earlier");
    conversion.Run(capture);
    EXPECT_EQ(conversion.File("QM-0002.csv"), expected) << "display mode " << mode;
    EXPECT_EQ(conversion.transfer.scaledValue, -10.0);
  }
}

TEST(CsvClockTest, MillisecondIntervalsCarryIntoSeconds) {
  Conversion conversion(1, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0500", "83", '0', '0', 3) + "000100020003");

  EXPECT_THAT(
      Lines(conversion.File("QM-0001.csv"), 3),
      ElementsAre("インターバル,500ミリ秒", "サンプリング№,時:分:秒,℃", "0,      0: 0: 0,     0.1",
                  "1,      0: 0: 0,     0.2", "2,      0: 0: 1,     0.3"));
}

TEST(CsvClockTest, EachCarryIsMadeOncePerSample) {
  // 90 seconds a sample: the seconds carry one minute at a time.
  Conversion seconds(1, kRelative);
  seconds.Run(HeaderRecord("070315103000", "0090", "00", '0', '0', 3) + "000000000000");
  EXPECT_THAT(Lines(seconds.File("QM-0001.csv"), 5),
              ElementsAre("0,      0: 0: 0,     0.0", "1,      0: 1:30,     0.0",
                          "2,      0: 2:60,     0.0"));

  // 2500 ms a sample: the milliseconds carry one second at a time.
  Conversion milliseconds(1, kRelative);
  milliseconds.Run(HeaderRecord("070315103000", "2500", "83", '0', '0', 3) + "000000000000");
  EXPECT_THAT(Lines(milliseconds.File("QM-0001.csv"), 5),
              ElementsAre("0,      0: 0: 0,     0.0", "1,      0: 0: 1,     0.0",
                          "2,      0: 0: 2,     0.0"));
}

TEST(CsvClockTest, AbsoluteTimeKeepsTheMillisecondsOfItsStart) {
  Conversion conversion(1, kAbsolute);
  conversion.Run(HeaderRecord("070315103000", "0500", "83", '0', '0', 3) + "000000000000");
  EXPECT_THAT(
      Lines(conversion.File("QM-0001.csv"), 5),
      ElementsAre("0,     7/3/15,     10:30: 0,     0.0", "1,     7/3/15,     10:30: 0,     0.0",
                  "2,     7/3/15,     10:30: 1,     0.0"));
}

TEST(CsvClockTest, RelativeTimeRollsMinutesIntoHoursAndKeepsCountingHours) {
  Conversion conversion(1, kRelative);
  std::string samples;
  for (int i = 0; i < 51; ++i)
    samples += "0000";
  conversion.Run(HeaderRecord("070315103000", "3000", "00", '0', '0', 51) + samples);

  const std::vector<std::string> rows = Lines(conversion.File("QM-0001.csv"), 5);
  ASSERT_EQ(rows.size(), 51u);
  EXPECT_EQ(rows[1], "1,      0:30: 0,     0.0");
  EXPECT_EQ(rows[2], "2,      1: 0: 0,     0.0");
  EXPECT_EQ(rows[47], "47,     23:30: 0,     0.0");
  EXPECT_EQ(rows[48], "48,     24: 0: 0,     0.0");
  EXPECT_EQ(rows[50], "50,     25: 0: 0,     0.0");
}

TEST(CsvClockTest, AbsoluteTimeRollsOverMonthsLeapYearsAndYears) {
  struct Case {
    const char* start;
    const char* interval;
    const char* secondRow;
  };
  const Case cases[] = {
      {"070228235930", "0030", "1,     7/3/1,      0: 0: 0,     0.0"},
      {"080228235930", "0030", "1,     8/2/29,      0: 0: 0,     0.0"},
      {"000228235930", "0030", "1,     0/2/29,      0: 0: 0,     0.0"},
      {"080229235930", "0030", "1,     8/3/1,      0: 0: 0,     0.0"},
      {"070430235900", "0100", "1,     7/5/1,      0: 0: 0,     0.0"},
      {"070131235900", "0100", "1,     7/2/1,      0: 0: 0,     0.0"},
      {"071231235900", "0100", "1,     8/1/1,      0: 0: 0,     0.0"},
      {"991231235900", "0100", "1,     0/1/1,      0: 0: 0,     0.0"},  // the year after 99
      {"070315235900", "0100", "1,     7/3/16,      0: 0: 0,     0.0"},
  };
  for (const Case& c : cases) {
    Conversion conversion(1, kAbsolute);
    conversion.Run(HeaderRecord(c.start, c.interval, "00", '0', '0', 2) + "00000000");
    const std::vector<std::string> rows = Lines(conversion.File("QM-0001.csv"), 6);
    ASSERT_EQ(rows.size(), 1u) << c.start;
    EXPECT_EQ(rows[0], c.secondRow) << c.start;
  }
}

TEST(CsvClockTest, ALongGroupCountsItsRowsAndItsDaysWithoutASlip) {
  // 150,000 rows a minute apart, from the last minutes of 2007 over the leap day of 2008: rows
  // whose numbers gain a digit, days, months and a year that carry, and a file written in many
  // pieces.
  constexpr std::size_t kRows = 150000;
  std::string capture =
      HeaderRecord("071231235800", "0100", "00", '0', '0', static_cast<int>(kRows));
  for (std::size_t i = 0; i < kRows; ++i)
    capture += i % 2 == 0 ? "00EB" : "FF9C";
  Conversion conversion(1, kAbsolute);
  conversion.Run(capture);
  const std::vector<std::string> rows = Lines(conversion.File("QM-0001.csv"), 5);
  ASSERT_EQ(rows.size(), kRows);
  for (std::size_t i = 0; i < kRows; ++i) {
    const std::string number = std::to_string(i) + ",     ";
    ASSERT_EQ(rows[i].compare(0, number.size(), number), 0) << rows[i];
    const std::string value = i % 2 == 0 ? ",     23.5" : ",     -10.0";
    ASSERT_EQ(rows[i].substr(rows[i].size() - value.size()), value) << rows[i];
  }
  // Row 2 is 2008-01-01 00:00, 1440 rows a day from there.
  EXPECT_EQ(rows[0], "0,     7/12/31,     23:58: 0,     23.5");
  EXPECT_EQ(rows[1], "1,     7/12/31,     23:59: 0,     -10.0");
  EXPECT_EQ(rows[2], "2,     8/1/1,      0: 0: 0,     23.5");
  EXPECT_EQ(rows[9], "9,     8/1/1,      0: 7: 0,     -10.0");
  EXPECT_EQ(rows[10], "10,     8/1/1,      0: 8: 0,     23.5");
  EXPECT_EQ(rows[99], "99,     8/1/1,      1:37: 0,     -10.0");
  EXPECT_EQ(rows[100], "100,     8/1/1,      1:38: 0,     23.5");
  EXPECT_EQ(rows[1441], "1441,     8/1/1,     23:59: 0,     -10.0");
  EXPECT_EQ(rows[1442], "1442,     8/1/2,      0: 0: 0,     23.5");
  EXPECT_EQ(rows[9999], "9999,     8/1/7,     22:37: 0,     -10.0");
  EXPECT_EQ(rows[10000], "10000,     8/1/7,     22:38: 0,     23.5");
  EXPECT_EQ(rows[2 + 31 * 1440], "44642,     8/2/1,      0: 0: 0,     23.5");
  EXPECT_EQ(rows[2 + 59 * 1440], "84962,     8/2/29,      0: 0: 0,     23.5");
  EXPECT_EQ(rows[1 + 60 * 1440], "86401,     8/2/29,     23:59: 0,     -10.0");
  EXPECT_EQ(rows[2 + 60 * 1440], "86402,     8/3/1,      0: 0: 0,     23.5");
  EXPECT_EQ(rows[99999], "99999,     8/3/10,     10:37: 0,     -10.0");
  EXPECT_EQ(rows[100000], "100000,     8/3/10,     10:38: 0,     23.5");
  EXPECT_EQ(rows[kRows - 1], "149999,     8/4/14,      3:57: 0,     -10.0");
}

TEST(CsvClockTest, AStartMonthOutsideTheYearEndsTheConversion) {
  // Month 00: no day carry can be made, and none is tried. Month 13 carries into the next year.
  Conversion zero(1, kAbsolute);
  zero.Run(HeaderRecord("070031235930", "0030", "00", '0', '0', 3) + "000000000000");
  EXPECT_THAT(
      Lines(zero.File("QM-0001.csv"), 5),
      ElementsAre("0,     7/0/31,     23:59:30,     0.0", "1,     7/0/32,      0: 0: 0,     0.0",
                  "2,     7/0/32,      0: 0:30,     0.0"));

  // Month 14 becomes February of the next year, whose 29 days send day 30 into March.
  Conversion fourteen(1, kAbsolute);
  fourteen.Run(HeaderRecord("071430120000", "0100", "00", '0', '0', 1) + "0000");
  EXPECT_THAT(Lines(fourteen.File("QM-0001.csv"), 5),
              ElementsAre("0,     8/3/1,     12: 0: 0,     0.0"));

  // The days of the month of an earlier group carry over to a group of month 00.
  Conversion later(1, kAbsolute);
  later.Run(HeaderRecord("070115120000", "0100", "00", '0', '0', 1) + "0000" +
            HeaderRecord("070031235930", "0030", "00", '0', '0', 2) + "00000000");
  EXPECT_THAT(
      Lines(later.File("QM-0002.csv"), 5),
      ElementsAre("0,     7/0/31,     23:59:30,     0.0", "1,     7/1/1,      0: 0: 0,     0.0"));

  Conversion thirteen(1, kAbsolute);
  thirteen.Run(HeaderRecord("071331235930", "0030", "00", '0', '0', 2) + "00000000");
  EXPECT_THAT(
      Lines(thirteen.File("QM-0001.csv"), 5),
      ElementsAre("0,     8/1/31,     23:59:30,     0.0", "1,     8/2/1,      0: 0: 0,     0.0"));
}

TEST(CsvRowsTest, SentinelsAndValuesInEveryLayout) {
  const std::string samples =
      "7FFF8001"
      "7fff"
      "8002"
      "FF9C";
  Conversion timed(1, kRelative);
  timed.Run(HeaderRecord("070315103000", "0010", "00", '0', '0', 5) + samples);
  EXPECT_THAT(Lines(timed.File("QM-0001.csv"), 5),
              ElementsAre("0,      0: 0: 0,     32767", "1,      0: 0:10,     -32767",
                          "2,      0: 0:20,     3276.7", "3,      0: 0:30,     -3276.6",
                          "4,      0: 0:40,     -10.0"));

  for (int mode : {kRelative, kAbsolute}) {
    Conversion untimed(1, mode);
    untimed.Run(HeaderRecord("070315103000", "0010", "00", '4', '0', 5) + samples);
    EXPECT_EQ(untimed.File("QM-0001.csv"),
              CsvBytes("ファイルネーム,QM-0001\n"
                       "測定開始時間,07年,03月,15日,10時,30分,00秒\n"
                       "サンプリング№,℃\n"
                       "0,     32767\n1,     -32767\n2,     3276.7\n3,     -3276.6\n"
                       "4,     -10.0\n"))
        << "display mode " << mode;
  }
}

TEST(CsvRowsTest, AnUnknownLayoutWritesNoRowsButConsumesItsSamples) {
  for (int kind : {1, 2}) {
    const std::string sample = kind == 1 ? "00EB" : Kind2Sample("00EB", "01050A");
    Conversion conversion(kind, kRelative);
    // NOLINTBEGIN(performance-inefficient-string-concatenation): a test's input, made twice.
    conversion.Run(HeaderRecord("070315103000", "0100", "00", '7', '0', 2) + sample + sample +
                   HeaderRecord("070316103000", "0100", "00", '4', '0', 1) + sample);
    // NOLINTEND(performance-inefficient-string-concatenation)

    EXPECT_EQ(conversion.File("QM-0001.csv"),
              CsvBytes("ファイルネーム,QM-0001\n"
                       "測定開始時間,07年,03月,15日,10時,30分,00秒\n"))
        << "kind " << kind;
    EXPECT_EQ(Lines(conversion.File("QM-0002.csv"), 2).front(),
              "測定開始時間,07年,03月,16日,10時,30分,00秒");
  }
}

TEST(CsvRowsTest, OddUnitAndIntervalCodesLeaveTheirFieldsEmpty) {
  Conversion conversion(1, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0100", "99", '0', '9', 2) + "00EB00EC");

  EXPECT_THAT(Lines(conversion.File("QM-0001.csv"), 3),
              ElementsAre("インターバル,", "サンプリング№,時:分:秒,", "0,      0: 0: 0,     23.5",
                          "1,      0: 0: 0,     23.6"));
}

TEST(CsvKind2Test, LayoutZeroGivesTheSameFileAsKind1) {
  const std::string header = HeaderRecord("071231235930", "0030", "00", '0', '0', 3);
  for (int mode : {kRelative, kAbsolute}) {
    Conversion kind1(1, mode);
    kind1.Run(header + "00EB" + "7FFF" + "FF9C");
    Conversion kind2(2, mode);
    kind2.Run(header + Kind2Sample("00EB", "3B3B3B") + Kind2Sample("7FFF", "010203") +
              Kind2Sample("FF9C", "FFFFFF"));
    EXPECT_EQ(kind2.File("QM-0001.csv"), kind1.File("QM-0001.csv")) << "display mode " << mode;
  }
}

TEST(CsvKind2Test, TheMeasurementClockIsReadInHexadecimal) {
  Conversion conversion(2, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0100", "00", '4', '0', 4) +
                 Kind2Sample("00EB", "123B3B") + Kind2Sample("00EB", "FF0000") +
                 Kind2Sample("00EB", "000005") + Kind2Sample("7fff", "0A0A0A"));

  EXPECT_THAT(Lines(conversion.File("QM-0001.csv"), 4),
              ElementsAre("0,     18:59:59,     23.5", "1,     255: 0: 0,     23.5",
                          "2,      0: 0: 5,     23.5", "3,     10:10:10,     3276.7"));
}

TEST(CsvShortCaptureTest, MissingSamplesStillGiveTheirRows) {
  Conversion kind1(1, kRelative);
  kind1.Run(HeaderRecord("070315103000", "0100", "00", '0', '0', 3) + "00EB");
  EXPECT_THAT(Lines(kind1.File("QM-0001.csv"), 5),
              ElementsAre("0,      0: 0: 0,     23.5", "1,      0: 1: 0,     0.0",
                          "2,      0: 2: 0,     0.0"));
  EXPECT_EQ(kind1.transfer.sampleIndex, 0);

  // The last sample is cut short: its clock fields come from its last four characters.
  Conversion kind2(2, kRelative);
  kind2.Run(HeaderRecord("070315103000", "0100", "00", '4', '0', 3) +
            Kind2Sample("00EB", "01050A") + "00EB0102");
  EXPECT_THAT(Lines(kind2.File("QM-0001.csv"), 4),
              ElementsAre("0,      1: 5:10,     23.5", "1,      2: 1: 2,     23.5",
                          "2,      0: 0: 0,     0.0"));
}

TEST(CsvShortCaptureTest, ACountOfZeroGivesHeaderLinesOnlyAndTheWalkGoesOn) {
  Conversion conversion(2, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0000", "00", '4', '0', 0) +
                 HeaderRecord("070316103000", "0000", "00", '4', '0', 1) +
                 Kind2Sample("00EB", "000001"));

  EXPECT_EQ(conversion.File("QM-0001.csv"), CsvBytes("ファイルネーム,QM-0001\n"
                                                     "測定開始時間,07年,03月,15日,10時,30分,00秒\n"
                                                     "サンプリングNo.,計測時間,℃\n"));
  EXPECT_THAT(Lines(conversion.File("QM-0002.csv"), 4), ElementsAre("0,      0: 0: 1,     23.5"));
}

TEST(CsvShortCaptureTest, ANegativeCountEndsItsGroupAtOnce) {
  std::string negative = HeaderRecord("070315103000", "0100", "00", '0', '0', 0);
  negative.replace(44, 6, "-00001");
  Conversion conversion(1, kRelative);
  conversion.Run(negative + HeaderRecord("070316103000", "0100", "00", '4', '0', 1) + "00EB");

  EXPECT_EQ(Lines(conversion.File("QM-0001.csv")).size(), 4u);
  EXPECT_THAT(Lines(conversion.File("QM-0002.csv"), 4), ElementsAre("0,     23.5"));
}

TEST(CsvShortCaptureTest, AHeaderShorterThanSixtyCharactersStillGetsItsFile) {
  Conversion conversion(1, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0100", "00", '0', '0', 1) + "00EB" + "0001070316");

  EXPECT_EQ(conversion.Files().size(), 2u);
  EXPECT_EQ(conversion.File("QM-0002.csv"), CsvBytes("ファイルネーム,QM-0002\n"
                                                     "測定開始時間,07年,03月,16日,時,分,秒\n"));
}

TEST(CsvShortCaptureTest, GroupsThatAreNotTheInstrumentsOwnDataAreNoted) {
  const std::string good = HeaderRecord("070315103000", "0000", "00", '4', '0', 2) + "00EB00EB";
  Conversion conversion(1, kRelative);
  conversion.Run(good + HeaderRecord("070315103000", "0000", "00", '4', '0', 2) + "00G10002" +
                 HeaderRecord("070315103000", "0000", "00", '4', '0', 3) + "00EB0");
  const std::vector<kvx::GroupNotice>& notices = conversion.outcome.notices;
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].group, 2);
  EXPECT_EQ(notices[0].file, "QM-0002.csv");
  EXPECT_TRUE(notices[0].hasNonHexadecimal);
  EXPECT_EQ(notices[0].nonHexadecimal, 68u + 60u + 2u);
  EXPECT_EQ(notices[0].presentSamples, notices[0].declaredSamples);
  EXPECT_EQ(notices[1].group, 3);
  EXPECT_EQ(notices[1].declaredSamples, 3);
  EXPECT_EQ(notices[1].presentSamples, 1);  // and a piece of one
  EXPECT_FALSE(notices[1].hasNonHexadecimal);
  EXPECT_EQ(conversion.outcome.end, kvx::ConversionEnd::Converted);
  // Every group and the samples it declares, missing ones included.
  EXPECT_EQ(conversion.outcome.groups, 3);
  EXPECT_EQ(conversion.outcome.samples, 7);

  Conversion cut(1, kRelative);
  cut.Run(good + "0001070315");
  ASSERT_EQ(cut.outcome.notices.size(), 1u);
  EXPECT_EQ(cut.outcome.notices[0].headerLength, 10u);

  Conversion clean(2, kRelative);
  clean.Run(HeaderRecord("070315103000", "0000", "00", '4', '0', 1) + "00EB00abcdef");
  EXPECT_THAT(clean.outcome.notices, IsEmpty());
}

TEST(CsvGroupsTest, EachGroupStartsItsRowsAndClockAfresh) {
  Conversion conversion(1, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0100", "00", '0', '0', 2) + "00EB00EC" +
                 HeaderRecord("070315113000", "0030", "00", '0', '1', 2) + "00ED00EE");

  EXPECT_THAT(Lines(conversion.File("QM-0002.csv")),
              ElementsAre("ファイルネーム,QM-0002", "測定開始時間,07年,03月,15日,11時,30分,00秒",
                          "インターバル,00分30秒", "サンプリング№,時:分:秒,°F",
                          "0,      0: 0: 0,     23.7", "1,      0: 0:30,     23.8"));
  EXPECT_EQ(conversion.transfer.lastFileNumber, 2);
  EXPECT_EQ(conversion.transfer.sampleIndex, 0);
  EXPECT_EQ(conversion.transfer.sampleCount, 2);
}

TEST(CsvCaptureTest, IsReadWholeLineBreaksAndAll) {
  // A line break inside a sample is two characters of the capture like any others.
  Conversion conversion(1, kRelative);
  conversion.Run(HeaderRecord("070315103000", "0100", "00", '0', '0', 2) + "0\r\n1" + "00EB" +
                 HeaderRecord("070316103000", "0100", "00", '4', '0', 1) + "00EC");

  EXPECT_THAT(Lines(conversion.File("QM-0001.csv"), 5),
              ElementsAre("0,      0: 0: 0,     0.0", "1,      0: 1: 0,     23.5"));
  EXPECT_THAT(Lines(conversion.File("QM-0002.csv"), 4), ElementsAre("0,     23.6"));
}

TEST(CsvCaptureTest, AnEmptyCaptureGivesNoFileAndNoMessage) {
  Conversion conversion(1, kRelative);
  conversion.Run("");
  EXPECT_FALSE(conversion.files.Exists(conversion.OutputFolder()));
  EXPECT_THAT(conversion.ui.messages, IsEmpty());
}

TEST(CsvCaptureTest, AnUnreadableCaptureEmptiesTheStatusLine) {
  RecordingOperator ui;
  MemoryFileSystem files;
  files.MakeFolder("/save");
  TransferState transfer;
  transfer.saveFolder = "/save";
  transfer.capturePath = "/save/gone.tmp";
  transfer.payloadLength = 100;
  NoInstrumentLink link;
  TransferEngine engine(ui, ui, files, transfer, link);
  ui.statusLine = "x";

  engine.ConvertToCsvKind1();

  EXPECT_THAT(ui.messages, ElementsAre("エラー\r\nファイルが作成できません。\n"));
  EXPECT_EQ(ui.statusLine, "");
  EXPECT_THAT(ui.statusLines, ElementsAre(""));
  EXPECT_THAT(files.Names("/save"), IsEmpty());
}

TEST(CsvCaptureDeathTest, NoWorkingBufferGivesNoMemoryAndWritesNothing) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The child process starts with an allocator that refuses blocks of more than 1 MiB.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("ASAN_OPTIONS", "allocator_may_return_null=1:max_allocation_size_mb=1", 1);
  setenv("TSAN_OPTIONS", "allocator_may_return_null=1:max_allocation_size_mb=1", 1);
  TransferState transfer;
  transfer.capturePath = "/nonexistent";
  transfer.payloadLength = 8 << 20;
  HeadlessOperator ui("kvx");
  MemoryFileSystem files;
  // The conversion writes nothing and says nothing: its front end does.
  const auto convert = [&] {
    const kvx::ConversionOutcome outcome = kvx::ConvertCapture(1, 0, ui, files, transfer);
    std::exit(outcome.end == kvx::ConversionEnd::NoMemory && files.OpenFiles() == 0 ? 7 : 0);
  };
  EXPECT_EXIT(convert(), ::testing::ExitedWithCode(7),
              ::testing::Not(::testing::HasSubstr("kvx:")));
  unsetenv("ASAN_OPTIONS");
  unsetenv("TSAN_OPTIONS");
#else
  GTEST_SKIP() << "needs a sanitizer's allocator to refuse the working buffer";
#endif
}

TEST(ProgramTextsTest, AreTheCodePage932FormsOfTheirWords) {
  namespace t = kvx::texts;
  struct Case {
    std::string_view bytes;
    const char* utf8;
  };
  const Case cases[] = {
      {t::kFileNameLabel, "ファイルネーム,"},
      {t::kStartTimeLabel, "測定開始時間,"},
      {t::kYearSuffix, "年,"},
      {t::kMonthSuffix, "月,"},
      {t::kDaySuffix, "日,"},
      {t::kHourSuffix, "時,"},
      {t::kMinuteSuffix, "分,"},
      {t::kSecondSuffix, "秒"},
      {t::kIntervalLabel, "インターバル,"},
      {t::kRelativeTimeColumns, "サンプリング№,時:分:秒,"},
      {t::kAbsoluteTimeColumns, "サンプリングNo.,年/月/日,時:分:秒,"},
      {t::kValueColumns, "サンプリング№,"},
      {t::kMeasurementTimeColumns, "サンプリングNo.,計測時間,"},
      {t::kMilliseconds, "ミリ秒"},
      {t::kMinutes, "分"},
      {t::kSeconds, "秒"},
      {t::kCelsius, "℃"},
      {t::kFahrenheit, "°F"},
      {t::kNoMemory, "メモリが確保できません\n"},
      {t::kCaptureNotOpened, "エラー\r\nファイルが作成できません。\n"},
      {t::kPastLastFileNumber,
       "ファイル名が“QM-9999.csv”を超えます。\r\nファイル名またはフォルダ名を変更して下さい。\n"},
      {t::kFolderNotCreated, "QM-DATAフォルダの作成に失敗しました。"},
      {t::kCsvNotCreated,
       "エラー\r\nファイルが作成できません。\r\nQM-DATAフォルダを確認して下さい。\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(std::string(c.bytes), Cp932(c.utf8)) << c.utf8;
  // Three bytes that a converter might map otherwise: ℃ 81 8E, ° 81 8B, № 87 82.
  EXPECT_EQ(std::string(t::kCelsius), "\x81\x8e");
  EXPECT_EQ(std::string(t::kFahrenheit),
            "\x81\x8b"
            "F");
  EXPECT_EQ(std::string(t::kValueColumns).substr(12, 2), "\x87\x82");
}

}  // namespace
}  // namespace program_testing
