#include "host/duration.h"

namespace host {

bool parseDuration(std::string_view text, uint64_t* milliseconds) {
  if (text.empty()) return false;
  uint64_t total = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] < '0' || text[pos] > '9') return false;
    uint64_t number = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (number > (UINT64_C(1) << 62) / 10) return false;
      number = number * 10 + static_cast<uint64_t>(text[pos] - '0');
      ++pos;
    }
    uint64_t unit = 1;
    std::string_view rest = text.substr(pos);
    if (rest.substr(0, 2) == "ms") {
      pos += 2;
    } else if (!rest.empty() && rest[0] == 's') {
      unit = 1000, ++pos;
    } else if (!rest.empty() && rest[0] == 'm') {
      unit = 60000, ++pos;
    } else if (!rest.empty() && rest[0] == 'h') {
      unit = 3600000, ++pos;
    } else if (!rest.empty()) {
      return false;
    }
    if (number > (UINT64_C(1) << 62) / unit) return false;
    total += number * unit;
    if (total > (UINT64_C(1) << 62)) return false;
  }
  *milliseconds = total;
  return true;
}

}  // namespace host
