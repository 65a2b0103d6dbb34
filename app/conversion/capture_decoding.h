// The capture file as the converters read it: a run of measurement groups, each a 60-character
// header record followed by its samples (4 characters for kind 1, 12 for kind 2), back to back.
#ifndef KVX_CAPTURE_DECODING_H
#define KVX_CAPTURE_DECODING_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hex_digits.h"

namespace kvx {

constexpr std::size_t kHeaderRecordSize = 60;

// The characters of one sample: four hexadecimal digits of its value, and for kind 2 eight more
// of the instrument's own clock.
constexpr std::size_t SampleSize(int instrumentKind) {
  return instrumentKind == 2 ? 12 : 4;
}

// Pieces of a text: a piece past the end is empty, one that runs past the end is cut there.
std::string_view Mid(std::string_view text, std::size_t position, std::size_t count);
std::string_view Left(std::string_view text, std::size_t count);
std::string_view Right(std::string_view text, std::size_t count);

// Numbers as the C library's strtol reads them: leading white space, an optional sign, for
// base 16 an optional 0x, then digits up to the first other character; no digits gives 0.
// The fields are at most six characters, so every value fits.
int32_t ReadDecimal(std::string_view text);
int32_t ReadHexadecimal(std::string_view text);

// A decoded header record. The start-time texts are kept as they stand.
// NOLINTBEGIN(readability-identifier-naming): the fields keep the names of the record's layout.
struct HeaderRecord {
  std::string CY, CM, CD, CT, CP, CS;  // year, month, day, hour, minute, second
  std::string ImS;                     // interval code: "83" milliseconds, "00" min and s
  int32_t intervalMilliseconds = 0;
  int32_t intervalMinutes = 0;
  int32_t intervalSeconds = 0;
  std::string ItP;  // interval label
  std::string KM;   // layout: "0" rows with a time column, "4" without, or empty
  std::string Cdo;  // unit label: ℃, °F or empty
  int32_t sampleCount = 0;
};
// NOLINTEND(readability-identifier-naming)

HeaderRecord DecodeHeaderRecord(std::string_view record);

// A sample's value: a measurement in tenths of the unit, or one of the two sentinels.
struct SampleValue {
  enum Kind { Measured, Sentinel7FFF, Sentinel8001 } kind = Measured;
  int32_t tenths = 0;
};

// The value of a sample whose four digits read as `raw` (0 to 0xFFFF), but for the over-range
// mark, which only the text "7FFF" is.
SampleValue SampleOf(int32_t raw);

// Decodes a kind-1 sample, or the value part of a kind-2 sample (at most four characters).
SampleValue DecodeSample(std::string_view text);

// Where a capture first departs from what an instrument of `kind` sends: a group whose header
// record is cut short or holds a field out of its form (start time and interval in decimal
// digits, interval code "83" or "00", layout "0" or "4", unit "0" or "1", sample count in
// hexadecimal digits), or whose samples are missing or not hexadecimal digits. The converters
// take any text; this is for a caller that wants to refuse what no instrument sent.
struct CaptureFault {
  enum Problem {
    RecordCutShort,        // `held` characters of the 60 are there
    StartTimeNotDecimal,   // characters 4 to 15
    IntervalCodeOdd,       // characters 20 and 21 are not "83" or "00"
    IntervalNotDecimal,    // characters 16 to 19
    LayoutCodeOdd,         // character 22 is not "0" or "4"
    UnitCodeOdd,           // character 23 is not "0" or "1"
    CountNotHexadecimal,   // characters 44 to 49
    SamplesMissing,        // `declared` samples, of which the capture holds `held` characters
    SampleNotHexadecimal,  // at `badOffset` of the capture
  };
  std::size_t group = 0;   // counting from 1
  std::size_t offset = 0;  // of the group's header record, counting from 0
  Problem problem = RecordCutShort;
  std::size_t held = 0;
  std::size_t declared = 0;
  std::size_t badOffset = 0;
};
std::optional<CaptureFault> FirstCaptureFault(std::string_view capture, int instrumentKind);

}  // namespace kvx

#endif  // KVX_CAPTURE_DECODING_H
