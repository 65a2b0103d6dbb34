#include "csv_reading.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "csv_layout.h"
#include "program_texts.h"
#include "system_calls.h"

namespace chart {

namespace {

// The program's header texts, in UTF-8 as the reader compares them (it reads a file once it is
// in UTF-8).
struct Labels {
  std::string fileName, startTime, interval, relativeColumns, calendarColumns, valueColumns,
      measurementColumns, milliseconds, minutes, seconds;
};

std::string Utf8(std::string_view cp932) {
  std::string utf8;
  kvx::system::Cp932ToUtf8(std::string(cp932), &utf8);
  return utf8;
}

const Labels& CsvLabels() {
  namespace texts = kvx::texts;
  static const Labels kLabels = {Utf8(texts::kFileNameLabel),
                                 Utf8(texts::kStartTimeLabel),
                                 Utf8(texts::kIntervalLabel),
                                 Utf8(texts::kRelativeTimeColumns),
                                 Utf8(texts::kAbsoluteTimeColumns),
                                 Utf8(texts::kValueColumns),
                                 Utf8(texts::kMeasurementTimeColumns),
                                 Utf8(texts::kMilliseconds),
                                 Utf8(texts::kMinutes),
                                 Utf8(texts::kSeconds)};
  return kLabels;
}

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kLargestNumber = 1000000000000;  // bounds every field read, so sums stay small

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ')
    text.remove_suffix(1);
  return text;
}

// A decimal integer with an optional minus sign; false for anything else or a number too large.
bool ReadInteger(std::string_view text, int64_t* value) {
  text = Trimmed(text);
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  int64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
    if (result > kLargestNumber) return false;
  }
  *value = negative ? -result : result;
  return true;
}

// Splits `text` at every `separator`.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// "h:m:s", each part possibly padded with spaces, as seconds.
bool ReadClock(std::string_view text, int64_t* seconds) {
  const std::vector<std::string_view> parts = Split(text, ':');
  int64_t h = 0;
  int64_t m = 0;
  int64_t s = 0;
  if (parts.size() != 3 || !ReadInteger(parts[0], &h) || !ReadInteger(parts[1], &m) ||
      !ReadInteger(parts[2], &s)) {
    return false;
  }
  *seconds = h * 3600 + m * 60 + s;
  return true;
}

// Days from 2000-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFrom2000(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  constexpr int64_t kDaysTo2000 = 730425;  // from 0000-03-01
  return era * 146097 + dayOfEra - kDaysTo2000;
}

// "yy/m/d" (two-digit years are 2000-2099) as seconds since 2000-01-01.
bool ReadDate(std::string_view text, int64_t* seconds) {
  const std::vector<std::string_view> parts = Split(text, '/');
  int64_t y = 0;
  int64_t m = 0;
  int64_t d = 0;
  if (parts.size() != 3 || !ReadInteger(parts[0], &y) || !ReadInteger(parts[1], &m) ||
      !ReadInteger(parts[2], &d) || y < 0 || y > 99 || m < 1 || m > 12 || d < 1 || d > 31) {
    return false;
  }
  *seconds = DaysFrom2000(2000 + y, m, d) * kSecondsPerDay;
  return true;
}

// A value as the program writes it: tenths with one decimal, or a marker of a reading out of
// range.
bool ReadValue(std::string_view text, Reading* reading) {
  text = Trimmed(text);
  if (text == kvx::csv::kOverRange) {
    reading->kind = Reading::OverRange;
    return true;
  }
  if (text == kvx::csv::kUnderRange) {
    reading->kind = Reading::UnderRange;
    return true;
  }
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos || point + 2 != text.size()) return false;
  const char decimal = text[point + 1];
  int64_t whole = 0;
  if (decimal < '0' || decimal > '9' || !ReadInteger(text.substr(0, point), &whole)) return false;
  const int64_t tenths = (whole < 0 ? -whole : whole) * 10 + (decimal - '0');
  reading->kind = Reading::Measured;
  reading->tenths = text.front() == '-' ? -tenths : tenths;
  return true;
}

// "MM分SS秒" or "NNNミリ秒" in milliseconds; 0 when it is neither.
int64_t IntervalMilliseconds(std::string_view text) {
  int64_t value = 0;
  if (text.size() > CsvLabels().milliseconds.size() &&
      text.substr(text.size() - CsvLabels().milliseconds.size()) == CsvLabels().milliseconds) {
    return ReadInteger(text.substr(0, text.size() - CsvLabels().milliseconds.size()), &value) &&
                   value > 0
               ? value
               : 0;
  }
  const std::size_t minutesEnd = text.find(CsvLabels().minutes);
  int64_t seconds = 0;
  if (minutesEnd == std::string_view::npos || text.size() < CsvLabels().seconds.size() ||
      text.substr(text.size() - CsvLabels().seconds.size()) != CsvLabels().seconds ||
      !ReadInteger(text.substr(0, minutesEnd), &value)) {
    return 0;
  }
  const std::size_t secondsBegin = minutesEnd + CsvLabels().minutes.size();
  if (secondsBegin > text.size() - CsvLabels().seconds.size() ||
      !ReadInteger(
          text.substr(secondsBegin, text.size() - CsvLabels().seconds.size() - secondsBegin),
          &seconds)) {
    return 0;
  }
  const int64_t milliseconds = (value * 60 + seconds) * 1000;
  return milliseconds > 0 ? milliseconds : 0;
}

// "測定開始時間,07年,03月,15日,10時,30分,00秒": the start as "07/03/15 10:30:00", and in
// seconds since 2000 when every part is a number.
bool ReadStart(std::string_view line, Group* group) {
  static constexpr std::string_view kSuffixes[] = {"年", "月", "日", "時", "分", "秒"};
  const std::vector<std::string_view> parts = Split(line.substr(CsvLabels().startTime.size()), ',');
  if (parts.size() != 6) return false;
  std::string_view values[6];
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string_view part = parts[i];
    const std::string_view suffix = kSuffixes[i];
    if (part.size() < suffix.size() || part.substr(part.size() - suffix.size()) != suffix) {
      return false;
    }
    values[i] = part.substr(0, part.size() - suffix.size());
  }
  group->start = std::string(values[0]) + "/" + std::string(values[1]) + "/" +
                 std::string(values[2]) + " " + std::string(values[3]) + ":" +
                 std::string(values[4]) + ":" + std::string(values[5]);
  int64_t n[6] = {};
  for (std::size_t i = 0; i < 6; ++i) {
    if (!ReadInteger(values[i], &n[i])) return true;  // shown as written, not placed in time
  }
  if (n[1] >= 1 && n[1] <= 12 && n[2] >= 1 && n[2] <= 31 && n[0] >= 0 && n[0] <= 99) {
    group->startSeconds =
        DaysFrom2000(2000 + n[0], n[1], n[2]) * kSecondsPerDay + n[3] * 3600 + n[4] * 60 + n[5];
  }
  return true;
}

bool Fail(std::string* error, const std::string& reason) {
  *error = reason;
  return false;
}

// The reason, after the number of the line (counting from 0) it concerns.
bool FailAt(std::string* error, std::size_t index, const std::string& reason) {
  return Fail(error, cli::Format(cli::Tr("line %zu: %s"), index + 1, reason.c_str()));
}

// Whether the bytes are UTF-8 text that begins as a CSV file of the program would.
bool LooksLikeUtf8Csv(std::string_view bytes) {
  if (StartsWith(bytes, "\xef\xbb\xbf")) bytes.remove_prefix(3);
  return StartsWith(bytes, CsvLabels().fileName);
}

}  // namespace

bool ReadKvxCsv(std::string_view cp932, Group* group, std::string* error) {
  *group = Group();
  if (cp932.empty()) return Fail(error, cli::Tr("the file is empty"));
  if (cp932.find('\0') != std::string_view::npos) {
    return Fail(error, cli::Tr("the file holds a NUL byte, it is no text"));
  }
  if (LooksLikeUtf8Csv(cp932)) {
    return Fail(error,
                cli::Tr("the file is UTF-8 text; KVX-300 writes its CSV files in code page 932"));
  }
  std::string text;
  if (!kvx::system::Cp932ToUtf8(std::string(cp932), &text)) {
    return Fail(error, cli::Tr("the file is not code page 932 text"));
  }
  if (text.back() != '\n')
    return Fail(error, cli::Tr("the file ends in the middle of a line (cut short?)"));
  text.pop_back();
  std::vector<std::string_view> lines = Split(text, '\n');
  for (std::string_view& line : lines) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }

  if (!StartsWith(lines[0], CsvLabels().fileName)) {
    return Fail(error, cli::Tr("it does not begin with \"ファイルネーム,\""));
  }
  group->title = std::string(lines[0].substr(CsvLabels().fileName.size()));
  if (lines.size() < 2 || !StartsWith(lines[1], CsvLabels().startTime) ||
      !ReadStart(lines[1], group)) {
    return FailAt(error, 1,
                  cli::Tr("no start time \"測定開始時間,YY年,MM月,DD日,hh時,mm分,ss秒\""));
  }
  std::size_t next = 2;
  bool hasInterval = false;
  if (lines.size() > next && StartsWith(lines[next], CsvLabels().interval)) {
    group->interval = std::string(lines[next].substr(CsvLabels().interval.size()));
    group->intervalMilliseconds = IntervalMilliseconds(group->interval);
    hasInterval = true;
    ++next;
  }
  if (lines.size() <= next) {
    // A group of a layout that has neither times nor values gets no rows and no column titles.
    if (hasInterval) return Fail(error, cli::Tr("the file ends before its column titles"));
    group->form = TimeForm::None;
    return true;
  }
  const std::string_view columns = lines[next];
  std::size_t fields = 0;
  if (hasInterval && StartsWith(columns, CsvLabels().relativeColumns)) {
    group->form = TimeForm::Relative;
    group->unit = std::string(columns.substr(CsvLabels().relativeColumns.size()));
    fields = 3;
  } else if (hasInterval && StartsWith(columns, CsvLabels().calendarColumns)) {
    group->form = TimeForm::Calendar;
    group->unit = std::string(columns.substr(CsvLabels().calendarColumns.size()));
    fields = 4;
  } else if (!hasInterval && StartsWith(columns, CsvLabels().measurementColumns)) {
    group->form = TimeForm::MeasurementClock;
    group->unit = std::string(columns.substr(CsvLabels().measurementColumns.size()));
    fields = 3;
  } else if (!hasInterval && StartsWith(columns, CsvLabels().valueColumns)) {
    group->form = TimeForm::None;
    group->unit = std::string(columns.substr(CsvLabels().valueColumns.size()));
    fields = 2;
  } else {
    return FailAt(error, next, cli::Tr("not the column titles of a KVX-300 CSV file"));
  }
  if (group->unit.find(',') != std::string::npos) {
    return FailAt(error, next, cli::Tr("more columns than a KVX-300 CSV file has"));
  }

  for (std::size_t i = next + 1; i < lines.size(); ++i) {
    const std::vector<std::string_view> parts = Split(lines[i], ',');
    Reading reading;
    const int64_t expected = static_cast<int64_t>(i - next - 1);
    if (parts.size() != fields) {
      return FailAt(error, i,
                    cli::Format(cli::Tr("a row of %zu fields where this layout has %zu"),
                                parts.size(), fields));
    }
    if (!ReadInteger(parts[0], &reading.number) || reading.number != expected) {
      return FailAt(
          error, i,
          cli::Format(cli::Tr("the sample number is not %lld"), static_cast<long long>(expected)));
    }
    bool timeRead = true;
    int64_t date = 0;
    switch (group->form) {
      case TimeForm::Relative:
      case TimeForm::MeasurementClock:
        timeRead = ReadClock(parts[1], &reading.seconds);
        break;
      case TimeForm::Calendar:
        timeRead = ReadDate(parts[1], &date) && ReadClock(parts[2], &reading.seconds);
        reading.seconds += date;
        break;
      case TimeForm::None:
        break;
    }
    if (!timeRead) return FailAt(error, i, cli::Tr("the time is not one the program writes"));
    if (!ReadValue(parts.back(), &reading)) {
      return FailAt(error, i, cli::Tr("the value is not a reading in tenths, 32767 or -32767"));
    }
    group->readings.push_back(reading);
  }
  return true;
}

}  // namespace chart
