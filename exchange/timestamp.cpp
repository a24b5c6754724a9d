#include "exchange/timestamp.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace exchange {

std::string formatTimestamp(std::time_t time) {
  std::tm local{};
  if (!localtime_r(&time, &local)) return std::string();
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d-%02d-%02d-%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::time_t parseTimestamp(const std::string& text) {
  std::vector<int> fields;
  size_t start = 0;
  while (fields.size() < 6 && start <= text.size()) {
    size_t end = text.find('-', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      std::istringstream piece(text.substr(start, end - start));
      int value = 0;
      // On a failed extraction the stream stores 0 (and the nearest limit on
      // overflow), which is the value the piece stands for.
      piece >> value;
      fields.push_back(value);
    }
    start = end + 1;
  }
  if (fields.size() < 6) return 0;

  std::tm broken{};
  // A piece never holds a "-", so no field is negative and the subtractions
  // cannot overflow.
  broken.tm_year = fields[0] - 1900;
  broken.tm_mon = fields[1] - 1;
  broken.tm_mday = fields[2];
  broken.tm_hour = fields[3];
  broken.tm_min = fields[4];
  broken.tm_sec = fields[5];
  // Left to the C library, so that parsing inverts formatTimestamp on both
  // sides of a daylight-saving change.
  broken.tm_isdst = -1;
  std::time_t result = std::mktime(&broken);
  return result == static_cast<std::time_t>(-1) ? 0 : result;
}

}  // namespace exchange
