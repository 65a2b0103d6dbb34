#include "message_catalogue.h"

namespace cli {

namespace {

constexpr uint32_t kMagic = 0x950412DE;
constexpr uint32_t kSwappedMagic = 0xDE120495;

}  // namespace

MessageCatalogue::MessageCatalogue(std::string_view file) : file_(file) {
  constexpr uint32_t kHeaderSize = 28;
  if (file_.size() < kHeaderSize) return;
  const uint32_t magic = Word(0);
  if (magic != kMagic && magic != kSwappedMagic) return;
  swapped_ = magic == kSwappedMagic;
  const uint32_t count = Word(8);
  const uint32_t originals = Word(12);
  const uint32_t translations = Word(16);
  // Each table holds a length and an offset for every string.
  const uint64_t tableSize = static_cast<uint64_t>(count) * 8;
  if (originals + tableSize > file_.size() || translations + tableSize > file_.size()) return;
  count_ = count;
  originals_ = originals;
  translations_ = translations;
  for (uint32_t i = 0; i < count_; ++i) {
    if (String(originals_, i).data() == nullptr || String(translations_, i).data() == nullptr) {
      count_ = 0;
      return;
    }
  }
}

uint32_t MessageCatalogue::Word(uint32_t offset) const {
  const auto* bytes = reinterpret_cast<const unsigned char*>(file_.data()) + offset;
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i) {
    word = (word << 8) | bytes[swapped_ ? 3 - i : i];
  }
  return word;
}

// The index-th string of a table; a null view when it lies outside the file or has no NUL after
// it.
std::string_view MessageCatalogue::String(uint32_t table, uint32_t index) const {
  const uint32_t length = Word(table + index * 8);
  const uint32_t offset = Word(table + index * 8 + 4);
  if (static_cast<uint64_t>(offset) + length >= file_.size() || file_[offset + length] != '\0') {
    return {};
  }
  return file_.substr(offset, length);
}

const char* MessageCatalogue::Find(std::string_view original) const {
  // msgfmt sorts the originals by their bytes.
  uint32_t low = 0;
  uint32_t high = count_;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    const std::string_view candidate = String(originals_, middle);
    if (candidate == original) return String(translations_, middle).data();
    if (candidate < original) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return nullptr;
}

std::string_view MessageCatalogue::Header() const {
  const char* header = Find("");
  return header != nullptr ? header : "";
}

}  // namespace cli
