// kvx-chart's core: the CSV files that the conversion writes read back into their groups, files
// that are not such CSV files turned away with a reason, and the SVG drawn from a group.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "csv_reading.h"
#include "program_test_support.h"
#include "svg_chart.h"

namespace program_testing {
namespace {

using chart::Group;
using chart::Reading;
using chart::ReadKvxCsv;
using chart::TimeForm;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr int kRelative = 0;
constexpr int kAbsolute = 1;

// The group of the first CSV file that the conversion of `capture` writes.
Group Converted(int kind, int displayMode, const std::string& capture) {
  Conversion conversion(kind, displayMode);
  conversion.Run(capture);
  Group group;
  std::string error;
  EXPECT_EQ(conversion.Files().size(), 1u);
  const std::string csv = conversion.Files().begin()->second;
  EXPECT_TRUE(ReadKvxCsv(csv, &group, &error)) << error;
  return group;
}

std::vector<Reading::Kind> Kinds(const Group& group) {
  std::vector<Reading::Kind> kinds;
  for (const Reading& reading : group.readings)
    kinds.push_back(reading.kind);
  return kinds;
}

std::vector<int64_t> Tenths(const Group& group) {
  std::vector<int64_t> tenths;
  for (const Reading& reading : group.readings)
    tenths.push_back(reading.tenths);
  return tenths;
}

std::vector<int64_t> Seconds(const Group& group) {
  std::vector<int64_t> seconds;
  for (const Reading& reading : group.readings)
    seconds.push_back(reading.seconds);
  return seconds;
}

TEST(ChartCsvReadingTest, ReadsEveryLayoutThatTheConversionWrites) {
  // Kind 1, times since the start: 23.5, over range, -10.0, under range.
  const std::string timed =
      HeaderRecord("070315103000", "0100", "00", '0', '0', 4) + "00EB7FFFFF9C8001";
  Group relative = Converted(1, kRelative, timed);
  EXPECT_EQ(relative.title, "QM-0001");
  EXPECT_EQ(relative.start, "07/03/15 10:30:00");
  EXPECT_EQ(relative.interval, "01分00秒");
  EXPECT_EQ(relative.intervalMilliseconds, 60000);
  EXPECT_EQ(relative.unit, "℃");
  EXPECT_EQ(relative.form, TimeForm::Relative);
  EXPECT_THAT(Kinds(relative), ElementsAre(Reading::Measured, Reading::OverRange, Reading::Measured,
                                           Reading::UnderRange));
  EXPECT_THAT(Tenths(relative), ElementsAre(235, 0, -100, 0));
  EXPECT_THAT(Seconds(relative), ElementsAre(0, 60, 120, 180));

  // The same in calendar times: seconds since 2000-01-01.
  Group calendar = Converted(1, kAbsolute, timed);
  EXPECT_EQ(calendar.form, TimeForm::Calendar);
  const int64_t start = (int64_t{2630} * 86400) + 37800;  // 2007-03-15 10:30:00
  EXPECT_EQ(calendar.startSeconds, start);
  EXPECT_THAT(Seconds(calendar), ElementsAre(start, start + 60, start + 120, start + 180));

  // Kind 1 without times, in Fahrenheit, and an interval in milliseconds.
  Group untimed =
      Converted(1, kRelative, HeaderRecord("070315103000", "0500", "83", '4', '1', 2) + "00EB0001");
  EXPECT_EQ(untimed.form, TimeForm::None);
  EXPECT_EQ(untimed.unit, "°F");
  EXPECT_EQ(untimed.interval, "");
  EXPECT_THAT(Tenths(untimed), ElementsAre(235, 1));
  Group milliseconds = Converted(
      1, kRelative, HeaderRecord("070315103000", "0500", "83", '0', '0', 3) + "000100020003");
  EXPECT_EQ(milliseconds.interval, "500ミリ秒");
  EXPECT_EQ(milliseconds.intervalMilliseconds, 500);
  EXPECT_THAT(Seconds(milliseconds), ElementsAre(0, 0, 1));

  // Kind 2 with the instrument's own clock: 1:05:10, 1:05:20, 1:05:30.
  Group clock = Converted(2, kAbsolute,
                          HeaderRecord("070315103000", "0000", "00", '4', '1', 3) + "00EB0001050A" +
                              "7FFF00010514" + "FF9C0001051E");
  EXPECT_EQ(clock.form, TimeForm::MeasurementClock);
  EXPECT_THAT(Seconds(clock), ElementsAre(3910, 3920, 3930));
  EXPECT_THAT(Kinds(clock), ElementsAre(Reading::Measured, Reading::OverRange, Reading::Measured));

  // A layout of neither kind: the file has its two header lines and nothing else.
  Group other =
      Converted(1, kRelative, HeaderRecord("070315103000", "0100", "00", '7', '0', 2) + "00EB00EB");
  EXPECT_EQ(other.title, "QM-0001");
  EXPECT_TRUE(other.readings.empty());
}

TEST(ChartCsvReadingTest, CalendarTimesRunOnOverTheYearsEnd) {
  const Group group = Converted(
      1, kAbsolute, HeaderRecord("071231235000", "1000", "00", '0', '0', 3) + "00EB00EB00EB");
  const int64_t newYear = int64_t{2922} * 86400;  // 2008-01-01
  EXPECT_THAT(Seconds(group), ElementsAre(newYear - 600, newYear, newYear + 600));
}

TEST(ChartCsvReadingTest, TurnsAwayWhatIsNoKvx300CsvFileWithAOneLineReason) {
  const std::string good = CsvBytes(
      "ファイルネーム,QM-0001\n測定開始時間,07年,03月,15日,10時,30分,00秒\n"
      "インターバル,01分00秒\nサンプリング№,時:分:秒,℃\n0,      0: 0: 0,     23.5\n");
  Group group;
  std::string error;
  ASSERT_TRUE(ReadKvxCsv(good, &group, &error)) << error;

  const struct {
    std::string what;
    std::string bytes;
    std::string reason;
  } kForeign[] = {
      {"an empty file", "", "empty"},
      {"the same text in UTF-8", "ファイルネーム,QM-0001\r\n", "UTF-8"},
      {"UTF-8 with a byte order mark", "\xef\xbb\xbfファイルネーム,QM-0001\r\n", "UTF-8"},
      {"bytes that are no code page 932", good + "\x80\xff\r\n", "code page 932"},
      {"a file cut in the middle of a row", good.substr(0, good.size() - 4), "cut short"},
      {"a file cut after its first line", good.substr(0, good.find('\n') + 1), "start time"},
      {"a file that ends before its column titles",
       good.substr(0, good.find(Cp932("サンプリング"))), "column titles"},
      {"another program's CSV file", "time,value\r\n10:00,23.5\r\n", "ファイルネーム"},
      {"a binary file", std::string("\x89PNG\r\n\x1a\n\0\0", 10), "NUL"},
      {"a row with another number", good + "2,      0: 2: 0,     23.5\r\n", "not 1"},
      {"a row with a value that is no reading", good + "1,      0: 1: 0,     warm\r\n", "value"},
      {"a row with a whole number", good + "1,      0: 1: 0,     23\r\n", "value"},
      {"a row of another layout", good + "1,     7/3/15,      0: 1: 0,     23.5\r\n", "fields"},
      {"a row whose time is none", good + "1,      0-1-0,     23.5\r\n", "time"},
      {"column titles of another layout",
       CsvBytes("ファイルネーム,QM-0001\n測定開始時間,07年,03月,15日,10時,30分,00秒\n"
                "インターバル,01分00秒\nサンプリング№,℃\n0,     23.5\n"),
       "column titles"},
  };
  for (const auto& foreign : kForeign) {
    error.clear();
    EXPECT_FALSE(ReadKvxCsv(foreign.bytes, &group, &error)) << foreign.what;
    EXPECT_THAT(error, HasSubstr(foreign.reason)) << foreign.what;
    EXPECT_EQ(error.find('\n'), std::string::npos) << foreign.what;
  }
}

// The SVG's elements of one class: their attribute `name`, or their text when `name` is empty.
std::vector<std::string> OfClass(const std::string& svg, const std::string& cssClass,
                                 const std::string& name = "") {
  std::vector<std::string> found;
  const std::string mark = "class=\"" + cssClass + "\"";
  for (std::size_t at = svg.find(mark); at != std::string::npos; at = svg.find(mark, at + 1)) {
    const std::size_t end = svg.find('>', at);
    if (name.empty()) {
      found.push_back(svg.substr(end + 1, svg.find('<', end) - end - 1));
    } else {
      const std::size_t value = svg.find(name + "=\"", at) + name.size() + 2;
      found.push_back(svg.substr(value, svg.find('"', value) - value));
    }
  }
  return found;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos;
       at = text.find(separator, begin)) {
    parts.push_back(text.substr(begin, at - begin));
    begin = at + 1;
  }
  parts.push_back(text.substr(begin));
  return parts;
}

double X(const std::string& point) {
  return std::stod(Split(point, ',')[0]);
}
double Y(const std::string& point) {
  return std::stod(Split(point, ',')[1]);
}

// Ten readings a minute apart from 20.0 to 25.0, the fourth over range, the eighth under.
Group KnownDay() {
  return Converted(1, kRelative,
                   HeaderRecord("070315103000", "0100", "00", '0', '0', 10) + "00C8" + "00D2" +
                       "00DC" + "7FFF" + "00E6" + "00F0" + "00FA" + "8001" + "00E6" + "00DC");
}

TEST(ChartSvgTest, DrawsTheReadingsWithGapsAndMarksWhereTheyWereOutOfRange) {
  const std::string svg = chart::DrawCharts({KnownDay()});
  const std::vector<std::string> lines = OfClass(svg, "readings", "points");
  ASSERT_EQ(lines.size(), 3u) << "the line breaks at each reading out of range";
  const std::vector<std::string> first = Split(lines[0], ' ');
  const std::vector<std::string> second = Split(lines[1], ' ');
  const std::vector<std::string> third = Split(lines[2], ' ');
  ASSERT_EQ(first.size(), 3u);
  ASSERT_EQ(second.size(), 3u);
  ASSERT_EQ(third.size(), 2u);

  // Evenly spaced from edge to edge of the plot (84-916, the readings 12 in from each side),
  // 20.0 at its bottom (372) and 25.0 at its top (92).
  const double step = (916.0 - 84 - 24) / 9;
  EXPECT_DOUBLE_EQ(X(first[0]), 96);
  EXPECT_NEAR(X(second[0]), 96 + 4 * step, 0.05);
  EXPECT_NEAR(X(third[1]), 904, 0.05);
  EXPECT_DOUBLE_EQ(Y(first[0]), 372);
  EXPECT_DOUBLE_EQ(Y(second[2]), 92);
  EXPECT_NEAR(Y(first[1]), 372 - 280.0 / 5, 0.05);

  // One mark each, where the reading would have been: at the top for 32767, the bottom for
  // -32767.
  const std::vector<std::string> over = OfClass(svg, "over-range", "d");
  const std::vector<std::string> under = OfClass(svg, "under-range", "d");
  ASSERT_EQ(over.size(), 1u);
  ASSERT_EQ(under.size(), 1u);
  EXPECT_NEAR(std::stod(over[0].substr(1)), 96 + 3 * step, 0.05);
  EXPECT_THAT(over[0], HasSubstr(" 94 "));
  EXPECT_NEAR(std::stod(under[0].substr(1)), 96 + 7 * step, 0.05);
  EXPECT_THAT(under[0], HasSubstr(" 370 "));
  EXPECT_THAT(svg, HasSubstr("№3: 32767"));
  EXPECT_THAT(svg, HasSubstr("№7: -32767"));
}

TEST(ChartSvgTest, LabelsTheAxesAndTitlesTheChart) {
  const std::string svg = chart::DrawCharts({KnownDay()});
  // Nine minutes, every two minutes; 20-25 ℃ by whole degrees.
  EXPECT_THAT(OfClass(svg, "time-label"), ElementsAre("0:00", "0:02", "0:04", "0:06", "0:08"));
  EXPECT_THAT(OfClass(svg, "value-label"), ElementsAre("20", "21", "22", "23", "24", "25"));
  EXPECT_THAT(OfClass(svg, "unit"), ElementsAre("℃"));
  EXPECT_THAT(OfClass(svg, "axis-title"), ElementsAre("経過時間 (時:分)"));
  EXPECT_THAT(OfClass(svg, "title"), ElementsAre("QM-0001"));
  EXPECT_THAT(OfClass(svg, "subtitle"),
              ElementsAre("測定開始 07/03/15 10:30:00　インターバル 01分00秒"));
  // Of the eight measured readings: 20.0 to 25.0, mean 180.0 / 8.
  EXPECT_THAT(OfClass(svg, "statistics"), ElementsAre("最小 20.0 ℃　最大 25.0 ℃　平均 22.50 ℃"));
  EXPECT_THAT(OfClass(svg, "measured-count"), ElementsAre("測定値 8"));
  EXPECT_THAT(OfClass(svg, "over-range-count"), ElementsAre("▲ 範囲超過 1"));
  EXPECT_THAT(OfClass(svg, "under-range-count"), ElementsAre("▼ 範囲未満 1"));
}

TEST(ChartSvgTest, PlacesCalendarClockAndUntimedReadingsOnTheirOwnAxes) {
  // Calendar times over midnight, every half hour: times of day, with the date under the first and
  // at the change.
  const std::string calendar =
      chart::DrawCharts({Converted(1, kAbsolute,
                                   HeaderRecord("071231220000", "3000", "00", '0', '0', 7) +
                                       "00EB00EB00EB" + "00EB00EB00EB00EB")});
  EXPECT_THAT(OfClass(calendar, "time-label"),
              ElementsAre("22:00", "22:30", "23:00", "23:30", "00:00", "00:30", "01:00"));
  EXPECT_THAT(OfClass(calendar, "date-label"), ElementsAre("07/12/31", "08/01/01"));
  EXPECT_THAT(OfClass(calendar, "axis-title"), ElementsAre("日時"));
  // A reading that stays at one value still gets a range around it.
  EXPECT_THAT(OfClass(calendar, "value-label"), ElementsAre("23.4", "23.5", "23.6"));

  // Half-second readings are half a second apart, though their rows give whole seconds.
  const std::string halves = chart::DrawCharts({Converted(
      1, kRelative, HeaderRecord("070315103000", "0500", "83", '0', '0', 3) + "000100020003")});
  const std::vector<std::string> lines = OfClass(halves, "readings", "points");
  ASSERT_EQ(lines.size(), 1u);
  const std::vector<std::string> points = Split(lines[0], ' ');
  ASSERT_EQ(points.size(), 3u);
  EXPECT_NEAR(X(points[1]) - X(points[0]), X(points[2]) - X(points[1]), 0.1);
  EXPECT_THAT(OfClass(halves, "time-label"), ElementsAre("0:00:00", "0:00:01"));

  // The instrument's clock, in Fahrenheit.
  const std::string clock =
      chart::DrawCharts({Converted(2, kRelative,
                                   HeaderRecord("070315103000", "0000", "00", '4', '1', 3) +
                                       "00EB0001050A" + "00EC00010514" + "00ED0001051E")});
  EXPECT_THAT(OfClass(clock, "time-label"),
              ElementsAre("1:05:10", "1:05:15", "1:05:20", "1:05:25", "1:05:30"));
  EXPECT_THAT(OfClass(clock, "axis-title"), ElementsAre("計測時間 (時:分:秒)"));
  EXPECT_THAT(OfClass(clock, "unit"), ElementsAre("°F"));

  // No times: by sample number.
  const std::string untimed = chart::DrawCharts(
      {Converted(1, kRelative,
                 HeaderRecord("070315103000", "0100", "00", '4', '0', 12) + std::string(48, '0'))});
  EXPECT_THAT(OfClass(untimed, "time-label"), ElementsAre("0", "2", "4", "6", "8", "10"));
  EXPECT_THAT(OfClass(untimed, "axis-title"), ElementsAre("サンプリング№"));
}

TEST(ChartSvgTest, AGroupWithoutMeasuredReadingsHasMarksAndNoLine) {
  const std::string svg = chart::DrawCharts({Converted(
      1, kRelative, HeaderRecord("070315103000", "0100", "00", '0', '0', 3) + "7FFF80017FFF")});
  EXPECT_TRUE(OfClass(svg, "readings").empty());
  EXPECT_EQ(OfClass(svg, "over-range", "d").size(), 2u);
  EXPECT_EQ(OfClass(svg, "under-range", "d").size(), 1u);
  EXPECT_THAT(OfClass(svg, "statistics"), ElementsAre("測定値なし"));
}

TEST(ChartSvgTest, OnePageHoldsEveryChartAndEscapesTheirTexts) {
  Group odd = KnownDay();
  odd.title = "<a & b>";
  const std::string svg = chart::DrawCharts({KnownDay(), odd});
  EXPECT_THAT(svg, HasSubstr("viewBox=\"0 0 960 880\""));
  EXPECT_EQ(OfClass(svg, "chart").size(), 2u);
  EXPECT_THAT(OfClass(svg, "title"), ElementsAre("QM-0001", "&lt;a &amp; b&gt;"));
  const std::vector<std::string> lines = OfClass(svg, "readings", "points");
  ASSERT_EQ(lines.size(), 6u);
  // The second chart lies below the first.
  EXPECT_DOUBLE_EQ(Y(Split(lines[3], ' ')[0]), 372 + 440);
}

}  // namespace
}  // namespace program_testing
