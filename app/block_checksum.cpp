#include "block_checksum.h"

#include "capture_decoding.h"

namespace kvx {

bool BlockIsGood(std::string_view block) {
  const std::size_t dataEnd = block.size() >= 3 ? block.size() - 3 : 0;
  int sum = 0;
  std::size_t p = 0;
  for (; p < dataEnd; p += 2)
    sum = (sum + ReadUnsignedHexadecimal(Mid(block, p, 2))) % 256;
  // The checksum: the pair at p, or what is left of the block from there.
  return (sum + ReadUnsignedHexadecimal(Mid(block, p, 2))) % 256 == 0;
}

}  // namespace kvx
