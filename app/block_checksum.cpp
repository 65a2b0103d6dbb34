#include "block_checksum.h"

#include "capture_decoding.h"

namespace kvx {

namespace {

int PairValue(std::string_view pair) {
  std::size_t at = 0;
  while (at < pair.size() && (pair[at] == ' ' || (pair[at] >= '\t' && pair[at] <= '\r')))
    ++at;
  int value = 0;
  for (; at < pair.size(); ++at) {
    const char c = pair[at];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) break;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

bool BlockIsGood(std::string_view block) {
  const std::size_t dataEnd = block.size() >= 3 ? block.size() - 3 : 0;
  int sum = 0;
  std::size_t p = 0;
  for (; p < dataEnd; p += 2)
    sum = (sum + PairValue(Mid(block, p, 2))) % 256;
  // The checksum: the pair at p, or what is left of the block from there.
  return (sum + PairValue(Mid(block, p, 2))) % 256 == 0;
}

}  // namespace kvx
