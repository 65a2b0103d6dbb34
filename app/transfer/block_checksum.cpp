#include "block_checksum.h"

#include "hex_digits.h"

namespace kvx {

bool BlockIsGood(std::string_view block) {
  if (block.size() < 3 || block.size() % 2 == 0) return false;
  // The data bytes and the checksum byte: every pair before the final character.
  int sum = 0;
  for (std::size_t p = 0; p + 1 < block.size(); p += 2) {
    const int high = HexDigitValue(block[p]);
    const int low = HexDigitValue(block[p + 1]);
    if (high < 0 || low < 0) return false;
    sum = (sum + high * 16 + low) % 256;
  }
  return sum == 0;
}

}  // namespace kvx
