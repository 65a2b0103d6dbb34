#include "capture_decoding.h"

#include <algorithm>

#include "program_texts.h"

namespace kvx {

namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of `c` as a digit of `base` (10 or 16), or -1 when it is none.
int DigitIn(char c, int base) {
  const int value = HexDigitValue(c);
  return value < base ? value : -1;
}

int32_t ReadInteger(std::string_view text, int base) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at]))
    ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at++] == '-';
  }
  // "0x" is a prefix only when a hexadecimal digit follows it; otherwise the 0 is the number.
  if (base == 16 && at + 2 < text.size() && text[at] == '0' &&
      (text[at + 1] == 'x' || text[at + 1] == 'X') && DigitIn(text[at + 2], 16) >= 0) {
    at += 2;
  }
  int64_t value = 0;
  for (int digit; at < text.size() && (digit = DigitIn(text[at], base)) >= 0; ++at) {
    value = value * base + digit;
    if (value > INT32_MAX) value = INT32_MAX;  // Not reached by fields of six characters.
  }
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

std::string_view Mid(std::string_view text, std::size_t position, std::size_t count) {
  if (position >= text.size()) return {};
  return text.substr(position, count);
}

std::string_view Left(std::string_view text, std::size_t count) {
  return Mid(text, 0, count);
}

std::string_view Right(std::string_view text, std::size_t count) {
  return count >= text.size() ? text : text.substr(text.size() - count);
}

int32_t ReadDecimal(std::string_view text) {
  return ReadInteger(text, 10);
}

int32_t ReadHexadecimal(std::string_view text) {
  return ReadInteger(text, 16);
}

HeaderRecord DecodeHeaderRecord(std::string_view record) {
  HeaderRecord header;
  header.CY = Mid(record, 4, 2);
  header.CM = Mid(record, 6, 2);
  header.CD = Mid(record, 8, 2);
  header.CT = Mid(record, 10, 2);
  header.CP = Mid(record, 12, 2);
  header.CS = Mid(record, 14, 2);

  // NOLINTBEGIN(readability-identifier-naming): the fields' names in the record's layout.
  const std::string_view IP = Mid(record, 16, 2);
  const std::string_view IS = Mid(record, 18, 2);
  const std::string_view Itime = Mid(record, 16, 4);
  // NOLINTEND(readability-identifier-naming)
  header.ImS = Mid(record, 20, 2);
  if (header.ImS == "83") {
    header.intervalMilliseconds = ReadDecimal(Itime);
    header.ItP.append(Mid(record, 17, 3)).append(texts::kMilliseconds);
  } else if (header.ImS == "00") {
    header.intervalMinutes = ReadDecimal(IP);
    header.intervalSeconds = ReadDecimal(IS);
    header.ItP.append(IP).append(texts::kMinutes).append(IS).append(texts::kSeconds);
  }

  const std::string_view layout = Mid(record, 22, 1);
  if (layout == "0") header.KM = "0";
  if (layout == "4") header.KM = "4";
  const std::string_view unit = Mid(record, 23, 1);
  if (unit == "0") header.Cdo = texts::kCelsius;
  if (unit == "1") header.Cdo = texts::kFahrenheit;

  // A negative count ("-00001") is no count at all.
  header.sampleCount = std::max<int32_t>(0, ReadHexadecimal(Mid(record, 44, 6)));
  return header;
}

namespace {

bool AllDecimal(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What is wrong with a whole header record, or nothing.
std::optional<CaptureFault::Problem> HeaderRecordFault(std::string_view record) {
  if (!AllDecimal(record.substr(4, 12))) return CaptureFault::StartTimeNotDecimal;
  const std::string_view code = record.substr(20, 2);
  if (code != "83" && code != "00") return CaptureFault::IntervalCodeOdd;
  if (!AllDecimal(record.substr(16, 4))) return CaptureFault::IntervalNotDecimal;
  if (record[22] != '0' && record[22] != '4') return CaptureFault::LayoutCodeOdd;
  if (record[23] != '0' && record[23] != '1') return CaptureFault::UnitCodeOdd;
  if (FirstNonHexadecimal(record.substr(44, 6)) != std::string_view::npos) {
    return CaptureFault::CountNotHexadecimal;
  }
  return std::nullopt;
}

}  // namespace

std::optional<CaptureFault> FirstCaptureFault(std::string_view capture, int instrumentKind) {
  std::size_t group = 1;
  for (std::size_t at = 0; at < capture.size(); ++group) {
    const std::string_view record = Mid(capture, at, kHeaderRecordSize);
    if (record.size() < kHeaderRecordSize) {
      return CaptureFault{group, at, CaptureFault::RecordCutShort, record.size()};
    }
    if (const auto problem = HeaderRecordFault(record)) return CaptureFault{group, at, *problem};
    const auto declared = static_cast<std::size_t>(ReadHexadecimal(record.substr(44, 6)));
    const std::string_view samples =
        Mid(capture, at + kHeaderRecordSize, declared * SampleSize(instrumentKind));
    if (samples.size() < declared * SampleSize(instrumentKind)) {
      return CaptureFault{group, at, CaptureFault::SamplesMissing, samples.size(), declared};
    }
    const std::size_t bad = FirstNonHexadecimal(samples);
    if (bad != std::string_view::npos) {
      return CaptureFault{group, at, CaptureFault::SampleNotHexadecimal,
                          0,     0,  at + kHeaderRecordSize + bad};
    }
    at += kHeaderRecordSize + samples.size();
  }
  return std::nullopt;
}

SampleValue SampleOf(int32_t raw) {
  if (raw == 0x8001) return {SampleValue::Sentinel8001, 0};
  if (raw >= 0x8000) raw -= 0x10000;  // 16-bit two's complement
  return {SampleValue::Measured, raw};
}

SampleValue DecodeSample(std::string_view text) {
  // The over-range mark is this text exactly: "7fff" is a measurement.
  if (text == "7FFF") return {SampleValue::Sentinel7FFF, 0};
  // Of the texts of up to four characters, only "8001" reads as 0x8001.
  return SampleOf(ReadHexadecimal(text));
}

}  // namespace kvx
