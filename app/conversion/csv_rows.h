// The lines of a CSV file as the program writes them: the header lines of a group and its rows,
// built in place in the CSV file's buffer. Inline, as a row is written in about 10 ns.
#ifndef KVX_CSV_ROWS_H
#define KVX_CSV_ROWS_H

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "capture_decoding.h"
#include "computed_clock.h"
#include "csv_layout.h"
#include "csv_output.h"
#include "hex_digits.h"
#include "program_texts.h"
#include "transfer_state.h"

namespace kvx {

// Numbers are written here rather than by printf, so that no locale can change them. Rows are
// built in place in the CSV file's buffer: each Put function writes at `out` and gives the end.
inline char* PutNumber(char* out, int64_t value) {
  return std::to_chars(out, out + 24, value).ptr;
}

// The numbers 0-99 right-aligned in two characters, as "%2d" prints them: " 0" to "99".
struct TwoWideNumbers {
  char texts[100][2];
  constexpr TwoWideNumbers() : texts() {
    for (int i = 0; i < 100; ++i) {
      texts[i][0] = i < 10 ? ' ' : static_cast<char>('0' + i / 10);
      texts[i][1] = static_cast<char>('0' + i % 10);
    }
  }
};
inline constexpr TwoWideNumbers kTwoWideNumbers;

// A number right-aligned in two characters.
inline char* PutTwoWide(char* out, int32_t value) {
  if (value >= 0 && value < 100) {
    std::memcpy(out, kTwoWideNumbers.texts[value], 2);
    return out + 2;
  }
  return PutNumber(out, value);
}

// The numbers 0-9999 as text without leading zeros, each in 8 bytes that the last gives the
// length of.
struct SmallNumbers {
  static constexpr uint32_t kCount = 10000;
  char texts[kCount][8];
  constexpr SmallNumbers() : texts() {
    for (uint32_t n = 0; n < kCount; ++n) {
      char reversed[4] = {};
      uint32_t length = 0;
      for (uint32_t rest = n; length == 0 || rest != 0; rest /= 10)
        reversed[length++] = static_cast<char>('0' + rest % 10);
      for (uint32_t i = 0; i < length; ++i)
        texts[n][i] = reversed[length - 1 - i];
      texts[n][7] = static_cast<char>(length);
    }
  }
};
inline constexpr SmallNumbers kSmallNumbers;

// A number of 0-9999; may write up to 8 bytes past its start.
inline char* PutSmallNumber(char* out, uint32_t value) {
  std::memcpy(out, kSmallNumbers.texts[value], 8);
  return out + kSmallNumbers.texts[value][7];
}

inline char* PutText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

inline char* PutValue(char* out, const SampleValue& value) {
  switch (value.kind) {
    case SampleValue::Sentinel7FFF:
      return PutText(out, csv::kOverRange);
    case SampleValue::Sentinel8001:
      return PutText(out, csv::kUnderRange);
    case SampleValue::Measured:
      break;
  }
  // Tenths with one decimal, as "%.1f" prints tenths / 10.0.
  const int64_t tenths = value.tenths;
  const int64_t magnitude = tenths < 0 ? -tenths : tenths;
  *out = '-';
  out += tenths < 0 ? 1 : 0;
  const int64_t whole = magnitude / 10;
  out = whole < SmallNumbers::kCount ? PutSmallNumber(out, static_cast<uint32_t>(whole))
                                     : PutNumber(out, whole);
  out[0] = '.';
  out[1] = static_cast<char>('0' + magnitude % 10);
  return out + 2;
}

// The text of the value of every sample of four hexadecimal digits, 8 bytes each, the last giving
// the length; "7FFF" aside, whose text depends on the digits' case. Each text is made the first
// time it is asked for, in memory that the system hands out zeroed as it is touched; without
// that memory, every value is written as it comes.
class SampleTexts {
 public:
  SampleTexts() : texts_(static_cast<Text*>(std::calloc(kCount, sizeof(Text))), std::free) {}

  // Writes the text of `raw`; may write up to 8 bytes past its start.
  char* Put(char* out, int32_t raw) {
    if (!texts_) return PutValue(out, SampleOf(raw));
    Text& text = texts_.get()[raw];
    if (text[7] == 0) Make(raw, text);
    std::memcpy(out, text, sizeof text);
    return out + text[7];
  }

 private:
  using Text = char[8];
  static constexpr std::size_t kCount = 0x10000;

  static void Make(int32_t raw, Text& text) {
    char longest[CsvFile::kRowRoom];
    const auto length = static_cast<std::size_t>(PutValue(longest, SampleOf(raw)) - longest);
    std::memcpy(text, longest, length);
    text[7] = static_cast<char>(length);
  }

  std::unique_ptr<Text, void (*)(void*)> texts_;
};

// The value of the sample at `p`, as DecodeSample decodes its first four characters; four
// hexadecimal digits, as the instrument sends them, are read here directly.
inline char* PutSampleAt(char* out, SampleTexts& texts, std::string_view capture, std::size_t p) {
  if (p < capture.size() && capture.size() - p >= 4) {
    const auto digit = [&](std::size_t i) {
      return kHexDigits.values[static_cast<unsigned char>(capture[p + i])];
    };
    const uint32_t d0 = digit(0), d1 = digit(1), d2 = digit(2), d3 = digit(3);
    if (((d0 | d1 | d2 | d3) & HexDigitTable::kNoDigit) == 0) {
      const auto raw = static_cast<int32_t>((d0 << 12) | (d1 << 8) | (d2 << 4) | d3);
      // The sentinel is this text exactly: "7fff" is a measurement.
      if (raw != 0x7FFF || capture.compare(p, 4, "7FFF") != 0) return texts.Put(out, raw);
    }
  }
  return PutValue(out, DecodeSample(Mid(capture, p, 4)));
}

// The sample number of a row, kept as text and counted on digit by digit. Up to eight digits are
// held in one machine word, so that a row takes them in one store.
class RowNumber {
 public:
  explicit RowNumber(int32_t first) { Set(first); }

  // Writes the number and the separator after it; may write up to 16 bytes past the number.
  char* Put(char* out) const {
    if (length_ > kWordDigits) return PutText(PutNumber(out, value_), csv::kFieldSeparator);
    std::memcpy(out, &digits_, sizeof digits_);
    std::memcpy(out + length_, kPaddedSeparator, sizeof kPaddedSeparator);
    return out + length_ + csv::kFieldSeparator.size();
  }

  // Moves on to `next`, the number after the current one.
  void Next(int32_t next) {
    value_ = next;
    if (next <= 0 || length_ > kWordDigits) {
      Set(next);
      return;
    }
    // The number was at least 0: its last digit goes up, carrying over the nines before it.
    for (std::size_t at = length_; at-- > 0;) {
      const int shift = ShiftOf(at);
      if (((digits_ >> shift) & 0xFF) != '9') {
        digits_ += uint64_t{1} << shift;
        return;
      }
      digits_ -= uint64_t{'9' - '0'} << shift;
    }
    Set(next);  // one digit more
  }

 private:
  static constexpr std::size_t kWordDigits = sizeof(uint64_t);
  static constexpr char kPaddedSeparator[8] = {',', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

  // The shift that brings the character at `at` of the word's bytes to the lowest byte.
  static int ShiftOf(std::size_t at) {
    return static_cast<int>(8 * (std::endian::native == std::endian::little ? at : 7 - at));
  }

  void Set(int32_t value) {
    value_ = value;
    char text[16] = {};
    length_ = static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text);
    std::memcpy(&digits_, text, sizeof digits_);
  }

  int32_t value_ = 0;
  uint64_t digits_ = 0;
  std::size_t length_ = 0;
};

// The date (in absolute time) and time of a row of a group with a time column ("0"), timed by
// the computed clock. What comes before the seconds is kept as text while it stays the same.
class ClockText {
 public:
  explicit ClockText(bool absolute) : absolute_(absolute) {}

  // Writes the fields and the separator after them; may write up to kRoom bytes past the row's
  // date.
  char* Put(char* out, const ComputedClock& clock) {
    if (!valid_ || clock.minute != minute_ || clock.hour != hour_ ||
        (absolute_ && (clock.day != day_ || clock.month != month_ || clock.year != year_))) {
      Set(clock);
    }
    // Mostly a short text: a short copy then.
    std::memcpy(out, text_, kShortText);
    if (length_ > kShortText) std::memcpy(out, text_, kRoom);
    out = PutTwoWide(out + length_, clock.second);
    return PutText(out, csv::kFieldSeparator);
  }

 private:
  static constexpr std::size_t kRoom = 96;  // more than the longest date and time of day
  static constexpr std::size_t kShortText = 32;

  void Set(const ComputedClock& clock) {
    char* out = text_;
    if (absolute_) {
      out = PutNumber(out, clock.year);
      *out++ = '/';
      out = PutNumber(out, clock.month);
      *out++ = '/';
      out = PutNumber(out, clock.day);
      out = PutText(out, csv::kFieldSeparator);
    }
    out = PutTwoWide(out, clock.hour);
    *out++ = ':';
    out = PutTwoWide(out, clock.minute);
    *out++ = ':';
    length_ = static_cast<std::size_t>(out - text_);
    year_ = clock.year;
    month_ = clock.month;
    day_ = clock.day;
    hour_ = clock.hour;
    minute_ = clock.minute;
    valid_ = true;
  }

  bool absolute_;
  bool valid_ = false;
  int32_t year_ = 0, month_ = 0, day_ = 0, hour_ = 0, minute_ = 0;
  char text_[kRoom] = {};
  std::size_t length_ = 0;
};

// The fields of a kind-2 sample of a group without a computed time ("4") after its number: the
// sample's own measurement clock, two hexadecimal digits each for hours, minutes and seconds,
// and its value.
inline char* PutMeasurementClockFields(char* out, std::string_view sample,
                                       TransferState& transfer) {
  // NOLINTBEGIN(readability-identifier-naming): the parts' names in the sample's layout.
  const std::string_view LCstr2 = Left(sample, 4);
  const std::string_view MCstr2 = Mid(sample, 4, 4);
  const std::string_view RCstr2 = Right(sample, 4);
  // NOLINTEND(readability-identifier-naming)
  const SampleValue value = DecodeSample(LCstr2);
  if (value.kind == SampleValue::Measured) transfer.scaledValue = value.tenths / 10.0;
  out = PutTwoWide(out, ReadHexadecimal(Right(MCstr2, 2)));
  *out++ = ':';
  out = PutTwoWide(out, ReadHexadecimal(Left(RCstr2, 2)));
  *out++ = ':';
  out = PutTwoWide(out, ReadHexadecimal(Right(RCstr2, 2)));
  out = PutText(out, csv::kFieldSeparator);
  return PutValue(out, value);
}

// The header lines of a group: its file, its start time, and for a layout with rows of its own
// the interval and the column titles.
std::string HeaderLines(int instrumentKind, const HeaderRecord& header, const std::string& title,
                        bool absolute);

}  // namespace kvx

#endif  // KVX_CSV_ROWS_H
