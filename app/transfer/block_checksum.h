// The check of a data block: its data bytes and its checksum byte, each two hexadecimal digits,
// sum to a multiple of 256, and one final character ends it.
#ifndef KVX_BLOCK_CHECKSUM_H
#define KVX_BLOCK_CHECKSUM_H

#include <string_view>

namespace kvx {

// Whether a block (already cut to 243 characters) is good: an odd length of at least 3, every
// character before the final one a hexadecimal digit of either case, and the data bytes and the
// checksum byte summing to a multiple of 256. The final character is not looked at. Anything
// else, a sign, a blank or a character after the final one among them, is a bad block: read
// leniently, such a block could pass the sum and put its checksum digits or its garbage into
// the data.
bool BlockIsGood(std::string_view block);

}  // namespace kvx

#endif  // KVX_BLOCK_CHECKSUM_H
