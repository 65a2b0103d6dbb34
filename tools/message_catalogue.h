// A compiled message catalogue (a GNU .mo file, as msgfmt writes it) read in place, for the
// platforms whose C library has no gettext.
#ifndef TOOLS_MESSAGE_CATALOGUE_H
#define TOOLS_MESSAGE_CATALOGUE_H

#include <cstdint>
#include <string_view>

namespace cli {

class MessageCatalogue {
 public:
  // `file` stays where it is and must outlive the catalogue. A file that is not a catalogue,
  // or whose tables point outside it, gives an empty one.
  explicit MessageCatalogue(std::string_view file);

  // The translation of `original`, or nullptr when the catalogue has none.
  const char* Find(std::string_view original) const;

  // The catalogue's header ("Language: ja\n" and the like), or "".
  std::string_view Header() const;

 private:
  std::string_view String(uint32_t table, uint32_t index) const;
  uint32_t Word(uint32_t offset) const;

  std::string_view file_;
  uint32_t count_ = 0;
  uint32_t originals_ = 0;
  uint32_t translations_ = 0;
  bool swapped_ = false;
};

}  // namespace cli

#endif  // TOOLS_MESSAGE_CATALOGUE_H
