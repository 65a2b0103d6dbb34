#include "dataset.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace emulator {

namespace {

// Integers only, so that every platform builds the same bytes.
class Noise {
 public:
  // -1, 0 or +1 tenth.
  int Next() {
    state_ = state_ * 1103515245u + 12345u;
    return static_cast<int>((state_ >> 16) % 3) - 1;
  }

 private:
  uint32_t state_ = 20261130;
};

std::string Hex(unsigned value, int digits) {
  char text[16];
  (void)std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// A sample: a value in tenths as 4 hexadecimal digits (16-bit two's complement), or a sentinel.
std::string Value(int tenths) {
  return Hex(static_cast<unsigned>(tenths) & 0xFFFFu, 4);
}

struct Reading {
  std::string value;  // 4 characters
  int secondOfDay;    // the kind-2 measurement clock
};

std::string Group(int kind, const std::string& start, const std::string& interval, char layout,
                  char unit, const std::vector<Reading>& readings) {
  std::string group = "0001" + start + interval + layout + unit + std::string(20, '0') +
                      Hex(static_cast<unsigned>(readings.size()), 6) + std::string(10, '0');
  for (const Reading& reading : readings) {
    group += reading.value;
    if (kind == 2) {
      const int second = reading.secondOfDay;
      group += "00" + Hex(static_cast<unsigned>(second / 3600), 2) +
               Hex(static_cast<unsigned>(second / 60 % 60), 2) +
               Hex(static_cast<unsigned>(second % 60), 2);
    }
  }
  return group;
}

}  // namespace

std::string BuiltInCapture(int kind) {
  Noise noise;

  // An office over a day, hour by hour in tenths of a degree; read every 10 minutes.
  static const int kHourly[25] = {190, 188, 186, 184, 183, 182, 185, 193, 205, 216, 224, 229, 232,
                                  235, 236, 234, 230, 224, 217, 210, 203, 198, 195, 192, 190};
  std::vector<Reading> day;
  for (int i = 0; i < 144; ++i) {
    const int hour = i / 6;
    const int step = i % 6;
    const int tenths = kHourly[hour] + (kHourly[hour + 1] - kHourly[hour]) * step / 6;
    day.push_back({i == 77 ? "7FFF" : Value(tenths + noise.Next()), i * 600});
  }

  // A freezer, every 500 ms from noon.
  std::vector<Reading> freezer;
  freezer.reserve(40);
  for (int i = 0; i < 40; ++i) {
    freezer.push_back({Value(-185 + noise.Next() + (i % 7 == 3 ? 1 : 0)), 12 * 3600 + i / 2});
  }

  // A meeting room in Fahrenheit, without times; each reading carries its own clock.
  std::vector<Reading> room;
  room.reserve(12);
  for (int i = 0; i < 12; ++i) {
    room.push_back({i == 9 ? "8001" : Value(701 + 2 * i + noise.Next()), 8 * 3600 + i * 300});
  }

  return Group(kind, "261130000000", "100000", '0', '0', day) +
         Group(kind, "261130120000", "050083", '0', '0', freezer) +
         Group(kind, "261201080000", "000000", '4', '1', room);
}

}  // namespace emulator
