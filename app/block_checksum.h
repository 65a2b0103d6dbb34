// The checksum of a data block: its data bytes and its checksum byte, each two hexadecimal
// digits, sum to a multiple of 256.
#ifndef KVX_BLOCK_CHECKSUM_H
#define KVX_BLOCK_CHECKSUM_H

#include <string_view>

namespace kvx {

// Whether a block (already cut to 243 characters) is good. Its last character is not looked at;
// the pairs before the checksum are read as the block comes, and a pair is read as a hexadecimal
// number: leading white space skipped, then digits of either case up to the first other
// character, 0 when there is none. A sign is not a digit.
bool BlockIsGood(std::string_view block);

}  // namespace kvx

#endif  // KVX_BLOCK_CHECKSUM_H
