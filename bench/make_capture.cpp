// kvx-make-capture: writes a capture file of one measurement group with COUNT samples, for the
// conversion's benchmarks. The group starts on 2026-11-30 at midnight, one sample a second, in
// Celsius, with times (layout "0"); the readings wander between -40.0 and 120.0, and a kind-2
// sample carries its measurement clock.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kDigits[] = "0123456789ABCDEF";

void PutHex(std::string& out, unsigned value, int digits) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out.push_back(kDigits[(value >> static_cast<unsigned>(shift)) & 0xFu]);
}

int Usage() {
  (void)std::fputs("Usage: kvx-make-capture 1|2 COUNT FILE\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Usage();
  const std::string kind = argv[1];
  char* end = nullptr;
  const unsigned long count = std::strtoul(argv[2], &end, 0);
  if ((kind != "1" && kind != "2") || *end != '\0' || count > 0xFFFFFFu) return Usage();

  std::FILE* file = std::fopen(argv[3], "wb");
  if (file == nullptr) {
    (void)std::fprintf(stderr, "kvx-make-capture: cannot write %s\n", argv[3]);
    return 1;
  }
  // Start, interval (00 minutes 01 second), layout, unit, the count at 44-49.
  std::string text =
      "0001"
      "261130000000"
      "000100"
      "0"
      "0" +
      std::string(20, '0');
  PutHex(text, static_cast<unsigned>(count), 6);
  text += std::string(10, '0');

  uint32_t state = 20261207u;
  int tenths = 215;
  bool written = true;
  for (unsigned long i = 0; i < count && written; ++i) {
    state = state * 1103515245u + 12345u;
    tenths += static_cast<int>((state >> 16) % 7) - 3;
    if (tenths < -400 || tenths > 1200) tenths = 215;
    PutHex(text, static_cast<unsigned>(tenths) & 0xFFFFu, 4);
    if (kind == "2") {
      const auto second = static_cast<unsigned>(i % 86400);
      text += "00";
      PutHex(text, second / 3600, 2);
      PutHex(text, second / 60 % 60, 2);
      PutHex(text, second % 60, 2);
    }
    if (text.size() >= (1u << 20)) {
      written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
      text.clear();
    }
  }
  if (written) written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    (void)std::fprintf(stderr, "kvx-make-capture: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
