// The hexadecimal digits of the instrument's data, of either case: one table of their values,
// and the same set as byte arithmetic, for scans that the compiler turns into vector
// instructions. Both are checked against each other below, at compile time.
#ifndef KVX_HEX_DIGITS_H
#define KVX_HEX_DIGITS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kvx {

// The value of every byte as a hexadecimal digit, kNoDigit for every other byte.
struct HexDigitTable {
  static constexpr uint8_t kNoDigit = 0x10;
  uint8_t values[256];
  constexpr HexDigitTable() : values() {
    for (int c = 0; c < 256; ++c) {
      values[c] = kNoDigit;
      if (c >= '0' && c <= '9') values[c] = static_cast<uint8_t>(c - '0');
      if (c >= 'a' && c <= 'f') values[c] = static_cast<uint8_t>(c - 'a' + 10);
      if (c >= 'A' && c <= 'F') values[c] = static_cast<uint8_t>(c - 'A' + 10);
    }
  }
};
inline constexpr HexDigitTable kHexDigits;

// The value of a hexadecimal digit, or -1 for any other character.
constexpr int HexDigitValue(char c) {
  const uint8_t value = kHexDigits.values[static_cast<unsigned char>(c)];
  return value == HexDigitTable::kNoDigit ? -1 : value;
}

// 1 when `c` is no hexadecimal digit, 0 when it is one.
constexpr unsigned char NotHexadecimal(char c) {
  const auto u = static_cast<unsigned char>(c);
  const auto digit = static_cast<unsigned char>(u - '0');
  const auto letter = static_cast<unsigned char>((u | 0x20) - 'a');
  return static_cast<unsigned char>((digit > 9) & (letter > 5));
}

constexpr bool TableAndArithmeticAgree() {
  for (int c = 0; c < 256; ++c) {
    const bool noDigit = kHexDigits.values[c] == HexDigitTable::kNoDigit;
    if (noDigit != (NotHexadecimal(static_cast<char>(c)) == 1)) return false;
  }
  return true;
}
static_assert(TableAndArithmeticAgree());

// Where the first character of `text` that is no hexadecimal digit is, or npos. Blocks are
// looked at whole first.
inline std::size_t FirstNonHexadecimal(std::string_view text) {
  constexpr std::size_t kBlock = 64;
  std::size_t at = 0;
  for (; text.size() - at >= kBlock; at += kBlock) {
    unsigned char other = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
      other |= NotHexadecimal(text[at + i]);
    if (other != 0) break;
  }
  for (; at < text.size(); ++at) {
    if (NotHexadecimal(text[at]) != 0) return at;
  }
  return std::string_view::npos;
}

}  // namespace kvx

#endif  // KVX_HEX_DIGITS_H
